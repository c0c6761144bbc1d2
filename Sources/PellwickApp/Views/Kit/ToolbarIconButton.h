#pragma once

#include <QToolButton>

namespace Pellwick {

/// An icon-only toolbar button: `title` is its tooltip and accessible name, `systemImage` the
/// symbol name of its icon. Emits `clicked()` when pressed.
class ToolbarIconButton : public QToolButton
{
    Q_OBJECT

public:
    ToolbarIconButton(const QString &title, const QString &systemImage, QWidget *parent = nullptr);

    const QString &title() const { return m_title; }

    const QString &systemImage() const { return m_systemImage; }

private:
    QString m_title;
    QString m_systemImage;
};

} // namespace Pellwick
