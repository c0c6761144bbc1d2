#include "IngestCache.h"

#include <PellwickCore/Ingest/CacheRelativePath.h>
#include <PellwickCore/Ingest/VerifiedFileCopy.h>
#include <PellwickCore/Support/AtomicFile.h>
#include <PellwickCore/Support/DirectoryWalk.h>
#include <PellwickCore/Support/Executor.h>

#include <QDate>
#include <QDir>
#include <QHash>
#include <QMap>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

namespace Pellwick {

const QString IngestCache::incompleteCopyMarkerName = QStringLiteral(".pellwick-copy-in-progress");
const QString IngestCache::copyOperationName = QStringLiteral("Add to Ingest Cache");

namespace {

using ItemGroup = QList<const ImportReviewItem *>;

/// How many files of a source are copied at once (see `CopyIn::copyFiles`): enough to keep the
/// disk writing while earlier copies are read back and hashed.
constexpr size_t filesInFlight = 4;

/// root/YYYY/MM/DD-<12 hex digits of a new random UUID>, dated in the local time zone.
QString newBatchRelativePath(const QDate &now)
{
    const QString batchID = QUuid::createUuid()
                                .toString(QUuid::WithoutBraces)
                                .remove(QLatin1Char('-'))
                                .toLower()
                                .left(12);
    return QString::asprintf("%04d/%02d/%02d-", now.year(), now.month(), now.day()) + batchID;
}

/// The items of one name, each given to the source of that name whose root holds it (the
/// deepest such root), so that two cards with one volume name are never copied relative to the
/// same root. An item under none of them stays with the first source, which then reports it as
/// not under its root. Returns one group per source, in review order, empty ones left out.
QList<std::pair<const ImportScanVolume *, ItemGroup>>
groupsBySource(const QList<const ImportScanVolume *> &sources, const ItemGroup &items)
{
    QList<ItemGroup> groups(sources.size());
    for (const ImportReviewItem *item : items) {
        qsizetype chosen = 0;
        qsizetype chosenRootLength = -1;
        for (qsizetype i = 0; i < sources.size(); ++i) {
            const QString root = QDir::cleanPath(sources.at(i)->url);
            if (root.size() > chosenRootLength && CacheRelativePath::value(item->url, root)) {
                chosen = i;
                chosenRootLength = root.size();
            }
        }
        groups[chosen].append(item);
    }
    QList<std::pair<const ImportScanVolume *, ItemGroup>> result;
    for (qsizetype i = 0; i < sources.size(); ++i) {
        if (!groups.at(i).isEmpty())
            result.append({sources.at(i), groups.at(i)});
    }
    return result;
}

/// One file of a source's copy-in, in order: a RAW original or its sidecar.
struct FileStep
{
    QString file;
    qint64 reviewByteCount = 0;
    bool endsPackage = false;
};

/// What the copy of one file went through, for its progress rows.
struct FileCopyEvent
{
    enum class Kind {
        VerifyingExisting, ///< a copy of an interrupted copy-in is there and is being hashed
        CopyStarted,
        Written, ///< `written` bytes so far
        WillVerify,
        Verified, ///< the copy, old or new, holds the source's bytes
    };

    Kind kind = Kind::CopyStarted;
    QString name;
    qint64 size = 0;
    qint64 written = 0;
};

/// Copies and verifies one file, on a thread of the shared `Executor` when one is free, recording
/// its events for the copy-in's thread to turn into progress rows; otherwise on the copy-in's
/// thread once it is the oldest file, its events handled as they occur.
class FileCopyTask
{
public:
    FileCopyTask(const IngestCache &cache,
                 QString file,
                 QString sourceRoot,
                 QString batch,
                 std::stop_token stop)
        : m_cache(cache)
        , m_file(std::move(file))
        , m_sourceRoot(std::move(sourceRoot))
        , m_batch(std::move(batch))
        , m_stop(std::move(stop))
    {}

    FileCopyTask(const FileCopyTask &) = delete;
    FileCopyTask &operator=(const FileCopyTask &) = delete;

    ~FileCopyTask() { wait(); }

