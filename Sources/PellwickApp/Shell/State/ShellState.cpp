#include "ShellState.h"

namespace Pellwick {

ShellState::ShellState(QObject *parent)
    : QObject(parent)
{}

void ShellState::setStatus(ShellStatus value)
{
    m_status = value;
    Q_EMIT statusChanged();
}

void ShellState::setTransferProgresses(QList<TransferProgress> value)
{
    m_transferProgresses = std::move(value);
    Q_EMIT transferProgressesChanged();
}

void ShellState::setMountProposal(std::optional<MountProposal> value)
{
    m_mountProposal = std::move(value);
    Q_EMIT mountProposalChanged();
}

} // namespace Pellwick
