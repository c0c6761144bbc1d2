#pragma once

// Recording doubles of the page seams: each call appends its operation's name to `calls`, and
// nothing else happens. Coroutines finish at once with an empty result. A test may override
// single operations of a double.

#include <PellwickApp/Shell/Operations/ImportOperations.h>
#include <PellwickApp/Shell/Operations/IngestCacheOperations.h>
#include <PellwickApp/Shell/Operations/LibraryOperations.h>
#include <PellwickApp/Shell/Operations/RestoreOperations.h>
#include <PellwickApp/Shell/Operations/SessionOperations.h>
#include <PellwickApp/Shell/State/LibraryState.h>

#include <QStringList>

namespace Pellwick {

class RecordingSessionOperations : public SessionOperations
{
public:
    QStringList calls;
    /// What `changePassword()` answers.
    bool passwordChanged = false;

    QCoro::Task<> refresh() override
    {
        record(QStringLiteral("refresh"));
        co_return;
    }

    QCoro::Task<> restoreRememberedSession() override
    {
        record(QStringLiteral("restoreRememberedSession"));
        co_return;
    }

    QCoro::Task<> signIn() override
    {
        record(QStringLiteral("signIn"));
        co_return;
    }

    QCoro::Task<> registerAccount() override
    {
        record(QStringLiteral("registerAccount"));
        co_return;
    }

    QCoro::Task<> refreshVerification() override
    {
        record(QStringLiteral("refreshVerification"));
        co_return;
    }

    /// Recorded as "resendVerification:<token>".
    QCoro::Task<> resendVerification(QString token) override
    {
        record(QStringLiteral("resendVerification:") + token);
        co_return;
    }

    QCoro::Task<> requestPasswordReset() override
    {
        record(QStringLiteral("requestPasswordReset"));
        co_return;
    }

    QCoro::Task<bool> changePassword() override
    {
        record(QStringLiteral("changePassword"));
        co_return passwordChanged;
    }

    void resetPasswordChangeForm() override { record(QStringLiteral("resetPasswordChangeForm")); }

    void signOut() override { record(QStringLiteral("signOut")); }

    QCoro::Task<> refreshLibrary() override
    {
        record(QStringLiteral("refreshLibrary"));
        co_return;
    }

    QCoro::Task<std::optional<QString>> checkoutURL() override
    {
        record(QStringLiteral("checkoutURL"));
        co_return std::nullopt;
    }

    QCoro::Task<std::optional<QString>> customerPortalURL() override
    {
        record(QStringLiteral("customerPortalURL"));
        co_return std::nullopt;
    }

private:
    void record(const QString &name) { calls.append(name); }
};

class RecordingImportOperations : public ImportOperations
{
public:
    /// Getters are const, and are recorded too.
    mutable QStringList calls;

    /// Recorded as "scanFolder:<path>".
    void scanFolder(QString path) override { record(QStringLiteral("scanFolder:") + path); }

    QCoro::Task<> addReviewToIngestCache() override
    {
        record(QStringLiteral("addReviewToIngestCache"));
        co_return;
    }

    /// Recorded as "createInitialIngestCache:<path>".
    QCoro::Task<> createInitialIngestCache(QString path) override
    {
        record(QStringLiteral("createInitialIngestCache:") + path);
        co_return;
    }

    /// Recorded as "chooseInitialIngestCache:<path>".
    QCoro::Task<> chooseInitialIngestCache(QString path) override
    {
        record(QStringLiteral("chooseInitialIngestCache:") + path);
        co_return;
    }

    QCoro::Task<> requestSelectedImportConfirmation() override
    {
        record(QStringLiteral("requestSelectedImportConfirmation"));
        co_return;
    }

    QCoro::Task<> startSelectedImports() override
    {
        record(QStringLiteral("startSelectedImports"));
        co_return;
    }

    QCoro::Task<> recoverInterruptedImports() override
    {
        record(QStringLiteral("recoverInterruptedImports"));
        co_return;
    }

    QCoro::Task<> refreshSourceMediaSafetyNow() override
    {
        record(QStringLiteral("refreshSourceMediaSafetyNow"));
        co_return;
    }

    /// Recorded as "mounted:<url or none>".
    void receiveMountedImportSource(const std::optional<QString> &url) override
    {
        record(QStringLiteral("mounted:") + url.value_or(QStringLiteral("none")));
    }

    /// Recorded as "unmounted:<url or none>".
    void receiveUnmountedImportSource(const std::optional<QString> &url) override
    {
        record(QStringLiteral("unmounted:") + url.value_or(QStringLiteral("none")));
    }

    void acceptMountProposal() override { record(QStringLiteral("acceptMountProposal")); }

    void dismissMountProposal() override { record(QStringLiteral("dismissMountProposal")); }