    /// Starts the copy on another thread if it has not started and a thread is free.
    void tryStart()
    {
        if (m_started)
            return;
        m_task = Executor::shared()->tryStart([this] { finish(run()); });
        m_started = m_task.has_value();
    }

    /// Waits for a copy started on another thread.
    void wait()
    {
        if (m_task)
            m_task->wait();
    }

    /// Runs the copy here if it has not started, handing each event to `handle` as it occurs;
    /// otherwise hands over each event of the other thread as it arrives, until the copy has
    /// finished. Either way on the calling thread.
    template<typename F>
    void finishHere(F &&handle)
    {
        if (!m_started) {
            m_started = true;
            m_handleHere = std::forward<F>(handle);
            m_result = run();
            return;
        }
        for (;;) {
            std::vector<FileCopyEvent> events;
            bool finished = false;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [this] { return !m_events.empty() || m_finished; });
                events.swap(m_events);
                finished = m_finished;
            }
            for (const FileCopyEvent &event : events)
                handle(event);
            if (finished) {
                wait();
                return;
            }
        }
    }

    const Result<void> &result() const { return m_result; }

    /// The copy's SHA-256 and attributes once it is verified in place, when the hasher gives the
    /// SHA-256 of content and the attributes could be read before the copy was hashed.
    const std::optional<VerifiedCacheFile> &verified() const { return m_verified; }

    /// The path of the copy in the batch; empty before the copy has run.
    const QString &destination() const { return m_destination; }

private:
    void record(FileCopyEvent::Kind kind, qint64 size, qint64 written = 0)
    {
        if (m_handleHere) {
            m_handleHere({kind, m_name, size, written});
            return;
        }
        const std::lock_guard lock(m_mutex);
        m_events.push_back({kind, m_name, size, written});
        m_changed.notify_one();
    }

    void finish(Result<void> result)
    {
        const std::lock_guard lock(m_mutex);
        m_result = std::move(result);
        m_finished = true;
        m_changed.notify_one();
    }

    Result<void> run()
    {
        if (m_stop.stop_requested())
            return failure(CancellationError{});
        m_name = lastPathComponent(m_file);
        const std::optional<QString> relativePath = CacheRelativePath::value(m_file, m_sourceRoot);
        if (!relativePath)
            return failure(IngestCacheError::verificationFailed(m_name));
        const QString destination = appendingPathComponent(m_batch, *relativePath);
        m_destination = QDir::cleanPath(destination);
        const FileManager &fileManager = m_cache.fileManager();
        const ContentHashing &hasher = m_cache.contentHasher();
        // Taken before the copy's bytes are read for its hash: any later write changes them.
        std::optional<FileAttributes> hashedAs;

        PELLWICK_TRY_ASSIGN(FileAttributes attributes, fileManager.attributesOfItem(m_file));
        const qint64 size = attributes.size;

        if (fileManager.fileExists(destination)) {
            // Copied by an interrupted copy-in: count it only when its bytes are the source's.
            // Only a file of the cache's own can be a copy: a link that leads back to the source
            // would pass the comparison without a byte in the cache.
            PELLWICK_TRY_ASSIGN(FileAttributes existing, fileManager.attributesOfItem(destination));
            if (existing.type != FileAttributes::Type::Regular)
                return failure(IngestCacheError::verificationFailed(*relativePath));
            record(FileCopyEvent::Kind::VerifyingExisting, size);
            PELLWICK_TRY_ASSIGN(QString sourceHash, hasher.contentHash(m_file, m_stop));
            PELLWICK_TRY_ASSIGN(QString destinationHash, hasher.contentHash(destination, m_stop));
            if (sourceHash != destinationHash)
                return failure(IngestCacheError::verificationFailed(*relativePath));
            // The run that moved it into place may have ended before it flushed the folder: the
            // name is made durable before the copy counts as done.
            if (Result<void> flushed = fileManager.synchronizeDirectory(parentPath(destination));
                !flushed)
                return failure(IngestCacheError::verificationFailed(
                    *relativePath, ErrorCause(std::move(flushed).error())));
            noteVerified(destinationHash, existing);
            record(FileCopyEvent::Kind::Verified, size);
            return {};
        }

        record(FileCopyEvent::Kind::CopyStarted, size);
        QString verifiedHash;
        Result<void> copied = VerifiedFileCopy::copy(
            m_file,
            destination,
            fileManager,
            hasher,
            [&] {
                // The partial file keeps its attributes when it is moved into place.
                if (hasher.hashIsSha256OfContent()) {
                    if (Result<FileAttributes> partial
                        = fileManager.attributesOfItem(VerifiedFileCopy::partialURL(destination)))
                        hashedAs = *partial;
                }
                record(FileCopyEvent::Kind::WillVerify, size);
            },
            [&](qint64 written) { record(FileCopyEvent::Kind::Written, size, written); },
            &verifiedHash,
            m_stop);
        if (!copied && copied.error().is<CancellationError>())
            return copied;
        if (!copied)
            return failure(IngestCacheError::verificationFailed(
                *relativePath, ErrorCause(std::move(copied).error())));
        if (hashedAs)
            noteVerified(verifiedHash, *hashedAs);
        record(FileCopyEvent::Kind::Verified, size);
        return {};
    }

