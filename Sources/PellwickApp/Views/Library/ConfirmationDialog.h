#pragma once

#include <PellwickApp/Views/Kit/PellwickControlStyles.h>

#include <QDialog>

class QLabel;
class QPushButton;

namespace Pellwick {

/// A window-modal question with a title, an optional message, Cancel and one action button.
/// The action emits `confirmed` and closes it; Cancel, Escape and the close button emit
/// `rejected` as for any dialog. `dismiss()` closes it with no signal. Main thread only.
class ConfirmationDialog final : public QDialog
{
    Q_OBJECT

public:
    ConfirmationDialog(const QString &actionText, PellwickButtonRole role, QWidget *parent);

    /// The title, shown in the dialog and as its window title.
    void setTitle(const QString &title);
    QString title() const;
    /// The message under the title; an empty one is not shown.
    void setMessage(const QString &message);
    QString message() const;

    QPushButton *actionButton() const { return m_action; }

    QPushButton *cancelButton() const { return m_cancel; }

    /// Opens it window-modal unless it is open.
    void present();
    /// Closes it without emitting `rejected`.
    void dismiss();

Q_SIGNALS:
    void confirmed();

private:
    QLabel *m_title = nullptr;
    QLabel *m_message = nullptr;
    QPushButton *m_cancel = nullptr;
    QPushButton *m_action = nullptr;
};

} // namespace Pellwick
