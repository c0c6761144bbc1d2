#pragma once

#include <PellwickCore/Library/LocalLibraryItem.h>
#include <PellwickCore/Restore/RestoreRequest.h>

#include <QList>
#include <QWidget>

#include <optional>

class QLabel;
class QListView;
class QPushButton;

namespace Pellwick {

class EmptyStateView;
class RestoreSelectedItemsModel;

/// The RAW originals the restore concerns: a titled list with, under each row whose request
/// entry needs attention, why; an empty state with "Choose RAW Originals" when there is nothing
/// to list. Shows only what it is given. Main thread only.
class RestoreSelectedItemsPanel final : public QWidget
{
    Q_OBJECT

public:
    explicit RestoreSelectedItemsPanel(QWidget *parent = nullptr);

    /// Shows `workflowItems`, in their order, against `activeRestoreRequest`.
    void setItems(const QList<LocalLibraryItem> &workflowItems,
                  const std::optional<RestoreRequest> &activeRestoreRequest);

    QString title() const;

    RestoreSelectedItemsModel *model() const { return m_model; }

    QListView *list() const { return m_list; }

    EmptyStateView *emptyState() const { return m_emptyState; }

    QPushButton *chooseButton() const { return m_choose; }

Q_SIGNALS:
    /// "Choose RAW Originals" was pressed.
    void showLocalLibraryCacheRequested();

private:
    QLabel *m_title = nullptr;
    EmptyStateView *m_emptyState = nullptr;
    QPushButton *m_choose = nullptr;
    QWidget *m_listFrame = nullptr;
    QListView *m_list = nullptr;
    RestoreSelectedItemsModel *m_model = nullptr;
};

} // namespace Pellwick
