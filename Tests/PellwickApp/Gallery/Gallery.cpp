#include "Gallery.h"

#include "../Views/SaveGrab.h"

#include <PellwickApp/Views/Kit/PageBackground.h>
#include <PellwickApp/Views/Kit/PellwickAppIcon.h>
#include <PellwickApp/Views/Kit/PellwickBrandMark.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Kit/PellwickSelect.h>
#include <PellwickApp/Views/Kit/SymbolIcons.h>

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace Pellwick::Gallery {

using namespace Qt::StringLiterals;

namespace {

using Appearance = PellwickTheme::Appearance;

std::unique_ptr<QWidget> button(const QString &text,
                                PellwickButtonKind kind,
                                PellwickButtonRole role = PellwickButtonRole::None,
                                bool enabled = true)
{
    auto widget = std::make_unique<QPushButton>(text);
    PellwickControlStyles::setButtonKind(*widget, kind);
    PellwickControlStyles::setButtonRole(*widget, role);
    widget->setEnabled(enabled);
    return widget;
}

std::unique_ptr<QWidget> pressed(std::unique_ptr<QWidget> widget)
{
    static_cast<QPushButton *>(widget.get())->setDown(true);
    return widget;
}

std::unique_ptr<QWidget> compact(const QString &text, bool label, const QString &symbol = {})
{
    auto widget = std::make_unique<QPushButton>(text);
    if (!symbol.isEmpty())
        widget->setIcon(SymbolIcons::icon(symbol, PellwickTheme::label(Appearance::Dark)));
    PellwickControlStyles::compactActionButton(*widget);
    if (label)
        PellwickControlStyles::compactActionButtonLabel(*widget);
    return widget;
}

std::unique_ptr<QWidget>
selectorLabel(const QString &title, const QString &symbol, const QString &value)
{
    auto widget = std::make_unique<PellwickMenuSelectorLabel>(title, symbol);
    widget->setValue(value);
    return widget;
}

std::unique_ptr<QWidget> symbolSheet()
{
    auto sheet = std::make_unique<QWidget>();
    auto *grid = new QGridLayout(sheet.get());
    QStringList names = SymbolIcons::symbolNames();
    names.append(QStringLiteral("no.such.symbol"));
    const QColor colour = PellwickTheme::label();
    for (qsizetype index = 0; index < names.size(); ++index) {
        auto *icon = new QLabel(sheet.get());
        icon->setPixmap(SymbolIcons::pixmap(names[index], colour, 20, 1.0));
        auto *caption = new QLabel(names[index], sheet.get());
        caption->setFont(PellwickTheme::font(PellwickTheme::TextStyle::Caption2));
        const int row = int(index / 3);
        const int column = int(index % 3) * 2;
        grid->addWidget(icon, row, column);
        grid->addWidget(caption, row, column + 1);
    }
    return sheet;
}

std::unique_ptr<QWidget> toneSwatches()
{
    auto sheet = std::make_unique<QWidget>();
    auto *column = new QVBoxLayout(sheet.get());
    const QList<std::pair<QString, LibraryPresentationTone>> tones{
        {QStringLiteral("positive"), LibraryPresentationTone::Positive},
        {QStringLiteral("active"), LibraryPresentationTone::Active},
        {QStringLiteral("attention"), LibraryPresentationTone::Attention},
        {QStringLiteral("danger"), LibraryPresentationTone::Danger},
        {QStringLiteral("primary"), LibraryPresentationTone::Primary},
        {QStringLiteral("secondary"), LibraryPresentationTone::Secondary},
    };
    for (const auto &[text, tone] : tones) {
        auto *label = new QLabel(text, sheet.get());
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, PellwickTheme::toneColour(tone));
        label->setPalette(palette);
        column->addWidget(label);
    }
    return sheet;
}

std::unique_ptr<QWidget> textStyles()
{
    auto sheet = std::make_unique<QWidget>();
    auto *column = new QVBoxLayout(sheet.get());
    const QList<std::pair<QString, PellwickTheme::TextStyle>> styles{
        {QStringLiteral("Title"), PellwickTheme::TextStyle::Title},
        {QStringLiteral("Headline"), PellwickTheme::TextStyle::Headline},
        {QStringLiteral("Body"), PellwickTheme::TextStyle::Body},
        {QStringLiteral("Callout"), PellwickTheme::TextStyle::Callout},
        {QStringLiteral("Subheadline"), PellwickTheme::TextStyle::Subheadline},
        {QStringLiteral("Footnote"), PellwickTheme::TextStyle::Footnote},
        {QStringLiteral("Caption"), PellwickTheme::TextStyle::Caption},
        {QStringLiteral("Caption 2"), PellwickTheme::TextStyle::Caption2},
        {QStringLiteral("Monospaced IMG_0001.CR3"), PellwickTheme::TextStyle::Monospaced},
    };
    for (const auto &[text, style] : styles) {
        auto *label = new QLabel(text, sheet.get());
        label->setFont(PellwickTheme::font(style));
        column->addWidget(label);
    }
    return sheet;
}

std::unique_ptr<QWidget> brandMark(const QSize &size)
{
    auto mark = std::make_unique<PellwickBrandMark>();
    mark->setFixedSize(size);
    return mark;
}

std::unique_ptr<QWidget> fallbackBrandMark()
{
    // A widget that draws the fallback whatever the resources hold.
    class Fallback final : public QWidget
    {
    protected:
        void paintEvent(QPaintEvent * /*event*/) override
        {
            QPainter painter(this);
            PellwickBrandMark::paintFallback(painter, rect());
        }
    };

    auto mark = std::make_unique<Fallback>();
    mark->setFixedSize(PellwickBrandMark::titleSize, PellwickBrandMark::titleSize);
    return mark;
}

std::unique_ptr<QWidget> pageBackground()
{
    auto page = std::make_unique<PageBackground>();
    page->setFixedSize(320, 200);
    return page;
}

} // namespace

