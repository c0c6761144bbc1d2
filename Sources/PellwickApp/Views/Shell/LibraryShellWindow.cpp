#include "LibraryShellWindow.h"

#include <PellwickApp/Shell/CacheNavigationPerformanceProbe.h>
#include <PellwickApp/Shell/LibraryShellViewModel.h>
#include <PellwickApp/Stores/RestoreDestinationStore.h>
#include <PellwickApp/Views/ImportReview/ImportReviewPanelView.h>
#include <PellwickApp/Views/Kit/BackendStatusToolbarItem.h>
#include <PellwickApp/Views/Kit/PageControls.h>
#include <PellwickApp/Views/Kit/PellwickAppIcon.h>
#include <PellwickApp/Views/Kit/ToolbarIconButton.h>
#include <PellwickApp/Views/Library/LocalLibraryCacheView.h>
#include <PellwickApp/Views/NewImport/NewImportView.h>
#include <PellwickApp/Views/Overview/LibraryOverviewView.h>
#include <PellwickApp/Views/Restore/RestoreView.h>
#include <PellwickApp/Views/Session/ChangePasswordView.h>
#include <PellwickApp/Views/Session/SignedOutView.h>
#include <PellwickApp/Views/Shell/SharedPageStatusRegion.h>
#include <PellwickApp/Views/Shell/SidebarView.h>
#include <PellwickApp/Workflows/Import/ImportWorkflows.h>
#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>
#include <PellwickApp/Workflows/Library/LibraryWorkflows.h>
#include <PellwickApp/Workflows/Restore/RestoreWorkflows.h>
#include <PellwickApp/Workflows/Session/SessionWorkflows.h>

#include <QAction>
#include <QDesktopServices>
#include <QDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QPointer>
#include <QStackedWidget>
#include <QToolBar>
#include <QVBoxLayout>

