#include "RestoreTransferExecutor.h"

#include <PellwickCore/Restore/RestoreTransferError.h>
#include <PellwickCore/Support/AtomicFile.h>
#include <PellwickCore/Support/Executor.h>
#include <PellwickCore/Support/FileContentCopy.h>
#include <PellwickCore/Support/FileIdentity.h>
#include <PellwickCore/Support/Sha256.h>

#include <QDir>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

namespace Pellwick {

namespace {

const QString operationName = QStringLiteral("Restore Transfer");

using Refresh = std::function<Result<std::pair<QString, Date>>(std::stop_token)>;

template<typename Case>
tl::unexpected<Error> restoreFailure(Case value)
{
    return failure(RestoreTransferError{std::move(value)});
}

tl::unexpected<Error> cancelled()
{
    return failure(CancellationError{});
}

/// A manifest is a few hundred bytes; a file far beyond that is damaged, not a manifest.
constexpr qint64 maximumManifestBytes = qint64{4} * 1024 * 1024;

/// The last offset of the chunk that starts at `start` in an artifact of `byteCount` bytes.
qint64 chunkEnd(qint64 start, qint64 byteCount, qint64 chunkSize)
{
    return byteCount - 1 - start < chunkSize - 1 ? byteCount - 1 : start + chunkSize - 1;
}

/// True for exactly the ranges the executor's chunking of `byteCount` produces.
bool isChunkRange(const RestoreByteRange &range, qint64 byteCount, qint64 chunkSize)
{
    return range.start >= 0 && range.start < byteCount && range.start % chunkSize == 0
           && range.endInclusive == chunkEnd(range.start, byteCount, chunkSize);
}

/// Refuses a state folder that is a symbolic link: what is written through it would land wherever
/// it leads. A folder not made yet passes.
Result<void> requireNoLink(const FileManager &fileManager, const QString &folder)
{
    const Result<FileAttributes> attributes = fileManager.attributesOfItem(folder);
    if (attributes && attributes->type == FileAttributes::Type::SymbolicLink)
        return fileSystemFailure(QStringLiteral("open"), folder, ELOOP);
    return {};
}

/// Refuses `path` when it or a folder between the state folder `root` and it is a symbolic link,
/// the topmost one named: a removal through it would reach whatever it leads to.
Result<void>
requireNoLinkBelow(const FileManager &fileManager, const QString &root, const QString &path)
{
    QStringList levels;
    const QString below = root + QLatin1Char('/');
    for (QString level = path; level.size() > below.size() && level.startsWith(below);
         level = parentPath(level))
        levels.prepend(level);
    for (const QString &level : std::as_const(levels))
        PELLWICK_TRY(requireNoLink(fileManager, level));
    return {};
}

/// A decoding failure of the manifest at `path`, naming the file.
tl::unexpected<Error> manifestDecodingFailure(DecodingError error, const QString &path)
{
    error.description = path + QStringLiteral(": ") + error.description;
    return failure(std::move(error));
}

/// The bytes of the manifest file at `path`: a regular file of at most `maximumManifestBytes`.
Result<QByteArray> readManifestFile(const FileManager &fileManager, const QString &path)
{
    PELLWICK_TRY_ASSIGN(std::unique_ptr<FileHandle> file, fileManager.openForReading(path));
    PELLWICK_TRY_ASSIGN(FileAttributes attributes, file->attributes());
    PELLWICK_TRY(requireRegularFile(attributes.type, path));
    auto tooLarge = [&] {
        return manifestDecodingFailure({DecodingError::Kind::DataCorrupted,
                                        QString(),
                                        QStringLiteral("The file is too large for a manifest.")},
                                       path);
    };
    if (attributes.size > maximumManifestBytes)
        return tooLarge();
    QByteArray data(attributes.size + 1, Qt::Uninitialized);
    qsizetype filled = 0;
    // One byte more than the file had: a file still growing is refused, never read on and on.
    while (filled < data.size()) {
        PELLWICK_TRY_ASSIGN(qint64 n, file->read(data.data() + filled, data.size() - filled));
        if (n == 0)
            break;
        filled += n;
    }
    if (filled > attributes.size)
        return tooLarge();
    data.truncate(filled);
    return data;
}

/// The record decoded from the state file at `path` in `folder`, or no value when there is none;
/// a folder that is a symbolic link is refused, and a decoding failure names the file.
template<typename Record>
Result<std::optional<Record>> readStateFile(const FileManager &fileManager,
                                            const QString &folder,
                                            const QString &path,
                                            Result<Record> (*decode)(const QByteArray &))
{
    PELLWICK_TRY(requireNoLink(fileManager, folder));
    if (!fileManager.fileExists(path))
        return std::optional<Record>();
    PELLWICK_TRY_ASSIGN(QByteArray data, readManifestFile(fileManager, path));
    Result<Record> record = decode(data);
    if (!record) {
        if (const DecodingError *error = record.error().template as<DecodingError>())
            return manifestDecodingFailure(*error, path);
        return tl::unexpected<Error>(std::move(record).error());
    }
    return std::optional<Record>(std::move(*record));
}

/// Refuses a part file that is not a regular file of exactly the range's `byteCount` bytes: a
/// device such as /dev/zero would never end, and a part of another length is not the range.
Result<void> requirePartOfLength(const FileHandle &part, qint64 byteCount, const QString &path)
{
    PELLWICK_TRY_ASSIGN(FileAttributes attributes, part.attributes());
    PELLWICK_TRY(requireRegularFile(attributes.type, path));
    if (attributes.size != byteCount)
        return fileSystemFailure(
            QStringLiteral("read"), path, attributes.size > byteCount ? EFBIG : EIO);
    return {};
}

/// The chunk ranges of an artifact in ascending order without those already recorded, produced
/// one at a time: a damaged byte count (say 2^62) costs nothing until its ranges are fetched.
class MissingRanges
{
public:
    MissingRanges(const RestoreTransferManifest &manifest, qint64 chunkSize)
        : m_byteCount(manifest.expectedByteCount)
        , m_chunkSize(std::max<qint64>(chunkSize, 1))
    {
        for (const RestoreByteRange &range : manifest.completedRanges)
            m_completed.emplace(range.start, range.endInclusive);
        advance();
    }