QList<Entry> kitEntries()
{
    const auto primary = PellwickButtonKind::Primary;
    const auto secondary = PellwickButtonKind::Secondary;
    const auto destructive = PellwickButtonRole::Destructive;
    const auto cancel = PellwickButtonRole::Cancel;
    const auto none = PellwickButtonRole::None;
    return {
        {u"kit.button.primary"_s, [=] { return button(u"Start Restore"_s, primary); }},
        {u"kit.button.primary-disabled"_s,
         [=] { return button(u"Start Restore"_s, primary, none, false); }},
        {u"kit.button.primary-pressed"_s,
         [=] { return pressed(button(u"Start Restore"_s, primary)); }},
        {u"kit.button.secondary"_s, [=] { return button(u"Choose Folder"_s, secondary); }},
        {u"kit.button.secondary-disabled"_s,
         [=] { return button(u"Choose Folder"_s, secondary, none, false); }},
        {u"kit.button.secondary-pressed"_s,
         [=] { return pressed(button(u"Choose Folder"_s, secondary)); }},
        {u"kit.button.destructive"_s,
         [=] { return button(u"Delete Cache"_s, secondary, destructive); }},
        {u"kit.button.destructive-disabled"_s,
         [=] { return button(u"Delete Cache"_s, secondary, destructive, false); }},
        {u"kit.button.cancel"_s, [=] { return button(u"Cancel"_s, secondary, cancel); }},
        {u"kit.button.compact"_s, [] { return compact(u"Rescan"_s, false); }},
        {u"kit.button.compact-label"_s,
         [] { return compact(u"Rescan"_s, true, u"arrow.clockwise"_s); }},
        {u"kit.button.compact-label-long"_s,
         [] { return compact(u"Reveal Restore Destination in Folder"_s, true, u"folder"_s); }},
        {u"kit.selector.title"_s, [] { return selectorLabel(u"Status"_s, {}, {}); }},
        {u"kit.selector.value"_s, [] { return selectorLabel(u"Status"_s, {}, u"Verified"_s); }},
        {u"kit.selector.symbol"_s,
         [] { return selectorLabel(u"Ingest Cache"_s, u"folder"_s, u"Photos 2026"_s); }},
        {u"kit.selector.disabled"_s,
         [] {
             auto widget = selectorLabel(u"Status"_s, {}, u"All"_s);
             widget->setEnabled(false);
             return widget;
         }},
        {u"kit.symbols"_s, [] { return symbolSheet(); }},
        {u"kit.tones"_s, [] { return toneSwatches(); }},
        {u"kit.text-styles"_s, [] { return textStyles(); }},
        {u"kit.brand-mark"_s, [] { return brandMark(QSize(28, 28)); }},
        {u"kit.brand-mark-large"_s, [] { return brandMark(QSize(96, 96)); }},
        {u"kit.brand-mark-fallback"_s, [] { return fallbackBrandMark(); }},
        {u"kit.page-background"_s, [] { return pageBackground(); }},
    };
}

