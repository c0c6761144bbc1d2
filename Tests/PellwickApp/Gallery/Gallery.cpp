#include "Gallery.h"

#include "../Views/SaveGrab.h"

#include <PellwickApp/Views/Kit/AlertStrip.h>
#include <PellwickApp/Views/Kit/BackendStatusToolbarItem.h>
#include <PellwickApp/Views/Kit/BusySpinner.h>
#include <PellwickApp/Views/Kit/ElidedLabel.h>
#include <PellwickApp/Views/Kit/EmptyStateView.h>
#include <PellwickApp/Views/Kit/FoldingBox.h>
#include <PellwickApp/Views/Kit/PageBackground.h>
#include <PellwickApp/Views/Kit/PageHeader.h>
#include <PellwickApp/Views/Kit/PellwickAppIcon.h>
#include <PellwickApp/Views/Kit/PellwickBrandMark.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Kit/PellwickSelect.h>
#include <PellwickApp/Views/Kit/ProgressStatusLine.h>
#include <PellwickApp/Views/Kit/StatusBadge.h>
#include <PellwickApp/Views/Kit/StatusLine.h>
#include <PellwickApp/Views/Kit/SymbolIcons.h>
#include <PellwickApp/Views/Kit/ToolbarIconButton.h>
#include <PellwickApp/Views/Kit/TransferProgressRows.h>
#include <PellwickApp/Views/Kit/UtilityPanel.h>
#include <PellwickApp/Views/Shell/SharedPageStatusRegion.h>
#include <PellwickApp/Views/Shell/SidebarView.h>

#include <QApplication>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QPainter>
#include <QPushButton>
#include <QToolBar>
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

const QList<std::pair<QString, LibraryPresentationTone>> &tones()
{
    static const QList<std::pair<QString, LibraryPresentationTone>> all{
        {u"positive"_s, LibraryPresentationTone::Positive},
        {u"active"_s, LibraryPresentationTone::Active},
        {u"attention"_s, LibraryPresentationTone::Attention},
        {u"danger"_s, LibraryPresentationTone::Danger},
        {u"primary"_s, LibraryPresentationTone::Primary},
        {u"secondary"_s, LibraryPresentationTone::Secondary},
    };
    return all;
}

