#include "ShellWindowFixture.h"

#include <PellwickApp/Views/ImportReview/ImportReviewStatusStrip.h>
#include <PellwickApp/Views/ImportReview/ImportReviewTable.h>
#include <PellwickApp/Views/Kit/BackendStatusToolbarItem.h>
#include <PellwickApp/Views/Kit/ToolbarIconButton.h>
#include <PellwickApp/Views/Library/LocalLibraryCacheView.h>
#include <PellwickApp/Views/Shell/MountProposalBanner.h>
#include <PellwickApp/Views/Shell/SharedPageStatusRegion.h>
#include <PellwickApp/Views/Shell/SidebarView.h>

#include <QAccessible>
#include <QDialog>
#include <QListView>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QToolBar>

#include <Support/ImportReviewSamples.h>

using namespace Pellwick;
using namespace Qt::StringLiterals;
using namespace Pellwick::Test;

using Status = LibraryShellViewModel::Status;

namespace {

/// The titles of the toolbar's items after its spacer: the status text, then the buttons.
QStringList toolbarItems(const QToolBar &toolbar)
{
    QStringList items;
    for (QAction *action : toolbar.actions()) {
        QWidget *widget = toolbar.widgetForAction(action);
        if (auto *status = qobject_cast<BackendStatusToolbarItem *>(widget))
            items.append(status->text());
        else if (auto *button = qobject_cast<ToolbarIconButton *>(widget))
            items.append(button->title());
    }
    return items;
}

/// Counts the close events its watched object receives.
struct CloseEvents : QObject
{
    int count = 0;

    bool eventFilter(QObject * /*watched*/, QEvent *event) override
    {
        count += event->type() == QEvent::Close ? 1 : 0;
        return false;
    }
};

} // namespace

class LibraryShellViewTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void toolbarAndPageBySession_data();
    void toolbarAndPageBySession();
    void statusFollowsTheViewModel_data();
    void statusFollowsTheViewModel();
    void pagesAndRegionBySection_data();
    void pagesAndRegionBySection();
    void libraryPageShowsRestore();
    void changePasswordSheetIsPresentedAndCleared();
    void reviewAcceptsThenSwitches();
    void dismissDeclinesAndStays();
    void onlyWebLinksAreOpened_data();
    void onlyWebLinksAreOpened();
    void windowHasItsTitleAndMinimumSize();
    void quitKeyClosesTheWindow();
    void filterPopoverStaysInsideTheWindow_data();
    void filterPopoverStaysInsideTheWindow();
    void importReviewShowsSixRowsAtTheDefaultSize_data();
    void importReviewShowsSixRowsAtTheDefaultSize();
};

void LibraryShellViewTests::toolbarAndPageBySession_data()
{
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QString>("page");

    QTest::newRow("signed in") << true
                               << QStringList{u"Checking backend"_s,
                                              u"Refresh Library"_s,
                                              u"Buy Paid Plan"_s,
                                              u"Manage Billing"_s,
                                              u"Change Password"_s}
                               << u"signed-in"_s;
    QTest::newRow("signed out") << false << QStringList{u"Checking backend"_s, u"Refresh"_s}
                                << u"page.signedOut"_s;
}

void LibraryShellViewTests::toolbarAndPageBySession()
{
    QFETCH(bool, signedIn);
    QFETCH(QStringList, items);
    QFETCH(QString, page);

    ShellWindowFixture fixture;
    // In and out again: the shell follows every change.
    fixture.viewModel().sessionState().setSession(signedInSession());
    fixture.viewModel().sessionState().setSession(std::nullopt);
    if (signedIn)
        fixture.viewModel().sessionState().setSession(signedInSession());

    auto *shown = fixture.find<QToolBar>(signedIn ? QStringLiteral("toolbar.signed-in")
                                                  : QStringLiteral("toolbar.signed-out"));
    auto *hidden = fixture.find<QToolBar>(signedIn ? QStringLiteral("toolbar.signed-out")
                                                   : QStringLiteral("toolbar.signed-in"));
    QVERIFY(!shown->isHidden());
    QVERIFY(hidden->isHidden());
    QCOMPARE(toolbarItems(*shown), items);
    for (ToolbarIconButton *button : shown->findChildren<ToolbarIconButton *>())
        QVERIFY(button->isEnabled());
    if (signedIn)
        QVERIFY(shown->findChild<ToolbarIconButton *>(QStringLiteral("change-password.open")));
    auto *shells = qobject_cast<QStackedWidget *>(
        fixture.find<QWidget>(QStringLiteral("signed-in"))->parentWidget());
    QCOMPARE(shells->currentWidget()->objectName(), page);
    // The sidebar is there in both shells.
    QVERIFY(!fixture.window->sidebar()->isHidden());
    fixture.window->resize(1120, 720);
    saveGrab(*fixture.window,
             signedIn ? QStringLiteral("signed-in-overview")
                      : QStringLiteral("signed-out-checking"));
}

