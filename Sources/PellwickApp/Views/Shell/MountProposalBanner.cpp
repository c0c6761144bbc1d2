#include "MountProposalBanner.h"

#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/SymbolIcons.h>

#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace Pellwick {

MountProposalBanner::MountProposalBanner(QWidget *parent)
    : QFrame(parent)
    , m_message(new QLabel(this))
{
    setObjectName(QStringLiteral("mount-proposal"));
    setStyleSheet(QStringLiteral("#mount-proposal { background-color: %1; border-radius: 12px; }")
                      .arg(PellwickTheme::controlBackground().name()));
    auto *shadow = new QGraphicsDropShadowEffect(this);
    shadow->setColor(QColor(0, 0, 0, 84));
    shadow->setBlurRadius(16);
    shadow->setOffset(0, 0);
    setGraphicsEffect(shadow);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(12);
    auto *icon = new QLabel(this);
    icon->setPixmap(
        SymbolIcons::icon(QStringLiteral("externaldrive.connected.to.line.below")).pixmap(18, 18));
    layout->addWidget(icon);
    m_message->setObjectName(QStringLiteral("mount-proposal.message"));
    // A volume's name is whatever its medium was labelled: shown as it is, never as markup, and
    // a long one is cut at the banner's edge instead of widening the window.
    m_message->setTextFormat(Qt::PlainText);
    m_message->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    QFont font = m_message->font();
    font.setWeight(QFont::Medium);
    m_message->setFont(font);
    layout->addWidget(m_message);
    layout->addStretch(1);

    auto *notNow = new QPushButton(QStringLiteral("Not Now"), this);
    notNow->setObjectName(QStringLiteral("mount-proposal.not-now"));
    notNow->setFlat(true);
    layout->addWidget(notNow);
    auto *review = new QPushButton(QStringLiteral("Review Files"), this);
    review->setObjectName(QStringLiteral("mount-proposal.review"));
    PellwickControlStyles::pellwickPrimaryButton(*review);
    layout->addWidget(review);
    connect(notNow, &QPushButton::clicked, this, &MountProposalBanner::dismissRequested);
    connect(review, &QPushButton::clicked, this, &MountProposalBanner::reviewRequested);
}

QString MountProposalBanner::message(const QList<ImportScanVolume> &sources)
{
    if (sources.size() == 1)
        return QStringLiteral("New media detected: ") + sources.first().name;
    return QString::number(sources.size()) + QStringLiteral(" new media sources detected");
}

void MountProposalBanner::setSources(const QList<ImportScanVolume> &sources)
{
    m_sources = sources;
    m_message->setText(message());
    m_message->setAccessibleName(message());
}

} // namespace Pellwick
