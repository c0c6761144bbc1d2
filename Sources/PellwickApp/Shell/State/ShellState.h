#pragma once

#include <PellwickApp/Shell/ShellTypes.h>
#include <PellwickCore/Ingest/TransferProgress.h>

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

namespace Pellwick {

/// What the window shows around the pages: the backend status, the progress rows and the
/// mount proposal.
/// Service-free: every field has a getter, a setter that notifies on every assignment (also of
/// an equal value) and a change signal. Main thread only.
class ShellState final : public QObject
{
    Q_OBJECT

public:
    explicit ShellState(QObject *parent = nullptr);

    /// Backend reachability shown in the toolbar.
    const ShellStatus &status() const { return m_status; }

    /// The progress rows on screen.
    const QList<TransferProgress> &transferProgresses() const { return m_transferProgresses; }

    /// Newly mounted media proposed for import.
    const std::optional<MountProposal> &mountProposal() const { return m_mountProposal; }

    void setStatus(ShellStatus value);
    void setTransferProgresses(QList<TransferProgress> value);
    void setMountProposal(std::optional<MountProposal> value);

Q_SIGNALS:
    void statusChanged();
    void transferProgressesChanged();
    void mountProposalChanged();

private:
    ShellStatus m_status = ShellStatus::Checking;
    QList<TransferProgress> m_transferProgresses;
    std::optional<MountProposal> m_mountProposal;
};

} // namespace Pellwick