std::unique_ptr<QWidget> toneSwatches()
{
    auto sheet = std::make_unique<QWidget>();
    auto *column = new QVBoxLayout(sheet.get());
    for (const auto &[text, tone] : tones()) {
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

/// `widget` at `width`, its height as its layout asks.
std::unique_ptr<QWidget> atWidth(std::unique_ptr<QWidget> widget, int width)
{
    const int height
        = widget->hasHeightForWidth() ? widget->heightForWidth(width) : widget->sizeHint().height();
    widget->setFixedSize(width, height);
    return widget;
}

TransferProgress progressIn(TransferProgressPhase phase)
{
    TransferProgress progress;
    progress.id = QUuid::createUuid();
    progress.operationName = u"Import to Archive"_s;
    progress.phase = phase;
    progress.currentFilename = u"IMG_0001.CR3"_s;
    progress.currentFileCompletedByteCount = 12582912;
    progress.currentFileTotalByteCount = 26214400;
    progress.completedByteCount = 1610612736;
    progress.totalByteCount = 4294967296;
    progress.completedPackageCount = 3;
    progress.totalPackageCount = 40;
    if (phase == TransferProgressPhase::Preparing)
        progress.detail = u"in about 4 hours"_s;
    return progress;
}

std::unique_ptr<QWidget> progressRows(const QList<TransferProgress> &progresses)
{
    auto rows = std::make_unique<TransferProgressRows>();
    rows->setProgresses(progresses);
    return atWidth(std::move(rows), 520);
}

std::unique_ptr<QWidget> header(bool actions, bool status)
{
    auto widget = std::make_unique<PageHeader>(
        u"Add to Ingest Cache"_s,
        u"Select an Import Source. Pellwick copies it locally before any Archive Storage work."_s,
        actions,
        status);
    if (actions) {
        auto *primary = new QPushButton(u"Scan Removable Media"_s);
        PellwickControlStyles::pellwickPrimaryButton(*primary);
        widget->actionBar()->addWidget(primary);
        widget->actionBar()->addWidget(new QPushButton(u"Choose Folder"_s));
    }
    if (status) {
        auto rows = std::make_unique<TransferProgressRows>();
        rows->setProgresses({progressIn(TransferProgressPhase::Copying),
                             progressIn(TransferProgressPhase::Verifying)});
        widget->setStatus(rows.release());
    }
    return atWidth(std::move(widget), 640);
}

std::unique_ptr<QWidget> adaptiveBar(int width)
{
    auto *full = new QWidget;
    auto *row = new QHBoxLayout(full);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(new QLabel(u"3 items need attention"_s));
    row->addWidget(new QPushButton(u"Rescan"_s));
    row->addWidget(new QPushButton(u"Add to Ingest Cache"_s));
    auto *folded = new QWidget;
    auto *column = new QVBoxLayout(folded);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(new QLabel(u"3 items need attention"_s));
    column->addWidget(new QPushButton(u"Add to Ingest Cache"_s), 0, Qt::AlignLeft);
    return atWidth(std::unique_ptr<QWidget>(FoldingBox::alternating(full, folded)), width);
}

std::unique_ptr<QWidget> backendStatus(const QString &text, LibraryPresentationTone tone)
{
    auto item = std::make_unique<BackendStatusToolbarItem>();
    item->setStatus(text, tone);
    return item;
}

} // namespace

QList<Entry> statusEntries()
{
    using Phase = TransferProgressPhase;
    QList<Entry> entries{
        {u"kit.page-header-title"_s,
         [] { return std::make_unique<PageHeaderTitle>(u"Restore"_s); }},
        {u"kit.page-header.plain"_s, [] { return header(false, false); }},
        {u"kit.page-header.actions"_s, [] { return header(true, false); }},
        {u"kit.page-header.status"_s, [] { return header(false, true); }},
        {u"kit.page-header.actions-status"_s, [] { return header(true, true); }},
        {u"kit.utility-panel"_s,
         [] {
             auto panel = std::make_unique<UtilityPanel>(u"System Status"_s, u"server.rack"_s);
             panel->contentLayout()->addWidget(
                 new QLabel(u"No active work, warnings, or errors"_s));
             return atWidth(std::move(panel), 320);
         }},
        {u"kit.badge.shrunk"_s,
         [] {
             auto badge = std::make_unique<StatusBadge>(u"Needs Attention in Archive"_s,
                                                        LibraryPresentationTone::Attention);
             badge->setFixedWidth(badge->sizeHint().width() - 6);
             return badge;
         }},
        {u"kit.badge.cut"_s,
         [] {
             auto badge = std::make_unique<StatusBadge>(u"Needs Attention in Archive"_s,
                                                        LibraryPresentationTone::Attention);
             badge->setFixedWidth(badge->sizeHint().width() - 60);
             return badge;
         }},
        {u"kit.status-line.long-title"_s,
         [] {
             return atWidth(std::make_unique<StatusLine>(
                                u"Source media safety of this import source"_s,
                                u"Safe to erase: every file is verified in the archive"_s,
                                LibraryPresentationTone::Positive),
                            320);
         }},
        {u"kit.backend-status.checking"_s,
         [] { return backendStatus(u"Checking backend"_s, LibraryPresentationTone::Active); }},
        {u"kit.backend-status.reachable"_s,
         [] { return backendStatus(u"Backend reachable"_s, LibraryPresentationTone::Positive); }},
        {u"kit.backend-status.unreachable"_s,
         [] { return backendStatus(u"Backend unreachable"_s, LibraryPresentationTone::Danger); }},
        {u"kit.toolbar-icon-button"_s,
         [] {
             return std::make_unique<ToolbarIconButton>(u"Refresh Library"_s, u"arrow.clockwise"_s);
         }},
        {u"kit.elided-label.one-line"_s,
         [] {
             auto label = std::make_unique<ElidedLabel>(
                 u"2026-06-01_Wedding_Ceremony_Second_Shooter_IMG_0001.CR3"_s);
             label->setFixedWidth(180);
             return label;
         }},
        {u"kit.elided-label.two-lines"_s,
         [] {
             auto label = std::make_unique<ElidedLabel>(
                 u"/media/card/DCIM/100CANON/2026-06-01_Wedding_Ceremony_Second_Shooter_IMG_0001.CR3"_s,
                 2);
             label->setFont(PellwickTheme::font(PellwickTheme::TextStyle::Monospaced));
             label->setFixedWidth(220);
             return label;
         }},
        {u"kit.adaptive-bar.full"_s, [] { return adaptiveBar(520); }},
        {u"kit.adaptive-bar.folded"_s, [] { return adaptiveBar(240); }},
        {u"kit.empty-state"_s,
         [] {
             return atWidth(std::make_unique<EmptyStateView>(
                                u"photo.on.rectangle.angled"_s,
                                u"No supported RAW Originals found"_s,
                                u"Choose another folder or insert a card with RAW Originals."_s),
                            360);
         }},
        {u"kit.empty-state.button"_s,
         [] {
             auto view = std::make_unique<EmptyStateView>(
                 u"folder"_s, u"No Ingest Cache"_s, u"Choose where Pellwick keeps copies."_s);
             view->addButton(u"Choose Folder"_s);
             return atWidth(std::move(view), 360);
         }},
        {u"kit.busy-spinner"_s, [] { return std::make_unique<BusySpinner>(); }},
        {u"kit.progress-status-line.active"_s,
         [] {
             return atWidth(std::make_unique<ProgressStatusLine>(u"Import"_s,
                                                                 u"Uploading 3 of 40 packages"_s,
                                                                 LibraryPresentationTone::Active,
                                                                 true),
                            320);
         }},
        {u"kit.progress-status-line.idle"_s,
         [] {
             return atWidth(
                 std::make_unique<ProgressStatusLine>(
                     u"Import"_s, u"Verified"_s, LibraryPresentationTone::Positive, false),
                 320);
         }},
        {u"kit.progress-rows.copying-total-zero"_s,
         [] {
             TransferProgress progress = progressIn(TransferProgressPhase::Copying);
             progress.currentFilename.reset();
             progress.currentFileCompletedByteCount.reset();
             progress.totalByteCount = 0;
             progress.completedByteCount = 0;
             progress.totalPackageCount = 0;
             return progressRows({progress});
         }},
    };
    const QList<std::pair<QString, Phase>> phases{
        {u"preparing"_s, Phase::Preparing},
        {u"staging"_s, Phase::Staging},
        {u"copying"_s, Phase::Copying},
        {u"uploading"_s, Phase::Uploading},
        {u"downloading"_s, Phase::Downloading},
        {u"assembling"_s, Phase::Assembling},
        {u"verifying"_s, Phase::Verifying},
    };
    for (const auto &[phaseName, phase] : phases) {
        entries.append({u"kit.progress-rows."_s + phaseName,
                        [phase] { return progressRows({progressIn(phase)}); }});
    }
    for (const auto &[toneName, tone] : tones()) {
        entries.append({u"kit.badge."_s + toneName, [tone, toneName] {
                            return std::make_unique<StatusBadge>(toneName, tone);
                        }});
        entries.append({u"kit.alert-strip."_s + toneName, [tone] {
                            return atWidth(std::make_unique<AlertStrip>(
                                               u"The Ingest Cache moved. Pellwick checks every "
                                               u"copy before it uses the new folder."_s,
                                               u"exclamationmark.triangle"_s,
                                               tone),
                                           360);
                        }});
        entries.append(
            {u"kit.status-line."_s + toneName, [tone] {
                 return atWidth(
                     std::make_unique<StatusLine>(u"Archive"_s, u"3 of 40 packages"_s, tone), 280);
             }});
    }
    return entries;
}

QList<Entry> kitEntries()
{
    const auto primary = PellwickButtonKind::Primary;
    const auto secondary = PellwickButtonKind::Secondary;
    const auto destructive = PellwickButtonRole::Destructive;
    const auto cancel = PellwickButtonRole::Cancel;
    const auto none = PellwickButtonRole::None;
    const QList<Entry> entries{
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
    return entries + statusEntries() + importReviewEntries() + libraryEntries() + toolbarEntries()
           + pageEntries();
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

std::unique_ptr<QWidget> inDefaultWindow(std::unique_ptr<QWidget> page, ShellSection section)
{
    auto window = std::make_unique<QMainWindow>(nullptr, Qt::Widget);
    auto *toolbar = new QToolBar(window.get());
    toolbar->setMovable(false);
    toolbar->setIconSize(QSize(20, 20));
    auto *spacer = new QWidget(toolbar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spacer);
    auto *status = new BackendStatusToolbarItem(toolbar);
    status->setStatus(u"Backend reachable"_s, LibraryPresentationTone::Positive);
    toolbar->addWidget(status);
    for (const auto &[title, symbol] :
         {std::pair{u"Refresh Library"_s, u"arrow.clockwise"_s},
          std::pair{u"Buy Paid Plan"_s, u"creditcard"_s},
          std::pair{u"Manage Billing"_s, u"person.crop.circle.badge.gearshape"_s},
          std::pair{u"Change Password"_s, u"key"_s}})
        toolbar->addWidget(new ToolbarIconButton(title, symbol, toolbar));
    window->addToolBar(Qt::TopToolBarArea, toolbar);

    auto *central = new QWidget(window.get());
    auto *row = new QHBoxLayout(central);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    auto *sidebar = new SidebarView(central);
    sidebar->setSelectedSection(section);
    row->addWidget(sidebar);
    auto *divider = new QFrame(central);
    divider->setFrameShape(QFrame::VLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setStyleSheet(u"color: palette(mid);"_s);
    row->addWidget(divider);
    auto *column = new QVBoxLayout;
    column->setSpacing(0);
    if (section != ShellSection::ImportReview)
        column->addWidget(new SharedPageStatusRegion(central));
    page->setMinimumSize(0, 0);
    page->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    column->addWidget(page.release(), 1);
    row->addLayout(column, 1);
    window->setCentralWidget(central);
    window->setFixedSize(1120, 720);
    return window;
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