    bool isEmpty() const { return !m_next; }

    RestoreByteRange take()
    {
        Q_ASSERT(m_next);
        const RestoreByteRange range = *m_next;
        advance();
        return range;
    }

private:
    void advance()
    {
        m_next.reset();
        while (m_start < m_byteCount) {
            const RestoreByteRange range{m_start, chunkEnd(m_start, m_byteCount, m_chunkSize)};
            Q_ASSERT(range.start >= 0 && range.start <= range.endInclusive
                     && range.endInclusive < m_byteCount);
            if (m_start > std::numeric_limits<qint64>::max() - m_chunkSize)
                m_start = m_byteCount; // the last chunk a 64-bit offset can start
            else
                m_start += m_chunkSize;
            if (!m_completed.contains({range.start, range.endInclusive})) {
                m_next = range;
                return;
            }
        }
    }

    qint64 m_byteCount;
    qint64 m_chunkSize;
    qint64 m_start = 0;
    std::set<std::pair<qint64, qint64>> m_completed;
    std::optional<RestoreByteRange> m_next;
};

/// Every chunk range of a byte count, in ascending order (for assembly, once all are on disk).
QList<RestoreByteRange> chunkRanges(qint64 byteCount, qint64 chunkSize)
{
    RestoreTransferManifest none;
    none.expectedByteCount = byteCount;
    MissingRanges ranges(none, chunkSize);
    QList<RestoreByteRange> all;
    while (!ranges.isEmpty())
        all.append(ranges.take());
    return all;
}

QString temporaryAssemblyPath(const QString &destination)
{
    const QString suffix
        = QStringLiteral(".tmp-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    // A name near the file system's limit is cut short, so that the hidden name still fits.
    return parentPath(destination) + QStringLiteral("/.")
           + leadingUtf8Bytes(lastPathComponent(destination), maximumNameBytes - 1 - suffix.size())
           + suffix;
}

constexpr qint64 hashBlockSize = qint64{1024} * 1024;

/// Hashes `file` from its current position to its end into `digest`, counting into `hashed`,
/// until `stopped` answers true (checked before each block).
Result<void> hashRemainder(FileHandle &file,
                           Sha256 &digest,
                           qint64 &hashed,
                           const std::function<bool()> &stopped = {})
{
    std::vector<char> buffer(hashBlockSize);
    while (!stopped || !stopped()) {
        PELLWICK_TRY_ASSIGN(qint64 got, file.read(buffer.data(), hashBlockSize));
        if (got == 0)
            return {};
        digest.addData(buffer.data(), got);
        hashed += got;
    }
    return {};
}

} // namespace

/// The digest of an artifact's first `byteCount` bytes.
struct RestoreTransferExecutor::HashedPrefix
{
    Sha256 digest;
    qint64 byteCount = 0;
};

/// With the production hasher only: hashes an artifact's recorded part files, read back from
/// storage in the order of their offsets, on a thread of its own while later ranges download and
/// while the parts are assembled. Verification then hashes only what follows that prefix, read
/// from the assembled file, so the hash that decides still covers every byte as written. Any
/// failure here only makes verification hash the whole assembled file.
class RestoreTransferExecutor::PartsPrefixHash
{
public:
    PartsPrefixHash(const RestoreTransferExecutor &executor,
                    const RestoreTransferManifest &manifest)
        : m_executor(executor)
        , m_id(manifest.id)
        , m_byteCount(manifest.expectedByteCount)
        , m_chunkSize(std::max<qint64>(executor.m_configuration.chunkSizeBytes, 1))
    {
        for (const RestoreByteRange &range : manifest.completedRanges)
            m_recorded.emplace(range.start, range.endInclusive);
        m_task = Executor::shared()->tryStart([this] { work(); });
    }

    PartsPrefixHash(const PartsPrefixHash &) = delete;
    PartsPrefixHash &operator=(const PartsPrefixHash &) = delete;

    ~PartsPrefixHash() { stop(); }

    void recorded(const RestoreByteRange &range)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_recorded.emplace(range.start, range.endInclusive);
        }
        m_changed.notify_all();
    }

    /// Stops the hashing and returns the digest of the artifact's first bytes, if any.
    std::optional<HashedPrefix> take()
    {
        stop();
        if (m_failed || m_hashed == 0)
            return std::nullopt;
        return HashedPrefix{std::move(m_digest), m_hashed};
    }

private:
    void stop()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_changed.notify_all();
        m_task.reset(); // waits for the worker
    }

    bool stopping()
    {
        const std::lock_guard lock(m_mutex);
        return m_stopping;
    }

    void work()
    {
        while (m_hashed < m_byteCount) {
            const qint64 start = m_hashed;
            const qint64 end = chunkEnd(start, m_byteCount, m_chunkSize);
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [&] {
                    return m_stopping || m_recorded.contains({start, end});
                });
                if (m_stopping)
                    return;
            }
            const RestoreByteRange range{start, end};
            const QString path = m_executor.m_layout.partPath(m_id, range);
            Result<std::unique_ptr<FileHandle>> part
                = m_executor.m_fileManager->openForReading(path);
            qint64 read = 0;
            const bool complete
                = part && requirePartOfLength(**part, range.byteCount(), path)
                  && hashRemainder(**part, m_digest, read, [this] { return stopping(); })
                  && (read == range.byteCount() || stopping());
            m_hashed += read;
            if (!complete || read != range.byteCount()) {
                // A part of another length, or one that went away: leave it to verification.
                m_failed = !complete;
                return;
            }
        }
    }

    const RestoreTransferExecutor &m_executor;
    const RestoreTransferIdentifier m_id;
    const qint64 m_byteCount;
    const qint64 m_chunkSize;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::set<std::pair<qint64, qint64>> m_recorded;
    bool m_stopping = false;
    // Written by the worker only, read once it has been joined.
    Sha256 m_digest;
    qint64 m_hashed = 0;
    bool m_failed = false;
    std::optional<Executor::Task> m_task;
};