QString name(Appearance appearance)
{
    switch (appearance) {
    case Appearance::Light:
        return QStringLiteral("light");
    case Appearance::Dark:
        return QStringLiteral("dark");
    }
    return QStringLiteral("light");
}

void applyAppearance(Appearance appearance)
{
    QPalette palette = QApplication::style()->standardPalette();
    const QColor label = PellwickTheme::label(appearance);
    // The palette's texts are opaque: the label colour over the window.
    const QColor window = PellwickTheme::graphite(appearance);
    const auto over = [&window](const QColor &colour) {
        const qreal alpha = colour.alphaF();
        return QColor::fromRgbF(colour.redF() * alpha + window.redF() * (1 - alpha),
                                colour.greenF() * alpha + window.greenF() * (1 - alpha),
                                colour.blueF() * alpha + window.blueF() * (1 - alpha));
    };
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, over(label));
    palette.setColor(QPalette::Base, PellwickTheme::controlBackground(appearance));
    palette.setColor(QPalette::AlternateBase, PellwickTheme::windowBackground(appearance));
    palette.setColor(QPalette::Text, over(label));
    palette.setColor(QPalette::Button, PellwickTheme::controlBackground(appearance));
    palette.setColor(QPalette::ButtonText, over(label));
    palette.setColor(QPalette::PlaceholderText, over(PellwickTheme::secondaryLabel(appearance)));
    palette.setColor(QPalette::Highlight, PellwickTheme::accent());
    palette.setColor(
        QPalette::Disabled, QPalette::WindowText, over(PellwickTheme::secondaryLabel(appearance)));
    palette.setColor(
        QPalette::Disabled, QPalette::Text, over(PellwickTheme::secondaryLabel(appearance)));
    QApplication::setPalette(palette);
}

QStringList render(const QList<Entry> &entries, Appearance appearance, const QString &folder)
{
    applyAppearance(appearance);
    QStringList written;
    for (const Entry &entry : entries) {
        PageBackground frame;
        auto *layout = new QVBoxLayout(&frame);
        layout->setContentsMargins(16, 16, 16, 16);
        std::unique_ptr<QWidget> component = entry.make();
        layout->addWidget(component.release(), 0, Qt::AlignLeft | Qt::AlignTop);
        frame.adjustSize();
        const QString file = entry.name + QLatin1Char('.') + name(appearance);
        if (Test::saveGrab(frame, file, folder))
            written.append(file + QStringLiteral(".png"));
    }
    return written;
}

bool writeApplicationIcon(const QString &path, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    PellwickBrandMark::paintFallback(painter, QRectF(0, 0, size, size));
    painter.end();
    return image.save(path, "PNG");
}

} // namespace Pellwick::Gallery
