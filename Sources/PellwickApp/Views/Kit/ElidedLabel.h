#pragma once

#include <QWidget>

namespace Pellwick {

/// A text limited to a number of lines (one for names, two for monospaced field blocks) that
/// removes characters from its middle until it fits, always keeping its start and its file
/// extension. The full text is its tooltip (shown as typed) and accessible name; its accessible
/// description is the plain text when a caller names it otherwise, and none when the name says it.
/// Drawn as plain text.
class ElidedLabel : public QWidget
{
    Q_OBJECT

public:
    explicit ElidedLabel(const QString &text = {}, int maximumLines = 1, QWidget *parent = nullptr);

    void setText(const QString &text);

    const QString &text() const { return m_text; }

    /// The text as drawn at the current width.
    QString shownText() const;

    /// `text` for one line: line breaks, other control characters and directional overrides
    /// become U+FFFD, so a name from a card never breaks the line or reorders what follows.
    static QString singleLine(const QString &text);

    /// A tooltip that shows `text` as typed, never as markup: a name holding "<b>" or "&lt;"
    /// reads as it is.
    static QString plainToolTip(const QString &text);

    /// `text` shortened in the middle to fit `width` in `lines` lines of `metrics`.
    static QString elided(const QString &text, const QFontMetrics &metrics, int width, int lines);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    int m_maximumLines = 1;
};

} // namespace Pellwick