struct RestoreTransferExecutor::ProgressContext
{
    ProgressCallback callback;
    QUuid transferID;
    qint64 packageByteCount = 0;
    qint64 packageFileCount = 1;
    qint64 completedPackageByteCount = 0;
    qint64 completedPackageFileCount = 0;
};

/// The fetches of one artifact in flight. Up to `parallel` worker threads take started ranges in
/// turn, each streaming a range's body into a hidden file in the parts folder and flushing it; a
/// worker keeps its connection from one range to the next. Results are taken in completion order
/// by the one thread that owns the manifest. Destroying it stops the fetches still running,
/// removes their files and joins the workers.
class RestoreTransferExecutor::RangeDownload
{
public:
    struct Outcome
    {
        RestoreByteRange range;
        QString temporaryPath;
        Result<qint64> length;
    };

    RangeDownload(const RestoreTransferExecutor &executor,
                  QString url,
                  QString partsPath,
                  int parallel,
                  const std::stop_token &runStop)
        : m_executor(executor)
        , m_url(std::move(url))
        , m_partsPath(std::move(partsPath))
        , m_parallel(parallel)
        , m_forwardStop(runStop, [this] { m_stop.request_stop(); })
    {}

    RangeDownload(const RangeDownload &) = delete;
    RangeDownload &operator=(const RangeDownload &) = delete;

    ~RangeDownload()
    {
        m_stop.request_stop();
        while (m_inFlight > 0)
            discard(next());
        {
            const std::lock_guard lock(m_mutex);
            m_closing = true;
        }
        m_changed.notify_all();
        m_workers.clear(); // waits for each worker
    }

    int inFlight() const { return m_inFlight; }

    void start(const RestoreByteRange &range)
    {
        ++m_inFlight;
        const QString temporary = m_partsPath
                                  + QStringLiteral("/.%1-%2.part.tmp-%3")
                                        .arg(range.start)
                                        .arg(range.endInclusive)
                                        .arg(QUuid::createUuid().toString(QUuid::WithoutBraces));
        {
            const std::lock_guard lock(m_mutex);
            m_jobs.push_back({range, temporary});
        }
        m_changed.notify_all();
        if (static_cast<int>(m_workers.size()) < std::min(m_inFlight, m_parallel)) {
            if (std::optional<Executor::Task> worker
                = Executor::shared()->tryStart([this] { work(); })) {
                m_workers.push_back(std::move(*worker));
                return;
            }
        }
        if (m_workers.empty()) {
            // No thread to be had: this fetch runs here, which only costs parallelism.
            if (std::optional<Job> job = takeJob(false))
                finish({job->range, job->temporaryPath, fetch(*job)});
        }
    }

    /// Blocks until a fetch has finished.
    Outcome next()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_outcomes.empty(); });
        Outcome outcome = std::move(m_outcomes.front());
        m_outcomes.pop_front();
        --m_inFlight;
        return outcome;
    }

    void discard(const Outcome &outcome) const
    {
        (void) m_executor.m_fileManager->removeItem(outcome.temporaryPath);
    }

private:
    struct Job
    {
        RestoreByteRange range;
        QString temporaryPath;
    };

    std::optional<Job> takeJob(bool wait)
    {
        std::unique_lock lock(m_mutex);
        if (wait)
            m_changed.wait(lock, [this] { return !m_jobs.empty() || m_closing; });
        if (m_jobs.empty())
            return std::nullopt;
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        return job;
    }

    void work()
    {
        while (std::optional<Job> job = takeJob(true))
            finish({job->range, job->temporaryPath, fetch(*job)});
    }

    Result<qint64> fetch(const Job &job) const
    {
        if (m_stop.get_token().stop_requested())
            return cancelled();
        const FileManager &files = *m_executor.m_fileManager;
        PELLWICK_TRY(files.createFile(job.temporaryPath));
        PELLWICK_TRY_ASSIGN(std::unique_ptr<FileHandle> file,
                            files.openForWriting(job.temporaryPath));
        Result<qint64> length
            = m_executor.m_rangeFetcher->download(m_url, job.range, *file, m_stop.get_token());
        // A body of the right length must be on storage before the manifest may name it.
        if (length && *length == job.range.byteCount()) {
            if (Result<void> synchronized = file->synchronize(); !synchronized)
                return tl::unexpected<Error>(std::move(synchronized).error());
        }
        file->close();
        return length;
    }

    void finish(Outcome outcome)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_outcomes.push_back(std::move(outcome));
        }
        m_changed.notify_all();
    }

    const RestoreTransferExecutor &m_executor;
    const QString m_url;
    const QString m_partsPath;
    const int m_parallel;
    std::stop_source m_stop;
    std::stop_callback<std::function<void()>> m_forwardStop;
    std::vector<Executor::Task> m_workers;
    int m_inFlight = 0; // touched by the owning thread only
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Job> m_jobs;
    std::deque<Outcome> m_outcomes;
    bool m_closing = false;
};

RestoreTransferExecutor::RestoreTransferExecutor(
    QString rootPath,
    RestoreTransferConfiguration configuration,
    std::shared_ptr<const RestoreRangeFetching> rangeFetcher,
    std::shared_ptr<const ContentHashing> contentHasher,
    std::shared_ptr<const RestoreTransferClock> clock,
    std::shared_ptr<const FileManager> fileManager,
    IsPaused isPaused)
    : m_layout{std::move(rootPath)}
    , m_configuration(configuration)
    , m_rangeFetcher(std::move(rangeFetcher))
    , m_contentHasher(std::move(contentHasher))
    , m_clock(std::move(clock))
    , m_fileManager(std::move(fileManager))
    , m_isPaused(std::move(isPaused))
{}

