#pragma once

#include <PellwickApp/Shell/ShellTypes.h>
#include <PellwickCore/Restore/RestoreRequest.h>

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

namespace Pellwick {

/// The Restore Request, its transfers and texts, and the filename-conflict prompt.
/// Service-free: every field has a getter, a setter that notifies on every assignment (also of
/// an equal value) and a change signal. Main thread only.
class RestoreState final : public QObject
{
    Q_OBJECT

public:
    explicit RestoreState(QObject *parent = nullptr);

    /// The Restore Request in progress.
    const std::optional<RestoreRequest> &activeRestoreRequest() const
    {
        return m_activeRestoreRequest;
    }

    /// Restore outcome text.
    const std::optional<QString> &restoreMessage() const { return m_restoreMessage; }

    /// Restore failure text.
    const std::optional<QString> &restoreErrorMessage() const { return m_restoreErrorMessage; }

    /// A restore found the Local Library Cache in conflict with the backend.
    const bool &needsLocalLibraryCacheRebuild() const { return m_needsLocalLibraryCacheRebuild; }

    /// The folder the last run that saved a file of the current (or just finished) Restore
    /// Request saved into; none while no file of it was saved.
    const std::optional<QString> &lastCompletedRestoreDestination() const
    {
        return m_lastCompletedRestoreDestination;
    }

    /// A restore transfer runs.
    const bool &isRestoreTransferActive() const { return m_isRestoreTransferActive; }

    /// A cancellation of the Restore Request runs.
    const bool &isCancellingRestore() const { return m_isCancellingRestore; }

    /// A restore transfer is paused.
    const bool &hasPausedRestoreTransfer() const { return m_hasPausedRestoreTransfer; }

    /// The folder that a transfer cut short by the end of an earlier run saves into; kept until
    /// the next run starts.
    const std::optional<QString> &unfinishedRestoreDestination() const
    {
        return m_unfinishedRestoreDestination;
    }

    /// The pending filename-conflict prompt.
    const std::optional<RestoreFilenameConflict> &restoreFilenameConflict() const
    {
        return m_restoreFilenameConflict;
    }

    /// The filename typed into that prompt.
    const QString &restoreConflictFilename() const { return m_restoreConflictFilename; }

    void setActiveRestoreRequest(std::optional<RestoreRequest> value);
    void setRestoreMessage(std::optional<QString> value);
    void setRestoreErrorMessage(std::optional<QString> value);
    void setNeedsLocalLibraryCacheRebuild(bool value);
    void setLastCompletedRestoreDestination(std::optional<QString> value);
    void setIsRestoreTransferActive(bool value);
    void setIsCancellingRestore(bool value);
    void setHasPausedRestoreTransfer(bool value);
    void setUnfinishedRestoreDestination(std::optional<QString> value);
    void setRestoreFilenameConflict(std::optional<RestoreFilenameConflict> value);
    void setRestoreConflictFilename(QString value);

Q_SIGNALS:
    void activeRestoreRequestChanged();
    void restoreMessageChanged();
    void restoreErrorMessageChanged();
    void needsLocalLibraryCacheRebuildChanged();
    void lastCompletedRestoreDestinationChanged();
    void isRestoreTransferActiveChanged();
    void isCancellingRestoreChanged();
    void hasPausedRestoreTransferChanged();
    void unfinishedRestoreDestinationChanged();
    void restoreFilenameConflictChanged();
    void restoreConflictFilenameChanged();

private:
    std::optional<RestoreRequest> m_activeRestoreRequest;
    std::optional<QString> m_restoreMessage;
    std::optional<QString> m_restoreErrorMessage;
    bool m_needsLocalLibraryCacheRebuild = false;
    std::optional<QString> m_lastCompletedRestoreDestination;
    bool m_isRestoreTransferActive = false;
    bool m_isCancellingRestore = false;
    bool m_hasPausedRestoreTransfer = false;
    std::optional<QString> m_unfinishedRestoreDestination;
    std::optional<RestoreFilenameConflict> m_restoreFilenameConflict;
    QString m_restoreConflictFilename;
};

} // namespace Pellwick
