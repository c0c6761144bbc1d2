#pragma once

// Recording doubles of the page seams: each call appends its operation's name to `calls`, and
// nothing else happens. Coroutines finish at once with an empty result.

#include <PellwickApp/Shell/Operations/ImportOperations.h>
#include <PellwickApp/Shell/Operations/IngestCacheOperations.h>
#include <PellwickApp/Shell/Operations/LibraryOperations.h>
#include <PellwickApp/Shell/Operations/RestoreOperations.h>
#include <PellwickApp/Shell/Operations/SessionOperations.h>

#include <QStringList>

namespace Pellwick {

class RecordingSessionOperations final : public SessionOperations
{
public:
    QStringList calls;
    /// What `changePassword()` answers.
    bool passwordChanged = false;

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

class RecordingImportOperations final : public ImportOperations
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

class RecordingIngestCacheOperations final : public IngestCacheOperations
{
public:
    /// Getters are const, and are recorded too.
    mutable QStringList calls;

    QCoro::Task<> performIngestCacheMigration(QString /*newRoot*/) override
    {
        record(QStringLiteral("performIngestCacheMigration"));
        co_return;
    }

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

    QCoro::Task<> removeSelectedIngestCachePackages() override
    {
        record(QStringLiteral("removeSelectedIngestCachePackages"));
        co_return;
    }

private:
    void record(const QString &name) const { calls.append(name); }
};

class RecordingLibraryOperations final : public LibraryOperations
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

    QList<LocalLibraryTreeNode>
    localLibraryTree(const QHash<QString, qint64> & /*visibleFolderCounts*/) override
    {
        record(QStringLiteral("localLibraryTree"));
        return {};
    }

    std::optional<LocalLibraryItem> inspectedLocalLibraryItem() const override
    {
        record(QStringLiteral("inspectedLocalLibraryItem"));
        return {};
    }

    void inspectLocalLibraryItem(const std::optional<LocalLibraryItem> & /*item*/) override
    {
        record(QStringLiteral("inspectLocalLibraryItem"));
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

private:
    void record(const QString &name) const { calls.append(name); }
};

class RecordingRestoreOperations final : public RestoreOperations
{
public:
    /// Getters are const, and are recorded too.
    mutable QStringList calls;

    QCoro::Task<> refreshActiveRestoreRequest() override
    {
        record(QStringLiteral("refreshActiveRestoreRequest"));
        co_return;
    }

    QCoro::Task<> refreshLocalLibraryCacheForRestore() override
    {
        record(QStringLiteral("refreshLocalLibraryCacheForRestore"));
        co_return;
    }

    QCoro::Task<> requestRestoreForSelection() override
    {
        record(QStringLiteral("requestRestoreForSelection"));
        co_return;
    }

    QCoro::Task<> cancelActiveRestoreRequest() override
    {
        record(QStringLiteral("cancelActiveRestoreRequest"));
        co_return;
    }

    QCoro::Task<> retryActiveRestorePreparation() override
    {
        record(QStringLiteral("retryActiveRestorePreparation"));
        co_return;
    }

    QCoro::Task<> rebuildLocalLibraryCache() override
    {
        record(QStringLiteral("rebuildLocalLibraryCache"));
        co_return;
    }

    QCoro::Task<> restoreReadyItems(QString /*destination*/,
                                    QHash<qint64, QString> /*destinationFilenames*/) override
    {
        record(QStringLiteral("restoreReadyItems"));
        co_return;
    }

    QCoro::Task<> resolveRestoreFilenameConflict(RestoreFilenameConflict /*conflict*/,
                                                 QString /*choice*/) override
    {
        record(QStringLiteral("resolveRestoreFilenameConflict"));
        co_return;
    }

    /// What `selectedRestoreItems()` answers.
    QList<LocalLibraryItem> restoreItems;

    QList<LocalLibraryItem> selectedRestoreItems() const override
    {
        record(QStringLiteral("selectedRestoreItems"));
        return restoreItems;
    }

    RestoreSelectionSummary restoreSelectionSummary() const override
    {
        record(QStringLiteral("restoreSelectionSummary"));
        return {};
    }

    QList<LocalLibraryItem> restoreWorkflowItems() const override
    {
        record(QStringLiteral("restoreWorkflowItems"));
        return {};
    }

private:
    void record(const QString &name) const { calls.append(name); }
};

} // namespace Pellwick