    void noteVerified(const QString &contentHash, const FileAttributes &attributes)
    {
        if (m_cache.contentHasher().hashIsSha256OfContent())
            m_verified = VerifiedCacheFile{contentHash, attributes};
    }

    const IngestCache &m_cache;
    const QString m_file;
    const QString m_sourceRoot;
    const QString m_batch;
    const std::stop_token m_stop;
    QString m_name;
    QString m_destination;
    std::optional<VerifiedCacheFile> m_verified;
    bool m_started = false;
    std::optional<Executor::Task> m_task;
    std::function<void(const FileCopyEvent &)> m_handleHere;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<FileCopyEvent> m_events;
    bool m_finished = false;
    Result<void> m_result;
};

} // namespace

struct IngestCache::CopyProgressState
{
    qint64 completedBytes = 0;
    qint64 completedPackages = 0;
};

/// One run of `copy`: the cache, the progress sink and the totals shared by all sources.
class IngestCache::CopyIn
{
public:
    CopyIn(const IngestCache &cache,
           const TransferProgressSink &progress,
           const QUuid &transferID,
           qint64 totalBytes,
           qint64 totalPackages,
           std::stop_token stop)
        : m_cache(cache)
        , m_progress(progress)
        , m_transferID(transferID)
        , m_totalBytes(totalBytes)
        , m_totalPackages(totalPackages)
        , m_stop(std::move(stop))
    {}

    void emitRow(TransferProgressPhase phase,
                 const std::optional<QString> &currentFilename = std::nullopt,
                 std::optional<qint64> currentCompleted = std::nullopt,
                 std::optional<qint64> currentTotal = std::nullopt,
                 std::optional<qint64> completedBytesOverride = std::nullopt) const
    {
        if (!m_progress)
            return;
        m_progress(TransferProgress{m_transferID,
                                    copyOperationName,
                                    phase,
                                    std::nullopt,
                                    currentFilename,
                                    currentCompleted,
                                    currentTotal,
                                    completedBytesOverride.value_or(m_state.completedBytes),
                                    m_totalBytes,
                                    m_state.completedPackages,
                                    m_totalPackages});
    }

    bool stopRequested() const { return m_stop.stop_requested(); }

