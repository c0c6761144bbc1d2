#include "../Shell/ImportRoadFixture.h"
#include "ImportReviewPageFixture.h"
#include "KeyboardNavigation.h"
#include "PageInspection.h"

#include <PellwickApp/Views/ImportReview/ImportReviewFooter.h>
#include <PellwickApp/Views/ImportReview/ImportReviewInspector.h>
#include <PellwickApp/Views/ImportReview/ImportReviewTable.h>
#include <PellwickApp/Views/ImportReview/ImportReviewTableModel.h>
#include <PellwickApp/Views/Kit/FoldingBox.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Workflows/Import/ImportWorkflows.h>

#include <QListView>
#include <QMessageBox>
#include <QSignalSpy>

#include <Support/ImportReviewSamples.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

const QString noReviewHelp
    = u"Choose a folder or insert removable media to copy files into Ingest Cache."_s;
const QString reviewHelp = u"Add to Ingest Cache copies every supported RAW Original and paired "
                           u"Sidecar. It does not use Archive Storage."_s;

ImportReview supported()
{
    return sampleReview({sampleItem(SampleKind::Supported, u"IMG_0001.CR3"_s)});
}

using Page = ImportReviewPageFixture;

struct StateCase
{
    std::optional<ImportReview> review = supported();
    bool isImporting = false;
    bool isStartingImport = false;
    bool hasProgress = false;
    bool isMigrating = false;
    std::optional<QString> migrationMessage{};
    bool isRecovering = false;
    bool isScanning = false;
    std::optional<QString> importMessage{};
    bool isSuccess = false;
    // Expected:
    bool canConfirm = true;
    QString footer = reviewHelp + u"|Add to Ingest Cache"_s;
    QString importValue = u"Idle"_s;
    bool migrationAlert = false;
    QString lastAlertSymbol{};
};

struct PromptCase
{
    QString pressed;
    std::optional<QString> chosen{};
    QStringList calls{};
};

} // namespace

class ImportReviewPanelViewTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { PellwickControlStyles::install(); }

    void stateIsShown_data()
    {
        QTest::addColumn<StateCase>("row");
        QTest::newRow("no review") << StateCase{.review = std::nullopt,
                                                .canConfirm = false,
                                                .footer = noReviewHelp + u"|Add to Ingest Cache"_s};
        QTest::newRow("supported review") << StateCase{};
        QTest::newRow("only excluded or unpaired") << StateCase{
            .review = sampleReview({sampleItem(SampleKind::Excluded, u"A.JPG"_s),
                                    sampleItem(SampleKind::UnpairedSidecar, u"B.xmp"_s)}),
            .canConfirm = false,
            .lastAlertSymbol = u"exclamationmark.triangle"_s};
        QTest::newRow("importing with rows")
            << StateCase{.isImporting = true, .hasProgress = true, .canConfirm = false};
        QTest::newRow("importing without rows")
            << StateCase{.isImporting = true, .canConfirm = false, .importValue = u"Importing"_s};
        QTest::newRow("import starting")
            << StateCase{.isStartingImport = true, .canConfirm = false};
        QTest::newRow("migration with message")
            << StateCase{.isMigrating = true,
                         .migrationMessage = u"Moving Ingest Cache"_s,
                         .canConfirm = false,
                         .migrationAlert = true};
        QTest::newRow("migration without message")
            << StateCase{.isMigrating = true, .canConfirm = false};
        QTest::newRow("scanning") << StateCase{.isScanning = true};
        QTest::newRow("recovering") << StateCase{
            .isRecovering = true, .footer = u"Recovering interrupted Import|Add to Ingest Cache"_s};
        QTest::newRow("success text is no error")
            << StateCase{.importMessage = u"Added 3 files to Ingest Cache"_s,
                         .isSuccess = true,
                         .lastAlertSymbol = u"checkmark.circle"_s};
    }

    void stateIsShown()
    {
        QFETCH(StateCase, row);
        Page page;
        page.view->resize(1000, 700);
        page.setReview(row.review);
        page.importState.setIsImporting(row.isImporting);
        page.importState.setIsStartingImport(row.isStartingImport);
        page.importState.setIsScanningImportSources(row.isScanning);
        page.importState.setIsRecoveringInterruptedImports(row.isRecovering);
        if (row.isSuccess)
            page.importState.setImportSuccessMessage(*row.importMessage);
        else
            page.importState.setImportErrorMessage(row.importMessage);
        if (row.hasProgress)
            page.shellState.setTransferProgresses({TransferProgress{}});
        page.cacheState.setIsMigratingIngestCache(row.isMigrating);
        page.cacheState.setIngestCacheMigrationMessage(row.migrationMessage);

        QCOMPARE(shownControl(*page.view, u"importReview.confirm"_s)->isEnabled(), row.canConfirm);
        QCOMPARE(shownTexts(*page.view->footer()).join(u'|'), row.footer);
        const ImportReviewStatusPresentation &shown = page.view->inspector()->presentation();
        QCOMPARE(shown.items[0].value, u"Idle"_s);
        QCOMPARE(shown.items[1].value, row.importValue);
        QCOMPARE(page.view->statusStrip()->presentation(), shown);
        QCOMPARE(page.view->findChild<QWidget *>(u"importReview.migrationAlert"_s)
                     ->isVisibleTo(page.view.get()),
                 row.migrationAlert);
        QCOMPARE(page.view->inspector()->shownAlerts().size(), shown.alerts.size());
        QCOMPARE(shown.alerts.isEmpty() ? QString() : shown.alerts.last().systemImage,
                 row.lastAlertSymbol);
        if (row.isSuccess)
            QCOMPARE(shown.alerts.last().tone, LibraryPresentationTone::Positive);
    }

    void layoutFollowsTheWidthAndKeepsTheRows()
    {
        Page page;
        page.setReview(supported());
        QSignalSpy resets(page.view->table()->model(), &QAbstractItemModel::modelReset);
        page.view->show();
        QVERIFY(QTest::qWaitForWindowActive(page.view.get()));
        page.view->table()->list()->setFocus();
        for (const int width : {999, 1000, 999}) {
            page.view->resize(width, 700);
            QTRY_COMPARE(page.view->inspector()->isVisible(), width >= 1000);
            QCOMPARE(page.view->statusStrip()->isVisible(), width < 1000);
            if (width >= 1000) {
                QCOMPARE(page.view->inspector()->width(), 280);
                QVERIFY(page.view->table()->width() >= 720);
            }
            QCOMPARE(QApplication::focusWidget(), page.view->table()->list());
            const QList<QWidget *> reached = focusChain(*page.view);
            for (const QString &id : {u"importReview.rescan"_s,
                                      u"importReview.chooseFolder"_s,
                                      u"importReview.confirm"_s})
                QVERIFY(reached.contains(shownControl(*page.view, id)));
            QCOMPARE(QApplication::focusWidget(), page.view->table()->list());
        }
        QCOMPARE(resets.size(), 0);
        page.view->footer()->resize(300, 120); // the button moves under the message
        QTRY_VERIFY(page.view->footer()->bar()->isFolded());
    }

    void headerButtonsStartTheirScans()
    {
        Page page;
        page.view->resize(1100, 700);
        page.view->show();
        click(*page.view, u"importReview.rescan"_s);
        click(*page.view, u"importReview.chooseFolder"_s);
        page.chooser.cancel();
        click(*page.view, u"importReview.chooseFolder"_s);
        page.view.reset(); // answered after the page is gone
        page.chooser.answer(u"/media/LATE"_s);
        QCOMPARE(page.operations.calls, QStringList{u"scanAllRemovableVolumes"_s});
    }

    void creationPrompt_data()
    {
        QTest::addColumn<PromptCase>("row");
        QTest::newRow("create here at the newest location") << PromptCase{
            .pressed = u"createHere"_s, .calls = {u"createInitialIngestCache:/home/b/Ingest"_s}};
        QTest::newRow("existing folder chosen")
            << PromptCase{.pressed = u"chooseExistingFolder"_s,
                          .chosen = u"/data/cache"_s,
                          .calls = {u"chooseInitialIngestCache:/data/cache"_s}};
        QTest::newRow("existing folder cancelled")
            << PromptCase{.pressed = u"chooseExistingFolder"_s};
        QTest::newRow("cancel") << PromptCase{.pressed = u"cancel"_s};
        QTest::newRow("escape") << PromptCase{.pressed = u"escape"_s};
        QTest::newRow("closed") << PromptCase{.pressed = u"close"_s};
    }

    void creationPrompt()
    {
        QFETCH(PromptCase, row);
        Page page;
        page.view->show();
        page.importState.setInitialIngestCacheCreation(
            InitialIngestCacheCreation{u"/home/a/Ingest"_s});
        QMessageBox *box = page.view->creationPrompt();
        QTRY_VERIFY(box->isVisible());
        page.importState.setInitialIngestCacheCreation(
            InitialIngestCacheCreation{u"/home/b/Ingest"_s});
        QCOMPARE(page.view->findChildren<QMessageBox *>().size(), 1);
        QCOMPARE(shownTexts(*box).join(u'|'),
                 u"Create Ingest Cache?|Create Here|Choose Existing Folder|Cancel|Ingest Cache "
                 u"has not been created. Choose where to keep local copies before importing."_s);
        const auto left = [box](const QString &button) {
            return shownControl(*box, u"importReview.createIngestCache."_s + button)->x();
        };
        QVERIFY(left(u"createHere"_s) < left(u"chooseExistingFolder"_s));
        QVERIFY(left(u"chooseExistingFolder"_s) < left(u"cancel"_s));
        if (row.pressed == u"escape")
            QTest::keyClick(box, Qt::Key_Escape);
        else if (row.pressed == u"close")
            box->close();
        else
            click(*box, u"importReview.createIngestCache."_s + row.pressed);
        QVERIFY(!box->isVisible());
        QVERIFY(!page.importState.initialIngestCacheCreation());
        if (!page.chooser.asked.isEmpty()) {
            QCOMPARE(page.chooser.asked.first().prompt, u"Use Folder"_s);
            row.chosen ? page.chooser.answer(*row.chosen) : page.chooser.cancel();
        }
        QCOMPARE(page.operations.calls, row.calls);
        QVERIFY(!page.importState.initialIngestCacheCreation());
    }

    void scansAFolderAndAddsItThroughTheViewModel()
    {
        ImportRoadFixture fixture;
        writeCard(fixture.card(1), 2);
        const auto model = fixture.make();
        ScriptedFolderChooser chooser;
        ImportReviewPanelView view(model->importState(),
                                   model->ingestCacheState(),
                                   model->shellState(),
                                   model->importWorkflows(),
                                   chooser);
        view.resize(1100, 700);
        view.show();
        click(view, u"importReview.chooseFolder"_s);
        chooser.answer(fixture.card(1));
        QTRY_VERIFY(shownControl(view, u"importReview.confirm"_s)->isEnabled());
        click(view, u"importReview.confirm"_s);
        QTRY_VERIFY(!view.inspector()->presentation().alerts.isEmpty()
                    && view.inspector()->presentation().alerts.last().tone
                           == LibraryPresentationTone::Positive);
        QCOMPARE(view.inspector()->presentation().alerts.last().text,
                 u"Added 2 files to Ingest Cache"_s);
        QCOMPARE(shownTexts(*view.footer()).first(), noReviewHelp);
    }
};

QTEST_MAIN(ImportReviewPanelViewTests)
#include "ImportReviewPanelViewTests.moc"