void LibraryShellViewTests::statusFollowsTheViewModel_data()
{
    QTest::addColumn<Status>("status");
    QTest::addColumn<QString>("text");

    QTest::newRow("checking") << Status::Checking << u"Checking backend"_s;
    QTest::newRow("reachable") << Status::Reachable << u"Backend reachable"_s;
    QTest::newRow("unreachable") << Status::Unreachable << u"Backend unreachable"_s;
}

void LibraryShellViewTests::statusFollowsTheViewModel()
{
    QFETCH(Status, status);
    QFETCH(QString, text);

    ShellWindowFixture fixture;
    fixture.viewModel().shellState().setStatus(Status::Reachable);
    fixture.viewModel().shellState().setStatus(status);
    for (BackendStatusToolbarItem *item :
         fixture.window->findChildren<BackendStatusToolbarItem *>()) {
        QCOMPARE(item->text(), text);
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(item);
        QCOMPARE(accessible->text(QAccessible::Name), u"Backend API"_s);
        QCOMPARE(accessible->text(QAccessible::Value), text);
        QCOMPARE(accessible->childCount(), 0);
    }
    if (status == Status::Unreachable) {
        fixture.window->resize(1120, 720);
        saveGrab(*fixture.window, QStringLiteral("signed-out-unreachable"));
    }
}

void LibraryShellViewTests::pagesAndRegionBySection_data()
{
    QTest::addColumn<ShellSection>("section");
    QTest::addColumn<QString>("page");
    QTest::addColumn<bool>("hasRegion");

    QTest::newRow("overview") << ShellSection::Overview << u"page.overview"_s << true;
    QTest::newRow("import review") << ShellSection::ImportReview << u"page.importReview"_s << false;
    QTest::newRow("new import") << ShellSection::NewImport << u"page.newImport"_s << true;
    QTest::newRow("library") << ShellSection::LocalLibraryCache << u"page.localLibraryCache"_s
                             << true;
    QTest::newRow("restore") << ShellSection::Restore << u"page.restore"_s << true;
}

void LibraryShellViewTests::pagesAndRegionBySection()
{
    QFETCH(ShellSection, section);
    QFETCH(QString, page);
    QFETCH(bool, hasRegion);

    ShellWindowFixture fixture;
    fixture.viewModel().sessionState().setSession(signedInSession());
    fixture.window->setCurrentSection(ShellSection::ImportReview);
    fixture.window->setCurrentSection(section);
    QCOMPARE(fixture.window->currentSection(), section);
    auto *pages = qobject_cast<QStackedWidget *>(
        fixture.find<QWidget>(QStringLiteral("page.overview"))->parentWidget());
    QCOMPARE(pages->currentWidget()->objectName(), page);
    QCOMPARE(!fixture.window->statusRegion()->isHidden(), hasRegion);
    QCOMPARE(fixture.window->sidebar()->selectedSection(), section);
    fixture.window->resize(1120, 720);
    saveGrab(*fixture.window, QStringLiteral("signed-in-") + toRaw(section));
}

void LibraryShellViewTests::libraryPageShowsRestore()
{
    ShellWindowFixture fixture;
    fixture.viewModel().sessionState().setSession(signedInSession());
    fixture.window->setCurrentSection(ShellSection::LocalLibraryCache);
    Q_EMIT fixture.find<LocalLibraryCacheView>(u"page.localLibraryCache"_s)->showRestore();
    QCOMPARE(fixture.window->currentSection(), ShellSection::Restore);
}

void LibraryShellViewTests::changePasswordSheetIsPresentedAndCleared()
{
    ShellWindowFixture fixture;
    fixture.viewModel().sessionState().setSession(signedInSession());
    fixture.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(fixture.window.get()));
    auto *sheet = fixture.find<QDialog>(QStringLiteral("change-password.sheet"));
    QVERIFY(!sheet->isVisible());

    fixture.find<ToolbarIconButton>(QStringLiteral("change-password.open"))->click();
    QVERIFY(fixture.window->isChangingPassword());
    QTRY_VERIFY(sheet->isVisible());
    QCOMPARE(sheet->windowModality(), Qt::WindowModal);
    QVERIFY(sheet->findChild<QWidget *>(QStringLiteral("change-password")));

    sheet->reject(); // closed by the user
    QVERIFY(!fixture.window->isChangingPassword());
    QVERIFY(!sheet->isVisible());

    fixture.window->setChangingPassword(true);
    QTRY_VERIFY(sheet->isVisible());
    fixture.window->setChangingPassword(false);
    QVERIFY(!sheet->isVisible());
}

