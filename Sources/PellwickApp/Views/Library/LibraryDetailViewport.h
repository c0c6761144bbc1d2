#pragma once

#include <QWidget>

namespace Pellwick {

/// The detail area of the Library page: `chrome` across the top at its ideal height, never
/// stretched or squeezed vertically, above `content`, which takes all the space the chrome leaves
/// and stays centred in it when it is smaller. Layout only.
class LibraryDetailViewport final : public QWidget
{
    Q_OBJECT

public:
    /// Takes both widgets as children.
    LibraryDetailViewport(QWidget *chrome, QWidget *content, QWidget *parent = nullptr);

    QWidget *chrome() const { return m_chrome; }

    QWidget *content() const { return m_content; }

private:
    QWidget *m_chrome = nullptr;
    QWidget *m_content = nullptr;
};

} // namespace Pellwick