Result<RestoreTransferManifest>
RestoreTransferExecutor::execute(const RestoreTransfer &transfer,
                                 const RefreshCapability &refreshCapability,
                                 const ProgressCallback &progressDidChange,
                                 const QUuid &transferID,
                                 std::stop_token stop) const
{
    const qint64 sidecarByteCount = transfer.sidecar ? transfer.sidecar->expectedByteCount : 0;
    ProgressContext rawProgress{progressDidChange,
                                transferID,
                                saturatingByteSum(transfer.expectedByteCount, sidecarByteCount)};
    Result<RestoreTransferManifest> raw = executeArtifact(
        transfer.rawFile(),
        rawProgress,
        [&](std::stop_token refreshStop) -> Result<std::pair<QString, Date>> {
            PELLWICK_TRY_ASSIGN(RestoreTransferCapability capability,
                                refreshCapability(std::move(refreshStop)));
            return std::pair{capability.transferURL, capability.expiresAt};
        },
        stop);
    if (!raw || !transfer.sidecar)
        return raw;

    ProgressContext sidecarProgress = rawProgress;
    sidecarProgress.completedPackageByteCount = raw->isComplete ? raw->expectedByteCount : 0;
    Result<RestoreTransferManifest> sidecar = executeArtifact(
        *transfer.sidecar,
        sidecarProgress,
        [&](std::stop_token refreshStop) -> Result<std::pair<QString, Date>> {
            PELLWICK_TRY_ASSIGN(RestoreTransferCapability capability,
                                refreshCapability(std::move(refreshStop)));
            if (!capability.sidecar)
                return restoreFailure(RestoreTransferError::MissingSidecarCapability{});
            return std::pair{capability.sidecar->transferURL, capability.sidecar->expiresAt};
        },
        stop);
    if (!sidecar)
        return tl::unexpected<Error>(std::move(sidecar).error());
    return raw;
}

Result<std::optional<RestoreTransferManifest>>
RestoreTransferExecutor::loadManifest(const RestoreTransferIdentifier &id) const
{
    const QString path = m_layout.manifestPath(id);
    PELLWICK_TRY_ASSIGN(
        std::optional<RestoreTransferManifest> manifest,
        readStateFile(
            *m_fileManager, m_layout.manifestsPath(), path, RestoreTransferManifest::decode));
    // Its parts folder and every file it names follow from the id: another transfer's manifest
    // here would lead this one into that transfer's state.
    if (manifest && manifest->id != id)
        return manifestDecodingFailure(
            {DecodingError::Kind::DataCorrupted,
             QStringLiteral("id"),
             QStringLiteral("The manifest is that of %1.").arg(manifest->id.fileStem())},
            path);
    return manifest;
}

Result<void> RestoreTransferExecutor::saveManifest(const RestoreTransferManifest &manifest) const
{
    PELLWICK_TRY(createStateFolder(m_layout.manifestsPath()));
    PELLWICK_TRY_ASSIGN(QByteArray data, manifest.encoded());
    return writeFileAtomically(*m_fileManager, m_layout.manifestPath(manifest.id), data);
}

Result<std::optional<RestoreRunOutcome>>
RestoreTransferExecutor::loadRunOutcome(qint64 restoreRequestID) const
{
    const QString path = m_layout.runOutcomePath(restoreRequestID);
    PELLWICK_TRY_ASSIGN(
        std::optional<RestoreRunOutcome> outcome,
        readStateFile(*m_fileManager, m_layout.runOutcomesPath(), path, RestoreRunOutcome::decode));
    if (outcome && outcome->restoreRequestID != restoreRequestID)
        return manifestDecodingFailure(
            {DecodingError::Kind::DataCorrupted,
             QStringLiteral("restoreRequestID"),
             QStringLiteral("The outcome is that of request %1.").arg(outcome->restoreRequestID)},
            path);
    return outcome;
}

Result<void> RestoreTransferExecutor::reserveRunOutcome(qint64 restoreRequestID,
                                                        qint64 byteCount) const
{
    PELLWICK_TRY(createStateFolder(m_layout.runOutcomesPath()));
    const QString room = m_layout.runOutcomeRoomPath(restoreRequestID);
    if (const Result<FileAttributes> kept = m_fileManager->attributesOfItem(room);
        kept && kept->type == FileAttributes::Type::Regular && kept->size >= byteCount)
        return {};
    // Written out, not merely sized: a file with holes would take its room only when written.
    return writeFileAtomically(*m_fileManager, room, QByteArray(byteCount, ' '));
}

Result<void> RestoreTransferExecutor::saveRunOutcome(const RestoreRunOutcome &outcome) const
{
    PELLWICK_TRY(createStateFolder(m_layout.runOutcomesPath()));
    const QString path = m_layout.runOutcomePath(outcome.restoreRequestID);
    const QString room = m_layout.runOutcomeRoomPath(outcome.restoreRequestID);
    const Result<FileAttributes> kept = m_fileManager->attributesOfItem(room);
    if (!kept || kept->type != FileAttributes::Type::Regular) {
        PELLWICK_TRY_ASSIGN(QByteArray data, outcome.encoded());
        PELLWICK_TRY(writeFileAtomically(*m_fileManager, path, data));
    } else {
        PELLWICK_TRY_ASSIGN(const QByteArray data, outcome.encodedWithin(kept->size));
        {
            // Only bytes the file holds are written, and it only shrinks: nothing needs new
            // room. Renamed into place once durable, so a crash leaves the old outcome or the new.
            PELLWICK_TRY_ASSIGN(std::unique_ptr<FileHandle> file,
                                m_fileManager->openForWriting(room));
            PELLWICK_TRY(file->write(data.constData(), data.size()));
            PELLWICK_TRY(file->truncate(data.size()));
            PELLWICK_TRY(file->synchronize());
        }
        PELLWICK_TRY(m_fileManager->replaceItem(room, path));
        PELLWICK_TRY(m_fileManager->synchronizeDirectory(m_layout.runOutcomesPath()));
    }
    // The outcome stored says more than the word that one was not: left behind, the word is
    // never read while the outcome is there.
    const QString unsaved = m_layout.unsavedRunOutcomePath(outcome.restoreRequestID);
    if (m_fileManager->fileExists(unsaved))
        (void) m_fileManager->removeItem(unsaved);
    return {};
}

