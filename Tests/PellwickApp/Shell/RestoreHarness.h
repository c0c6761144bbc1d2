#pragma once

#include "ManualTimers.h"
#include "ShellViewModelFixture.h"

#include <PellwickApp/Workflows/Restore/RestoreWorkflows.h>
#include <PellwickCore/Backend/CurlFetch.h>

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QMutex>
#include <QTest>
#include <QThread>

#include <atomic>

#include <Support/FaultInjectingFileManager.h>
#include <Support/LibraryFixtures.h>
#include <Support/TestBackend/TestBackend.h>
#include <Support/TestFiles.h>
#include <Support/TestObjectStore.h>

namespace QTest {
template<>
inline char *toString(const std::optional<QString> &text)
{
    return text ? QTest::toString(*text) : qstrdup("none");
}
} // namespace QTest

namespace Pellwick::Test {

/// A signed-in view model over the real curl client, coordinator and store, against a
/// `TestBackend` account holding `itemCount` archived RAW originals, each with its Verified
/// Backup record in the Local Library Cache. Its timers and steady clock move only by hand.
struct RestoreHarness
{
    static inline const QString email = QStringLiteral("ada@example.test");

    /// One archived RAW original with its optional sidecar.
    struct ArchivedItem
    {
        TestBackend::ArchivedFile raw;
        std::optional<TestBackend::ArchivedFile> sidecar = std::nullopt;
    };

    /// "IMG_0001.CR3" … of `itemBytes` bytes each.
    static QList<ArchivedItem> numberedItems(int itemCount, qint64 itemBytes)
    {
        QList<ArchivedItem> items;
        for (int n = 1; n <= itemCount; ++n)
            items.append(ArchivedItem{{QStringLiteral("IMG_%1.CR3").arg(n, 4, 10, QLatin1Char('0')),
                                       QByteArray(itemBytes, char('a' + n))}});
        return items;
    }

    explicit RestoreHarness(int itemCount = 2,
                            qint64 itemBytes = 1000,
                            CurlFetch::Options fetchOptions = {})
        : RestoreHarness(numberedItems(itemCount, itemBytes), fetchOptions)
    {}

    explicit RestoreHarness(const QList<ArchivedItem> &items,
                            CurlFetch::Options fetchOptions = {},
                            RestoreTransferConfiguration transfers
                            = RestoreTransferConfiguration::defaultConfiguration())
    {
        fixture.restoreTransfers = transfers;
        TestBackend::Account account;
        account.email = email;
        backend.addAccount(account);
        token = backend.issueToken(email);
        fixture.fileManager = files;
        fixture.library = LocalLibraryCache(fixture.libraryRoot(), files);
        int n = 0;
        for (const ArchivedItem &item : items) {
            const TestBackend::LibraryItem archived
                = backend.addArchivedItem(email, item.raw, item.sidecar);
            LocalLibraryItem record = minimalLibraryItem(++n);
            record.canonicalFilename = archived.canonicalFilename;
            record.contentHash = archived.contentHash;
            record.importStatus = LibraryItemImportStatus::VerifiedBackup;
            record.backendLibraryItemID = archived.id;
            // As the backend lists it: the RAW original with its sidecar.
            record.archiveByteCount
                = item.raw.content.size() + (item.sidecar ? item.sidecar->content.size() : 0);
            records.append(record);
            archivedFileHashes.insert(item.raw.canonicalFilename,
                                      referenceSha256(item.raw.content));
            archivedContentHashes.append(referenceSha256(item.raw.content));
            if (item.sidecar) {
                archivedFileHashes.insert(item.sidecar->canonicalFilename,
                                          referenceSha256(item.sidecar->content));
                archivedContentHashes.append(referenceSha256(item.sidecar->content));
            }
        }
        QVERIFY(fixture.library.writeItems(records));
        fixture.backendURL = backend.baseURL();
        fixture.sessionFetch = [this, fetch = HttpFetch(CurlFetch(fetchOptions))](
                                   const HttpRequest &request, std::stop_token stop) {
            noteMainThreadWork(QStringLiteral("request ") + request.url);
            return fetch(request, std::move(stop));
        };
        fixture.timers = timers.factory();
        fixture.steadyClock
            = [this] { return std::chrono::steady_clock::time_point(timers.now()); };
        start();
        for (int op = 0; op <= int(FileOperation::AvailableSpace); ++op) {
            files->beforeOperation(FileOperation(op), {}, [this, op](const QString &path) {
                noteMainThreadWork(operationName(FileOperation(op)) + QLatin1Char(' ') + path);
            });
        }
    }

    /// Ends the application and starts it again on the same folders, signed in, as its window
    /// does: the active Restore Request is looked up. Start-up work is not noted.
    void relaunch()
    {
        const bool recording = isRecordingMainThreadWork.exchange(false);
        model.reset();
        start();
        isRecordingMainThreadWork = recording;
        QCoro::waitFor(model->restoreWorkflows().refreshActiveRestoreRequest());
    }

    /// Makes the signed-in view model.
    void start()
    {
        model = fixture.make();
        model->sessionState().setSession(
            AuthenticatedLibrarySession{token, LibraryUser{1, email, {}}, {}});
    }

    /// From now on, every file operation and backend request made on the main thread is noted.
    void recordMainThreadWork() { isRecordingMainThreadWork = true; }

    QStringList mainThreadWork() const
    {
        const QMutexLocker locker(&mainThreadWorkMutex);
        return mainThreadWorkNoted;
    }

