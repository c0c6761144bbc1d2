#include "SaveGrab.h"

#include <PellwickApp/Views/Overview/SystemStatusPanel.h>

#include <QLabel>
#include <QTest>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

using Tone = LibraryPresentationTone;

namespace {

PaidPlanState plan(qint64 used, qint64 limit)
{
    PaidPlanState plan;
    plan.storageEntitlement = {used, limit};
    return plan;
}

const QString warning = u"exclamationmark.triangle"_s;

struct Case
{
    SystemStatusSnapshot snapshot = {};
    QList<SystemStatusRow> rows = {};
};

} // namespace

Q_DECLARE_METATYPE(Case)

class SystemStatusPanelTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void rows_data()
    {
        QTest::addColumn<Case>("testCase");
        QTest::newRow("nothing: the empty row") << Case{};
        QTest::newRow("limit 0") << Case{.snapshot = {.paidPlan = plan(5000, 0)}};
        QTest::newRow("used = limit")
            << Case{.snapshot = {.paidPlan = plan(2048, 2048)},
                    .rows = {{u"Storage Full"_s,
                              u"2 KB of 2 KB Managed Archive Storage used (100%)"_s,
                              warning,
                              Tone::Danger}}};
        QTest::newRow("90 %") << Case{.snapshot = {.paidPlan = plan(9216, 10240)},
                                      .rows
                                      = {{u"Storage Nearly Full"_s,
                                          u"9 KB of 10 KB Managed Archive Storage used (90%)"_s,
                                          u"externaldrive.badge.exclamationmark"_s,
                                          Tone::Attention}}};
        QTest::newRow("89.9 %") << Case{.snapshot = {.paidPlan = plan(8990, 10000)}};
        QTest::newRow("scanning and importing with shared progress")
            << Case{.snapshot = {.isScanningImportSources = true,
                                 .isImporting = true,
                                 .hasSharedTransferProgress = true,
                                 .restoreMessage = u"Preparing restore"_s,
                                 .restoreStatus = RestoreRequestStatus::Preparing},
                    .rows = {{u"Import Review"_s,
                              u"Scanning Import sources"_s,
                              u"magnifyingglass"_s,
                              Tone::Active}}};
        QTest::newRow("importing, restore message") << Case{
            .snapshot = {.isImporting = true,
                         .restoreMessage = u"Preparing restore"_s,
                         .restoreStatus = RestoreRequestStatus::Preparing},
            .rows = {{u"Import"_s, u"Import in progress"_s, u"arrow.up.circle"_s, Tone::Active},
                     {u"Restore"_s, u"Preparing restore"_s, u"arrow.down.circle"_s, Tone::Active}}};
        QTest::newRow("a finished restore is a success")
            << Case{.snapshot = {.restoreMessage = u"Restore complete: 4 item(s) saved"_s},
                    .rows = {{u"Restore"_s,
                              u"Restore complete: 4 item(s) saved"_s,
                              u"arrow.down.circle"_s,
                              Tone::Positive}}};
        QTest::newRow("a restore with unsaved items is a warning with its cause")
            << Case{.snapshot = {.restoreMessage = u"3 of 5 item(s) saved; 2 need attention"_s,
                                 .restoreStatus = RestoreRequestStatus::Ready,
                                 .hasRestoreTransferFailures = true,
                                 .restoreAttentionReason = u"No space left in /r."_s},
                    .rows = {{u"Restore"_s,
                              u"3 of 5 item(s) saved; 2 need attention"_s,
                              u"arrow.down.circle"_s,
                              Tone::Attention,
                              u"No space left in /r."_s}}};
        QTest::newRow("recovering without message")
            << Case{.snapshot = {.isRecoveringInterruptedImports = true},
                    .rows = {{u"Restart Reconciliation"_s,
                              u"Recovering interrupted Import"_s,
                              u"arrow.triangle.2.circlepath.circle"_s,
                              Tone::Active}}};
        QTest::newRow("message left after recovery")
            << Case{.snapshot = {.importRecoveryMessage = u"Resumed 2 imports"_s},
                    .rows = {{u"Restart Reconciliation"_s,
                              u"Resumed 2 imports"_s,
                              u"exclamationmark.arrow.triangle.2.circlepath"_s,
                              Tone::Attention}}};
        QTest::newRow("every error")
            << Case{.snapshot = {.importErrorMessage = u"Upload failed"_s,
                                 .restoreErrorMessage = u"Restore failed"_s,
                                 .errorMessage = u"Refresh failed"_s},
                    .rows = {{u"Import"_s, u"Upload failed"_s, warning, Tone::Danger},
                             {u"Restore"_s, u"Restore failed"_s, warning, Tone::Danger},
                             {u"Refresh"_s, u"Refresh failed"_s, warning, Tone::Danger}}};
        QTest::newRow("other letter case")
            << Case{.snapshot = {.errorMessage = u"refresh failed"_s},
                    .rows = {{u"Library"_s, u"refresh failed"_s, warning, Tone::Danger}}};
        QTest::newRow("extra space")
            << Case{.snapshot = {.errorMessage = u"Refresh failed "_s},
                    .rows = {{u"Library"_s, u"Refresh failed "_s, warning, Tone::Danger}}};
        QTest::newRow("a data folder that cannot take a file")
            << Case{.snapshot = {.dataFolderMessage = u"Staging Area full"_s},
                    .rows = {{u"Local Folders"_s,
                              u"Staging Area full"_s,
                              warning,
                              Tone::Danger,
                              std::nullopt,
                              true}}};
        const QString folders
            = u"The Local Library Cache (/home/ana/Pictures/Pellwick/LocalLibraryCache), the "
              "Staging Area (/home/ana/Pictures/Pellwick/StagingArea), Pellwick's restore state "
              "folder (/home/ana/Pictures/Pellwick/RestoreTransfers) and the Ingest Cache "
              "(/media/ana/Cache Disk/Ingest) cannot be written (read-only). Make them writable, "
              "then choose Refresh Library."_s;
        QTest::newRow("four read-only folders, shown whole")
            << Case{.snapshot = {.dataFolderMessage = folders},
                    .rows = {{u"Local Folders"_s, folders, warning, Tone::Danger, {}, true}}};
        QTest::newRow("an import success is not an error")
            << Case{.snapshot = {.importErrorMessage = u"Added 3 files to Ingest Cache"_s,
                                 .isImportMessageSuccess = true},
                    .rows = {{u"Import"_s,
                              u"Added 3 files to Ingest Cache"_s,
                              u"checkmark.circle"_s,
                              Tone::Positive}}};
    }

    void rows()
    {
        QFETCH(Case, testCase);
        QCOMPARE(SystemStatusPanel::rows(testCase.snapshot), testCase.rows);
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const QList<SystemStatusRow> german = SystemStatusPanel::rows(testCase.snapshot);
        QLocale::setDefault(QLocale::c());
        QCOMPARE(german, testCase.rows);

        SystemStatusPanel panel;
        panel.setSnapshot({.isImporting = true, .errorMessage = u"Checkout failed"_s});
        panel.setSnapshot(testCase.snapshot);
        QStringList names;
        for (const QWidget *row : panel.findChildren<QWidget *>(u"system-status.row"_s))
            names.append(row->accessibleName());
        QStringList expected;
        for (const SystemStatusRow &row : testCase.rows)
            expected.append(row.title + u", "_s + row.message
                            + (row.detail ? u", "_s + *row.detail : QString()));
        QCOMPARE(names, expected);
        QCOMPARE(panel.findChild<QWidget *>(u"system-status.empty"_s)->isHidden(),
                 !testCase.rows.isEmpty());
        panel.resize(420, std::max(panel.sizeHint().height(), panel.heightForWidth(420)));
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        const QList<QLabel *> messages
            = panel.findChildren<QLabel *>(u"system-status.row.message"_s);
        for (qsizetype row = 0; row < testCase.rows.size(); ++row) {
            // Every word of a message that names folders is on screen.
            const QLabel &message = *messages.at(row);
            QVERIFY(message.wordWrap());
            if (testCase.rows.at(row).showsWholeMessage)
                QVERIFY(message.height() >= message.heightForWidth(message.width()));
        }
        saveGrab(panel, u"system-status-"_s + QString::fromLatin1(QTest::currentDataTag()));
    }
};

QTEST_MAIN(SystemStatusPanelTests)
#include "SystemStatusPanelTests.moc"
