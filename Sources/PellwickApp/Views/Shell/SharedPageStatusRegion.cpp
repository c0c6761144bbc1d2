#include "SharedPageStatusRegion.h"

#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/TransferProgressRows.h>
#include <PellwickApp/Views/Shell/MountProposalBanner.h>

#include <QVBoxLayout>

namespace Pellwick {

SharedPageStatusRegion::SharedPageStatusRegion(QWidget *parent)
    : QScrollArea(parent)
{
    setFixedHeight(fixedHeight);
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Only the banner's buttons take the keyboard; the strip itself never scrolls by hand.
    setFocusPolicy(Qt::NoFocus);
    setAccessibleName(QStringLiteral("Status"));
    QColor background = PellwickTheme::graphite();
    background.setAlphaF(0.72F);
    auto *content = new QWidget;
    PellwickTheme::fillBackground(*content, background);
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(12);
    m_banner = new MountProposalBanner(content);
    m_banner->hide();
    m_rows = new TransferProgressRows(content);
    m_rows->hide();
    layout->addWidget(m_banner);
    layout->addWidget(m_rows);
    layout->addStretch(1);
    setWidget(content);
    connect(m_banner,
            &MountProposalBanner::reviewRequested,
            this,
            &SharedPageStatusRegion::reviewRequested);
    connect(m_banner,
            &MountProposalBanner::dismissRequested,
            this,
            &SharedPageStatusRegion::dismissRequested);
    updateIdentifier();
}

void SharedPageStatusRegion::setProposal(const std::optional<MountProposal> &proposal)
{
    if (proposal)
        m_banner->setSources(proposal->sources);
    m_banner->setVisible(proposal.has_value());
}

void SharedPageStatusRegion::setProgresses(const QList<TransferProgress> &progresses)
{
    m_rows->setProgresses(progresses);
    m_rows->setVisible(!progresses.isEmpty());
    updateIdentifier();
}

void SharedPageStatusRegion::updateIdentifier()
{
    const QString identifier = m_rows->progresses().isEmpty()
                                   ? QStringLiteral("shared-page-status")
                                   : QStringLiteral("shared-transfer-progress");
    setObjectName(identifier);
}

} // namespace Pellwick