Result<void> RestoreTransferExecutor::markRunOutcomeUnsaved(qint64 restoreRequestID) const
{
    PELLWICK_TRY(requireNoLink(*m_fileManager, m_layout.runOutcomesPath()));
    const QString unsaved = m_layout.unsavedRunOutcomePath(restoreRequestID);
    const QString room = m_layout.runOutcomeRoomPath(restoreRequestID);
    if (m_fileManager->fileExists(room))
        PELLWICK_TRY(m_fileManager->replaceItem(room, unsaved));
    else
        PELLWICK_TRY(m_fileManager->createFile(unsaved));
    return m_fileManager->synchronizeDirectory(m_layout.runOutcomesPath());
}

bool RestoreTransferExecutor::isRunOutcomeUnsaved(qint64 restoreRequestID) const
{
    return m_fileManager->fileExists(m_layout.unsavedRunOutcomePath(restoreRequestID));
}

Result<void> RestoreTransferExecutor::removeRunOutcome(qint64 restoreRequestID) const
{
    PELLWICK_TRY(requireNoLink(*m_fileManager, m_layout.runOutcomesPath()));
    for (const QString &path : {m_layout.runOutcomePath(restoreRequestID),
                                m_layout.runOutcomeRoomPath(restoreRequestID),
                                m_layout.unsavedRunOutcomePath(restoreRequestID)}) {
        if (m_fileManager->fileExists(path))
            PELLWICK_TRY(m_fileManager->removeItem(path));
    }
    return {};
}

Result<RestoreSpaceNeed> RestoreTransferExecutor::spaceNeeded(const RestoreTransfer &transfer,
                                                              const FileSystemSpace &destination,
                                                              const FileSystemSpace &state) const
{
    RestoreSpaceNeed need;
    QList<RestoreTransferFile> files{transfer.rawFile()};
    if (transfer.sidecar)
        files.append(*transfer.sidecar);
    for (const RestoreTransferFile &file : files) {
        PELLWICK_TRY_ASSIGN(std::optional<RestoreTransferManifest> stored, loadManifest(file.id));
        const qint64 size = std::max<qint64>(file.expectedByteCount, 0);
        QSet<qint64> kept; // starts of the chunks whose parts are there
        if (stored) {
            if (stored->isComplete && stored->destinationPath == file.destinationPath)
                continue;
            if (stored->isComplete)
                restartForNewDestination(*stored);
            adoptFile(*stored, file);
            forgetMissingParts(*stored);
            for (const RestoreByteRange &range : std::as_const(stored->completedRanges))
                kept.insert(range.start);
        } else {
            ++need.manifestFiles;
        }
        qint64 partBytes = 0;
        qint64 partFiles = 1; // the parts folder
        for (const RestoreByteRange &range : chunkRanges(size, m_configuration.chunkSizeBytes)) {
            if (kept.contains(range.start))
                continue;
            partBytes = saturatingByteSum(partBytes, state.allocatedBytes(range.byteCount()));
            ++partFiles;
        }
        need.destinationBytes
            = saturatingByteSum(need.destinationBytes, destination.allocatedBytes(size));
        ++need.destinationFiles;
        need.stateBytes = std::max(need.stateBytes, partBytes);
        need.stateFiles = std::max(need.stateFiles, partFiles);
    }
    return need;
}

Result<RestoreTransferManifest>
RestoreTransferExecutor::executeArtifact(const RestoreTransferFile &file,
                                         const ProgressContext &progress,
                                         const Refresh &refresh,
                                         const std::stop_token &stop) const
{
    PELLWICK_TRY_ASSIGN(std::optional<RestoreTransferManifest> stored, loadManifest(file.id));
    if (stored && stored->isComplete && stored->destinationPath == file.destinationPath) {
        // Parts a run cut short after recording completion did not live to remove.
        PELLWICK_TRY(removeParts(file.id));
        report(progress, TransferProgressPhase::Verifying, file, *stored);
        PELLWICK_TRY(verify(stored->destinationPath, *stored));
        return *stored;
    }
    if (stored) {
        // A run cut short may have left its assembly file, or installed the verified file
        // without living to record it: the first is removed, the second accepted as it is.
        RestoreTransferManifest resumed = std::move(*stored);
        const QString storedDestination = resumed.destinationPath;
        adoptFile(resumed, file);
        PELLWICK_TRY(removeLeftoverAssembly(resumed, storedDestination));
        PELLWICK_TRY_ASSIGN(
            bool installed,
            resumed.destinationHoldsExpectedContent(*m_fileManager, *m_contentHasher));
        if (installed) {
            report(progress, TransferProgressPhase::Verifying, file, resumed);
            // The run that installed it may have ended before it flushed the folder.
            PELLWICK_TRY(m_fileManager->synchronizeDirectory(parentPath(resumed.destinationPath)));
            PELLWICK_TRY(markComplete(resumed));
            return resumed;
        }
    }
    PELLWICK_TRY_ASSIGN(RestoreTransferManifest manifest, preparedManifest(file, refresh, stop));
    // Only the production hasher's result can be had in pieces; any other is asked as it is.
    std::unique_ptr<PartsPrefixHash> prefix;
    if (m_contentHasher->hashIsSha256OfContent())
        prefix = std::make_unique<PartsPrefixHash>(*this, manifest);
    PELLWICK_TRY(downloadMissingRanges(manifest, file, progress, stop, prefix.get()));
    PELLWICK_TRY(finalize(manifest, file, progress, stop, prefix.get()));
    return manifest;
}

