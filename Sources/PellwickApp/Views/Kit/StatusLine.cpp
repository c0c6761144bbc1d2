#include "StatusLine.h"

#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/StatusDrawing_p.h>

#include <QHBoxLayout>
#include <QLabel>

namespace Pellwick {

using namespace StatusDrawing;

StatusLine::StatusLine(const QString &title,
                       const QString &value,
                       LibraryPresentationTone tone,
                       QWidget *parent)
    : QWidget(parent)
    , m_title(wrappingLabel(this))
    , m_value(wrappingLabel(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    m_title->setObjectName(QStringLiteral("status-line.title"));
    m_title->setFont(captionFont(QFont::Normal));
    m_title->setMaximumWidth(maximumTitleWidth);
    m_title->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    PellwickTheme::setTextColour(*m_title, PellwickTheme::secondaryLabel());
    m_value->setObjectName(QStringLiteral("status-line.value"));
    m_value->setFont(captionFont(QFont::Medium));
    m_value->setAlignment(Qt::AlignRight | Qt::AlignTop);
    layout->addWidget(m_title, 0, Qt::AlignTop);
    layout->addWidget(m_value, 1, Qt::AlignTop);
    setLine(title, value, tone);
}

void StatusLine::setLine(const QString &title, const QString &value, LibraryPresentationTone tone)
{
    m_title->setText(title);
    m_value->setText(value);
    PellwickTheme::setTextColour(*m_value, PellwickTheme::toneColour(tone));
}

} // namespace Pellwick
