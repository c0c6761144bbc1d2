#include "ImportReviewTable.h"

#include <PellwickApp/Views/ImportReview/ImportReviewTableModel.h>
#include <PellwickApp/Views/Kit/ElidedLabel.h>
#include <PellwickApp/Views/Kit/EmptyStateView.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/SymbolIcons.h>

#include <QEvent>
#include <QHelpEvent>
#include <QListView>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <QVBoxLayout>

#include <array>

namespace Pellwick {

using namespace Qt::StringLiterals;

namespace {

using Theme = PellwickTheme;
using Model = ImportReviewTableModel;

constexpr int sidePadding = 14;
constexpr int columnSpacing = 10;
constexpr int minimumFilenameWidth = 180;
constexpr std::array<int, 6> fixedWidths{66, 0, 112, 104, 132, 128};

/// The horizontal extent of each column at `width`, shared by the header and the rows.
std::array<std::pair<int, int>, 6> columns(int width)
{
    int fixed = 2 * sidePadding + 5 * columnSpacing;
    for (int each : fixedWidths)
        fixed += each;
    const int filenameWidth = std::max(minimumFilenameWidth, width - fixed);
    std::array<std::pair<int, int>, 6> extents{};
    int x = sidePadding;
    for (std::size_t index = 0; index < extents.size(); ++index) {
        const int columnWidth = index == 1 ? filenameWidth : fixedWidths[index];
        extents[index] = {x, columnWidth};
        x += columnWidth + columnSpacing;
    }
    return extents;
}

QRect column(const QRect &row, int index)
{
    const auto [x, width] = columns(row.width())[std::size_t(index)];
    return {row.left() + x, row.top(), width, row.height()};
}

struct RowFonts
{
    QFont filename = Theme::font(Theme::TextStyle::Monospaced);
    QFont caption = Theme::font(Theme::TextStyle::Caption);
    QFont caption2 = Theme::font(Theme::TextStyle::Caption2);
    QFont badge = [] {
        QFont font = Theme::font(Theme::TextStyle::Caption);
        font.setWeight(QFont::DemiBold);
        return font;
    }();
};

/// Where each part of a row is drawn; also what the pointer is over.
struct RowGeometry
{
    QRect row;
    QRect placeholder;
    QRect filename;
    QRect folder;
    QRect sidecar;
    QRect bytes;
    QRect badge;
    QRect detail;
    QRect volume;

    RowGeometry(const QRect &item, const RowFonts &fonts)
        : row(item.left(), item.top(), item.width(), ImportReviewTable::rowHeight)
    {
        const QRect preview = column(row, 0);
        placeholder = QRect(preview.left(), row.center().y() - 19 + 1, 48, 38);
        const int nameHeight = QFontMetrics(fonts.filename).lineSpacing();
        const int captionHeight = QFontMetrics(fonts.caption).lineSpacing();
        const QRect names = column(row, 1);
        const int namesTop = row.top() + (row.height() - nameHeight - 2 - captionHeight) / 2;
        filename = QRect(names.left(), namesTop, names.width(), nameHeight);
        folder = QRect(names.left(), namesTop + nameHeight + 2, names.width(), captionHeight);
        sidecar = centred(column(row, 2), captionHeight);
        bytes = centred(column(row, 3), captionHeight);
        const QRect status = column(row, 4);
        const int badgeHeight = QFontMetrics(fonts.badge).height() + 6;
        const int detailHeight = QFontMetrics(fonts.caption2).lineSpacing();
        const int statusTop = row.top() + (row.height() - badgeHeight - 3 - detailHeight) / 2;
        badge = QRect(status.left(), statusTop, status.width(), badgeHeight);
        detail = QRect(status.left(), statusTop + badgeHeight + 3, status.width(), detailHeight);
        volume = centred(column(row, 5), captionHeight);
    }

