#pragma once

#include <PellwickCore/Library/LibraryPresentation.h>

#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace Pellwick {

/// A titled card at least 126 high: the title with its symbol in the headline font, then the
/// content, pinned to the top-leading corner, on `controlBackground` with an accent bar along
/// the leading edge and a 1-pt `border` outline.
class UtilityPanel : public QWidget
{
    Q_OBJECT

public:
    static constexpr int minimumPanelHeight = 126;

    UtilityPanel(const QString &title, const QString &systemImage, QWidget *parent = nullptr);

    /// Where the content goes, under the title.
    QVBoxLayout *contentLayout() const { return m_content; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QVBoxLayout *m_content = nullptr;
};

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

/// A message with its symbol in the tone's colour on the tone at 0.12, in the callout font,
/// wrapping over as many lines as it needs, across the full width.
class AlertStrip : public QWidget
{
    Q_OBJECT

public:
    AlertStrip(const QString &text,
               const QString &systemImage,
               LibraryPresentationTone tone,
               QWidget *parent = nullptr);

    void setAlert(const QString &text, const QString &systemImage, LibraryPresentationTone tone);

    QString text() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QLabel *m_symbol = nullptr;
    QLabel *m_text = nullptr;
    LibraryPresentationTone m_tone;
};

/// A title and value in one row, in the caption font: the title secondary, wrapping in at most
/// 110; the value in the tone's colour at medium weight, trailing-aligned, given the rest.
class StatusLine : public QWidget
{
    Q_OBJECT

public:
    static constexpr int maximumTitleWidth = 110;

    StatusLine(const QString &title,
               const QString &value,
               LibraryPresentationTone tone,
               QWidget *parent = nullptr);

    void setLine(const QString &title, const QString &value, LibraryPresentationTone tone);

    QLabel *titleLabel() const { return m_title; }

    QLabel *valueLabel() const { return m_value; }

private:
    QLabel *m_title = nullptr;
    QLabel *m_value = nullptr;
};

/// The backend's reachability: an 8-pt dot in `dotTone`'s colour and the status text in the
/// caption font, secondary, one line, shrinking to 85 % before it is cut.
class BackendStatusLine : public QWidget
{
    Q_OBJECT

public:
    explicit BackendStatusLine(QWidget *parent = nullptr);

    void setStatus(const QString &text, LibraryPresentationTone dotTone);

    const QString &text() const { return m_text; }

    LibraryPresentationTone dotTone() const { return m_dotTone; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    LibraryPresentationTone m_dotTone = LibraryPresentationTone::Active;
};

} // namespace Pellwick