Result<RestoreTransferManifest> RestoreTransferExecutor::preparedManifest(
    const RestoreTransferFile &file, const Refresh &refresh, const std::stop_token &stop) const
{
    PELLWICK_TRY(createStateFolder(m_layout.manifestsPath()));
    PELLWICK_TRY(createStateFolder(parentPath(m_layout.partsPath(file.id))));
    PELLWICK_TRY(createStateFolder(m_layout.partsPath(file.id)));
    PELLWICK_TRY(m_fileManager->createDirectory(parentPath(file.destinationPath)));

    PELLWICK_TRY_ASSIGN(std::optional<RestoreTransferManifest> stored, loadManifest(file.id));
    RestoreTransferManifest manifest;
    QString storedDestination;
    if (stored) {
        manifest = std::move(*stored);
        storedDestination = manifest.destinationPath;
        if (manifest.isComplete && manifest.destinationPath != file.destinationPath)
            restartForNewDestination(manifest);
    } else {
        manifest.id = file.id;
        manifest.canonicalFilename = file.canonicalFilename;
        manifest.transferURL = file.transferURL;
        manifest.capabilityExpiresAt = file.capabilityExpiresAt;
    }
    adoptFile(manifest, file);
    if (manifest.isComplete)
        return manifest;
    forgetMissingParts(manifest);
    PELLWICK_TRY(removeLeftoverAssembly(manifest, storedDestination));

    if (manifest.capabilityExpiresAt <= m_clock->now()) {
        PELLWICK_TRY_ASSIGN(auto fresh, refresh(stop));
        manifest.transferURL = fresh.first;
        manifest.capabilityExpiresAt = fresh.second;
    } else {
        manifest.transferURL = file.transferURL;
        manifest.capabilityExpiresAt = file.capabilityExpiresAt;
    }
    PELLWICK_TRY(saveManifest(manifest));
    return manifest;
}

Result<void> RestoreTransferExecutor::downloadMissingRanges(RestoreTransferManifest &manifest,
                                                            const RestoreTransferFile &file,
                                                            const ProgressContext &progress,
                                                            const std::stop_token &stop,
                                                            PartsPrefixHash *prefix) const
{
    MissingRanges missing(manifest, m_configuration.chunkSizeBytes);
    report(progress, TransferProgressPhase::Downloading, file, manifest);
    if (missing.isEmpty())
        return {};

    const QString partsPath = m_layout.partsPath(manifest.id);
    const int parallel = std::max(m_configuration.maximumParallelChunks, 1);
    RangeDownload download(*this, manifest.transferURL, partsPath, parallel, stop);
    while (!missing.isEmpty() && download.inFlight() < parallel)
        download.start(missing.take());
    if (stop.stop_requested())
        return cancelled();

    auto isPaused = [&] { return m_isPaused && m_isPaused(manifest.id); };
    while (download.inFlight() > 0) {
        const RangeDownload::Outcome outcome = download.next();
        auto fail = [&](tl::unexpected<Error> error) {
            download.discard(outcome);
            return error;
        };
        if (isPaused())
            return fail(restoreFailure(RestoreTransferError::Paused{}));
        if (!outcome.length) {
            if (stop.stop_requested())
                return fail(cancelled());
            return fail(tl::unexpected<Error>(outcome.length.error()));
        }
        const qint64 expected = outcome.range.byteCount();
        if (*outcome.length != expected)
            return fail(
                restoreFailure(RestoreTransferError::InvalidRangeData{expected, *outcome.length}));

        if (Result<void> renamed = m_fileManager->replaceItem(
                outcome.temporaryPath, m_layout.partPath(manifest.id, outcome.range));
            !renamed)
            return fail(tl::unexpected<Error>(renamed.error()));
        PELLWICK_TRY(m_fileManager->synchronizeDirectory(partsPath));

        manifest.completedRanges.append(outcome.range);
        std::stable_sort(
            manifest.completedRanges.begin(),
            manifest.completedRanges.end(),
            [](const RestoreByteRange &a, const RestoreByteRange &b) { return a.start < b.start; });
        PELLWICK_TRY(saveManifest(manifest));
        if (prefix)
            prefix->recorded(outcome.range);
        report(progress, TransferProgressPhase::Downloading, file, manifest);

        if (!missing.isEmpty()) {
            if (isPaused())
                return restoreFailure(RestoreTransferError::Paused{});
            download.start(missing.take());
        }
        if (stop.stop_requested())
            return cancelled();
    }
    return {};
}

Result<void> RestoreTransferExecutor::finalize(RestoreTransferManifest &manifest,
                                               const RestoreTransferFile &file,
                                               const ProgressContext &progress,
                                               const std::stop_token &stop,
                                               PartsPrefixHash *prefix) const
{
    report(progress, TransferProgressPhase::Assembling, file, manifest);
    // Named in the manifest before it exists, so that nothing a crash leaves in the user's
    // folder is forgotten.
    manifest.assemblyPath = temporaryAssemblyPath(manifest.destinationPath);
    PELLWICK_TRY(saveManifest(manifest));
    Result<QString> assembled = assembleTemporaryFile(manifest);
    if (!assembled) {
        forgetAssembly(manifest);
        return tl::unexpected<Error>(std::move(assembled).error());
    }
    const QString temporary = *assembled;

    report(progress, TransferProgressPhase::Verifying, file, manifest);
    auto verifyAndInstall = [&]() -> Result<void> {
        if (stop.stop_requested())
            return cancelled();
        std::optional<HashedPrefix> hashed = prefix ? prefix->take() : std::nullopt;
        PELLWICK_TRY(verify(temporary, manifest, hashed ? &*hashed : nullptr));
        if (stop.stop_requested())
            return cancelled();
        return installVerifiedFile(temporary, manifest);
    };
    if (Result<void> installed = verifyAndInstall(); !installed) {
        (void) m_fileManager->removeItem(temporary);
        forgetAssembly(manifest);
        return installed;
    }
    return markComplete(manifest);
}

Result<void> RestoreTransferExecutor::createStateFolder(const QString &path) const
{
    PELLWICK_TRY(requireNoLink(*m_fileManager, path));
    return m_fileManager->createDirectory(path);
}

