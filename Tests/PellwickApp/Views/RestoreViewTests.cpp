#include "../Shell/RestoreHarness.h"
#include "KeyboardNavigation.h"
#include "PageInspection.h"
#include "ScriptedFolderChooser.h"

#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickApp/Shell/State/RestoreState.h>
#include <PellwickApp/Shell/State/SessionState.h>
#include <PellwickApp/Stores/RestoreDestinationStore.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Restore/RestoreDialogs.h>
#include <PellwickApp/Views/Restore/RestoreView.h>

#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <Support/LibraryFixtures.h>
#include <Support/RecordingOperations.h>
#include <Support/RestoreFixtures.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

using Status = RestoreRequestStatus;

namespace {

/// The page over its own states, recorder, chooser and timers.
struct Page
{
    RestoreState restore;
    SessionState session;
    LibraryState library;
    RecordingRestoreOperations operations;
    ScriptedFolderChooser chooser;
    ManualTimers timers;
    RestoreView view{restore,
                     session,
                     library,
                     operations,
                     chooser,
                     RestoreDestinationStore::nonPersistent(),
                     timers.factory()};

    void setRequest(std::optional<Status> status)
    {
        restore.setActiveRestoreRequest(status ? std::optional(restoreRequest(*status))
                                               : std::nullopt);
    }

    /// Selects one item per archive byte count.
    void select(const QList<std::optional<qint64>> &sizes)
    {
        for (const std::optional<qint64> &size : sizes) {
            operations.selected.append(minimalLibraryItem(int(operations.selected.size()) + 1));
            operations.selected.last().archiveByteCount = size;
        }
        library.setSelectedLibraryItemIDs({});
    }
};

struct StateCase
{
    std::optional<Status> status = Status::Ready;
    QList<std::optional<qint64>> sizes = {};
    bool transferActive = false;
    bool paused = false;
    QString taskID = u"42-ready"_s;
    QString enabled = u"0110"_s; ///< request, refresh, transfer, pause
    QString transferTitle = u"Start Restore Transfer"_s;
};

struct DialogCase
{
    QString press;
    std::optional<Status> status = Status::NeedsAttention;
    RestoreSelectionSummary summary = {};
    QString title = {}; ///< none: no dialog
    QString message = {};
    QString button = {};
    bool destructive = true;
    QString call;
};

} // namespace

Q_DECLARE_METATYPE(StateCase)
Q_DECLARE_METATYPE(DialogCase)

class RestoreViewTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { PellwickControlStyles::install(); }

    void buttonsFollowTheState_data()
    {
        QTest::addColumn<StateCase>("c");
        const StateCase none{.status = std::nullopt, .taskID = u"0-none"_s, .enabled = u"0100"_s};
        QTest::newRow("nothing") << none;
        const StateCase selection{
            .status = std::nullopt, .sizes = {1, 2}, .taskID = u"0-none"_s, .enabled = u"1100"_s};
        QTest::newRow("selection") << selection;
        QTest::newRow("a size missing") << StateCase{
            selection.status, {1, std::nullopt}, false, false, selection.taskID, none.enabled};
        QTest::newRow("preparing") << StateCase{.status = Status::Preparing,
                                                .sizes = {1},
                                                .taskID = u"42-preparing"_s,
                                                .enabled = u"0100"_s};
        QTest::newRow("needs attention") << StateCase{.status = Status::NeedsAttention,
                                                      .taskID = u"42-needs_attention"_s,
                                                      .enabled = u"0100"_s};
        QTest::newRow("ready") << StateCase{};
        QTest::newRow("transferring") << StateCase{.transferActive = true, .enabled = u"0101"_s};
        QTest::newRow("paused") << StateCase{.paused = true,
                                             .transferTitle = u"Continue Restore Transfer"_s};
    }

    void buttonsFollowTheState()
    {
        QFETCH(StateCase, c);
        Page page;
        page.select(c.sizes);
        page.setRequest(c.status);
        page.restore.setIsRestoreTransferActive(c.transferActive);
        page.restore.setHasPausedRestoreTransfer(c.paused);
        QCOMPARE(RestoreView::restoreTaskID(page.restore.activeRestoreRequest()), c.taskID);
        QString enabled;
        for (const QString &name : {u"restore.request-selected"_s,
                                    u"restore.refresh-request"_s,
                                    u"restore.start-transfer"_s,
                                    u"Pause Restore Transfer"_s})
            enabled += shownControl(page.view, name)->isEnabled() ? u'1' : u'0';
        QCOMPARE(enabled, c.enabled);
        QCOMPARE(page.view.findChild<QPushButton *>(u"restore.start-transfer"_s)->text(),
                 c.transferTitle);
        for (QPushButton *button : page.view.findChildren<QPushButton *>())
            QVERIFY(button->focusPolicy() & Qt::TabFocus); // reachable when enabled
    }

    void actionsAndDialogs_data()
    {
        QTest::addColumn<DialogCase>("c");
        const DialogCase restore{.press = u"restore.request-selected"_s,
                                 .status = std::nullopt,
                                 .summary = {1, 2048, {u"IMG_1.CR3"_s}},
                                 .title = u"Restore 1 RAW Original?"_s,
                                 .message = u"2 KB. IMG_1.CR3"_s,
                                 .button = u"Start Restore Request"_s,
                                 .destructive = false,
                                 .call = u"requestRestoreForSelection"_s};
        QTest::newRow("restore one") << restore;
        DialogCase two = restore;
        two.summary = {2, 1536, {u"A.CR3"_s, u"B.CR3"_s}};
        two.title = u"Restore 2 RAW Originals?"_s;
        two.message = u"1.5 KB. A.CR3, B.CR3"_s;
        QTest::newRow("restore two, a size missing") << two;
        DialogCase many = restore; // the buttons stay on the screen
        many.summary = {10'000, 0, QStringList(10'000, u"IMG_0001.CR3"_s)};
        many.title = u"Restore 10000 RAW Originals?"_s;
        many.message = u"0 B. "_s + many.summary.filenames.join(u", "_s);
        QTest::newRow("restore 10000") << many;
        QTest::newRow("rebuild") << DialogCase{
            .press = u"restore.rebuild-local-library-cache"_s,
            .title = u"Rebuild Local Library Cache?"_s,
            .message = u"This replaces cached records linked to Backend API Library records. "
                       u"Unfinished local Imports stay. Cached Previews may need to regenerate."_s,
            .button = u"Rebuild Cache"_s,
            .call = u"rebuildLocalLibraryCache"_s};
        QTest::newRow("stop, on this computer") << DialogCase{
            .press = u"restore.cancel-request"_s,
            .title = u"Stop Restore in Pellwick?"_s,
            .message
            = u"Pellwick will stop tracking this Restore Request and discard incomplete local "
              u"Restore Transfer artifacts. Managed Archive Storage preparation may continue and "
              u"may still incur provider charges. Files already verified on this computer will "
              u"remain. Restore Allowance is not refunded after Ready."_s,
            .button = u"Stop Restore"_s,
            .call = u"cancelActiveRestoreRequest"_s};
        QTest::newRow("pause") << DialogCase{.press = u"Pause Restore Transfer"_s,
                                             .call = u"pauseActiveRestoreTransfer"_s};
    }

    void actionsAndDialogs()
    {
        QFETCH(DialogCase, c);
        Page page;
        page.select({1});
        page.setRequest(c.status);
        page.operations.summary = c.summary;
        page.restore.setIsRestoreTransferActive(true);
        page.restore.setNeedsLocalLibraryCacheRebuild(true);
        click(page.view, c.press);
        RestoreConfirmationDialog *dialog = page.view.confirmation();
        QCOMPARE(dialog != nullptr, !c.title.isEmpty());
        if (dialog) {
            QVERIFY(dialog->windowTitle() == c.title && shownTexts(*dialog).startsWith(c.title));
            QCOMPARE(dialog->message()->toPlainText(), c.message);
            QCOMPARE(dialog->confirmButton()->text(), c.button);
            QCOMPARE(PellwickControlStyles::buttonRole(*dialog->confirmButton())
                         == PellwickButtonRole::Destructive,
                     c.destructive);
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            // The first focus is the default button, never the message.
            QCOMPARE(QApplication::focusWidget(),
                     c.destructive ? dialog->cancelButton() : dialog->confirmButton());
            QVERIFY(dialog->height() < 480);
            const QList<QWidget *> chain = focusChain(*dialog);
            for (QPushButton *button : {dialog->confirmButton(), dialog->cancelButton()})
                QVERIFY(chain.contains(button) && dialog->rect().contains(button->geometry()));
            dialog->cancelButton()->click(); // only closes
            QTRY_VERIFY(!page.view.confirmation());
            QCOMPARE(page.operations.calls, QStringList());
            click(page.view, c.press);
            page.view.confirmation()->confirmButton()->click();
        }
        QCOMPARE(page.operations.calls, QStringList{c.call});
    }

    void foldersSavedIntoAreRemembered()
    {
        Page page;
        page.setRequest(Status::Ready);
        click(page.view, u"restore.start-transfer"_s);
        const FolderQuestion first = page.chooser.asked.value(0);
        QCOMPARE(first.prompt, u"Choose Destination"_s);
        QCOMPARE(first.message, u"Choose where to save the restored RAW Originals."_s);
        // Nothing remembered: the default folder.
        QVERIFY(first.startFolder == u"/restored-by-default"_s && first.allowsNewFolders);
        QObject::connect(
            page.view.destinationStore(), &RestoreDestinationStore::lastDestinationChanged, [&] {
                page.operations.calls.append(u"record:"_s
                                             + *page.view.destinationStore()->lastDestination());
            });
        page.chooser.answer(u"/photos/restored"_s);
        page.restore.setLastCompletedRestoreDestination(u"/photos/restored"_s); // the run saved
        click(page.view, u"restore.start-transfer"_s);
        QCOMPARE(page.chooser.asked.value(1).startFolder, u"/photos/restored"_s);
        page.chooser.answer(u"/photos/refused"_s); // the run saves nothing there
        click(page.view, u"restore.start-transfer"_s);
        QCOMPARE(page.chooser.asked.value(2).startFolder, u"/photos/restored"_s);
        page.chooser.cancel();
        // A transfer an earlier run left unfinished continues where it saves.
        page.restore.setUnfinishedRestoreDestination(u"/photos/unfinished"_s);
        click(page.view, u"restore.start-transfer"_s);
        QCOMPARE(page.chooser.asked.value(3).startFolder, u"/photos/unfinished"_s);
        page.chooser.cancel();
        QCOMPARE(page.operations.calls,
                 QStringList({u"restoreReadyItems:/photos/restored:0"_s,
                              u"record:/photos/restored"_s,
                              u"restoreReadyItems:/photos/refused:0"_s}));
    }

    void filenamePrompt_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("refusal"); ///< empty: handed to the view model
        QTest::addColumn<QString>("close");
        QTest::addColumn<QString>("existing");
        const QString dots = u"A filename cannot be \".\" or \"..\"."_s;
        const QString shortName = u"IMG_1.CR3"_s;
        QTest::newRow("a name, accepted")
            << u" Chosen.CR3 "_s << QString() << u"accepted"_s << shortName;
        QTest::newRow("a slash, then cancel")
            << u" a/b "_s << u"A filename cannot contain \"/\"."_s << u"Cancel"_s << shortName;
        QTest::newRow("\"..\", then escape") << u".."_s << dots << u"escape"_s << shortName;
        QTest::newRow("\".\", then accepted") << u" . "_s << dots << u"accepted"_s << shortName;
        QTest::newRow("blank") << u"  "_s << u"Enter a filename."_s << u"Cancel"_s << shortName;
        QTest::newRow("a wrapped message, then a refusal")
            << u"a/b"_s << u"A filename cannot contain \"/\"."_s << u"Cancel"_s
            << u"20250602-100100_pw-1_img_0001_6b2541f99b97.dng"_s;
    }

    void filenamePrompt()
    {
        QFETCH(QString, typed);
        QFETCH(QString, refusal);
        QFETCH(QString, close);
        QFETCH(QString, existing);
        Page page;
        page.restore.setRestoreFilenameConflict(RestoreFilenameConflict{7, u"/d"_s, existing});
        RestoreFilenamePrompt &prompt = *page.view.filenamePrompt();
        QVERIFY(QTest::qWaitForWindowActive(&prompt));
        QCOMPARE(shownTexts(prompt).join(u'|'),
                 u"Choose a different filename|"_s + existing
                     + u" already exists at the destination.|Filename|Restore|Cancel"_s);
        QCOMPARE(focusChain(prompt).size(), 3);
        QTest::keyClicks(prompt.field(), typed);
        click(prompt, u"Restore"_s);
        // The conflict stays until the view model clears it, and so does the prompt.
        QCOMPARE(page.operations.calls,
                 refusal.isEmpty() ? QStringList{u"resolveRestoreFilenameConflict:7:"_s + typed}
                                   : QStringList());
        QVERIFY(prompt.isVisible() && prompt.field()->text() == typed);
        QCOMPARE(prompt.refusalLabel()->isVisible(), !refusal.isEmpty());
        QCOMPARE(prompt.refusalLabel()->text(), refusal);
        for (const QLabel *label : {prompt.messageLabel(), prompt.refusalLabel()}) {
            if (label->isVisible()) // never squeezed, inside the dialog
                QTRY_VERIFY(label->height() >= label->heightForWidth(label->width())
                            && prompt.rect().contains(label->geometry()));
        }
        if (close == u"accepted")
            page.restore.setRestoreFilenameConflict(std::nullopt);
        else if (close == u"escape")
            QTest::keyClick(&prompt, Qt::Key_Escape);
        else
            click(prompt, close);
        QVERIFY(!prompt.isVisible() && !page.restore.restoreFilenameConflict());
        QCOMPARE(page.operations.calls.size(), refusal.isEmpty() ? 1 : 0);
    }

    void refreshFollowsTheRequestWhileShown()
    {
        Page page;
        page.view.show();
        page.timers.advance(999ms);
        QCOMPARE(page.operations.calls, QStringList());
        page.timers.advance(1ms);
        QCOMPARE(page.operations.calls,
                 QStringList(
                     {u"refreshLocalLibraryCacheForRestore"_s, u"refreshActiveRestoreRequest"_s}));
        page.setRequest(Status::Preparing);
        page.timers.advance(500ms);
        page.setRequest(Status::Ready); // the preparing key's expiry never fires
        page.timers.advance(999ms);
        QCOMPARE(page.operations.calls.size(), 2);
        page.timers.advance(1ms);
        QCOMPARE(page.operations.calls.value(2), u"refreshLocalLibraryCacheForRestore"_s);
        QCOMPARE(page.operations.calls.size(), 3); // a request is held: no look-up
        page.setRequest(std::nullopt);
        page.view.hide();
        page.timers.advance(2s);
        QCOMPARE(page.operations.calls.size(), 3);
    }

    void restoreThroughTheViewModel()
    {
        RestoreHarness h({{{u"IMG_0001.CR3"_s, QByteArray(2000, 'r')},
                           TestBackend::ArchivedFile{u"IMG_0001.xmp"_s, QByteArray(560, 's')}}});
        ScriptedFolderChooser chooser;
        RestoreView view(h.restore(),
                         h.model->sessionState(),
                         h.model->libraryState(),
                         h.model->restoreWorkflows(),
                         chooser,
                         RestoreDestinationStore::nonPersistent(),
                         h.timers.factory());
        h.selectAll();
        click(view, u"restore.request-selected"_s);
        QVERIFY(view.confirmation()->message()->toPlainText().startsWith(u"2.5 KB. "_s));
        view.confirmation()->confirmButton()->click();
        QTRY_VERIFY(h.restore().activeRestoreRequest());
        // The size the confirmation named, sidecar included.
        QCOMPARE(view.findChild<QLabel *>(u"restore.summary.request-size"_s)->text(), u"2.5 KB"_s);
        h.backend.setRestoreRequestStatus(h.restore().activeRestoreRequest()->id, Status::Ready);
        click(view, u"restore.refresh-request"_s);
        QTRY_VERIFY(view.findChild<QPushButton *>(u"restore.start-transfer"_s)->isEnabled());
        click(view, u"restore.start-transfer"_s);
        // The configured folder, created for the chooser to start in.
        QTRY_COMPARE(chooser.asked.value(0).startFolder, h.destination());
        QVERIFY(QFileInfo(h.destination()).isDir());
        chooser.answer(h.destination());
        QTRY_COMPARE(fileManifest(h.destination()), h.archivedHashes());
    }
};

QTEST_MAIN(RestoreViewTests)
#include "RestoreViewTests.moc"
