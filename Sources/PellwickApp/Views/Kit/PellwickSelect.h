#pragma once

#include <QToolButton>
#include <QVariant>

class QActionGroup;

namespace Pellwick {

/// The closed look of a drop-down selector: an optional symbol, the value (or the title while
/// there is none) and a chevron, on the slate `controlSecondary` fill with the 1-pt
/// `controlBorder` outline. Its menu opens on a press. The accessible name is the title, the
/// accessible value the value.
class PellwickMenuSelectorLabel : public QToolButton
{
    Q_OBJECT
    Q_CLASSINFO("PellwickAccessibleValue", "true")

public:
    explicit PellwickMenuSelectorLabel(const QString &title,
                                       const QString &systemImage = {},
                                       QWidget *parent = nullptr);

    const QString &title() const { return m_title; }

    const QString &value() const { return m_value; }

    /// The text of the current choice; an empty one shows the title.
    void setValue(const QString &value);

    QSize sizeHint() const override;

    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString shownText() const;

    QString m_title;
    QString m_systemImage;
    QString m_value;
};

/// A selector over exclusive choices: each choice is a checkable menu item carrying its value.
/// Choosing one emits `selectionChanged`; the caller sets the shown value (`setValue`).
class PellwickSelect : public PellwickMenuSelectorLabel
{
    Q_OBJECT

public:
    explicit PellwickSelect(const QString &title, QWidget *parent = nullptr);

    void addChoice(const QString &text, const QVariant &value);
    /// Checks the choice carrying `value`, without emitting.
    void setSelection(const QVariant &value);
    QVariant selection() const;

Q_SIGNALS:
    void selectionChanged(const QVariant &value);

private:
    QActionGroup *m_choices = nullptr;
};

} // namespace Pellwick
