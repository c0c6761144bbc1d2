#pragma once

#include <PellwickApp/Shell/ShellTypes.h>
#include <PellwickCore/Ingest/TransferProgress.h>

#include <QScrollArea>

namespace Pellwick {

class MountProposalBanner;
class TransferProgressRows;

/// The 72-point strip above the signed-in pages: the mount proposal banner while a proposal
/// exists, then the progress rows of the running operations. Its object name is
/// "shared-transfer-progress" while there are rows, else "shared-page-status".
class SharedPageStatusRegion : public QScrollArea
{
    Q_OBJECT

public:
    static constexpr int fixedHeight = 72;

    explicit SharedPageStatusRegion(QWidget *parent = nullptr);

    void setProposal(const std::optional<MountProposal> &proposal);
    void setProgresses(const QList<TransferProgress> &progresses);

    MountProposalBanner *banner() const { return m_banner; }

    TransferProgressRows *progressRows() const { return m_rows; }

Q_SIGNALS:
    /// The banner's "Review Files".
    void reviewRequested();
    /// The banner's "Not Now".
    void dismissRequested();

private:
    void updateIdentifier();

    MountProposalBanner *m_banner = nullptr;
    TransferProgressRows *m_rows = nullptr;
};

} // namespace Pellwick
