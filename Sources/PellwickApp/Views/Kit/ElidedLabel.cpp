#include "ElidedLabel.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPainter>

namespace Pellwick {

namespace {

constexpr int textFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWrapAnywhere;
const QString ellipsis = QStringLiteral("…");

bool fits(const QString &text, const QFontMetrics &metrics, int width, int lines)
{
    if (lines <= 1)
        return metrics.horizontalAdvance(text) <= width;
    const QRect bounds = metrics.boundingRect(QRect(0, 0, width, 1 << 20), textFlags, text);
    return bounds.width() <= width && bounds.height() <= lines * metrics.lineSpacing();
}

/// The number of characters at the end that are the file extension (".CR3"), or 0.
qsizetype extensionLength(const QString &text)
{
    const qsizetype dot = text.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || text.size() - dot > 8)
        return 0;
    return text.size() - dot;
}

/// `text` keeping `kept` characters: its start and its end with the extension whole.
QString kept(const QString &text, qsizetype kept)
{
    const qsizetype extension = extensionLength(text);
    qsizetype tail = std::max(kept / 2, std::min(extension, kept));
    tail = std::min(tail, kept);
    const qsizetype head = kept - tail;
    return text.left(head) + ellipsis + text.right(tail);
}

/// Read as static text. Its description is never the tooltip's markup: the text itself, and
/// only when the name does not already say it.
class ElidedLabelAccessible final : public QAccessibleWidget
{
public:
    explicit ElidedLabelAccessible(ElidedLabel *label)
        : QAccessibleWidget(label, QAccessible::StaticText)
    {}

    QString text(QAccessible::Text kind) const override
    {
        if (kind != QAccessible::Description)
            return QAccessibleWidget::text(kind);
        if (!widget()->accessibleDescription().isEmpty())
            return widget()->accessibleDescription();
        const QString &shown = static_cast<const ElidedLabel *>(widget())->text();
        return shown == QAccessibleWidget::text(QAccessible::Name) ? QString() : shown;
    }
};

QAccessibleInterface *accessibleFactory(const QString & /*className*/, QObject *object)
{
    auto *label = qobject_cast<ElidedLabel *>(object);
    return label ? new ElidedLabelAccessible(label) : nullptr;
}

} // namespace

ElidedLabel::ElidedLabel(const QString &text, int maximumLines, QWidget *parent)
    : QWidget(parent)
    , m_maximumLines(std::max(1, maximumLines))
{
    static const bool accessibleInstalled = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    Q_UNUSED(accessibleInstalled);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setText(text);
}

void ElidedLabel::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    setToolTip(plainToolTip(text));
    setAccessibleName(text);
    updateGeometry();
    update();
}

QString ElidedLabel::plainToolTip(const QString &text)
{
    if (text.isEmpty())
        return {};
    return QStringLiteral("<p style='white-space:pre-wrap'>%1</p>").arg(text.toHtmlEscaped());
}

QString ElidedLabel::singleLine(const QString &text)
{
    QString line = text;
    for (QChar &character : line) {
        const QChar::Category category = character.category();
        // Explicit embeddings, overrides and isolates would reorder what follows them.
        const bool reorders = (character >= u'\u202A' && character <= u'\u202E')
                              || (character >= u'\u2066' && character <= u'\u2069');
        if (category == QChar::Other_Control || category == QChar::Separator_Line
            || category == QChar::Separator_Paragraph || reorders)
            character = QChar::ReplacementCharacter;
    }
    return line;
}

QString ElidedLabel::elided(const QString &text, const QFontMetrics &metrics, int width, int lines)
{
    if (fits(text, metrics, width, lines))
        return text;
    // The most characters kept that still fit; fewer kept never widens the text.
    qsizetype low = 0;
    qsizetype high = text.size() - 1;
    while (low < high) {
        const qsizetype middle = (low + high + 1) / 2;
        if (fits(kept(text, middle), metrics, width, lines))
            low = middle;
        else
            high = middle - 1;
    }
    return kept(text, low);
}

QString ElidedLabel::shownText() const
{
    return elided(
        m_maximumLines > 1 ? m_text : singleLine(m_text), fontMetrics(), width(), m_maximumLines);
}

QSize ElidedLabel::sizeHint() const
{
    return {fontMetrics().horizontalAdvance(m_text) + 1,
            fontMetrics().lineSpacing() * m_maximumLines};
}

QSize ElidedLabel::minimumSizeHint() const
{
    return {fontMetrics().horizontalAdvance(ellipsis) * 4, sizeHint().height()};
}

void ElidedLabel::paintEvent(QPaintEvent * /*event*/)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(rect(),
                     m_maximumLines > 1 ? textFlags
                                        : Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     shownText());
}

} // namespace Pellwick