    QRect centred(const QRect &cell, int height) const
    {
        return {cell.left(), row.center().y() - height / 2 + 1, cell.width(), height};
    }
};

struct KindLook
{
    QColor tint;
    QColor bar;
    int barWidth;
    QColor fill;
    QColor border;
    QString symbol;
    QColor symbolColour;
};

KindLook look(ImportReviewRowKind kind)
{
    const QColor secondary = Theme::secondaryLabel();
    const QColor orange = Theme::systemOrange();
    switch (kind) {
    case ImportReviewRowKind::Supported:
        return {Qt::transparent,
                Qt::transparent,
                0,
                Theme::withOpacity(secondary, 0.12),
                Theme::withOpacity(secondary, 0.16),
                u"photo"_s,
                secondary};
    case ImportReviewRowKind::UnpairedSidecar:
        return {Theme::withOpacity(orange, 0.08),
                orange,
                3,
                Theme::withOpacity(orange, 0.12),
                Theme::withOpacity(orange, 0.36),
                u"doc.badge.exclamationmark"_s,
                orange};
    case ImportReviewRowKind::Excluded:
        return {Theme::withOpacity(secondary, 0.05),
                Theme::withOpacity(secondary, 0.55),
                3,
                Theme::withOpacity(secondary, 0.08),
                Theme::withOpacity(secondary, 0.24),
                u"nosign"_s,
                secondary};
    }
    return look(ImportReviewRowKind::Supported);
}

/// `text` on one line, shortened in the middle to `width`: names from a card may hold line
/// breaks, control characters and bidirectional marks.
void drawLine(QPainter &painter,
              const QRect &rect,
              const QString &text,
              Qt::Alignment alignment = Qt::AlignLeft)
{
    const QString line = ElidedLabel::singleLine(text);
    painter.drawText(rect,
                     int(alignment | Qt::AlignVCenter) | Qt::TextSingleLine,
                     painter.fontMetrics().elidedText(line, Qt::ElideMiddle, rect.width()));
}

class RowDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem & /*option*/,
                   const QModelIndex & /*index*/) const override
    {
        // The row and the divider below it.
        return {0, ImportReviewTable::rowHeight + 1};
    }

    void paint(QPainter *painter,
               const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        const auto kind = index.data(Model::RowKindRole).value<ImportReviewRowKind>();
        const KindLook colours = look(kind);
        const RowGeometry at(option.rect, m_fonts);
        painter->save();
        painter->fillRect(at.row, colours.tint);
        painter->fillRect(QRect(at.row.left(), at.row.top(), colours.barWidth, at.row.height()),
                          colours.bar);
        painter->fillRect(QRect(option.rect.left(), at.row.bottom() + 1, option.rect.width(), 1),
                          Theme::border());
        if (option.state.testFlag(QStyle::State_HasFocus)) {
            painter->setPen(Theme::accent());
            painter->drawRect(at.row.adjusted(0, 0, -1, -1));
        }
        painter->setRenderHint(QPainter::Antialiasing);
        paintPlaceholder(*painter, at.placeholder, colours);

        const QColor secondary = Theme::secondaryLabel();
        painter->setFont(m_fonts.filename);
        painter->setPen(Theme::label());
        drawLine(*painter, at.filename, index.data(Model::FilenameRole).toString());
        painter->setFont(m_fonts.caption);
        painter->setPen(secondary);
        drawLine(*painter, at.folder, index.data(Model::FolderNameRole).toString());
        drawLine(*painter, at.bytes, index.data(Model::BytesTextRole).toString(), Qt::AlignRight);
        drawLine(*painter, at.volume, index.data(Model::VolumeNameRole).toString());
        painter->setPen(index.data(Model::SidecarIsPrimaryRole).toBool() ? Theme::label()
                                                                         : secondary);
        drawLine(*painter, at.sidecar, index.data(Model::SidecarTextRole).toString());
        paintBadge(*painter,
                   at.badge,
                   index.data(Model::BadgeTextRole).toString(),
                   index.data(Model::BadgeToneRole).value<LibraryPresentationTone>());
        painter->setFont(m_fonts.caption2);
        painter->setPen(secondary);
        drawLine(*painter, at.detail, index.data(Model::DetailTextRole).toString());
        painter->restore();
    }

    /// The tooltip of the sub-cell at `position` in the row drawn in `item`.
    QString toolTipAt(const QModelIndex &index, const QRect &item, const QPoint &position) const
    {
        const RowGeometry at(item, m_fonts);
        const std::array<std::pair<QRect, int>, 4> cells{{
            {at.filename, Model::FilenameRole},
            {at.folder, Model::FolderPathRole},
            {at.sidecar, Model::SidecarTextRole},
            {at.volume, Model::VolumeNameRole},
        }};
        for (const auto &[rect, role] : cells) {
            if (rect.contains(position))
                return ElidedLabel::plainToolTip(index.data(role).toString());
        }
        return {};
    }

    bool helpEvent(QHelpEvent *event,
                   QAbstractItemView *view,
                   const QStyleOptionViewItem &option,
                   const QModelIndex &index) override
    {
        if (event->type() != QEvent::ToolTip)
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        const QString text = toolTipAt(index, option.rect, event->pos());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(event->globalPos(), text, view);
        return true;
    }

private:
    static void paintPlaceholder(QPainter &painter, const QRect &rect, const KindLook &colours)
    {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
        painter.fillPath(shape, colours.fill);
        painter.setPen(QPen(colours.border, 1));
        painter.drawPath(shape);
        const int size = 16;
        painter.drawPixmap(
            QRect(rect.center().x() - size / 2 + 1, rect.center().y() - size / 2 + 1, size, size),
            SymbolIcons::pixmap(
                colours.symbol, colours.symbolColour, size, painter.device()->devicePixelRatioF()));
    }

