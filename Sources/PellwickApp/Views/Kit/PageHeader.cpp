#include "PageHeader.h"

#include <PellwickApp/Views/Kit/PellwickBrandMark.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>

#include <algorithm>

namespace Pellwick {

PageHeaderTitle::PageHeaderTitle(const QString &title, QWidget *parent)
    : QWidget(parent)
    , m_title(new QLabel(title, this))
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    auto *mark = new PellwickBrandMark(this);
    mark->setFixedSize(PellwickBrandMark::titleSize, PellwickBrandMark::titleSize);
    row->addWidget(mark, 0, Qt::AlignVCenter);
    m_title->setObjectName(QStringLiteral("page-header.title"));
    m_title->setTextFormat(Qt::PlainText);
    QFont font = PellwickTheme::font(PellwickTheme::TextStyle::Title);
    font.setBold(true);
    m_title->setFont(font);
    row->addWidget(m_title, 1, Qt::AlignVCenter);
}

void PageHeaderTitle::setTitle(const QString &title)
{
    m_title->setText(title);
}

QString PageHeaderTitle::title() const
{
    return m_title->text();
}

PageHeader::PageHeader(const QString &title,
                       const QString &description,
                       bool hasActionBar,
                       bool hasStatusRegion,
                       QWidget *parent)
    : QWidget(parent)
    , m_description(new QLabel(description, this))
{
    setObjectName(QStringLiteral("page-header"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    m_column = new QVBoxLayout(this);
    m_titleBlock = new QVBoxLayout;
    m_titleRow = new QHBoxLayout;
    m_titleRow->setSpacing(24);
    m_titleRow->addWidget(new PageHeaderTitle(title, this));
    m_titleBlock->addLayout(m_titleRow);
    m_description->setObjectName(QStringLiteral("page-header.description"));
    m_description->setTextFormat(Qt::PlainText);
    m_description->setWordWrap(true);
    PellwickTheme::setTextColour(*m_description, PellwickTheme::secondaryLabel());
    m_titleBlock->addWidget(m_description);
    m_column->addLayout(m_titleBlock);
    if (hasActionBar) {
        m_actionBar = new QWidget(this);
        m_actionBar->setObjectName(QStringLiteral("page-header.actions"));
        m_actions = new QHBoxLayout(m_actionBar);
        m_actions->setContentsMargins(0, 0, 0, 0);
        m_actions->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }
    if (hasStatusRegion) {
        m_status = new QScrollArea(this);
        m_status->setObjectName(QStringLiteral("page-header.status"));
        m_status->setFrameShape(QFrame::NoFrame);
        m_status->setWidgetResizable(true);
        m_status->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_status->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        // It shows no scroll bars and holds nothing to act on: no stop of the focus chain.
        m_status->setFocusPolicy(Qt::NoFocus);
        m_status->viewport()->setAutoFillBackground(false);
        m_column->addWidget(m_status);
    }
    m_isCompact = true; // so that the full arrangement is applied now
    PageHeader::setCompact(false);
}

void PageHeader::setCompact(bool compact)
{
    if (compact == m_isCompact)
        return;
    m_isCompact = compact;
    // The bottom padding stands above the 2-pt rule.
    m_column->setContentsMargins(20, compact ? 12 : 20, 20, compact ? 14 : 22);
    m_column->setSpacing(compact ? 8 : 12);
    m_titleBlock->setSpacing(compact ? 2 : 6);
    if (m_actionBar) {
        m_actionBar->setMinimumHeight(compact ? 0 : minimumActionBarHeight);
        m_column->removeWidget(m_actionBar);
        m_titleRow->removeWidget(m_actionBar);
        if (compact)
            m_titleRow->addWidget(m_actionBar, 1);
        else
            m_column->insertWidget(1, m_actionBar);
    }
    if (m_status) {
        if (compact)
            fitStatusRegion();
        else
            m_status->setFixedHeight(statusRegionHeight);
    }
}

void PageHeader::setDescription(const QString &description)
{
    m_description->setText(description);
}

void PageHeader::setStatus(QWidget *status)
{
    if (!m_status) {
        delete status;
        return;
    }
    delete m_status->takeWidget();
    m_status->setWidget(status);
    // After setWidget, which turns the fill on: the status stands on the header's own colour.
    status->setAutoFillBackground(false);
    status->installEventFilter(this);
    fitStatusRegion();
}

bool PageHeader::eventFilter(QObject *watched, QEvent *event)
{
    if (m_status && watched == m_status->widget() && event->type() == QEvent::LayoutRequest)
        fitStatusRegion();
    return QWidget::eventFilter(watched, event);
}

void PageHeader::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fitStatusRegion();
}

void PageHeader::fitStatusRegion()
{
    QWidget *status = m_status ? m_status->widget() : nullptr;
    if (!m_isCompact || !status)
        return;
    const QMargins margins = m_column->contentsMargins();
    const int width = std::max(0, contentsRect().width() - margins.left() - margins.right());
    const int wanted
        = status->hasHeightForWidth() ? status->heightForWidth(width) : status->sizeHint().height();
    m_status->setFixedHeight(std::min(wanted, statusRegionHeight));
}

void PageHeader::paintEvent(QPaintEvent * /*event*/)
{
    QPainter painter(this);
    painter.fillRect(rect(), PellwickTheme::withOpacity(PellwickTheme::graphite(), 0.72));
    painter.fillRect(QRect(0, height() - 2, width(), 2), PellwickTheme::accent());
}

} // namespace Pellwick
