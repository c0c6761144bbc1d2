#include "KeyboardNavigation.h"
#include "PageInspection.h"
#include "ScriptedFolderChooser.h"

#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/NewImport/NewImportView.h>
#include <PellwickApp/Views/Shell/LibraryShellWindow.h>

#include <Support/RecordingOperations.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

struct ActionCase
{
    QString pressed;
    /// What the chooser answers, when asked: a path, or nothing (cancelled).
    std::optional<QString> chosen{};
    QStringList calls{};
    /// The sections selected, in order.
    QList<ShellSection> sections{};
};

} // namespace

class NewImportViewTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { PellwickControlStyles::install(); }

    void showsItsTextsAndEveryButtonIsReachable()
    {
        NewImportView view({});
        view.resize(900, 600);
        QCOMPARE(shownTexts(view).join(u'|'),
                 u"Select an Import Source. Pellwick copies it locally before any Archive Storage "
                 u"work.|Add to Ingest Cache|Cancel|Select Import Source|Scan Removable Media|"
                 u"Scan All Connected Media|Choose Folder"_s);
        view.show();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        shownControl(view, u"Cancel"_s)->setFocus();
        const QList<QWidget *> reached = focusChain(view);
        for (QAbstractButton *button : view.findChildren<QAbstractButton *>())
            QVERIFY(reached.contains(button));
    }

    void actionsScanAndSwitch_data()
    {
        QTest::addColumn<ActionCase>("row");
        QTest::newRow("removable media")
            << ActionCase{.pressed = u"Scan Removable Media"_s,
                          .calls = {u"scanNewlyMountedImportSources"_s},
                          .sections = {ShellSection::ImportReview}};
        QTest::newRow("all connected media")
            << ActionCase{.pressed = u"Scan All Connected Media"_s,
                          .calls = {u"scanAllRemovableVolumes"_s},
                          .sections = {ShellSection::ImportReview}};
        QTest::newRow("folder chosen") << ActionCase{.pressed = u"new-import.choose-folder"_s,
                                                     .chosen = u"/home/ada/Shoot"_s,
                                                     .calls = {u"scanFolder:/home/ada/Shoot"_s},
                                                     .sections = {ShellSection::ImportReview}};
        QTest::newRow("folder cancelled") << ActionCase{.pressed = u"new-import.choose-folder"_s};
        QTest::newRow("cancel") << ActionCase{.pressed = u"Cancel"_s,
                                              .sections = {ShellSection::LocalLibraryCache}};
    }

    void actionsScanAndSwitch()
    {
        QFETCH(ActionCase, row);
        RecordingImportOperations operations;
        ScriptedFolderChooser chooser;
        QList<ShellSection> sections;
        std::unique_ptr<NewImportView> view(LibraryShellWindow::newImportContent(
            operations,
            chooser,
            [&sections](ShellSection section) { sections.append(section); },
            nullptr));
        click(*view, row.pressed);
        // The scans switch at once; the folder action only after its answer.
        QCOMPARE(sections, chooser.pendingCount() > 0 ? QList<ShellSection>() : row.sections);
        if (chooser.pendingCount() > 0)
            row.chosen ? chooser.answer(*row.chosen) : chooser.cancel();
        QCOMPARE(operations.calls, row.calls);
        QCOMPARE(sections, row.sections);
    }
};

QTEST_MAIN(NewImportViewTests)
#include "NewImportViewTests.moc"
