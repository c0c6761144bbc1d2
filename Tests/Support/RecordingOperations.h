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

    QList<LocalLibraryItem> selectedImportItems() const override
    {
        record(QStringLiteral("selectedImportItems"));
        return {};
    }

    // The Import Review and New import pages. Calls with a path are recorded as "name:<path>".

    void scanFolder(QString path) override { record(QStringLiteral("scanFolder:") + path); }

    QCoro::Task<> addReviewToIngestCache() override
    {
        record(QStringLiteral("addReviewToIngestCache"));
        co_return;
    }

    QCoro::Task<> createInitialIngestCache(QString path) override
    {
        record(QStringLiteral("createInitialIngestCache:") + path);
        co_return;
    }

    QCoro::Task<> chooseInitialIngestCache(QString path) override
    {
        record(QStringLiteral("chooseInitialIngestCache:") + path);
        co_return;
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

    QList<LocalLibraryItem> selectedRemovableIngestCacheItems() const override
    {
        record(QStringLiteral("selectedRemovableIngestCacheItems"));
        return {};
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

    QStringList localLibraryIngestSources() const override
    {
        record(QStringLiteral("localLibraryIngestSources"));
        return {};
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
        return false;
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

    QList<LocalLibraryItem> selectedRestoreItems() const override
    {
        record(QStringLiteral("selectedRestoreItems"));
        return {};
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
