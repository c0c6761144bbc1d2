#include "PageHeader.h"

#include <PellwickApp/Views/Kit/PellwickBrandMark.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>

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
    auto *column = new QVBoxLayout(this);
    // The bottom padding stands above the 2-pt rule.
    column->setContentsMargins(20, 20, 20, 22);
    column->setSpacing(12);
    auto *titleBlock = new QVBoxLayout;
    titleBlock->setSpacing(6);
    titleBlock->addWidget(new PageHeaderTitle(title, this));
    m_description->setObjectName(QStringLiteral("page-header.description"));
    m_description->setTextFormat(Qt::PlainText);
    m_description->setWordWrap(true);
    PellwickTheme::setTextColour(*m_description, PellwickTheme::secondaryLabel());
    titleBlock->addWidget(m_description);
    column->addLayout(titleBlock);
    if (hasActionBar) {
        auto *bar = new QWidget(this);
        bar->setObjectName(QStringLiteral("page-header.actions"));
        bar->setMinimumHeight(minimumActionBarHeight);
        m_actions = new QHBoxLayout(bar);
        m_actions->setContentsMargins(0, 0, 0, 0);
        m_actions->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        column->addWidget(bar);
    }
    if (hasStatusRegion) {
        m_status = new QScrollArea(this);
        m_status->setObjectName(QStringLiteral("page-header.status"));
        m_status->setFixedHeight(statusRegionHeight);
        m_status->setFrameShape(QFrame::NoFrame);
        m_status->setWidgetResizable(true);
        m_status->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_status->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_status->viewport()->setAutoFillBackground(false);
        column->addWidget(m_status);
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
}

void PageHeader::paintEvent(QPaintEvent * /*event*/)
{
    QPainter painter(this);
    painter.fillRect(rect(), PellwickTheme::withOpacity(PellwickTheme::graphite(), 0.72));
    painter.fillRect(QRect(0, height() - 2, width(), 2), PellwickTheme::accent());
}

} // namespace Pellwick
