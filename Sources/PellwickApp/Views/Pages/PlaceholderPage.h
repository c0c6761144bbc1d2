#pragma once

#include <QWidget>

class QVBoxLayout;

namespace Pellwick {

/// A page that shows its title and a line saying it is not available yet, standing in until the
/// page itself is built. Its object name identifies the page.
class PlaceholderPage : public QWidget
{
    Q_OBJECT

public:
    PlaceholderPage(const QString &objectName, const QString &title, QWidget *parent = nullptr);

    const QString &title() const { return m_title; }

protected:
    QVBoxLayout *contentLayout() const { return m_layout; }

private:
    QString m_title;
    QVBoxLayout *m_layout = nullptr;
};

} // namespace Pellwick
