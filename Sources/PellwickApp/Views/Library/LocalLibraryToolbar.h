#pragma once

#include <PellwickApp/Shell/ShellTypes.h>

#include <QWidget>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace Pellwick {

class AlertStrip;
class FoldingBox;
class ConfirmationDialog;
class FolderChooser;
class ImportOperations;
class ImportState;
class IngestCacheMenu;
class IngestCacheOperations;
class IngestCacheState;
class LibraryOperations;
class LibraryState;
class LocalLibraryFilterBar;
class OldCacheConflictList;
class RestoreOperations;

/// The top band of the Library page: the "Library" title with the Ingest Cache menu; the
/// filename search, the Filters popover and the three selection actions (Start Import, Restore
/// Selected, Remove from Cache) on one row or two; the cache move's message (a failure as an
/// alert in the attention tone, like the page's other failures); the "Filters
/// active" strip. It carries the page's confirmations: the import, the old cache's deletion and
/// the removal of cache packages ("Remove 1 cache package?" for one), each presented while its
/// value is set and clearing it when dismissed or confirmed. Reads state objects only and follows
/// their signals. Main thread only.
class LocalLibraryToolbar final : public QWidget
{
    Q_OBJECT

public:
    struct Seams
    {
        LibraryState &library;
        ImportState &imports;
        IngestCacheState &ingestCache;
        LibraryOperations &libraryOperations;
        ImportOperations &importOperations;
        IngestCacheOperations &ingestCacheOperations;
        RestoreOperations &restoreOperations;
        FolderChooser &folderChooser;
    };

    explicit LocalLibraryToolbar(Seams seams, QWidget *parent = nullptr);

    /// "<count> packages, <bytes>. <remaining> archive capacity remains.", "1 package" for one.
    static QString importConfirmationMessage(const ImportSelectionConfirmation &confirmation);

    /// Opens the filter popover under the Filters button; an open one stays open.
    void showFilters();
    bool showsFilters() const;

    bool confirmsOldCacheDeletion() const { return m_confirmsOldCacheDeletion; }

    FoldingBox *controls() const { return m_controls; }

    IngestCacheMenu *cacheMenu() const { return m_cacheMenu; }

    QFrame *filterPopover() const { return m_filterPopover; }

    LocalLibraryFilterBar *filterBar() const { return m_filterBar; }

    ConfirmationDialog *importConfirmation() const { return m_importConfirmation; }

    ConfirmationDialog *oldCacheDeletion() const { return m_oldCacheDeletion; }

    ConfirmationDialog *removalConfirmation() const { return m_removalConfirmation; }

    OldCacheConflictList *conflictList() const { return m_conflictList; }

    /// The cache move's failure, shown in place of its plain message.
    AlertStrip *migrationAlert() const { return m_migrationAlert; }

Q_SIGNALS:
    /// "Restore Selected": the shell shows the Restore page.
    void restoreRequested();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QWidget *searchGroup();
    QWidget *actionGroup();
    void addDialogs();
    bool canStartImport() const;
    bool canRestore() const;
    bool canRemove() const;
    void updateActions();
    void updateFilterState();
    void updateMigrationMessage();
    void showImportConfirmation();
    void showRemovalConfirmation();

    Seams m_seams;
    bool m_confirmsOldCacheDeletion = false;
    IngestCacheMenu *m_cacheMenu = nullptr;
    QLineEdit *m_search = nullptr;
    QPushButton *m_filters = nullptr;
    QFrame *m_filterPopover = nullptr;
    LocalLibraryFilterBar *m_filterBar = nullptr;
    QPushButton *m_startImport = nullptr;
    QPushButton *m_restoreSelected = nullptr;
    QPushButton *m_removeSelected = nullptr;
    FoldingBox *m_controls = nullptr;
    QLabel *m_migrationMessage = nullptr;
    AlertStrip *m_migrationAlert = nullptr;
    QWidget *m_filtersStrip = nullptr;
    ConfirmationDialog *m_importConfirmation = nullptr;
    ConfirmationDialog *m_oldCacheDeletion = nullptr;
    ConfirmationDialog *m_removalConfirmation = nullptr;
    OldCacheConflictList *m_conflictList = nullptr;
};

} // namespace Pellwick
