#pragma once

#include <QDialog>

class QListView;
class QPushButton;
class QStringListModel;

namespace Pellwick {

class IngestCacheOperations;
class IngestCacheState;

/// The files changed in both the old and the active Ingest Cache after a move, one relative path
/// per row, each resolved through "Keep Old", "Keep New" or "Keep Both" on the chosen row. A
/// window-modal dialog that follows `retainedIngestCacheConflicts` and closes once none is left.
/// Main thread only.
class OldCacheConflictList final : public QDialog
{
    Q_OBJECT

public:
    OldCacheConflictList(IngestCacheState &state,
                         IngestCacheOperations &operations,
                         QWidget *parent);

    QListView *list() const { return m_list; }

    /// Opens it window-modal unless it is open or there is no conflict.
    void present();

private:
    void showConflicts();
    void updateButtons();

    IngestCacheState &m_state;
    IngestCacheOperations &m_operations;
    QStringListModel *m_paths = nullptr;
    QListView *m_list = nullptr;
    QList<QPushButton *> m_choices;
};

} // namespace Pellwick
