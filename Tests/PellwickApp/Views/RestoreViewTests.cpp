#include "../Shell/ManualTimers.h"
#include "../Shell/RestoreHarness.h"
#include "KeyboardNavigation.h"
#include "PageInspection.h"
#include "ScriptedFolderChooser.h"

#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickApp/Shell/State/RestoreState.h>
#include <PellwickApp/Shell/State/SessionState.h>
#include <PellwickApp/Stores/RestoreDestinationStore.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Pages/RestoreView.h>
#include <PellwickApp/Views/Restore/RestoreDialogs.h>
#include <PellwickApp/Views/Restore/RestoreRequestSummary.h>

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
    RestoreView view{restore, session, library, operations, chooser, timers.factory()};

    void setRequest(std::optional<Status> status, qint64 id = 12)
    {
        std::optional<RestoreRequest> request;
        if (status) {
            request = restoreRequest(*status);
            request->id = id;
        }
        restore.setActiveRestoreRequest(request);
    }

    /// Selects `sizes.size()` items, one per archive byte count.
    void select(const QList<std::optional<qint64>> &sizes)
    {
        for (int n = 0; n < sizes.size(); ++n) {
            LocalLibraryItem item = minimalLibraryItem(n + 1);
            item.archiveByteCount = sizes[n];
            operations.selected.append(item);
        }
        library.setSelectedLibraryItemIDs({});
    }

    QPushButton *button(const QString &identifier) const
    {
        return qobject_cast<QPushButton *>(shownControl(view, identifier));
    }
};

QString enabledRow(const Page &page)
{
    QString row;
    for (const QString &name : {u"restore.request-selected"_s,
                                u"restore.refresh-request"_s,
                                u"restore.start-transfer"_s,
                                u"Pause Restore Transfer"_s})
        row += page.button(name)->isEnabled() ? u'1' : u'0';
    return row;
}

struct StateCase
{
    std::optional<Status> status = std::nullopt;
    QList<std::optional<qint64>> sizes = {};
    bool transferActive = false;
    bool paused = false;
    QString taskID = u"12-ready"_s;
    QString enabled = u"0110"_s; ///< request, refresh, transfer, pause
    QString transferTitle = u"Start Restore Transfer"_s;
};

struct DialogCase
{
    QString press;      ///< a button, or a signal of the request card
    QString title = {}; ///< none: no dialog
    QString message = {};
    QString button = {};
    bool destructive = true;
    RestoreSelectionSummary summary = {};
    QString call;
};

} // namespace

Q_DECLARE_METATYPE(StateCase)
Q_DECLARE_METATYPE(DialogCase)

class RestoreViewTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase()
    {
        PellwickControlStyles::install();
        qputenv("PELL_WICK_USE_NON_PERSISTENT_RESTORE_DESTINATION_STORE", "1");
    }

    void buttonsFollowTheState_data()
    {
        QTest::addColumn<StateCase>("c");
        QTest::newRow("nothing") << StateCase{.taskID = u"0-none"_s, .enabled = u"0100"_s};
        QTest::newRow("selection")
            << StateCase{.sizes = {1, 2}, .taskID = u"0-none"_s, .enabled = u"1100"_s};
        QTest::newRow("a size missing")
            << StateCase{.sizes = {1, std::nullopt}, .taskID = u"0-none"_s, .enabled = u"0100"_s};
        QTest::newRow("preparing") << StateCase{.status = Status::Preparing,
                                                .sizes = {1},
                                                .taskID = u"12-preparing"_s,
                                                .enabled = u"0100"_s};
        QTest::newRow("needs attention") << StateCase{.status = Status::NeedsAttention,
                                                      .taskID = u"12-needs_attention"_s,
                                                      .enabled = u"0100"_s};
        QTest::newRow("ready") << StateCase{.status = Status::Ready};
        QTest::newRow("transferring")
            << StateCase{.status = Status::Ready, .transferActive = true, .enabled = u"0101"_s};
        QTest::newRow("paused") << StateCase{.status = Status::Ready,
                                             .paused = true,
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
        QCOMPARE(enabledRow(page), c.enabled);
        QCOMPARE(page.button(u"restore.start-transfer"_s)->text(), c.transferTitle);
        for (QPushButton *button : page.view.findChildren<QPushButton *>())
            QVERIFY(button->focusPolicy() & Qt::TabFocus);
    }

    void actionsAndDialogs_data()
    {
        QTest::addColumn<DialogCase>("c");
        QTest::newRow("restore one") << DialogCase{.press = u"restore.request-selected"_s,
                                                   .title = u"Restore 1 RAW Originals?"_s,
                                                   .message = u"2 KB. IMG_1.CR3"_s,
                                                   .button = u"Start Restore Request"_s,
                                                   .destructive = false,
                                                   .summary = {1, 2048, {u"IMG_1.CR3"_s}},
                                                   .call = u"requestRestoreForSelection"_s};
        QTest::newRow("restore two, a size missing")
            << DialogCase{.press = u"restore.request-selected"_s,
                          .title = u"Restore 2 RAW Originals?"_s,
                          .message = u"1.5 KB. A.CR3, B.CR3"_s,
                          .button = u"Start Restore Request"_s,
                          .destructive = false,
                          .summary = {2, 1536, {u"A.CR3"_s, u"B.CR3"_s}},
                          .call = u"requestRestoreForSelection"_s};
        QTest::newRow("rebuild") << DialogCase{
            .press = u"rebuild"_s,
            .title = u"Rebuild Local Library Cache?"_s,
            .message = u"This replaces cached records linked to Backend API Library records. "
                       u"Unfinished local Imports stay. Cached Previews may need to regenerate."_s,
            .button = u"Rebuild Cache"_s,
            .call = u"rebuildLocalLibraryCache"_s};
        QTest::newRow("stop, on this computer") << DialogCase{
            .press = u"stop"_s,
            .title = u"Stop Restore in Pellwick?"_s,
            .message
            = u"Pellwick will stop tracking this Restore Request and discard incomplete local "
              u"Restore Transfer artifacts. Managed Archive Storage preparation may continue and "
              u"may still incur provider charges. Files already verified on this computer will "
              u"remain. Restore Allowance is not refunded after Ready."_s,
            .button = u"Stop Restore"_s,
            .call = u"cancelActiveRestoreRequest"_s};
        QTest::newRow("retry") << DialogCase{.press = u"retry"_s,
                                             .call = u"retryActiveRestorePreparation"_s};
        QTest::newRow("refresh") << DialogCase{.press = u"restore.refresh-request"_s,
                                               .call = u"refreshActiveRestoreRequest"_s};
        QTest::newRow("pause") << DialogCase{.press = u"Pause Restore Transfer"_s,
                                             .call = u"pauseActiveRestoreTransfer"_s};
    }

    void actionsAndDialogs()
    {
        QFETCH(DialogCase, c);
        Page page;
        page.select({1});
        page.operations.summary = c.summary;
        page.restore.setIsRestoreTransferActive(true);
        const auto press = [&] {
            RestoreRequestSummary &card = *page.view.summary();
            if (c.press == u"rebuild")
                Q_EMIT card.rebuildLocalLibraryCacheRequested();
            else if (c.press == u"stop")
                Q_EMIT card.cancelRestoreRequested();
            else if (c.press == u"retry")
                Q_EMIT card.retryPreparationRequested();
            else
                click(page.view, c.press);
        };
        press();
        RestoreConfirmationDialog *dialog = page.view.confirmation();
        QCOMPARE(dialog != nullptr, !c.title.isEmpty());
        if (dialog) {
            QVERIFY(dialog->isVisible() && dialog->windowTitle() == c.title);
            QVERIFY(shownTexts(*dialog).startsWith(c.title));
            QCOMPARE(dialog->message()->toPlainText(), c.message);
            QCOMPARE(dialog->confirmButton()->text(), c.button);
            QCOMPARE(PellwickControlStyles::buttonRole(*dialog->confirmButton())
                         == PellwickButtonRole::Destructive,
                     c.destructive);
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            const QList<QWidget *> chain = focusChain(*dialog);
            QVERIFY(chain.contains(dialog->confirmButton())
                    && chain.contains(dialog->cancelButton()));
            dialog->cancelButton()->click(); // only closes
            QTRY_VERIFY(!page.view.confirmation());
            QCOMPARE(page.operations.calls, QStringList());
            press();
            page.view.confirmation()->confirmButton()->click();
        }
        QCOMPARE(page.operations.calls, QStringList{c.call});
    }

    void longSelectionKeepsTheButtonsOnScreen()
    {
        Page page;
        page.select({1});
        for (int n = 0; n < 10'000; ++n)
            page.operations.summary.filenames.append(u"IMG_%1.CR3"_s.arg(n));
        page.operations.summary.itemCount = 10'000;
        click(page.view, u"restore.request-selected"_s);
        RestoreConfirmationDialog *dialog = page.view.confirmation();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QCOMPARE(dialog->message()->toPlainText(),
                 u"0 B. "_s + page.operations.summary.filenames.join(u", "_s));
        QVERIFY(dialog->height() < 480);
        for (QPushButton *button : {dialog->confirmButton(), dialog->cancelButton()})
            QVERIFY(button->isVisible() && dialog->rect().contains(button->geometry()));
    }

    void chosenFolderIsRecordedThenRestoredInto()
    {
        Page page;
        page.setRequest(Status::Ready);
        click(page.view, u"restore.start-transfer"_s);
        const FolderQuestion first = page.chooser.asked.value(0);
        QCOMPARE(first.prompt, u"Choose Destination"_s);
        QCOMPARE(first.message, u"Choose where to save the restored RAW Originals."_s);
        QVERIFY(first.startFolder.isEmpty() && first.allowsNewFolders);
        QObject::connect(
            page.view.destinationStore(), &RestoreDestinationStore::lastDestinationChanged, [&] {
                page.operations.calls.append(u"record:"_s
                                             + *page.view.destinationStore()->lastDestination());
            });
        page.chooser.answer(u"/photos/restored"_s);
        click(page.view, u"restore.start-transfer"_s);
        QCOMPARE(page.chooser.asked.value(1).startFolder, u"/photos/restored"_s);
        page.chooser.cancel();
        QCOMPARE(
            page.operations.calls,
            QStringList({u"record:/photos/restored"_s, u"restoreReadyItems:/photos/restored:0"_s}));
    }

    void filenamePrompt_data()
    {
        QTest::addColumn<QString>("close");
        QTest::addColumn<QString>("conflictAfter");
        QTest::newRow("accepted") << u"accepted"_s << u"none"_s;
        QTest::newRow("cancel") << u"Cancel"_s << u"none"_s;
        QTest::newRow("escape") << u"escape"_s << u"none"_s;
    }

    void filenamePrompt()
    {
        QFETCH(QString, close);
        Page page;
        page.restore.setRestoreFilenameConflict(
            RestoreFilenameConflict{7, u"/d"_s, u"IMG_1.CR3"_s});
        RestoreFilenamePrompt &prompt = *page.view.filenamePrompt();
        QVERIFY(QTest::qWaitForWindowActive(&prompt));
        QCOMPARE(shownTexts(prompt),
                 QStringList({u"Choose a different filename"_s,
                              u"IMG_1.CR3 already exists at the destination."_s,
                              u"Filename"_s,
                              u"Restore"_s,
                              u"Cancel"_s}));
        QCOMPARE(focusChain(prompt).size(), 3);
        QTest::keyClicks(prompt.field(), u" a/b "_s);
        QCOMPARE(page.restore.restoreConflictFilename(), u" a/b "_s);
        click(prompt,
              u"Restore"_s); // refused by the view model: the conflict stays, so does the prompt
        QCOMPARE(page.operations.calls, QStringList{u"resolveRestoreFilenameConflict:7: a/b "_s});
        QVERIFY(prompt.isVisible() && prompt.field()->text() == u" a/b "_s);
        page.restore.setRestoreFilenameConflict(
            RestoreFilenameConflict{8, u"/d"_s, u"IMG_2.CR3"_s});
        QVERIFY(prompt.isVisible()
                && shownTexts(prompt).contains(u"IMG_2.CR3 already exists at the destination."_s));
        if (close == u"accepted")
            page.restore.setRestoreFilenameConflict(std::nullopt);
        else if (close == u"escape")
            QTest::keyClick(&prompt, Qt::Key_Escape);
        else
            click(prompt, close);
        QVERIFY(!prompt.isVisible() && !page.restore.restoreFilenameConflict());
        QCOMPARE(page.operations.calls.size(), 1);
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
        RestoreHarness h;
        ScriptedFolderChooser chooser;
        RestoreView view(h.restore(),
                         h.model->sessionState(),
                         h.model->libraryState(),
                         *h.model,
                         chooser,
                         h.timers.factory());
        h.selectAll();
        click(view, u"restore.request-selected"_s);
        view.confirmation()->confirmButton()->click();
        QTRY_COMPARE(
            RestoreView::restoreTaskID(h.restore().activeRestoreRequest()).section(u'-', 1),
            u"preparing"_s);
        h.backend.setRestoreRequestStatus(h.restore().activeRestoreRequest()->id, Status::Ready);
        click(view, u"restore.refresh-request"_s);
        QTRY_VERIFY(view.findChild<QPushButton *>(u"restore.start-transfer"_s)->isEnabled());
        click(view, u"restore.start-transfer"_s);
        chooser.answer(h.destination());
        QTRY_COMPARE(fileManifest(h.destination()), h.archivedHashes());
    }
};

QTEST_MAIN(RestoreViewTests)
#include "RestoreViewTests.moc"
