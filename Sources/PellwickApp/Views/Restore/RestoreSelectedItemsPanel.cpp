#include "RestoreSelectedItemsPanel.h"

#include <PellwickApp/Views/Kit/ElidedLabel.h>
#include <PellwickApp/Views/Kit/EmptyStateView.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/SymbolIcons.h>
#include <PellwickApp/Views/Restore/RestoreSelectedItemsModel.h>

#include <QHelpEvent>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTextLayout>
#include <QToolTip>
#include <QVBoxLayout>

namespace Pellwick {

namespace {

constexpr int rowPadding = 12;
constexpr int lineSpacing = 4;
constexpr int dividerHeight = 1;

/// A name from the backend on one line: control characters show as U+FFFD.
QString oneLine(QString text)
{
    for (QChar &character : text) {
        if (character.category() == QChar::Other_Control)
            character = QChar::ReplacementCharacter;
    }
    return text;
}

QFont filenameFont()
{
    QFont font = PellwickTheme::font(PellwickTheme::TextStyle::Body);
    font.setWeight(QFont::DemiBold);
    return font;
}

/// Lays `layout` out in lines of `width`, breaking between words where it can and anywhere
/// else where it must; returns its height.
qreal layOut(QTextLayout &layout, qreal width)
{
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTextDirection(Qt::LeftToRight);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal height = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout.endLayout();
    return height;
}

/// The attention line's text with the backend's line breaks kept as line breaks.
QString wrappingText(QString text)
{
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    return text;
}

/// One row: the original filename (semibold), the canonical filename (caption, secondary),
/// each on one line shortened in the middle, then the wrapping attention line (caption,
/// orange) when there is one, and a divider under it.
class RowDelegate final : public QStyledItemDelegate
{
public:
    explicit RowDelegate(QListView *view)
        : QStyledItemDelegate(view)
        , m_view(view)
        , m_filenameFont(filenameFont())
        , m_captionFont(PellwickTheme::font(PellwickTheme::TextStyle::Caption))
        , m_filenameHeight(QFontMetrics(m_filenameFont).height())
        , m_captionHeight(QFontMetrics(m_captionFont).height())
    {}

    QSize sizeHint(const QStyleOptionViewItem & /*option*/, const QModelIndex &index) const override
    {
        const int width = m_view->viewport()->width();
        int height = rowPadding + m_filenameHeight + lineSpacing + m_captionHeight + rowPadding
                     + dividerHeight;
        const QVariant attention = index.data(RestoreSelectedItemsModel::AttentionLineRole);
        if (attention.isValid()) {
            QTextLayout layout(wrappingText(attention.toString()), m_captionFont);
            height += lineSpacing + int(std::ceil(layOut(layout, textWidth(width))));
        }
        return {width, height};
    }

    void paint(QPainter *painter,
               const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        painter->save();
        const QRect text = option.rect.adjusted(rowPadding, rowPadding, -rowPadding, 0);
        int top = text.top();
        drawLine(*painter,
                 m_filenameFont,
                 PellwickTheme::label(),
                 QRect(text.left(), top, text.width(), m_filenameHeight),
                 index.data(Qt::DisplayRole).toString());
        top += m_filenameHeight + lineSpacing;
        drawLine(*painter,
                 m_captionFont,
                 PellwickTheme::secondaryLabel(),
                 QRect(text.left(), top, text.width(), m_captionHeight),
                 index.data(RestoreSelectedItemsModel::CanonicalFilenameRole).toString());
        top += m_captionHeight;
        const QVariant attention = index.data(RestoreSelectedItemsModel::AttentionLineRole);
        if (attention.isValid()) {
            top += lineSpacing;
            QTextLayout layout(wrappingText(attention.toString()), m_captionFont);
            layOut(layout, text.width());
            painter->setPen(PellwickTheme::toneColour(LibraryPresentationTone::Attention));
            layout.draw(painter, QPointF(text.left(), top));
        }
        painter->fillRect(QRect(option.rect.left(),
                                option.rect.bottom() - dividerHeight + 1,
                                option.rect.width(),
                                dividerHeight),
                          PellwickTheme::border());
        painter->restore();
    }

