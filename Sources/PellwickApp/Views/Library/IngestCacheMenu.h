#pragma once

#include <PellwickApp/Views/Kit/PellwickSelect.h>

#include <QCoro/QCoroTask>
#include <QPointer>

#include <functional>

namespace Pellwick {

class FolderChooser;
class ImportOperations;
class ImportState;
class IngestCacheOperations;
class IngestCacheState;

/// The "Cache" menu of the library toolbar: Refresh Cache and Move Cache; Resume Cache Move and
/// Choose Different Cache Location while a move is pending; Check Old Cache and Delete Old
/// Cache while an old cache is kept. Its items are rebuilt each time it opens, and each one
/// checks its rule again when triggered, so a disabled item never acts. Main thread only.
class IngestCacheMenu final : public PellwickMenuSelectorLabel
{
    Q_OBJECT

public:
    struct Seams
    {
        IngestCacheState &ingestCache;
        ImportState &imports;
        IngestCacheOperations &ingestCacheOperations;
        ImportOperations &importOperations;
        FolderChooser &folderChooser;
    };

    explicit IngestCacheMenu(Seams seams, QWidget *parent = nullptr);

    /// Builds the items for the state of now (done on `aboutToShow`).
    void rebuild();

    /// Asks for a folder, then starts a move to it when the state still allows one: for a
    /// replacement of the pending move, unless a move runs; otherwise unless a move runs or is
    /// pending, or an import runs or is starting.
    void chooseIngestCacheLocation(bool replacingPendingMigration);

Q_SIGNALS:
    /// "Delete Old Cache": the toolbar asks for confirmation.
    void oldCacheDeletionRequested();
    /// A check the menu started ended with conflicts to resolve.
    void oldCacheConflictsFound();

private:
    struct Item;
    void startMove(const QString &folder, bool replacingPendingMigration);
    static QCoro::Task<> checkOldCache(QPointer<IngestCacheMenu> menu);

    Seams m_seams;
};

} // namespace Pellwick
