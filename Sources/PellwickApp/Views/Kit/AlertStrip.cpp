#include "AlertStrip.h"

#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/StatusDrawing_p.h>
#include <PellwickApp/Views/Kit/SymbolIcons.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace Pellwick {

using namespace StatusDrawing;

AlertStrip::AlertStrip(const QString &text,
                       const QString &systemImage,
                       LibraryPresentationTone tone,
                       QWidget *parent)
    : QWidget(parent)
    , m_symbol(new QLabel(this))
    , m_text(wrappingLabel(this))
    , m_tone(tone)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(8);
    m_symbol->setAlignment(Qt::AlignTop);
    m_text->setObjectName(QStringLiteral("alert-strip.text"));
    m_text->setFont(PellwickTheme::font(PellwickTheme::TextStyle::Callout));
    layout->addWidget(m_symbol, 0, Qt::AlignTop);
    layout->addWidget(m_text, 1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setAlert(text, systemImage, tone);
}

void AlertStrip::setAlert(const QString &text,
                          const QString &systemImage,
                          LibraryPresentationTone tone)
{
    m_tone = tone;
    const QColor colour = PellwickTheme::toneColour(tone);
    m_symbol->setPixmap(SymbolIcons::pixmap(systemImage, colour, 16, devicePixelRatioF()));
    m_text->setText(text);
    PellwickTheme::setTextColour(*m_text, colour);
    setAccessibleName(text);
    update();
}

QString AlertStrip::text() const
{
    return m_text->text();
}

void AlertStrip::paintEvent(QPaintEvent * /*event*/)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    fillRounded(painter,
                rect(),
                12,
                PellwickTheme::withOpacity(PellwickTheme::toneColour(m_tone), tintOpacity));
}

} // namespace Pellwick
