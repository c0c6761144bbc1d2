#include "RestoreState.h"

namespace Pellwick {

RestoreState::RestoreState(QObject *parent)
    : QObject(parent)
{}

void RestoreState::setActiveRestoreRequest(std::optional<RestoreRequest> value)
{
    m_activeRestoreRequest = std::move(value);
    Q_EMIT activeRestoreRequestChanged();
}

void RestoreState::setRestoreMessage(std::optional<QString> value)
{
    m_restoreMessage = std::move(value);
    Q_EMIT restoreMessageChanged();
}

void RestoreState::setRestoreErrorMessage(std::optional<QString> value)
{
    m_restoreErrorMessage = std::move(value);
    Q_EMIT restoreErrorMessageChanged();
}

void RestoreState::setNeedsLocalLibraryCacheRebuild(bool value)
{
    m_needsLocalLibraryCacheRebuild = value;
    Q_EMIT needsLocalLibraryCacheRebuildChanged();
}

void RestoreState::setLastCompletedRestoreDestination(std::optional<QString> value)
{
    m_lastCompletedRestoreDestination = std::move(value);
    Q_EMIT lastCompletedRestoreDestinationChanged();
}

void RestoreState::setIsRestoreTransferActive(bool value)
{
    m_isRestoreTransferActive = value;
    Q_EMIT isRestoreTransferActiveChanged();
}

void RestoreState::setIsCancellingRestore(bool value)
{
    m_isCancellingRestore = value;
    Q_EMIT isCancellingRestoreChanged();
}

void RestoreState::setHasPausedRestoreTransfer(bool value)
{
    m_hasPausedRestoreTransfer = value;
    Q_EMIT hasPausedRestoreTransferChanged();
}

void RestoreState::setUnfinishedRestoreDestination(std::optional<QString> value)
{
    m_unfinishedRestoreDestination = std::move(value);
    Q_EMIT unfinishedRestoreDestinationChanged();
}

void RestoreState::setRestoreFilenameConflict(std::optional<RestoreFilenameConflict> value)
{
    m_restoreFilenameConflict = std::move(value);
    Q_EMIT restoreFilenameConflictChanged();
}

void RestoreState::setRestoreConflictFilename(QString value)
{
    m_restoreConflictFilename = std::move(value);
    Q_EMIT restoreConflictFilenameChanged();
}

} // namespace Pellwick