    void paintBadge(QPainter &painter,
                    const QRect &cell,
                    const QString &text,
                    LibraryPresentationTone tone) const
    {
        const QFontMetrics metrics(m_fonts.badge);
        const QRect badge(cell.left(),
                          cell.top(),
                          std::min(cell.width(), metrics.horizontalAdvance(text) + 15),
                          cell.height());
        const QColor colour = Theme::toneColour(tone);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(badge), 6, 6);
        painter.fillPath(shape, Theme::withOpacity(colour, 0.12));
        painter.setFont(m_fonts.badge);
        painter.setPen(colour);
        painter.drawText(badge.adjusted(7, 0, -7, 0),
                         int(Qt::AlignCenter) | Qt::TextSingleLine,
                         metrics.elidedText(text, Qt::ElideRight, badge.width() - 14));
    }

    RowFonts m_fonts;
};

/// The column titles over the rows, laid out as the rows of `list` are, with the divider below.
class ColumnHeader final : public QWidget
{
public:
    explicit ColumnHeader(QListView *list, QWidget *parent)
        : QWidget(parent)
        , m_list(list)
    {
        QFont font = Theme::font(Theme::TextStyle::Caption);
        font.setWeight(QFont::DemiBold);
        setFont(font);
        setFixedHeight(fontMetrics().lineSpacing() + 16 + 1);
        list->viewport()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Resize)
            update();
        return QWidget::eventFilter(watched, event);
    }

    void paintEvent(QPaintEvent * /*event*/) override
    {
        static const std::array<QString, 6> titles{u"Preview"_s,
                                                   u"Original Filename"_s,
                                                   u"Sidecar"_s,
                                                   u"Supported Bytes"_s,
                                                   u"Import Status"_s,
                                                   u"Source Volume"_s};
        QPainter painter(this);
        painter.setPen(Theme::secondaryLabel());
        // Before the list is first shown its viewport has no width yet.
        const int rowWidth = m_list->isVisible()
                                 ? m_list->viewport()->width()
                                 : width() - m_list->verticalScrollBar()->sizeHint().width();
        const QRect row(0, 0, rowWidth, height() - 1);
        for (std::size_t index = 0; index < titles.size(); ++index) {
            const Qt::Alignment alignment = index == 3 ? Qt::AlignRight : Qt::AlignLeft;
            drawLine(painter, column(row, int(index)), titles[index], alignment);
        }
        painter.fillRect(QRect(0, height() - 1, width(), 1), Theme::border());
    }

private:
    QListView *m_list = nullptr;
};

} // namespace

ImportReviewTable::ImportReviewTable(QWidget *parent)
    : QWidget(parent)
    , m_model(new ImportReviewTableModel(this))
    , m_list(new QListView)
    , m_emptyState(new EmptyStateView(
          u"photo.on.rectangle.angled"_s,
          u"No supported RAW Originals found"_s,
          u"Supported v1 formats are common RAW Originals with optional XMP Sidecars."_s))
    , m_content(new QStackedWidget)
{
    setObjectName(u"importReview.table"_s);
    setAutoFillBackground(true);
    Theme::fillBackground(*this, Theme::windowBackground());
    m_list->setObjectName(u"importReview.rows"_s);
    m_list->setModel(m_model);
    m_list->setItemDelegate(new RowDelegate(m_list));
    // One height for every row: the list never measures 100,000 rows.
    m_list->setUniformItemSizes(true);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setFocusPolicy(Qt::StrongFocus);
    m_list->viewport()->setAutoFillBackground(false);
    m_emptyState->setObjectName(u"importReview.emptyState"_s);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(new ColumnHeader(m_list, this));
    m_content->addWidget(m_emptyState);
    m_content->addWidget(m_list);
    layout->addWidget(m_content, 1);
}

void ImportReviewTable::setReview(const std::optional<ImportReview> &review)
{
    m_model->setReview(review);
    m_content->setCurrentWidget(m_model->rowCount() > 0 ? static_cast<QWidget *>(m_list)
                                                        : m_emptyState);
}

QString ImportReviewTable::toolTipAt(const QPoint &position) const
{
    const QModelIndex index = m_list->indexAt(position);
    if (!index.isValid())
        return {};
    const auto *delegate = static_cast<const RowDelegate *>(m_list->itemDelegate());
    return delegate->toolTipAt(index, m_list->visualRect(index), position);
}

} // namespace Pellwick
