#pragma once

#include <PellwickCore/Library/LibraryPresentation.h>

#include <QWidget>

namespace Pellwick {

/// A one-line text in the tone's colour on the tone at 0.12, in the caption font at semibold
/// weight. A text that does not fit first shrinks to 85 % of its size, then is cut at the end.
class StatusBadge : public QWidget
{
    Q_OBJECT

public:
    StatusBadge(const QString &text, LibraryPresentationTone tone, QWidget *parent = nullptr);

    void setText(const QString &text);
    void setTone(LibraryPresentationTone tone);

    const QString &text() const { return m_text; }

    LibraryPresentationTone tone() const { return m_tone; }

    /// The text as drawn at the current width, and the point size it is drawn at.
    QString shownText() const;
    qreal shownPointSize() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    LibraryPresentationTone m_tone;
};

} // namespace Pellwick
