#include "ShellUtilityViews.h"

#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/SymbolIcons.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

namespace Pellwick {

namespace {

constexpr qreal shrinkFactor = 0.85;
constexpr qreal tintOpacity = 0.12;

QFont captionFont(QFont::Weight weight)
{
    QFont font = PellwickTheme::font(PellwickTheme::TextStyle::Caption);
    font.setWeight(weight);
    return font;
}

/// One line of `text` in `width`: at `font` when it fits, else at 85 % of it, cut at the end
/// when even that does not fit.
struct FittedText
{
    QFont font;
    QString text;
};

FittedText fitted(const QFont &font, const QString &text, int width)
{
    if (QFontMetrics(font).horizontalAdvance(text) <= width)
        return {font, text};
    QFont smaller = font;
    smaller.setPointSizeF(font.pointSizeF() * shrinkFactor);
    const QFontMetrics metrics(smaller);
    return {smaller, metrics.elidedText(text, Qt::ElideRight, width)};
}

void fillRounded(QPainter &painter, const QRectF &rect, qreal radius, const QColor &colour)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    painter.fillPath(path, colour);
}

QLabel *wrappingLabel(QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

} // namespace

UtilityPanel::UtilityPanel(const QString &title, const QString &systemImage, QWidget *parent)
    : QWidget(parent)
{
    setMinimumHeight(minimumPanelHeight);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(10);
    auto *titleRow = new QHBoxLayout;
    titleRow->setSpacing(6);
    auto *symbol = new QLabel(this);
    symbol->setPixmap(
        SymbolIcons::pixmap(systemImage, PellwickTheme::label(), 16, devicePixelRatioF()));
    auto *titleLabel = new QLabel(title, this);
    titleLabel->setObjectName(QStringLiteral("utility-panel.title"));
    titleLabel->setTextFormat(Qt::PlainText);
    titleLabel->setFont(PellwickTheme::font(PellwickTheme::TextStyle::Headline));
    titleRow->addWidget(symbol);
    titleRow->addWidget(titleLabel, 1);
    layout->addLayout(titleRow);
    m_content = new QVBoxLayout;
    m_content->setSpacing(8);
    layout->addLayout(m_content);
    layout->addStretch(1);
}

void UtilityPanel::paintEvent(QPaintEvent * /*event*/)
{
    constexpr qreal radius = 12;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(bounds, radius, radius);
    painter.fillPath(shape, PellwickTheme::controlBackground());
    painter.save();
    painter.setClipPath(shape);
    const bool rightToLeft = layoutDirection() == Qt::RightToLeft;
    painter.fillRect(
        QRectF(rightToLeft ? bounds.right() - 3 : bounds.left(), bounds.top(), 3, bounds.height()),
        PellwickTheme::accent());
    painter.restore();
    painter.strokePath(shape, QPen(PellwickTheme::border(), 1));
}

StatusBadge::StatusBadge(const QString &text, LibraryPresentationTone tone, QWidget *parent)
    : QWidget(parent)
    , m_text(text)
    , m_tone(tone)
{
    setFont(captionFont(QFont::DemiBold));
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    setAccessibleName(text);
}

void StatusBadge::setText(const QString &text)
{
    m_text = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

void StatusBadge::setTone(LibraryPresentationTone tone)
{
    m_tone = tone;
    update();
}

QString StatusBadge::shownText() const
{
    return fitted(font(), m_text, width() - 14).text;
}

qreal StatusBadge::shownPointSize() const
{
    return fitted(font(), m_text, width() - 14).font.pointSizeF();
}

QSize StatusBadge::sizeHint() const
{
    return {fontMetrics().horizontalAdvance(m_text) + 1 + 14, fontMetrics().height() + 6};
}

QSize StatusBadge::minimumSizeHint() const
{
    return {fontMetrics().horizontalAdvance(QStringLiteral("…")) + 14, sizeHint().height()};
}

void StatusBadge::paintEvent(QPaintEvent * /*event*/)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor colour = PellwickTheme::toneColour(m_tone);
    fillRounded(painter, rect(), 6, PellwickTheme::withOpacity(colour, tintOpacity));
    const FittedText shown = fitted(font(), m_text, width() - 14);
    painter.setFont(shown.font);
    painter.setPen(colour);
    painter.drawText(rect().adjusted(7, 3, -7, -3), Qt::AlignCenter, shown.text);
}

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

BackendStatusLine::BackendStatusLine(QWidget *parent)
    : QWidget(parent)
{
    setFont(captionFont(QFont::Normal));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void BackendStatusLine::setStatus(const QString &text, LibraryPresentationTone dotTone)
{
    m_text = text;
    m_dotTone = dotTone;
    updateGeometry();
    update();
}

QSize BackendStatusLine::sizeHint() const
{
    return {8 + 7 + fontMetrics().horizontalAdvance(m_text) + 1,
            std::max(8, fontMetrics().height())};
}

QSize BackendStatusLine::minimumSizeHint() const
{
    return {8 + 7 + fontMetrics().horizontalAdvance(QStringLiteral("…")), sizeHint().height()};
}

void BackendStatusLine::paintEvent(QPaintEvent * /*event*/)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal middle = height() / 2.0;
    painter.setPen(Qt::NoPen);
    painter.setBrush(PellwickTheme::toneColour(m_dotTone));
    painter.drawEllipse(QRectF(0, middle - 4, 8, 8));
    const FittedText shown = fitted(font(), m_text, width() - 15);
    painter.setFont(shown.font);
    painter.setPen(PellwickTheme::secondaryLabel());
    painter.drawText(
        QRect(15, 0, width() - 15, height()), Qt::AlignLeft | Qt::AlignVCenter, shown.text);
}

} // namespace Pellwick