namespace Pellwick {

namespace {

/// The backend status as the toolbar shows it: its text with an orange, green or red dot.
void showBackendStatus(BackendStatusToolbarItem &item, ShellStatus status)
{
    LibraryPresentationTone dot = LibraryPresentationTone::Active;
    switch (status) {
    case ShellStatus::Checking:
        dot = LibraryPresentationTone::Active;
        break;
    case ShellStatus::Reachable:
        dot = LibraryPresentationTone::Positive;
        break;
    case ShellStatus::Unreachable:
        dot = LibraryPresentationTone::Danger;
        break;
    }
    item.setStatus(LibraryShellViewModel::toRaw(status), dot);
}

} // namespace

LibraryShellWindow::LibraryShellWindow(LibraryShellViewModel *viewModel,
                                       std::unique_ptr<RestoreDestinationStore> restoreDestinations,
                                       ShellSection initialSection,
                                       QWidget *parent)
    : QMainWindow(parent)
    , m_viewModel(viewModel)
    , m_reactions{&viewModel->sessionWorkflows(),
                  &viewModel->importWorkflows(),
                  &viewModel->ingestCacheWorkflows(),
                  &viewModel->restoreWorkflows(),
                  &viewModel->libraryWorkflows()}
    , m_selectedSection(initialSection)
    , m_urlOpener([](const QUrl &url) { return QDesktopServices::openUrl(url); })
{
    Q_ASSERT(m_viewModel);
    m_viewModel->setParent(this);
    setObjectName(QStringLiteral("library-shell"));
    setWindowTitle(ShellWindowTitle::value());
    PellwickAppIcon::applyWindowIcon(*this);
    setMinimumSize(1120, 720);

    auto *central = new QWidget(this);
    auto *row = new QHBoxLayout(central);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    m_sidebar = new SidebarView(central);
    row->addWidget(m_sidebar);
    auto *divider = new QFrame(central);
    divider->setObjectName(QStringLiteral("sidebar-divider"));
    divider->setFrameShape(QFrame::VLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setStyleSheet(QStringLiteral("color: palette(mid);"));
    row->addWidget(divider);

    m_shells = new QStackedWidget(central);
    m_signedOutPage
        = new SignedOutView(m_viewModel->sessionState(), m_viewModel->sessionWorkflows(), m_shells);
    m_signedInColumn = new QWidget(m_shells);
    m_signedInColumn->setObjectName(QStringLiteral("signed-in"));
    auto *column = new QVBoxLayout(m_signedInColumn);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_region = new SharedPageStatusRegion(m_signedInColumn);
    column->addWidget(m_region);
    m_pages = new QStackedWidget(m_signedInColumn);
    // In case order of ShellSection.
    m_pages->addWidget(new LibraryOverviewView({m_viewModel->sessionState(),
                                                m_viewModel->importState(),
                                                m_viewModel->restoreState(),
                                                m_viewModel->shellState(),
                                                m_viewModel->libraryState()},
                                               m_pages));
    m_pages->addWidget(new ImportReviewPanelView(m_viewModel->importState(),
                                                 m_viewModel->ingestCacheState(),
                                                 m_viewModel->shellState(),
                                                 m_viewModel->importWorkflows(),
                                                 m_folderChooser,
                                                 m_pages));
    m_pages->addWidget(newImportContent(
        m_viewModel->importWorkflows(),
        m_folderChooser,
        [this](ShellSection section) { setCurrentSection(section); },
        m_pages));
    auto *library = new LocalLibraryCacheView({m_viewModel->libraryState(),
                                               m_viewModel->importState(),
                                               m_viewModel->ingestCacheState(),
                                               m_viewModel->libraryWorkflows(),
                                               m_viewModel->importWorkflows(),
                                               m_viewModel->ingestCacheWorkflows(),
                                               m_viewModel->restoreWorkflows(),
                                               m_folderChooser},
                                              m_viewModel->singleShotTimers(),
                                              m_pages);
    m_pages->addWidget(library);
    auto *restore = new RestoreView(m_viewModel->restoreState(),
                                    m_viewModel->sessionState(),
                                    m_viewModel->libraryState(),
                                    m_viewModel->restoreWorkflows(),
                                    m_folderChooser,
                                    std::move(restoreDestinations),
                                    m_viewModel->singleShotTimers(),
                                    m_pages);
    m_pages->addWidget(restore);
    column->addWidget(m_pages, 1);
    m_shells->addWidget(m_signedOutPage);
    m_shells->addWidget(m_signedInColumn);
    row->addWidget(m_shells, 1);
    setCentralWidget(central);

    m_signedInToolbar = makeToolbar(QStringLiteral("toolbar.signed-in"), m_signedInStatus);
    const auto addButton = [this](const QString &title, const QString &symbol, const QString &id) {
        auto *button = new ToolbarIconButton(title, symbol, m_signedInToolbar);
        button->setObjectName(id);
        m_signedInToolbar->addWidget(button);
        return button;
    };
    connect(addButton(QStringLiteral("Refresh Library"),
                      QStringLiteral("arrow.clockwise"),
                      QStringLiteral("toolbar.refresh-library")),
            &QToolButton::clicked,
            this,
            [this] { refreshLibrary(); });
    connect(addButton(QStringLiteral("Buy Paid Plan"),
                      QStringLiteral("creditcard"),
                      QStringLiteral("toolbar.buy-paid-plan")),
            &QToolButton::clicked,
            this,
            [this] { openCheckout(); });
    connect(addButton(QStringLiteral("Manage Billing"),
                      QStringLiteral("person.crop.circle.badge.gearshape"),
                      QStringLiteral("toolbar.manage-billing")),
            &QToolButton::clicked,
            this,
            [this] { openCustomerPortal(); });
    connect(addButton(QStringLiteral("Change Password"),
                      QStringLiteral("key"),
                      QStringLiteral("change-password.open")),
            &QToolButton::clicked,
            this,
            [this] { setChangingPassword(true); });

    m_signedOutToolbar = makeToolbar(QStringLiteral("toolbar.signed-out"), m_signedOutStatus);
    auto *refresh = new ToolbarIconButton(
        QStringLiteral("Refresh"), QStringLiteral("arrow.clockwise"), m_signedOutToolbar);
    refresh->setObjectName(QStringLiteral("toolbar.refresh"));
    m_signedOutToolbar->addWidget(refresh);
    connect(refresh, &QToolButton::clicked, this, [this] { refreshStatus(); });

    // Quitting from the keyboard closes the window as its close button does, so the same orderly
    // end follows (main's). A desktop without a platform theme binds no Quit key: Ctrl+Q is the
    // one Linux desktops use.
    auto *quit = new QAction(QStringLiteral("Quit"), this);
    quit->setObjectName(QStringLiteral("window.quit"));
    QList<QKeySequence> quitKeys = QKeySequence::keyBindings(QKeySequence::Quit);
    if (quitKeys.isEmpty())
        quitKeys.append(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setShortcuts(quitKeys);
    quit->setShortcutContext(Qt::ApplicationShortcut);
    connect(quit, &QAction::triggered, this, &QWidget::close);
    addAction(quit);

    m_changePasswordSheet = new QDialog(this);
    m_changePasswordSheet->setObjectName(QStringLiteral("change-password.sheet"));
    m_changePasswordSheet->setWindowTitle(QStringLiteral("Change Password"));
    m_changePasswordSheet->setWindowModality(Qt::WindowModal);
    auto *sheetLayout = new QVBoxLayout(m_changePasswordSheet);
    sheetLayout->setContentsMargins(0, 0, 0, 0);
    sheetLayout->setSizeConstraint(QLayout::SetFixedSize);
    auto *changePassword = new ChangePasswordView(
        m_viewModel->sessionState(), m_viewModel->sessionWorkflows(), m_changePasswordSheet);
    sheetLayout->addWidget(changePassword);
    connect(changePassword, &ChangePasswordView::dismissRequested, this, [this] {
        setChangingPassword(false);
    });
    connect(
        m_changePasswordSheet, &QDialog::finished, this, [this] { setChangingPassword(false); });

    connect(m_sidebar, &SidebarView::sectionChosen, this, &LibraryShellWindow::setCurrentSection);
    connect(library, &LocalLibraryCacheView::showRestore, this, [this] {
        setCurrentSection(ShellSection::Restore);
    });
    connect(restore, &RestoreView::showLocalLibraryCacheRequested, this, [this] {
        setCurrentSection(ShellSection::LocalLibraryCache);
    });
    connect(m_region,
            &SharedPageStatusRegion::reviewRequested,
            this,
            &LibraryShellWindow::reviewMountProposal);
    connect(m_region, &SharedPageStatusRegion::dismissRequested, this, [this] {
        m_reactions.imports->dismissMountProposal();
    });

    LibraryShellViewModel *model = m_viewModel;
    connect(&model->sessionState(),
            &SessionState::sessionChanged,
            this,
            &LibraryShellWindow::updateShell);
    connect(&model->shellState(), &ShellState::statusChanged, this, [this] {
        showBackendStatus(*m_signedInStatus, m_viewModel->shellState().status());
        showBackendStatus(*m_signedOutStatus, m_viewModel->shellState().status());
    });
    connect(&model->shellState(), &ShellState::mountProposalChanged, this, [this] {
        m_region->setProposal(m_viewModel->shellState().mountProposal());
    });
    connect(&model->shellState(), &ShellState::transferProgressesChanged, this, [this] {
        m_region->setProgresses(m_viewModel->shellState().transferProgresses());
    });

    showBackendStatus(*m_signedInStatus, model->shellState().status());
    showBackendStatus(*m_signedOutStatus, model->shellState().status());
    m_region->setProposal(model->shellState().mountProposal());
    m_region->setProgresses(model->shellState().transferProgresses());
    m_sidebar->setSelectedSection(m_selectedSection);
    updateShell();
    updatePage();
}

LibraryShellWindow::~LibraryShellWindow()
{
    // The sheet empties its form as it closes, while the view model is still there.
    setChangingPassword(false);
    // Closing stops a running restore transfer as paused; the view model goes with the window,
    // so results still on their way are dropped.
    m_viewModel->restoreWorkflows().pauseActiveRestoreTransfer();
}

QToolBar *LibraryShellWindow::makeToolbar(const QString &name, BackendStatusToolbarItem *&status)
{
    auto *toolbar = new QToolBar(this);
    toolbar->setObjectName(name);
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setIconSize(QSize(20, 20));
    toolbar->toggleViewAction()->setEnabled(false);
    auto *spacer = new QWidget(toolbar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spacer);
    status = new BackendStatusToolbarItem(toolbar);
    toolbar->addWidget(status);
    addToolBar(Qt::TopToolBarArea, toolbar);
    return toolbar;
}

void LibraryShellWindow::setCurrentSection(ShellSection section)
{
    const bool changed = section != m_selectedSection;
    m_selectedSection = section;
    m_sidebar->setSelectedSection(section);
    updatePage();
    if (changed && section == ShellSection::LocalLibraryCache)
        CacheNavigationPerformanceProbe::startNavigation();
}

void LibraryShellWindow::setChangingPassword(bool changing)
{
    if (m_isChangingPassword == changing)
        return;
    m_isChangingPassword = changing;
    if (changing)
        m_changePasswordSheet->open();
    else if (m_changePasswordSheet->isVisible())
        m_changePasswordSheet->reject();
}

void LibraryShellWindow::setURLOpener(URLOpener opener)
{
    m_urlOpener = std::move(opener);
}

void LibraryShellWindow::setFolderChooser(std::shared_ptr<FolderChooser> chooser)
{
    Q_ASSERT(chooser);
    m_folderChooser.target = std::move(chooser);
}

std::optional<QUrl> LibraryShellWindow::openableURL(const std::optional<QString> &link)
{
    return link ? SessionWorkflows::openableBillingLink(*link) : std::nullopt;
}

void LibraryShellWindow::updateShell()
{
    const bool signedIn = m_viewModel->sessionState().session().has_value();
    if (!signedIn) {
        setChangingPassword(false);
        // Every fall-back starts a new page with the sign-in form; a change of the session
        // while already signed out (a sign-in empties it before it applies its answer) keeps
        // the page and the form the user chose.
        if (m_shells->currentWidget() == m_signedInColumn) {
            QWidget *fresh = new SignedOutView(
                m_viewModel->sessionState(), m_viewModel->sessionWorkflows(), m_shells);
            m_shells->insertWidget(m_shells->indexOf(m_signedOutPage), fresh);
            m_shells->removeWidget(m_signedOutPage);
            m_signedOutPage->deleteLater();
            m_signedOutPage = fresh;
        }
    }
    QWidget *const focused = focusWidget();
    const bool focusInShell = focused && m_shells->isAncestorOf(focused);
    QWidget *const shell = signedIn ? m_signedInColumn : m_signedOutPage;
    const bool switched = m_shells->currentWidget() != shell;
    m_shells->setCurrentWidget(shell);
    // The focus leaves the shell that went away for the first control of the page now shown,
    // or of the sidebar when the page has none.
    if (switched && focusInShell) {
        QWidget *control = PageControls::firstControl(*shell);
        if (!control)
            control = PageControls::firstControl(*m_sidebar);
        if (control)
            control->setFocus(Qt::OtherFocusReason);
    }
    m_signedInToolbar->setVisible(signedIn);
    m_signedOutToolbar->setVisible(!signedIn);
}

void LibraryShellWindow::updatePage()
{
    m_pages->setCurrentIndex(int(m_selectedSection));
    m_region->setVisible(m_selectedSection != ShellSection::ImportReview);
}

void LibraryShellWindow::setReactionOperations(const ReactionOperations &operations)
{
    Q_ASSERT(operations.session && operations.imports && operations.ingestCache
             && operations.restore && operations.library);
    m_reactions = operations;
}

void LibraryShellWindow::reviewMountProposal()
{
    m_reactions.imports->acceptMountProposal();
    setCurrentSection(ShellSection::ImportReview);
}

void LibraryShellWindow::volumeMounted(const std::optional<QString> &url)
{
    if (m_viewModel->sessionState().session())
        m_reactions.imports->receiveMountedImportSource(url);
}

void LibraryShellWindow::volumeUnmounted(const std::optional<QString> &url)
{
    m_reactions.imports->receiveUnmountedImportSource(url);
}

void LibraryShellWindow::applicationBecameActive()
{
    runActivation();
}

void LibraryShellWindow::applicationResignedActive()
{
    m_reactions.restore->setApplicationActive(false);
    m_reactions.restore->cancelRestorePolling();
}

void LibraryShellWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_hasStarted)
        return;
    m_hasStarted = true;
    runStartup();
}

QCoro::Task<> LibraryShellWindow::runStartup()
{
    const QPointer<LibraryShellWindow> self(this);
    // Side by side with the three steps: a data folder that cannot take a file is named before
    // the first Add or restore finds it, and a slow disk holds no sign-in.
    QCoro::Task<> folders = m_reactions.library->checkDataFolders();
    co_await m_reactions.session->refresh();
    if (!self)
        co_return;
    co_await m_reactions.session->restoreRememberedSession();
    if (!self)
        co_return;
    co_await m_reactions.restore->refreshActiveRestoreRequest();
    if (!self)
        co_return;
    co_await std::move(folders);
    if (self)
        Q_EMIT startupFinished();
}

QCoro::Task<> LibraryShellWindow::runActivation()
{
    const QPointer<LibraryShellWindow> self(this);
    m_reactions.restore->setApplicationActive(true);
    const std::optional<RestoreRequest> request
        = m_viewModel->restoreState().activeRestoreRequest();
    m_reactions.restore->updateRestorePolling(request);
    m_reactions.ingestCache->scheduleUserManagedIngestCacheRefresh();
    co_await m_reactions.imports->refreshSourceMediaSafetyNow();
    if (!self)
        co_return;
    co_await m_reactions.session->refreshVerification();
    if (!self)
        co_return;
    co_await m_reactions.restore->refreshActiveRestoreRequest();
    if (self)
        Q_EMIT activationFinished();
}

QCoro::Task<> LibraryShellWindow::refreshLibrary()
{
    // The backend is checked again with the library, side by side: a backend stopped since the
    // last check must not stay shown as reachable.
    // The data folders are checked again as well: a folder made writable since clears its line.
    QCoro::Task<> check = m_reactions.session->refresh();
    QCoro::Task<> folders = m_reactions.library->checkDataFolders();
    co_await m_reactions.session->refreshLibrary();
    co_await std::move(check);
    co_await std::move(folders);
}

QCoro::Task<> LibraryShellWindow::refreshStatus()
{
    const QPointer<LibraryShellWindow> self(this);
    co_await m_reactions.session->refresh();
    // The check may have restored the stored session: the start-up's step after that follows.
    if (self)
        co_await m_reactions.restore->refreshActiveRestoreRequest();
}

QCoro::Task<> LibraryShellWindow::openCheckout()
{
    const QPointer<LibraryShellWindow> self(this);
    const std::optional<QString> link = co_await m_reactions.session->checkoutURL();
    if (self)
        open(link);
}

QCoro::Task<> LibraryShellWindow::openCustomerPortal()
{
    const QPointer<LibraryShellWindow> self(this);
    const std::optional<QString> link = co_await m_reactions.session->customerPortalURL();
    if (self)
        open(link);
}

void LibraryShellWindow::open(const std::optional<QString> &link)
{
    const std::optional<QUrl> url = openableURL(link);
    if (url)
        m_urlOpener(*url);
}

} // namespace Pellwick