    void scanNewlyMountedImportSources() override
    {
        record(QStringLiteral("scanNewlyMountedImportSources"));
    }

    void scanAllRemovableVolumes() override { record(QStringLiteral("scanAllRemovableVolumes")); }

    /// What `selectedImportItems()` answers.
    QList<LocalLibraryItem> importItems;
    /// What `isStartingImport()` answers.
    bool startingImport = false;

    QList<LocalLibraryItem> selectedImportItems() const override
    {
        record(QStringLiteral("selectedImportItems"));
        return importItems;
    }

    bool isStartingImport() const override
    {
        record(QStringLiteral("isStartingImport"));
        return startingImport;
    }

private:
    void record(const QString &name) const { calls.append(name); }
};

class RecordingIngestCacheOperations : public IngestCacheOperations
{
public:
    /// Getters are const, and are recorded too.
    mutable QStringList calls;

    void scheduleUserManagedIngestCacheRefresh() override
    {
        record(QStringLiteral("scheduleUserManagedIngestCacheRefresh"));
    }

    /// What `selectedRemovableIngestCacheItems()` answers.
    QList<LocalLibraryItem> removableItems;
    /// What `isIngestCacheMigrationPending()` answers.
    bool migrationPending = false;

    QList<LocalLibraryItem> selectedRemovableIngestCacheItems() const override
    {
        record(QStringLiteral("selectedRemovableIngestCacheItems"));
        return removableItems;
    }

    bool isIngestCacheMigrationPending() const override
    {
        record(QStringLiteral("isIngestCacheMigrationPending"));
        return migrationPending;
    }

    /// Recorded as "beginIngestCacheMigration:<newRoot>".
    QCoro::Task<> beginIngestCacheMigration(QString newRoot) override
    {
        record(QStringLiteral("beginIngestCacheMigration:") + newRoot);
        co_return;
    }

    QCoro::Task<> resumeIngestCacheMigration() override
    {
        record(QStringLiteral("resumeIngestCacheMigration"));
        co_return;
    }

    QCoro::Task<> synchronizeRetainedIngestCache() override
    {
        record(QStringLiteral("synchronizeRetainedIngestCache"));
        co_return;
    }

    QCoro::Task<> deleteRetainedIngestCache() override
    {
        record(QStringLiteral("deleteRetainedIngestCache"));
        co_return;
    }

    /// Recorded as "resolveRetainedIngestCacheConflict:<relativePath>:<keeping as a number>".
    QCoro::Task<>
    resolveRetainedIngestCacheConflict(IngestCacheMigrationConflict conflict,
                                       IngestCacheMigrationConflictResolution keeping) override
    {
        record(QStringLiteral("resolveRetainedIngestCacheConflict:%1:%2")
                   .arg(conflict.relativePath)
                   .arg(int(keeping)));
        co_return;
    }

    QCoro::Task<> requestSelectedIngestCacheRemovalConfirmation() override
    {
        record(QStringLiteral("requestSelectedIngestCacheRemovalConfirmation"));
        co_return;
    }

    QCoro::Task<>
    removeSelectedIngestCachePackages(IngestCacheRemovalConfirmation /*confirmation*/) override
    {
        record(QStringLiteral("removeSelectedIngestCachePackages"));
        co_return;
    }

private:
    void record(const QString &name) const { calls.append(name); }
};

class RecordingLibraryOperations : public LibraryOperations
{
public:
    /// Getters are const, and are recorded too.
    mutable QStringList calls;

    void refreshVisibleLocalLibraryItems(bool /*pruningRestoreSelection*/) override
    {
        record(QStringLiteral("refreshVisibleLocalLibraryItems"));
    }

    /// What `localLibraryIngestSources()` answers.
    QStringList ingestSources;
    /// What `hasActiveLocalLibraryFilters()` answers.
    bool activeFilters = false;

    QStringList localLibraryIngestSources() const override
    {
        record(QStringLiteral("localLibraryIngestSources"));
        return ingestSources;
    }

    /// What `localLibraryTree()` answers, and the folder counts of every call.
    std::optional<QList<LocalLibraryTreeNode>> tree;
    QList<QHash<QString, qint64>> treeRequests;
    /// Every item handed to `inspectLocalLibraryItem()`, in order.
    QList<std::optional<LocalLibraryItem>> inspected;

    std::optional<QList<LocalLibraryTreeNode>>
    localLibraryTree(const QHash<QString, qint64> &visibleFolderCounts) override
    {
        record(QStringLiteral("localLibraryTree"));
        treeRequests.append(visibleFolderCounts);
        return tree;
    }