    Result<IngestCacheCopy> copySource(const ItemGroup &items, const ImportScanVolume &source)
    {
        PELLWICK_TRY_ASSIGN(ImportSourceIdentity identity, importSourceIdentity(items, source));
        const QString batch = incompleteDestinationRoot(identity);
        PELLWICK_TRY(m_cache.fileManager().createDirectory(batch));
        PELLWICK_TRY(m_cache.writeIncompleteCopyMarker(batch, {identity, std::nullopt}));

        QList<FileStep> steps;
        for (const ImportReviewItem *item : items) {
            steps.append({item->url, item->byteCount, !item->sidecar});
            if (item->sidecar)
                steps.append({item->sidecar->url, item->sidecar->byteCount, true});
        }
        QHash<QString, VerifiedCacheFile> verified;
        PELLWICK_TRY_ASSIGN(qint64 copiedBytes, copyFiles(steps, source.url, batch, verified));

        PELLWICK_TRY(m_cache.fileManager().removeItem(
            appendingPathComponent(batch, incompleteCopyMarkerName)));
        // The batch counts as finished only once that is durable: a marker a power cut brought
        // back would make the batch's files, which records by then name, need attention again.
        PELLWICK_TRY(m_cache.fileManager().synchronizeDirectory(batch));
        return IngestCacheCopy{source.name,
                               batch,
                               source.url,
                               identity,
                               items.size(),
                               copiedBytes,
                               std::move(verified)};
    }

private:
    Result<ImportSourceIdentity> importSourceIdentity(const ItemGroup &items,
                                                      const ImportScanVolume &source) const
    {
        if (source.volumeUUID)
            return ImportSourceIdentity::volume(*source.volumeUUID);

        // Always SHA-256, whatever hasher the cache verifies copies with: the identity is stored.
        const SHA256ContentHasher sha256;
        QStringList lines;
        const auto addLine = [&](const QString &file) -> Result<void> {
            PELLWICK_TRY_ASSIGN(QString hash, sha256.contentHash(file, m_stop));
            lines.append(
                CacheRelativePath::value(file, source.url).value_or(lastPathComponent(file))
                + QLatin1Char(':') + hash);
            return {};
        };
        for (const ImportReviewItem *item : items) {
            PELLWICK_TRY(addLine(item->url));
            if (item->sidecar)
                PELLWICK_TRY(addLine(item->sidecar->url));
        }
        return ImportSourceIdentity::folder(
            resolvingSymlinksInPath(m_cache.fileManager(), source.url),
            folderManifestHash(std::move(lines)));
    }

    /// The batch of an interrupted copy-in of the same source, or a new one dated today.
    QString incompleteDestinationRoot(const ImportSourceIdentity &identity) const
    {
        Result<QSet<QString>> incomplete = m_cache.incompleteSourceFolderURLs();
        QStringList folders
            = incomplete ? QStringList(incomplete->cbegin(), incomplete->cend()) : QStringList();
        folders.sort(); // the same choice every time, should several match
        for (const QString &folder : folders) {
            Result<IncompleteCopyMarker> marker = m_cache.readIncompleteCopyMarker(folder);
            if (!marker)
                continue;
            if (marker->sourceIdentity) {
                if (*marker->sourceIdentity == identity)
                    return folder;
                continue;
            }
            const auto *folderIdentity = std::get_if<ImportSourceIdentity::Folder>(&identity.value);
            if (folderIdentity && marker->sourceURL
                && resolvingSymlinksInPath(m_cache.fileManager(), *marker->sourceURL)
                       == folderIdentity->canonicalPath) {
                return folder;
            }
        }
        return appendingPathComponent(m_cache.rootURL(),
                                      newBatchRelativePath(QDate::currentDate()));
    }

