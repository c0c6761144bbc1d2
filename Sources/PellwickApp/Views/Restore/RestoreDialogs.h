#pragma once

#include <PellwickApp/Shell/ShellTypes.h>

#include <QDialog>
#include <QString>

#include <optional>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace Pellwick {

class RestoreState;

/// What one of the Restore page's confirmations asks: its title, its message and its one button.
struct RestoreConfirmation
{
    QString title;
    QString message;
    QString button;
    bool isDestructive = false;

    /// "Restore <n> RAW Originals?" (singular for one) for the selection: its size, then its
    /// filenames.
    static RestoreConfirmation restore(const RestoreSelectionSummary &summary);
    /// "Rebuild Local Library Cache?"
    static RestoreConfirmation rebuild();
    /// "Stop Restore in Pellwick?"
    static RestoreConfirmation stop();

    bool operator==(const RestoreConfirmation &) const = default;
};

/// A non-blocking confirmation: the title (also as the window title), the message in a
/// read-only area that scrolls past a bounded height so the buttons always stay on the screen,
/// "Cancel" and the one button (drawn destructive when asked). The button accepts; "Cancel",
/// Escape and closing reject. Deletes itself when closed. Main thread only.
class RestoreConfirmationDialog final : public QDialog
{
    Q_OBJECT

public:
    /// The tallest the message grows before it scrolls.
    static constexpr int maximumMessageHeight = 240;

    RestoreConfirmationDialog(const RestoreConfirmation &confirmation, QWidget *parent = nullptr);

    QPlainTextEdit *message() const { return m_message; }

    QPushButton *confirmButton() const { return m_confirm; }

    QPushButton *cancelButton() const { return m_cancel; }

private:
    QPlainTextEdit *m_message = nullptr;
    QPushButton *m_confirm = nullptr;
    QPushButton *m_cancel = nullptr;
};

/// "Choose a different filename": the message naming the taken file, the field bound both ways
/// to `restoreConflictFilename`, "Restore" and "Cancel". "Restore" refuses a name that cannot name
/// a file, saying why under the field, and otherwise only signals: the prompt stays open, with
/// the typed text, until its owner closes it. Main thread only.
class RestoreFilenamePrompt final : public QDialog
{
    Q_OBJECT

public:
    explicit RestoreFilenamePrompt(RestoreState &state, QWidget *parent = nullptr);

    /// "<name> already exists at the destination.", or "This filename …" without a conflict.
    static QString message(const std::optional<RestoreFilenameConflict> &conflict);

    QLineEdit *field() const { return m_field; }

    QLabel *messageLabel() const { return m_message; }

    /// Why the name last given to "Restore" was refused; hidden while none was.
    QLabel *refusalLabel() const { return m_refusal; }

Q_SIGNALS:
    /// "Restore" was pressed.
    void restoreRequested();

private:
    void showConflict();
    void restorePressed();
    /// Grows or shrinks to the height its texts need at its width.
    void fitHeight();

    RestoreState &m_state;
    QLabel *m_message = nullptr;
    QLineEdit *m_field = nullptr;
    QLabel *m_refusal = nullptr;
};

} // namespace Pellwick