    /// "/library/" followed by the available preview's relative path.
    std::optional<QString> localLibraryPreviewURL(const LocalLibraryItem &item) const override
    {
        const QString *path = item.preview.availablePath();
        return path ? std::optional(QStringLiteral("/library/") + *path) : std::nullopt;
    }

    /// What `inspectedLocalLibraryItem()` answers.
    std::optional<LocalLibraryItem> inspectedItem;

    std::optional<LocalLibraryItem> inspectedLocalLibraryItem() const override
    {
        record(QStringLiteral("inspectedLocalLibraryItem"));
        return inspectedItem;
    }

    /// When set, an inspection also sets its inspected id, as the view model does.
    LibraryState *state = nullptr;

    void inspectLocalLibraryItem(const std::optional<LocalLibraryItem> &item) override
    {
        record(QStringLiteral("inspectLocalLibraryItem"));
        inspected.append(item);
        if (state)
            state->setInspectedLocalLibraryItemID(item ? std::optional(item->id) : std::nullopt);
    }

    bool hasActiveLocalLibraryFilters() const override
    {
        record(QStringLiteral("hasActiveLocalLibraryFilters"));
        return activeFilters;
    }

    void resetLocalLibraryFilters() override { record(QStringLiteral("resetLocalLibraryFilters")); }

    void scheduleSourceMediaSafetyRefresh() override
    {
        record(QStringLiteral("scheduleSourceMediaSafetyRefresh"));
    }

    QCoro::Task<> checkDataFolders() override
    {
        record(QStringLiteral("checkDataFolders"));
        co_return;
    }

private:
    void record(const QString &name) const { calls.append(name); }
};

class RecordingRestoreOperations : public RestoreOperations
{
public:
    /// The operations started, with their arguments after a colon; the getters answer the
    /// fields below and are not recorded.
    QStringList calls;
    QList<LocalLibraryItem> selected;
    RestoreSelectionSummary summary;
    QList<LocalLibraryItem> workflowItems;
    std::optional<QString> defaultDestination = QStringLiteral("/restored-by-default");

    QCoro::Task<> refreshActiveRestoreRequest() override
    {
        return record(QStringLiteral("refreshActiveRestoreRequest"));
    }

    QCoro::Task<> refreshLocalLibraryCacheForRestore() override
    {
        return record(QStringLiteral("refreshLocalLibraryCacheForRestore"));
    }

    QCoro::Task<> requestRestoreForSelection() override
    {
        return record(QStringLiteral("requestRestoreForSelection"));
    }

    QCoro::Task<> cancelActiveRestoreRequest() override
    {
        return record(QStringLiteral("cancelActiveRestoreRequest"));
    }

    QCoro::Task<> retryActiveRestorePreparation() override
    {
        return record(QStringLiteral("retryActiveRestorePreparation"));
    }

    QCoro::Task<> rebuildLocalLibraryCache() override
    {
        return record(QStringLiteral("rebuildLocalLibraryCache"));
    }

    QList<LocalLibraryItem> selectedRestoreItems() const override { return selected; }

    RestoreSelectionSummary restoreSelectionSummary() const override { return summary; }

    QList<LocalLibraryItem> restoreWorkflowItems() const override { return workflowItems; }

    QCoro::Task<> restoreReadyItems(QString destinationDirectory,
                                    QHash<qint64, QString> destinationFilenames) override
    {
        return record(QStringLiteral("restoreReadyItems:%1:%2")
                          .arg(destinationDirectory)
                          .arg(destinationFilenames.size()));
    }

    /// Answers `defaultDestination` at once; not recorded.
    QCoro::Task<std::optional<QString>> defaultRestoreDestination() override
    {
        co_return defaultDestination;
    }

    void updateRestorePolling(const std::optional<RestoreRequest> & /*request*/) override
    {
        calls.append(QStringLiteral("updateRestorePolling"));
    }

    void cancelRestorePolling() override { calls.append(QStringLiteral("cancelRestorePolling")); }

    /// Recorded as "active:true" or "active:false".
    void setApplicationActive(bool active) override
    {
        calls.append(active ? QStringLiteral("active:true") : QStringLiteral("active:false"));
    }

    void pauseActiveRestoreTransfer() override
    {
        calls.append(QStringLiteral("pauseActiveRestoreTransfer"));
    }

    QCoro::Task<> resolveRestoreFilenameConflict(RestoreFilenameConflict conflict,
                                                 QString filename) override
    {
        return record(QStringLiteral("resolveRestoreFilenameConflict:%1:%2")
                          .arg(conflict.libraryItemID)
                          .arg(filename));
    }

private:
    /// Not a coroutine, so the name is never a coroutine's temporary.
    QCoro::Task<> record(const QString &name)
    {
        calls.append(name);
        return finished();
    }

    static QCoro::Task<> finished() { co_return; }
};

} // namespace Pellwick