Result<void> RestoreTransferExecutor::markComplete(RestoreTransferManifest &manifest) const
{
    manifest.isComplete = true;
    manifest.assemblyPath.clear();
    PELLWICK_TRY(saveManifest(manifest));
    // The complete manifest is durable; the parts are no longer needed by anyone.
    return removeParts(manifest.id);
}

Result<void> RestoreTransferExecutor::removeParts(const RestoreTransferIdentifier &id) const
{
    const QString parts = m_layout.partsPath(id);
    PELLWICK_TRY(requireNoLinkBelow(*m_fileManager, m_layout.rootPath, parts));
    if (!m_fileManager->fileExists(parts))
        return {};
    // Not before the manifests folder is on storage: a manifest whose removal or completion a
    // power cut undid would name ranges whose parts are gone. A folder that is not there holds
    // no manifest to come back.
    const QString manifests = m_layout.manifestsPath();
    if (Result<void> flushed = m_fileManager->synchronizeDirectory(manifests);
        !flushed && !leadsNowhere(flushed.error()))
        return flushed;
    (void) m_fileManager->removeItem(parts);
    return {};
}

void RestoreTransferExecutor::adoptFile(RestoreTransferManifest &manifest,
                                        const RestoreTransferFile &file) const
{
    manifest.destinationPath = file.destinationPath;
    manifest.expectedByteCount = file.expectedByteCount;
    manifest.expectedContentHash = file.expectedContentHash;
    // What no run of this artifact would record (another chunk size, overlaps, ranges beyond the
    // file, one range twice) is dropped: it would only count bytes twice or that do not exist.
    QList<RestoreByteRange> &ranges = manifest.completedRanges;
    const qint64 chunkSize = std::max<qint64>(m_configuration.chunkSizeBytes, 1);
    ranges.removeIf([&](const RestoreByteRange &range) {
        return !isChunkRange(range, manifest.expectedByteCount, chunkSize);
    });
    std::sort(ranges.begin(), ranges.end(), [](const auto &a, const auto &b) {
        return a.start < b.start;
    });
    ranges.erase(std::unique(ranges.begin(), ranges.end()), ranges.end());
}

void RestoreTransferExecutor::forgetMissingParts(RestoreTransferManifest &manifest) const
{
    // A part that cannot be examined stays recorded: assembly names it if it is truly gone.
    manifest.completedRanges.removeIf([&](const RestoreByteRange &range) {
        const Result<FileAttributes> part
            = m_fileManager->attributesOfItem(m_layout.partPath(manifest.id, range));
        return !part && leadsNowhere(part.error());
    });
}

qint64 RestoreTransferExecutor::countedByteCount(const RestoreTransferManifest &manifest) const
{
    // Ranges are counted as `adoptFile` keeps them, so a stored manifest never shows more than
    // its file.
    const qint64 chunkSize = std::max<qint64>(m_configuration.chunkSizeBytes, 1);
    qint64 counted = 0;
    qint64 lastStart = -1;
    for (const RestoreByteRange &range : manifest.completedRanges) {
        if (range.start > lastStart && isChunkRange(range, manifest.expectedByteCount, chunkSize)) {
            counted += range.byteCount();
            lastStart = range.start;
        }
    }
    return counted;
}

void RestoreTransferExecutor::restartForNewDestination(RestoreTransferManifest &manifest)
{
    // The file installed at the old destination is left as it is; its parts went when it was
    // recorded complete, so the artifact is fetched again for the new one.
    manifest.isComplete = false;
    manifest.completedRanges.clear();
}

void RestoreTransferExecutor::forgetAssembly(RestoreTransferManifest &manifest) const
{
    // One a power loss could bring back, or one that cannot be examined, must still be named:
    // only a removal made durable is forgotten.
    const Result<FileAttributes> attributes
        = m_fileManager->attributesOfItem(manifest.assemblyPath);
    if (attributes || !leadsNowhere(attributes.error())
        || !m_fileManager->synchronizeDirectory(parentPath(manifest.assemblyPath)))
        return;
    manifest.assemblyPath.clear();
    // Should this fail, the next run finds the name of a file that no longer exists.
    (void) saveManifest(manifest);
}