void LibraryShellViewTests::reviewAcceptsThenSwitches()
{
    ShellWindowFixture fixture;
    fixture.viewModel().sessionState().setSession(signedInSession());
    fixture.viewModel().shellState().setMountProposal(
        MountProposal{{{QStringLiteral("CARD"), QStringLiteral("/media/card"), std::nullopt}}});
    QVERIFY(!fixture.window->statusRegion()->banner()->isHidden());
    QCOMPARE(fixture.window->statusRegion()->banner()->message(),
             QStringLiteral("New media detected: CARD"));
    fixture.window->resize(1120, 720);
    saveGrab(*fixture.window, QStringLiteral("signed-in-banner"));

    fixture.find<QPushButton>(QStringLiteral("mount-proposal.review"))->click();
    QCOMPARE(fixture.recorded->calls, QStringList{QStringLiteral("acceptMountProposal")});
    QCOMPARE(fixture.window->currentSection(), ShellSection::ImportReview);
    QVERIFY(fixture.window->statusRegion()->isHidden());
}

void LibraryShellViewTests::dismissDeclinesAndStays()
{
    ShellWindowFixture fixture;
    fixture.viewModel().sessionState().setSession(signedInSession());
    fixture.viewModel().shellState().setMountProposal(MountProposal{});
    fixture.find<QPushButton>(QStringLiteral("mount-proposal.not-now"))->click();
    QCOMPARE(fixture.recorded->calls, QStringList{QStringLiteral("dismissMountProposal")});
    QCOMPARE(fixture.window->currentSection(), ShellSection::Overview);
    fixture.viewModel().shellState().setMountProposal(std::nullopt);
    QVERIFY(fixture.window->statusRegion()->banner()->isHidden());
}

void LibraryShellViewTests::onlyWebLinksAreOpened_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<std::optional<QString>>("link");
    QTest::addColumn<QString>("opened");

    const auto some = [](const QString &text) { return std::optional<QString>(text); };
    QTest::newRow("checkout https")
        << u"toolbar.buy-paid-plan"_s << some(u"https://pay.example.test/c/1?sig=a%2Fb"_s)
        << u"https://pay.example.test/c/1?sig=a%2Fb"_s;
    QTest::newRow("portal http") << u"toolbar.manage-billing"_s
                                 << some(u"http://billing.example.test/p"_s) << u""_s;
    QTest::newRow("user info") << u"toolbar.buy-paid-plan"_s
                               << some(u"https://pay.example.test@evil.example.test/c"_s) << u""_s;
    QTest::newRow("upper-case scheme")
        << u"toolbar.manage-billing"_s << some(u"HTTPS://billing.example.test/p"_s)
        << u"https://billing.example.test/p"_s;
    QTest::newRow("no link") << u"toolbar.buy-paid-plan"_s << std::optional<QString>() << u""_s;
    QTest::newRow("file") << u"toolbar.buy-paid-plan"_s << some(u"file:///etc/passwd"_s) << u""_s;
    QTest::newRow("javascript") << u"toolbar.manage-billing"_s << some(u"javascript:alert(1)"_s)
                                << u""_s;
    QTest::newRow("custom handler")
        << u"toolbar.buy-paid-plan"_s << some(u"ssh://host/x"_s) << u""_s;
    QTest::newRow("relative") << u"toolbar.buy-paid-plan"_s << some(u"/checkout"_s) << u""_s;
    QTest::newRow("no host") << u"toolbar.manage-billing"_s << some(u"https:///path"_s) << u""_s;
    QTest::newRow("empty") << u"toolbar.manage-billing"_s << some(u""_s) << u""_s;
}

void LibraryShellViewTests::onlyWebLinksAreOpened()
{
    QFETCH(QString, button);
    QFETCH(std::optional<QString>, link);
    QFETCH(QString, opened);

    ShellWindowFixture fixture;
    fixture.viewModel().sessionState().setSession(signedInSession());
    fixture.recorded->checkoutURL = link;
    fixture.recorded->customerPortalURL = link;
    QStringList openedURLs;
    fixture.window->setURLOpener([&openedURLs](const QUrl &url) {
        openedURLs.append(url.toString(QUrl::FullyEncoded));
        return true;
    });
    fixture.find<ToolbarIconButton>(button)->click();
    const QString operation = button == QLatin1String("toolbar.buy-paid-plan")
                                  ? QStringLiteral("checkoutURL")
                                  : QStringLiteral("customerPortalURL");
    QCOMPARE(fixture.recorded->calls, QStringList{operation});
    if (opened.isEmpty()) {
        // Give the task its turn; nothing may be opened.
        QTest::qWait(20);
        QVERIFY(openedURLs.isEmpty());
    } else {
        QTRY_COMPARE(openedURLs, QStringList{opened});
    }
}

