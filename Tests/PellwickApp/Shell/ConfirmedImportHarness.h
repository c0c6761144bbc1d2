#pragma once

#include "CacheUpkeepFixture.h"

#include <PellwickApp/Workflows/Import/ImportWorkflows.h>
#include <PellwickCore/Backend/CurlFetch.h>

#include <QCoreApplication>
#include <QThread>

#include <Support/TestBackend/TestBackend.h>
#include <Support/TestObjectStore.h>

namespace Pellwick::Test {

/// Delegates to SHA-256 and counts the calls made on the main thread.
class MainThreadCountingHasher final : public ContentHashing
{
public:
    Result<QString> contentHash(const QString &path, std::stop_token stop) const override
    {
        if (QThread::currentThread() == QCoreApplication::instance()->thread())
            ++mainThreadCalls;
        return m_hasher.contentHash(path, stop);
    }

    bool allowsConcurrentCalls() const override { return true; }

    mutable std::atomic<int> mainThreadCalls = 0;

private:
    SHA256ContentHasher m_hasher;
};

/// Lists no volume; a listing off the main thread first waits at `gate`.
class GatedVolumes final : public MountedVolumeProviding
{
public:
    explicit GatedVolumes(Gate &gate)
        : m_gate(gate)
    {}

    Result<QList<MountedVolume>> mountedVolumes() const override
    {
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            m_gate.wait();
        return QList<MountedVolume>();
    }

private:
    Gate &m_gate;
};

/// A signed-in view model over the production curl client, importer, Staging Area, store and
/// Ingest Cache against a `TestBackend` account, with `packages` cached packages ready to import
/// ("b/P<n>.DNG", every one with a sidecar) and all of them selected. Library writes, deletions,
/// hashes and backend requests made on the main thread are counted.
struct ConfirmedImportHarness : CacheUpkeepFixture
{
    static inline const QString email = QStringLiteral("ada@example.test");

    explicit ConfirmedImportHarness(int packages = 2, std::optional<UserLibrary> account = {})
        : backend(backendOptions())
    {
        TestBackend::Account user;
        user.email = email;
        user.library.paidPlan.status = PaidPlanStatus::Paid;
        user.library.paidPlan.storageEntitlement = {0, qint64(1) << 40};
        if (account)
            user.library = *account;
        backend.addAccount(user);
        token = backend.issueToken(email);
        backendURL = backend.baseURL();
        sessionFetch = [this, fetch = HttpFetch(CurlFetch())](const HttpRequest &request,
                                                              std::stop_token stop) {
            if (QThread::currentThread() == QCoreApplication::instance()->thread())
                ++mainThreadRequests;
            return fetch(request, std::move(stop));
        };
        workflowHasher = hasher;
        uploadIdleLimit = std::chrono::seconds(1);
        for (int n = 0; n < packages; ++n) {
            records.append(addPackage(n, LibraryItemImportStatus::LocalCacheReady));
            rawBytes.append(readFile(*records.last().ingestCacheOriginalURL));
        }
        model = make();
        model->sessionState().setSession(
            AuthenticatedLibrarySession{token, LibraryUser{1, email, {}}, user.library});
        selectAll();
        mainThreadDiskWork = 0;
    }

    static TestBackend::Options backendOptions()
    {
        TestBackend::Options options;
        options.partSizeBytes = 1000;
        return options;
    }

    void selectAll() const
    {
        QSet<QUuid> ids;
        for (const LocalLibraryItem &record : records)
            ids.insert(record.id);
        model->libraryState().setSelectedLibraryItemIDs(ids);
    }

    void startImport() const { QCoro::waitFor(model->importWorkflows().startSelectedImports()); }

    void recover() const { QCoro::waitFor(model->importWorkflows().recoverInterruptedImports()); }

    ImportState &imports() const { return model->importState(); }

    /// The backend requests whose method is `method` and whose path contains `path`.
    int requestCount(const QByteArray &method, const QByteArray &path) const
    {
        int count = 0;
        for (const RecordedRequest &request : backend.requests())
            count += request.method == method && request.path.contains(path) ? 1 : 0;
        return count;
    }

    int reservations() const { return requestCount("POST", "import_capacity_reservations"); }

    int releases() const { return requestCount("DELETE", "import_capacity_reservations/"); }

    /// The package folders of the Staging Area.
    QStringList stagedFolders() const
    {
        return QDir(filePath(QStringLiteral("StagingArea")))
            .entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    }

    /// The import statuses of the packages, in order.
    QList<LibraryItemImportStatus> statuses() const
    {
        QList<LibraryItemImportStatus> found;
        for (const LocalLibraryItem &record : records)
            found.append(stored(record.id)->importStatus);
        return found;
    }

    /// Empty when the archive holds, for every package now archived, an object with the SHA-256
    /// of its cached RAW original and one with that of its sidecar.
    QString problemWithArchive() const
    {
        for (qsizetype i = 0; i < records.size(); ++i) {
            const std::optional<LocalLibraryItem> item = stored(records[i].id);
            if (item->importStatus != LibraryItemImportStatus::VerifiedBackup)
                continue;
            const std::optional<QByteArray> raw
                = backend.assembledObject(*item->backendLibraryItemID);
            const std::optional<QByteArray> sidecar
                = backend.assembledObject(*item->backendLibraryItemID, true);
            if (!raw || referenceSha256(*raw) != referenceSha256(rawBytes[i]))
                return QStringLiteral("RAW original of P%1 differs").arg(i);
            if (!sidecar || referenceSha256(*sidecar) != records[i].ingestCacheSidecarContentHash)
                return QStringLiteral("sidecar of P%1 differs").arg(i);
        }
        return {};
    }

    /// Work of the workflows done on the main thread: library writes, deletions, hashes and
    /// backend requests.
    int mainThreadWork() const
    {
        return mainThreadDiskWork + hasher->mainThreadCalls + mainThreadRequests;
    }

    TestBackend backend;
    QString token;
    std::shared_ptr<MainThreadCountingHasher> hasher = std::make_shared<MainThreadCountingHasher>();
    std::atomic<int> mainThreadRequests = 0;
    QList<LocalLibraryItem> records;
    QList<QByteArray> rawBytes;
    std::unique_ptr<LibraryShellViewModel> model;
};

} // namespace Pellwick::Test
