#pragma once

#include <PellwickApp/Shell/ShellTypes.h>

#include <QWidget>

class QLabel;

namespace Pellwick {

/// The backend's reachability as one toolbar element: its accessible name is the label, its
/// accessible description the status text.
class BackendStatusToolbarItem : public QWidget
{
    Q_OBJECT

public:
    explicit BackendStatusToolbarItem(QWidget *parent = nullptr);

    void setStatus(ShellStatus status);

    ShellStatus status() const { return m_status; }

    /// The text shown: "Checking backend", "Backend reachable" or "Backend unreachable".
    QString text() const;

    static QString text(ShellStatus status);

private:
    ShellStatus m_status = ShellStatus::Checking;
    QLabel *m_dot = nullptr;
    QLabel *m_label = nullptr;
};

} // namespace Pellwick