    /// Copies and verifies the files of a source in order, up to `filesInFlight` at a time when
    /// the hasher allows concurrent calls: while one file is read back and hashed, the next ones
    /// are written, so the disk is never idle. Each file's progress rows are sent on this thread
    /// exactly as a copy of one file after the other would send them: live for the oldest file in
    /// flight, a later one's as soon as it becomes the oldest. A file listed again (a sidecar
    /// shared by two RAW originals) waits until its first copy has finished and then finds it in
    /// place, as it would one file after the other. A failure ends the copy once the files in
    /// flight beside it have finished (each of them is either verified in place or absent).
    /// Returns the review byte count of the files copied; adds each file verified with its
    /// SHA-256 to `verified`.
    Result<qint64> copyFiles(const QList<FileStep> &steps,
                             const QString &sourceRoot,
                             const QString &batch,
                             QHash<QString, VerifiedCacheFile> &verified)
    {
        std::vector<std::unique_ptr<FileCopyTask>> tasks;
        tasks.reserve(static_cast<size_t>(steps.size()));
        // For each file, the last earlier step with the same destination, if any.
        std::vector<std::optional<size_t>> previousCopy(static_cast<size_t>(steps.size()));
        QHash<QString, size_t> lastCopy;
        for (const FileStep &step : steps) {
            const size_t index = tasks.size();
            const QString key = QDir::cleanPath(step.file);
            if (const auto earlier = lastCopy.constFind(key); earlier != lastCopy.cend())
                previousCopy[index] = *earlier;
            lastCopy.insert(key, index);
            tasks.push_back(
                std::make_unique<FileCopyTask>(m_cache, step.file, sourceRoot, batch, m_stop));
        }

        const size_t inFlight
            = m_cache.contentHasher().allowsConcurrentCalls() ? filesInFlight : size_t{1};
        qint64 copiedBytes = 0;
        for (size_t i = 0; i < tasks.size(); ++i) {
            for (size_t j = i + 1; j < std::min(tasks.size(), i + inFlight); ++j) {
                // A file copied twice waits for its earlier copy, which comes before it.
                Q_ASSERT(!previousCopy[j] || *previousCopy[j] < j);
                if (!previousCopy[j] || *previousCopy[j] < i)
                    tasks[j]->tryStart();
            }
            tasks[i]->finishHere([this](const FileCopyEvent &e) { emitRowFor(e); });
            if (!tasks[i]->result()) {
                for (size_t j = i + 1; j < std::min(tasks.size(), i + inFlight); ++j)
                    tasks[j]->wait();
                return tl::unexpected<Error>(tasks[i]->result().error());
            }
            if (const std::optional<VerifiedCacheFile> &file = tasks[i]->verified())
                verified.insert(tasks[i]->destination(), *file);
            const FileStep &step = steps.at(static_cast<qsizetype>(i));
            copiedBytes += step.reviewByteCount;
            if (step.endsPackage) {
                ++m_state.completedPackages;
                Q_ASSERT(m_state.completedPackages <= m_totalPackages);
                emitRow(TransferProgressPhase::Copying);
            }
        }
        return copiedBytes;
    }

    void emitRowFor(const FileCopyEvent &event)
    {
        using Kind = FileCopyEvent::Kind;
        switch (event.kind) {
        case Kind::VerifyingExisting:
            emitRow(TransferProgressPhase::Verifying, event.name);
            return;
        case Kind::CopyStarted:
            emitRow(TransferProgressPhase::Copying, event.name, 0, event.size);
            return;
        case Kind::Written:
            emitRow(TransferProgressPhase::Copying,
                    event.name,
                    event.written,
                    event.size,
                    m_state.completedBytes + event.written);
            return;
        case Kind::WillVerify:
            emitRow(TransferProgressPhase::Verifying,
                    event.name,
                    std::nullopt,
                    std::nullopt,
                    m_state.completedBytes + event.size);
            return;
        case Kind::Verified:
            m_state.completedBytes += event.size;
            emitRow(TransferProgressPhase::Copying, event.name, event.size, event.size);
            return;
        }
    }

    const IngestCache &m_cache;
    const TransferProgressSink &m_progress;
    QUuid m_transferID;
    qint64 m_totalBytes;
    qint64 m_totalPackages;
    std::stop_token m_stop;
    CopyProgressState m_state;
};

IngestCache::IngestCache(QString rootURL,
                         std::shared_ptr<const FileManager> fileManager,
                         std::shared_ptr<const ContentHashing> contentHasher,
                         AvailableCapacityProbe availableCapacity)
    : m_rootURL(std::move(rootURL))
    , m_fileManager(std::move(fileManager))
    , m_contentHasher(std::move(contentHasher))
    , m_availableCapacity(std::move(availableCapacity))
{}