    bool helpEvent(QHelpEvent *event,
                   QAbstractItemView *view,
                   const QStyleOptionViewItem &option,
                   const QModelIndex &index) override
    {
        if (event->type() != QEvent::ToolTip || !index.isValid())
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        // Each filename line carries its full name.
        const int firstBottom = option.rect.top() + rowPadding + m_filenameHeight;
        const int secondBottom = firstBottom + lineSpacing + m_captionHeight;
        QString tip;
        if (event->pos().y() < firstBottom)
            tip = index.data(Qt::DisplayRole).toString();
        else if (event->pos().y() < secondBottom)
            tip = index.data(RestoreSelectedItemsModel::CanonicalFilenameRole).toString();
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(
                event->globalPos(), ElidedLabel::plainToolTip(tip), view->viewport());
        return true;
    }

private:
    static int textWidth(int rowWidth) { return std::max(1, rowWidth - 2 * rowPadding); }

    static void drawLine(QPainter &painter,
                         const QFont &font,
                         const QColor &colour,
                         const QRect &rect,
                         const QString &text)
    {
        painter.setFont(font);
        painter.setPen(colour);
        painter.drawText(
            rect,
            Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextForceLeftToRight,
            ElidedLabel::elided(oneLine(text), painter.fontMetrics(), rect.width(), 1));
    }

    QListView *m_view = nullptr;
    QFont m_filenameFont;
    QFont m_captionFont;
    int m_filenameHeight = 0;
    int m_captionHeight = 0;
};

/// Holds the list inside a 1-pt outline of radius 6 in the secondary colour at 0.25.
class ListOutline final : public QWidget
{
public:
    explicit ListOutline(QWidget *parent)
        : QWidget(parent)
    {
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(1, 1, 1, 1);
    }

protected:
    void paintEvent(QPaintEvent * /*event*/) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(PellwickTheme::withOpacity(PellwickTheme::secondaryLabel(), 0.25), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    }
};

} // namespace

RestoreSelectedItemsPanel::RestoreSelectedItemsPanel(QWidget *parent)
    : QWidget(parent)
    , m_title(new QLabel(this))
    , m_emptyState(new EmptyStateView(
          QStringLiteral("photo.on.rectangle.angled"),
          QStringLiteral("No RAW Originals selected"),
          QStringLiteral(
              "Choose Verified Backup items in Local Library Cache before creating a Restore "
              "Request."),
          this))
    , m_choose(new QPushButton(QStringLiteral("Choose RAW Originals"), this))
    , m_listFrame(new ListOutline(this))
    , m_list(new QListView(m_listFrame))
    , m_model(new RestoreSelectedItemsModel(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    m_title->setObjectName(QStringLiteral("restore-selected-items.title"));
    m_title->setTextFormat(Qt::PlainText);
    m_title->setFont(PellwickTheme::font(PellwickTheme::TextStyle::Headline));
    layout->addWidget(m_title);

    m_emptyState->setMinimumHeight(220);
    layout->addWidget(m_emptyState);
    m_choose->setIcon(SymbolIcons::icon(QStringLiteral("photo.on.rectangle.angled"), Qt::white));
    PellwickControlStyles::compactActionButton(*m_choose);
    PellwickControlStyles::compactActionButtonLabel(*m_choose);
    layout->addWidget(m_choose, 0, Qt::AlignLeft);
    connect(m_choose,
            &QPushButton::clicked,
            this,
            &RestoreSelectedItemsPanel::showLocalLibraryCacheRequested);

    m_list->setObjectName(QStringLiteral("restore-selected-items.list"));
    m_list->setModel(m_model);
    m_list->setItemDelegate(new RowDelegate(m_list));
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Rows differ in height, and a long reason makes one row taller than the list.
    m_list->setUniformItemSizes(false);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setResizeMode(QListView::Adjust);
    m_list->setLayoutMode(QListView::Batched);
    m_list->setMinimumHeight(220);
    m_list->viewport()->setAutoFillBackground(false);
    m_list->setAutoFillBackground(false);
    m_listFrame->layout()->addWidget(m_list);
    layout->addWidget(m_listFrame, 1);

    setItems({}, std::nullopt);
}

void RestoreSelectedItemsPanel::setItems(const QList<LocalLibraryItem> &workflowItems,
                                         const std::optional<RestoreRequest> &activeRestoreRequest)
{
    m_title->setText(activeRestoreRequest ? QStringLiteral("Restore Request RAW Originals")
                                          : QStringLiteral("Selected RAW Originals"));
    m_model->setItems(workflowItems, activeRestoreRequest);
    const bool isEmpty = workflowItems.isEmpty();
    m_emptyState->setVisible(isEmpty);
    m_choose->setVisible(isEmpty);
    m_listFrame->setVisible(!isEmpty);
}

QString RestoreSelectedItemsPanel::title() const
{
    return m_title->text();
}

} // namespace Pellwick
