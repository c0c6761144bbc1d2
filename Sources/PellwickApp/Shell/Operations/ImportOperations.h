#pragma once

#include <PellwickCore/Library/LocalLibraryItem.h>

#include <QCoro/QCoroTask>
#include <QList>
#include <QString>

#include <optional>

namespace Pellwick {

/// The import operations the import pages and the window call. Main thread only;
/// `ImportWorkflows` implements it.
class ImportOperations
{
public:
    ImportOperations() = default;
    virtual ~ImportOperations() = default;
    ImportOperations(const ImportOperations &) = delete;
    ImportOperations &operator=(const ImportOperations &) = delete;

    /// Scans the folder at `path` into a new Import Review.
    virtual void scanFolder(QString path) = 0;
    /// Copies the current Import Review into the Ingest Cache.
    virtual QCoro::Task<> addReviewToIngestCache() = 0;
    /// The first-run prompt's "Create Here": creates the Ingest Cache at `path`, then adds.
    virtual QCoro::Task<> createInitialIngestCache(QString path) = 0;
    /// The first-run prompt's "Choose Existing Folder": uses the folder at `path`, then adds.
    virtual QCoro::Task<> chooseInitialIngestCache(QString path) = 0;
    /// Publishes the Start Import confirmation of the selected items.
    virtual QCoro::Task<> requestSelectedImportConfirmation() = 0;
    /// Imports the selected items.
    virtual QCoro::Task<> startSelectedImports() = 0;
    /// Resumes the interrupted imports.
    virtual QCoro::Task<> recoverInterruptedImports() = 0;
    /// Runs the source-media safety check at once.
    virtual QCoro::Task<> refreshSourceMediaSafetyNow() = 0;
    /// A volume was mounted at `url` (a local path), or at an unknown place.
    virtual void receiveMountedImportSource(const std::optional<QString> &url) = 0;
    /// A volume was unmounted from `url`, or from an unknown place.
    virtual void receiveUnmountedImportSource(const std::optional<QString> &url) = 0;
    /// Takes the proposed volumes for import.
    virtual void acceptMountProposal() = 0;
    /// Dismisses the proposed volumes until they are unmounted.
    virtual void dismissMountProposal() = 0;
    /// Scans the volumes mounted since launch that wait to be scanned.
    virtual void scanNewlyMountedImportSources() = 0;
    /// Scans every removable volume mounted now.
    virtual void scanAllRemovableVolumes() = 0;
    /// Selected records that can be imported now.
    virtual QList<LocalLibraryItem> selectedImportItems() const = 0;

    // The library toolbar's Ingest Cache menu.
    /// A confirmed import has been started and has not yet set `isImporting`.
    virtual bool isStartingImport() const = 0;
};

} // namespace Pellwick
