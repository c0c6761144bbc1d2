#pragma once

#include <PellwickApp/Shell/SingleShotTimer.h>
#include <PellwickApp/Views/Kit/PageBackground.h>
#include <PellwickApp/Views/Restore/RestoreDialogs.h>
#include <PellwickApp/Views/Restore/RestorePresentation.h>
#include <PellwickCore/Restore/RestoreRequest.h>

#include <QCoro/QCoroTask>
#include <QList>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

class QPushButton;

namespace Pellwick {

class FolderChooser;
class LibraryState;
class RestoreDestinationStore;
class RestoreOperations;
class RestoreRequestSummary;
class RestoreSelectedItemsPanel;
class RestoreState;
class SessionState;

/// The Restore page: the header with the four restore actions, the Restore Request card beside
/// (or above) the RAW originals it concerns, the restore, rebuild and stop confirmations, the
/// filename prompt (open exactly while `restoreFilenameConflict` is present) and the refresh
/// that follows each change of the active request one second later while the page is shown.
/// It reads the states it shows and starts the operations of `operations`, never awaiting
/// them. Main thread only.
class RestoreView final : public PageBackground
{
    Q_OBJECT

public:
    /// The refresh waits on timers from `timers`; `chooser` asks for the destination folder,
    /// starting in the one `destinations` remembers: the folder a restore last saved files into.
    RestoreView(RestoreState &restore,
                SessionState &session,
                LibraryState &library,
                RestoreOperations &operations,
                FolderChooser &chooser,
                std::unique_ptr<RestoreDestinationStore> destinations,
                const SingleShotTimerFactory &timers,
                QWidget *parent = nullptr);
    ~RestoreView() override;

    /// The identity of the refresh: the request's id, "-", its status ("0-none" without one).
    static QString restoreTaskID(const std::optional<RestoreRequest> &request);

    /// Where the last destination folder is remembered.
    RestoreDestinationStore *destinationStore() const { return m_destinationStore.get(); }

    /// The open confirmation, if any.
    RestoreConfirmationDialog *confirmation() const { return m_confirmation; }

    /// The filename prompt, shown while a conflict is held.
    RestoreFilenamePrompt *filenamePrompt() const { return m_prompt; }

    RestoreRequestSummary *summary() const { return m_summary; }

Q_SIGNALS:
    /// "Choose RAW Originals": the shell shows the Local Library Cache.
    void showLocalLibraryCacheRequested();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    enum class Confirmation {
        Restore,
        Rebuild,
        Stop,
    };

    QWidget *makeActions(QWidget *parent);
    void update();
    void present(Confirmation which);
    QCoro::Task<> chooseDestination();
    void followConflict();
    void restartRefresh();
    QCoro::Task<> refresh(quint64 generation);

    RestoreState &m_restore;
    SessionState &m_session;
    RestoreOperations &m_operations;
    FolderChooser &m_chooser;
    std::unique_ptr<RestoreDestinationStore> m_destinationStore;
    std::unique_ptr<SingleShotTimer> m_refreshTimer;
    /// Advanced whenever the pending refresh is dropped, so one already running stops early.
    quint64 m_refreshGeneration = 0;
    bool m_isShown = false;
    bool m_hasListed = false;
    /// The default folder is being made ready for the chooser.
    bool m_isPreparingChooser = false;
    QString m_taskID;
    RestorePageState m_state;

    QPushButton *m_request = nullptr;
    QPushButton *m_refresh = nullptr;
    QPushButton *m_transfer = nullptr;
    QPushButton *m_pause = nullptr;
    RestoreRequestSummary *m_summary = nullptr;
    RestoreSelectedItemsPanel *m_panel = nullptr;
    QPointer<RestoreConfirmationDialog> m_confirmation;
    RestoreFilenamePrompt *m_prompt = nullptr;
};

} // namespace Pellwick
