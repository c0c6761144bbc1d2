#pragma once

#include <PellwickApp/Shell/ShellNavigation.h>

#include <QWidget>

class QListView;
class QPushButton;
class QStandardItemModel;

namespace Pellwick {

/// The left column of the window: the new-import button, one row per page of the sidebar and
/// the two system rows, which are shown but disabled. It writes the shell's section and keeps
/// nothing of its own: `setSelectedSection` mirrors the shell's value, and a user's choice is
/// announced through `sectionChosen` (the shell then sets the section, which comes back here).
class SidebarView : public QWidget
{
    Q_OBJECT

public:
    /// The row's accessibility identifier; empty for rows without one.
    static constexpr int IdentifierRole = Qt::UserRole + 1;
    /// The row's `ShellSection` raw value; empty for rows that are not sections.
    static constexpr int SectionRole = Qt::UserRole + 2;

    explicit SidebarView(QWidget *parent = nullptr);

    /// Highlights the row of `section`; none for sections without a row.
    void setSelectedSection(ShellSection section);

    ShellSection selectedSection() const { return m_selectedSection; }

    QStandardItemModel *model() const { return m_model; }

    QListView *list() const { return m_list; }

Q_SIGNALS:
    /// The user chose `section` (a row or the new-import button).
    void sectionChosen(Pellwick::ShellSection section);

private:
    void chooseRow(const QModelIndex &index);

    ShellSection m_selectedSection = ShellSection::Overview;
    QPushButton *m_newImport = nullptr;
    QListView *m_list = nullptr;
    QStandardItemModel *m_model = nullptr;
};

} // namespace Pellwick
