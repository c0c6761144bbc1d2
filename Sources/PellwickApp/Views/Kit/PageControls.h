#pragma once

#include <QLineEdit>
#include <QString>

class QAbstractButton;
class QLabel;
class QPushButton;

namespace Pellwick::PageControls {

/// Gives `widget` its identifier as object name (found by tests and automation). Assistive
/// technology speaks the control's visible title instead: a button's text, a field's label.
void identify(QWidget &widget, const QString &identifier);

/// The first control of `page` that Tab reaches: enabled, shown within the page, taking the
/// focus by Tab, and no scroller that only holds controls (a ring around a whole page names
/// nothing). Null when the page has none.
QWidget *firstControl(QWidget &page);

/// A plain-text heading in the headline font.
QLabel *headline(const QString &text, QWidget *parent);

/// A compact kit button whose label is at least 144 wide and never cut; secondary unless made
/// primary. Return or Enter presses it while it has the focus; it is a dialog's default button
/// only when made one.
QPushButton *compactButton(const QString &text, QWidget *parent);

/// Makes Return or Enter in `field` press `action` while `action` is enabled: the form's own
/// action, for a field outside a dialog (in a dialog the default button answers Return).
void submitOnReturn(QLineEdit &field, QAbstractButton &action);

/// Makes `field` a password field: masked, kept from input methods' learning and prediction,
/// and never copied or cut to the clipboard (the masked mode refuses both, from the keyboard
/// and from the context menu).
void makeSecure(QLineEdit &field);

/// Binds `field` to one text field of a state object: shows it now, writes every edit the user
/// makes through `set`, and follows `changed` by showing the new text. The field is written
/// only when its text differs, so a state that echoes each keystroke keeps the caret and the
/// selection where the user left them. Main thread only.
template<typename State>
void bindText(QLineEdit &field,
              State &state,
              const QString &(State::*get)() const,
              void (State::*set)(QString),
              void (State::*changed)())
{
    field.setText((state.*get)());
    QObject::connect(&field, &QLineEdit::textEdited, &state, [&state, set](const QString &text) {
        (state.*set)(text);
    });
    QObject::connect(&state, changed, &field, [&field, &state, get] {
        if (field.text() != (state.*get)())
            field.setText((state.*get)());
    });
}

} // namespace Pellwick::PageControls
