#pragma once

#include <PellwickApp/Shell/ShellNavigation.h>
#include <PellwickApp/Views/Kit/FolderChooser.h>
#include <PellwickApp/Views/Kit/URLOpener.h>

#include <QCoro/QCoroTask>
#include <QMainWindow>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QDialog;
class QStackedWidget;
class QToolBar;

namespace Pellwick {

class BackendStatusToolbarItem;
class ImportOperations;
class IngestCacheOperations;
class LibraryOperations;
class LibraryShellViewModel;
class NewImportView;
class RestoreDestinationStore;
class RestoreOperations;
class SessionOperations;
class SharedPageStatusRegion;
class SidebarView;

/// The application's one window: the sidebar beside the signed-out page or the signed-in column
/// (the shared status region, except on the Import Review page, above the current page), the
/// toolbar of the shell shown, and the change-password sheet. It owns the view model and runs
/// the reactions to start-up, activation and volume events as fixed sequences of operations.
/// Every view follows the view model's change signals. Main thread only.
class LibraryShellWindow : public QMainWindow
{
    Q_OBJECT

public:
    /// Takes the view model (made a child of the window) and the store the Restore page
    /// remembers its destination folder in.
    LibraryShellWindow(LibraryShellViewModel *viewModel,
                       std::unique_ptr<RestoreDestinationStore> restoreDestinations,
                       ShellSection initialSection = ShellSection::Overview,
                       QWidget *parent = nullptr);
    ~LibraryShellWindow() override;

    LibraryShellViewModel &viewModel() const { return *m_viewModel; }

    /// The operations the window's own reactions run (start-up, activation, volumes, the
    /// proposal's buttons, the toolbars' refresh and links); at first the view model's workflow
    /// objects, which the pages keep.
    struct ReactionOperations
    {
        SessionOperations *session = nullptr;
        ImportOperations *imports = nullptr;
        IngestCacheOperations *ingestCache = nullptr;
        RestoreOperations *restore = nullptr;
        LibraryOperations *library = nullptr;
    };

    /// Replaces the operations of the window's own reactions (tests record them).
    void setReactionOperations(const ReactionOperations &operations);

    ShellSection currentSection() const { return m_selectedSection; }

    /// Switches the page; a switch to the Library page starts the navigation probe.
    void setCurrentSection(ShellSection section);

    bool isChangingPassword() const { return m_isChangingPassword; }

    /// Presents (true) or closes (false) the change-password sheet.
    void setChangingPassword(bool changing);

    /// Replaces the opener of checkout and billing links (tests stub it).
    void setURLOpener(URLOpener opener);

    /// The folder chooser the pages ask; it passes each question to the chooser installed last.
    FolderChooser &folderChooser() { return m_folderChooser; }

    /// Replaces the window-modal dialog behind `folderChooser()` (tests script it).
    void setFolderChooser(std::shared_ptr<FolderChooser> chooser);

    /// Moves the window to a section.
    using SectionSelector = std::function<void(ShellSection)>;

    /// The New import page with its four actions: the two scans start on `operations` and
    /// select the Import Review at once; "Choose Folder" asks `chooser` and, only for a chosen
    /// folder, scans it and then selects the Import Review (an answer after the page is gone
    /// is dropped); "Cancel" selects the library and scans nothing.
    static NewImportView *newImportContent(ImportOperations &operations,
                                           FolderChooser &chooser,
                                           const SectionSelector &selectSection,
                                           QWidget *parent);

    /// A link from the backend as one that may be opened
    /// (`SessionWorkflows::openableBillingLink`); anything else counts as no link.
    static std::optional<QUrl> openableURL(const std::optional<QString> &link);

    SidebarView *sidebar() const { return m_sidebar; }

    SharedPageStatusRegion *statusRegion() const { return m_region; }

public Q_SLOTS:
    /// A removable volume was mounted: passed on only while signed in.
    void volumeMounted(const std::optional<QString> &url);
    /// A removable volume was unmounted: always passed on.
    void volumeUnmounted(const std::optional<QString> &url);
    /// The application became active: the six steps of activation, in order, as one task.
    void applicationBecameActive();
    /// The application resigned active: synchronously marks it inactive and stops polling.
    void applicationResignedActive();

Q_SIGNALS:
    /// The start-up task has run its three steps and its check of the data folders.
    void startupFinished();
    /// An activation task has run its six steps.
    void activationFinished();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QToolBar *makeToolbar(const QString &name, BackendStatusToolbarItem *&status);
    void updateShell();
    void updatePage();
    void reviewMountProposal();
    QCoro::Task<> runStartup();
    QCoro::Task<> runActivation();
    QCoro::Task<> refreshLibrary();
    QCoro::Task<> openCheckout();
    QCoro::Task<> openCustomerPortal();
    QCoro::Task<> refreshStatus();
    void open(const std::optional<QString> &link);

    LibraryShellViewModel *m_viewModel = nullptr;
    ReactionOperations m_reactions;
    ShellSection m_selectedSection;
    bool m_isChangingPassword = false;
    bool m_hasStarted = false;
    URLOpener m_urlOpener;

    /// Passes each question to the chooser installed last, so pages keep one reference.
    class RoutedFolderChooser final : public FolderChooser
    {
    public:
        void chooseFolder(QWidget *window, const FolderQuestion &question, Answer answer) override
        {
            target->chooseFolder(window, question, std::move(answer));
        }

        std::shared_ptr<FolderChooser> target = std::make_shared<DialogFolderChooser>();
    };

    RoutedFolderChooser m_folderChooser;

    SidebarView *m_sidebar = nullptr;
    QStackedWidget *m_shells = nullptr;
    QWidget *m_signedOutPage = nullptr;
    QWidget *m_signedInColumn = nullptr;
    SharedPageStatusRegion *m_region = nullptr;
    QStackedWidget *m_pages = nullptr;
    QToolBar *m_signedInToolbar = nullptr;
    QToolBar *m_signedOutToolbar = nullptr;
    BackendStatusToolbarItem *m_signedInStatus = nullptr;
    BackendStatusToolbarItem *m_signedOutStatus = nullptr;
    QDialog *m_changePasswordSheet = nullptr;
};

} // namespace Pellwick