void LibraryShellViewTests::windowHasItsTitleAndMinimumSize()
{
    ShellWindowFixture fixture;
    QCOMPARE(fixture.window->windowTitle(), QStringLiteral("Pellwick"));
    QCOMPARE(fixture.window->minimumSize(), QSize(1120, 720));
    fixture.window->resize(400, 300);
    QVERIFY(fixture.window->width() >= 1120);
    QVERIFY(fixture.window->height() >= 720);
    QVERIFY(fixture.window->sidebar()->minimumWidth() >= 220);
    QVERIFY(fixture.window->sidebar()->maximumWidth() <= 300);
    fixture.window->resize(2400, 1400);
    fixture.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(fixture.window.get()));
    QVERIFY(fixture.window->sidebar()->width() <= 300);
}

void LibraryShellViewTests::quitKeyClosesTheWindow()
{
    ShellWindowFixture fixture;
    fixture.viewModel().sessionState().setSession(signedInSession());
    fixture.window->show();
    QVERIFY(QTest::qWaitForWindowActive(fixture.window.get()));
    // A close event, as the window's close button sends: closing the last window is what ends
    // the application's event loop.
    CloseEvents closes;
    fixture.window->installEventFilter(&closes);
    QTest::keyClick(fixture.window.get(), Qt::Key_Q, Qt::ControlModifier);
    QCOMPARE(closes.count, 1);
    QVERIFY(!fixture.window->isVisible());
}

void LibraryShellViewTests::filterPopoverStaysInsideTheWindow_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("default size") << QSize(1120, 720);
    QTest::newRow("wide") << QSize(1600, 1000);
}

void LibraryShellViewTests::filterPopoverStaysInsideTheWindow()
{
    QFETCH(QSize, size);
    ShellWindowFixture fixture(ShellSection::LocalLibraryCache);
    fixture.viewModel().sessionState().setSession(signedInSession());
    fixture.window->resize(size);
    fixture.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(fixture.window.get()));
    fixture.find<QPushButton>(u"local-library-cache.filters"_s)->click();
    auto *popover = fixture.find<QWidget>(u"local-library-cache.filter-popover"_s);
    QTRY_VERIFY(popover->isVisible());
    const QRect window(fixture.window->mapToGlobal(QPoint(0, 0)), fixture.window->size());
    QVERIFY2(window.contains(popover->geometry()),
             qPrintable(u"%1,%2 %3x%4"_s.arg(popover->x())
                            .arg(popover->y())
                            .arg(popover->width())
                            .arg(popover->height())));
    popover->hide();
}

void LibraryShellViewTests::importReviewShowsSixRowsAtTheDefaultSize_data()
{
    QTest::addColumn<SampleKind>("fourth");
    QTest::newRow("one alert strip") << SampleKind::UnpairedSidecar;
    QTest::newRow("no alert strip") << SampleKind::Supported;
}

void LibraryShellViewTests::importReviewShowsSixRowsAtTheDefaultSize()
{
    QFETCH(SampleKind, fourth);
    ShellWindowFixture fixture(ShellSection::ImportReview);
    fixture.viewModel().sessionState().setSession(signedInSession());
    QList<ImportReviewItem> items;
    for (int n = 1; n <= 8; ++n)
        items.append(sampleItem(n == 4 ? fourth : SampleKind::Supported, u"IMG_%1.CR3"_s.arg(n)));
    ImportReviewState state;
    state.review = sampleReview(items);
    fixture.viewModel().importState().setImportReviewState(state);
    fixture.window->resize(1120, 720);
    fixture.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(fixture.window.get()));
    QCOMPARE(fixture.window->findChild<ImportReviewStatusStrip *>()->shownAlerts().size(),
             fourth == SampleKind::UnpairedSidecar ? 1 : 0);
    QListView *rows = fixture.find<ImportReviewTable>(u"importReview.table"_s)->list();
    // The sixth row, divider included, lies inside the viewport once the layout has settled.
    const QRect sixth = rows->visualRect(rows->model()->index(5, 0));
    QTRY_VERIFY2(sixth.bottom() < rows->viewport()->height(),
                 qPrintable(u"viewport %1"_s.arg(rows->viewport()->height())));
    saveGrab(*fixture.window, u"signed-in-import-review-rows"_s);
}

QTEST_MAIN(LibraryShellViewTests)
#include "LibraryShellViewTests.moc"