Result<QList<IngestCacheCopy>> IngestCache::copy(const ImportReview &review,
                                                 const TransferProgressSink &progress,
                                                 const QUuid &transferID,
                                                 std::stop_token stop) const
{
    ItemGroup supported;
    qint64 totalBytes = 0;
    for (const ImportReviewItem &item : review.items) {
        if (!item.status.isSupported())
            continue;
        supported.append(&item);
        totalBytes += item.byteCount + (item.sidecar ? item.sidecar->byteCount : 0);
    }
    CopyIn copyIn(*this, progress, transferID, totalBytes, supported.size(), std::move(stop));
    copyIn.emitRow(TransferProgressPhase::Preparing, std::nullopt, std::nullopt, std::nullopt, 0);

    PELLWICK_TRY_ASSIGN(qint64 available, m_availableCapacity(m_rootURL));
    if (available < totalBytes)
        return failure(IngestCacheError::insufficientCapacity(totalBytes, available, m_rootURL));
    PELLWICK_TRY(m_fileManager->createDirectory(m_rootURL));

    QMap<QString, ItemGroup> byName; // ordered by plain string comparison
    for (const ImportReviewItem *item : supported)
        byName[item->volumeName].append(item);

    QList<IngestCacheCopy> copies;
    for (auto group = byName.cbegin(); group != byName.cend(); ++group) {
        QList<const ImportScanVolume *> sources;
        for (const ImportScanVolume &volume : review.volumes) {
            if (volume.name == group.key())
                sources.append(&volume);
        }
        if (sources.isEmpty())
            continue; // items of a source that is not part of the review are left alone
        for (const auto &[source, items] : groupsBySource(sources, group.value())) {
            if (copyIn.stopRequested())
                return failure(CancellationError{});
            PELLWICK_TRY_ASSIGN(IngestCacheCopy copied, copyIn.copySource(items, *source));
            copies.append(std::move(copied));
        }
    }
    return copies;
}

Result<QSet<QString>> IngestCache::incompleteSourceFolderURLs() const
{
    QSet<QString> folders;
    if (!m_fileManager->fileExists(m_rootURL))
        return folders;
    const DirectoryWalkOptions options{.skipHiddenEntries = false,
                                       .passOverUnreadableRoot = true,
                                       .passOverUnreadableSubfolders = true};
    const Result<void> walked = walkDirectoryTree(
        *m_fileManager,
        m_rootURL,
        options,
        [&folders](const QString &folder, const DirectoryEntry &entry) -> Result<bool> {
            if (entry.name == incompleteCopyMarkerName)
                folders.insert(folder);
            return true;
        });
    Q_UNUSED(walked); // nothing but listing failures could end the walk, and those are passed over
    return folders;
}

Result<IncompleteCopyMarker> IngestCache::readIncompleteCopyMarker(const QString &folder) const
{
    // Bounded: a marker grown by another program is refused, not read into memory whole.
    PELLWICK_TRY_ASSIGN(
        QByteArray data,
        readRegularFileContents(*m_fileManager,
                                appendingPathComponent(folder, incompleteCopyMarkerName),
                                IncompleteCopyMarker::maximumByteCount));
    return IncompleteCopyMarker::fromJson(data);
}

Result<void> IngestCache::writeIncompleteCopyMarker(const QString &folder,
                                                    const IncompleteCopyMarker &marker) const
{
    PELLWICK_TRY_ASSIGN(QByteArray json, marker.toJson());
    // An atomic write that was interrupted leaves its hidden temporary file; it would keep the
    // batch folder from ever being pruned.
    const QString leftoverPrefix = QLatin1Char('.') + incompleteCopyMarkerName + QLatin1Char('.');
    if (Result<QStringList> names = m_fileManager->contentsOfDirectory(folder)) {
        for (const QString &name : *names) {
            if (name.startsWith(leftoverPrefix) && name.endsWith(QLatin1String(".tmp")))
                (void) m_fileManager->removeItem(appendingPathComponent(folder, name));
        }
    }
    return writeFileAtomically(
        *m_fileManager, appendingPathComponent(folder, incompleteCopyMarkerName), json);
}

Result<qint64> IngestCache::systemAvailableCapacity(const QString &path)
{
    // The root does not exist before the first copy-in: the file system that will hold it answers.
    PELLWICK_TRY_ASSIGN(const std::optional<FileSystemSpace> space,
                        LocalFileManager().availableSpace(path));
    if (!space)
        return failure(IngestCacheError{IngestCacheError::UnableToDetermineCapacity{}});
    return space->availableBytes;
}

QString IngestCache::folderManifestHash(QStringList manifestLines)
{
    std::sort(manifestLines.begin(), manifestLines.end());
    return SHA256ContentHasher::contentHash(manifestLines.join(QLatin1Char('\n')).toUtf8());
}

} // namespace Pellwick