Result<void>
RestoreTransferExecutor::removeLeftoverAssembly(RestoreTransferManifest &manifest,
                                                const QString &replacedDestination) const
{
    const QString recorded = std::exchange(manifest.assemblyPath, QString());
    if (recorded.isEmpty() || !recorded.startsWith(QLatin1Char('/')))
        return {};
    // Only a regular file with a name of the executor's own making, lying directly beside the
    // destination, never what a damaged manifest might point at elsewhere.
    static const QRegularExpression ownName(QStringLiteral(
        "^\\..+\\.tmp-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    const QString leftover = QDir::cleanPath(recorded);
    auto besideDestination = [&](const QString &destination) {
        return !destination.isEmpty()
               && parentPath(leftover) == QDir::cleanPath(parentPath(destination));
    };
    if (!ownName.match(lastPathComponent(leftover)).hasMatch()
        || !(besideDestination(manifest.destinationPath) || besideDestination(replacedDestination)))
        return {};
    // Named until it is known to be gone: one that cannot be examined or removed may still be
    // there, and is tried again by the next run.
    auto keep = [&](const Error &error) {
        manifest.assemblyPath = recorded;
        return tl::unexpected<Error>(error);
    };
    const Result<FileAttributes> attributes = m_fileManager->attributesOfItem(leftover);
    if (!attributes && !leadsNowhere(attributes.error()))
        return keep(attributes.error());
    if (attributes) {
        if (attributes->type != FileAttributes::Type::Regular)
            return {};
        if (Result<void> removed = m_fileManager->removeItem(leftover);
            !removed && !leadsNowhere(removed.error()))
            return keep(removed.error());
    }
    // Made durable before the manifest forgets it, also when an earlier run removed it: one
    // brought back by a power loss would lie in the user's folder with nothing naming it. A
    // folder that is gone holds nothing to name.
    const QString folder = parentPath(leftover);
    if (Result<void> flushed = m_fileManager->synchronizeDirectory(folder);
        !flushed && m_fileManager->fileExists(folder))
        return keep(flushed.error());
    return {};
}

Result<QString>
RestoreTransferExecutor::assembleTemporaryFile(const RestoreTransferManifest &manifest) const
{
    const QString &temporary = manifest.assemblyPath;
    // Its own failure is the one to report: a disk out of room or file entries says so here.
    PELLWICK_TRY(m_fileManager->createFile(temporary));
    PELLWICK_TRY_ASSIGN(std::unique_ptr<FileHandle> output,
                        m_fileManager->openForWriting(temporary));

    auto assemble = [&]() -> Result<void> {
        for (const RestoreByteRange &range :
             chunkRanges(manifest.expectedByteCount, m_configuration.chunkSizeBytes)) {
            const QString part = m_layout.partPath(manifest.id, range);
            PELLWICK_TRY_ASSIGN(std::unique_ptr<FileHandle> input,
                                m_fileManager->openForReading(part));
            PELLWICK_TRY(requirePartOfLength(*input, range.byteCount(), part));
            qint64 copied = 0;
            PELLWICK_TRY(copyFileContents(
                *input,
                *output,
                part,
                temporary,
                [&](qint64 total) { copied = total; },
                range.byteCount()));
            if (copied != range.byteCount()) // cut short since it was opened
                return fileSystemFailure(QStringLiteral("read"), part, EIO);
        }
        return output->synchronize();
    };
    Result<void> assembled = assemble();
    output->close();
    if (!assembled) {
        (void) m_fileManager->removeItem(temporary);
        return tl::unexpected<Error>(assembled.error());
    }
    return temporary;
}

Result<void> RestoreTransferExecutor::verify(const QString &path,
                                             const RestoreTransferManifest &manifest,
                                             HashedPrefix *prefix) const
{
    PELLWICK_TRY_ASSIGN(FileAttributes attributes, m_fileManager->attributesOfItem(path));
    const qint64 size = attributes.type == FileAttributes::Type::Regular ? attributes.size : -1;
    if (size != manifest.expectedByteCount)
        return restoreFailure(
            RestoreTransferError::ByteCountMismatch{manifest.expectedByteCount, size});
    PELLWICK_TRY_ASSIGN(
        QString hash, prefix ? hashAfterPrefix(path, *prefix) : m_contentHasher->contentHash(path));
    if (hash != manifest.expectedContentHash)
        return restoreFailure(
            RestoreTransferError::ContentHashMismatch{manifest.expectedContentHash, hash});
    return {};
}

Result<QString> RestoreTransferExecutor::hashAfterPrefix(const QString &path,
                                                         HashedPrefix &prefix) const
{
    PELLWICK_TRY_ASSIGN(std::unique_ptr<FileHandle> file, m_fileManager->openForReading(path));
    PELLWICK_TRY(file->seek(prefix.byteCount));
    qint64 hashed = 0;
    PELLWICK_TRY(hashRemainder(*file, prefix.digest, hashed));
    return QString::fromLatin1(prefix.digest.result().toHex());
}

Result<void>
RestoreTransferExecutor::installVerifiedFile(const QString &temporaryPath,
                                             const RestoreTransferManifest &manifest) const
{
    const QString destination = manifest.destinationPath;
    // A file already there is never replaced; only one holding exactly the verified content
    // (installed by a run that did not live to record it) is accepted as this one.
    auto existing = [&]() -> Result<void> {
        PELLWICK_TRY_ASSIGN(
            bool same, manifest.destinationHoldsExpectedContent(*m_fileManager, *m_contentHasher));
        if (!same)
            return restoreFailure(RestoreTransferError::DestinationAlreadyExists{destination});
        (void) m_fileManager->removeItem(temporaryPath);
        return m_fileManager->synchronizeDirectory(parentPath(destination));
    };
    if (m_fileManager->fileExists(destination))
        return existing();
    if (Result<void> moved = m_fileManager->moveItem(temporaryPath, destination); !moved) {
        const FileSystemError *error = moved.error().as<FileSystemError>();
        if (error && error->code == EEXIST)
            return existing();
        return moved;
    }
    return m_fileManager->synchronizeDirectory(parentPath(destination));
}

Result<void>
RestoreTransferExecutor::discardIncompleteArtifacts(const RestoreTransferIdentifier &id) const
{
    PELLWICK_TRY_ASSIGN(std::optional<RestoreTransferManifest> stored, loadManifest(id));
    if (stored && stored->isComplete)
        return {};
    PELLWICK_TRY(requireNoLinkBelow(*m_fileManager, m_layout.rootPath, m_layout.partsPath(id)));
    // Its manifest goes only once the assembly file's removal is durable.
    if (stored)
        PELLWICK_TRY(removeLeftoverAssembly(*stored));
    (void) m_fileManager->removeItem(m_layout.manifestPath(id));
    return removeParts(id);
}

void RestoreTransferExecutor::report(const ProgressContext &progress,
                                     TransferProgressPhase phase,
                                     const RestoreTransferFile &file,
                                     const RestoreTransferManifest &manifest) const
{
    if (!progress.callback)
        return;
    const qint64 completed = countedByteCount(manifest);
    TransferProgress row;
    row.id = progress.transferID;
    row.operationName = operationName;
    row.phase = phase;
    row.currentFilename = file.canonicalFilename;
    if (phase == TransferProgressPhase::Downloading) {
        row.currentFileCompletedByteCount = completed;
        row.currentFileTotalByteCount = file.expectedByteCount;
    }
    row.completedByteCount = saturatingByteSum(progress.completedPackageByteCount, completed);
    row.totalByteCount = progress.packageByteCount;
    row.completedPackageCount = progress.completedPackageFileCount;
    row.totalPackageCount = progress.packageFileCount;
    progress.callback(row);
}

} // namespace Pellwick
