#include "PellwickTheme.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPalette>
#include <QWidget>

namespace Pellwick {

namespace {

/// The dynamic colours of one appearance.
struct DynamicColours
{
    QColor windowBackground;
    QColor controlBackground;
    QColor graphite;
    QColor label;
    QColor secondaryLabel;
    QColor red;
    QColor green;
    QColor orange;
    QColor blue;
};

const DynamicColours &colours(PellwickTheme::Appearance appearance)
{
    static const DynamicColours light{
        .windowBackground = QColor(0xe6, 0xe6, 0xe8),
        .controlBackground = QColor(0xff, 0xff, 0xff),
        .graphite = QColor(0xec, 0xec, 0xee),
        .label = QColor(0, 0, 0, 217),
        .secondaryLabel = QColor(0, 0, 0, 128),
        .red = QColor(0xd7, 0x2c, 0x25),
        .green = QColor(0x1f, 0x8a, 0x3b),
        .orange = QColor(0xc4, 0x6a, 0x00),
        .blue = QColor(0x0a, 0x64, 0xd6),
    };
    static const DynamicColours dark{
        .windowBackground = QColor(0x1e, 0x1f, 0x22),
        .controlBackground = QColor(0x2a, 0x2b, 0x2f),
        .graphite = QColor(0x32, 0x33, 0x37),
        .label = QColor(255, 255, 255, 217),
        .secondaryLabel = QColor(255, 255, 255, 140),
        .red = QColor(0xff, 0x5a, 0x50),
        .green = QColor(0x32, 0xd0, 0x5a),
        .orange = QColor(0xff, 0x9f, 0x0a),
        .blue = QColor(0x2f, 0x8c, 0xff),
    };
    switch (appearance) {
    case PellwickTheme::Appearance::Light:
        return light;
    case PellwickTheme::Appearance::Dark:
        return dark;
    }
    return light;
}

} // namespace

PellwickTheme::Appearance PellwickTheme::currentAppearance()
{
    return QApplication::palette().color(QPalette::Window).lightnessF() >= 0.5 ? Appearance::Light
                                                                               : Appearance::Dark;
}

QColor PellwickTheme::accent()
{
    return QColor::fromRgbF(0.08F, 0.39F, 0.92F);
}

QColor PellwickTheme::controlSecondary()
{
    return QColor::fromRgbF(0.08F, 0.13F, 0.19F);
}

QColor PellwickTheme::controlDisabled()
{
    return QColor::fromRgbF(0.2F, 0.24F, 0.29F);
}

QColor PellwickTheme::controlBorder()
{
    return QColor::fromRgbF(0.23F, 0.29F, 0.35F);
}

QColor PellwickTheme::windowBackground(Appearance appearance)
{
    return colours(appearance).windowBackground;
}

QColor PellwickTheme::controlBackground(Appearance appearance)
{
    return colours(appearance).controlBackground;
}

QColor PellwickTheme::graphite(Appearance appearance)
{
    return colours(appearance).graphite;
}

QColor PellwickTheme::border(Appearance appearance)
{
    QColor colour = colours(appearance).label;
    colour.setAlphaF(0.12F);
    return colour;
}

QColor PellwickTheme::label(Appearance appearance)
{
    return colours(appearance).label;
}

QColor PellwickTheme::secondaryLabel(Appearance appearance)
{
    return colours(appearance).secondaryLabel;
}

QColor PellwickTheme::systemRed(Appearance appearance)
{
    return colours(appearance).red;
}

QColor PellwickTheme::systemGreen(Appearance appearance)
{
    return colours(appearance).green;
}

QColor PellwickTheme::systemOrange(Appearance appearance)
{
    return colours(appearance).orange;
}

QColor PellwickTheme::systemBlue(Appearance appearance)
{
    return colours(appearance).blue;
}

QColor PellwickTheme::toneColour(LibraryPresentationTone tone, Appearance appearance)
{
    switch (tone) {
    case LibraryPresentationTone::Positive:
        return systemGreen(appearance);
    case LibraryPresentationTone::Active:
    case LibraryPresentationTone::Attention:
        return systemOrange(appearance);
    case LibraryPresentationTone::Danger:
        return systemRed(appearance);
    case LibraryPresentationTone::Primary:
        return systemBlue(appearance);
    case LibraryPresentationTone::Secondary:
        return secondaryLabel(appearance);
    }
    return secondaryLabel(appearance);
}

QFont PellwickTheme::font(TextStyle style)
{
    QFont font = QApplication::font();
    const qreal body = font.pointSizeF() > 0 ? font.pointSizeF() : 10.0;
    // Sizes relative to the body text, as the platform's text styles relate to theirs.
    const auto sized = [&font, body](qreal factor, QFont::Weight weight = QFont::Normal) {
        font.setPointSizeF(body * factor);
        font.setWeight(weight);
        return font;
    };
    switch (style) {
    case TextStyle::Title:
        return sized(1.65);
    case TextStyle::Headline:
        return sized(1.0, QFont::DemiBold);
    case TextStyle::Body:
        return sized(1.0);
    case TextStyle::Callout:
        return sized(0.92);
    case TextStyle::Subheadline:
        return sized(0.85);
    case TextStyle::Footnote:
    case TextStyle::Caption:
        return sized(0.77);
    case TextStyle::Caption2:
        return sized(0.7);
    case TextStyle::Monospaced: {
        QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        fixed.setPointSizeF(body);
        return fixed;
    }
    }
    return font;
}

void PellwickTheme::setTextColour(QWidget &widget, const QColor &colour)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    widget.setPalette(palette);
}

QColor PellwickTheme::withOpacity(QColor colour, qreal opacity)
{
    colour.setAlphaF(float(colour.alphaF() * opacity));
    return colour;
}

void PellwickTheme::fillBackground(QWidget &widget, const QColor &colour)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, colour);
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}

} // namespace Pellwick