    void noteMainThreadWork(const QString &work)
    {
        if (isRecordingMainThreadWork
            && QThread::currentThread() == QCoreApplication::instance()->thread()) {
            const QMutexLocker locker(&mainThreadWorkMutex);
            mainThreadWorkNoted.append(work);
        }
    }

    /// Runs `action` on the main thread once, as the first `operation` on a path containing
    /// `pathFragment` begins on a worker, which waits for it.
    void
    duringFirst(FileOperation operation, const QString &pathFragment, std::function<void()> action)
    {
        auto pending = std::make_shared<std::function<void()>>(std::move(action));
        files->beforeOperation(operation, pathFragment, [pending](const QString &) {
            if (QThread::currentThread() == QCoreApplication::instance()->thread())
                return;
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [pending] {
                    if (*pending)
                        std::exchange(*pending, {})();
                },
                Qt::BlockingQueuedConnection);
        });
    }

    /// Writes each named file (its name as content) into the destination; what it then holds.
    QMap<QString, QString> placeInDestination(const QStringList &names) const
    {
        for (const QString &name : names) {
            if (!name.isEmpty())
                writeFile(destination() + QLatin1Char('/') + name, name.toUtf8());
        }
        return fileManifest(destination());
    }

    /// The destination's files that `before` (from `placeInDestination`) does not hold as they
    /// are now: new files, and any earlier file that changed.
    QMap<QString, QString> newFiles(const QMap<QString, QString> &before) const
    {
        QMap<QString, QString> found = fileManifest(destination());
        found.removeIf([&](const auto &file) { return before.value(file.key()) == file.value(); });
        return found;
    }

    /// Hands out download URLs that have already expired until the first plan is made; every
    /// later one (the refreshes) is fresh.
    void expirePlannedCapabilities()
    {
        backend.setDownloadLifetime(std::chrono::seconds(0));
        backend.setRequestHook([this](const QByteArray &, const QByteArray &path, bool applied) {
            if (applied && path.endsWith("/downloads"))
                backend.setDownloadLifetime(std::chrono::minutes(15));
            return true;
        });
    }

    /// The SHA-256 of every archived file, by its canonical filename.
    const QMap<QString, QString> &archivedHashes() const { return archivedFileHashes; }

    RestoreState &restore() const { return model->restoreState(); }

    void selectAll() const
    {
        QSet<QUuid> ids;
        for (const LocalLibraryItem &record : records)
            ids.insert(record.id);
        model->libraryState().setSelectedLibraryItemIDs(ids);
    }

    /// Creates a Restore Request for every record; its id.
    qint64 createRequest() const
    {
        selectAll();
        QCoro::waitFor(model->restoreWorkflows().requestRestoreForSelection());
        return restore().activeRestoreRequest() ? restore().activeRestoreRequest()->id : -1;
    }

    /// Creates a Restore Request for every record, lets the backend prepare it and refreshes it
    /// into the view model; its id.
    qint64 makeReady()
    {
        const qint64 id = createRequest();
        backend.setRestoreRequestStatus(id, RestoreRequestStatus::Ready);
        QCoro::waitFor(model->restoreWorkflows().refreshActiveRestoreRequest());
        return id;
    }

    /// The folder the restores of a test save into.
    QString destination() const { return fixture.dir.filePath(QStringLiteral("Restored")); }

    /// Runs a restore into `folder` (the test's destination when empty) to its end.
    void restoreInto(const QString &folder = {}, const QHash<qint64, QString> &names = {}) const
    {
        // Named: a temporary passed to a coroutine is destroyed twice by GCC 12.
        const QString into = folder.isEmpty() ? destination() : folder;
        QCoro::waitFor(model->restoreWorkflows().restoreReadyItems(into, names));
    }

    /// Runs `action` once, as the run's row first shows `packages` transfers completed.
    void whenSaved(qint64 packages, std::function<void()> action) const
    {
        auto pending = std::make_shared<std::function<void()>>(std::move(action));
        QObject::connect(
            &model->shellState(), &ShellState::transferProgressesChanged, model.get(), [=, this] {
                for (const TransferProgress &row : model->shellState().transferProgresses()) {
                    if (*pending && row.operationName == QStringLiteral("Restore Transfer")
                        && row.completedPackageCount == packages) {
                        std::exchange(*pending, {})();
                    }
                }
            });
    }

    /// The object-store GETs of the RAW original named `filename`.
    int objectGets(const QString &filename) const
    {
        const QByteArray suffix = "/" + filename.toUtf8();
        int count = 0;
        for (const RecordedRequest &request : backend.objectStore().requests())
            count += request.method == "GET" && request.path.endsWith(suffix);
        return count;
    }

    /// The requests the backend received whose path contains `path`.
    int requestCount(const QByteArray &method, const QByteArray &path) const
    {
        int count = 0;
        for (const RecordedRequest &request : backend.requests())
            count += request.method == method && request.path.contains(path) ? 1 : 0;
        return count;
    }

    TestBackend backend;
    ManualTimers timers;
    ShellViewModelFixture fixture;
    QString token;
    QList<LocalLibraryItem> records;
    QMap<QString, QString> archivedFileHashes;
    /// The SHA-256 of every archived file, sidecars sharing a name included.
    QStringList archivedContentHashes;
    std::atomic<bool> isRecordingMainThreadWork = false;
    mutable QMutex mainThreadWorkMutex;
    QStringList mainThreadWorkNoted;
    std::shared_ptr<FaultInjectingFileManager> files
        = std::make_shared<FaultInjectingFileManager>();
    std::unique_ptr<LibraryShellViewModel> model;
};

} // namespace Pellwick::Test
