#include "LibraryRandomWalk.h"

#include "DngWriter.h"
#include "FaultInjectingFileManager.h"
#include "ImporterFakes.h"
#include "KillPoints.h"
#include "TestBackend/TestBackend.h"
#include "TestFiles.h"

#include <PellwickCore/Backend/CurlFetch.h>
#include <PellwickCore/Backend/CurlPresignedURLUploader.h>
#include <PellwickCore/Backend/LibrarySessionClient.h>
#include <PellwickCore/Import/IngestCachePackageRemover.h>
#include <PellwickCore/Import/VerifiedBackupImporter.h>
#include <PellwickCore/Ingest/ContentHashing.h>
#include <PellwickCore/Ingest/ImportReviewBuilder.h>
#include <PellwickCore/Library/LibraryPresentation.h>
#include <PellwickCore/Support/Date.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <random>
#include <utility>

namespace Pellwick::Test {

using namespace Qt::StringLiterals;

// Named apart from the other support files: they build into one unit.
namespace RandomWalk {

namespace {

const QString walkEmail = QStringLiteral("walker@example.test");
const QString noSidecar = QStringLiteral("-");

/// A photo as a pair of bytes: its RAW original's hash and its sidecar's (`noSidecar` for none).
struct Pair
{
    QString raw;
    QString sidecar;

    QString key() const { return raw + u'|' + sidecar; }
};

/// A photo added to the cache: it must stay in the cache under a record, or be verified in the
/// archive. Its sidecar may be edited in the cache: each edit adds the bytes it left.
struct Expectation
{
    QString label;
    QString raw;
    QSet<QString> sidecars;
};

struct WalkCard
{
    QString name;
    QString folder;
};

QString hashOfFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return referenceSha256(file.readAll());
}

/// The path with every symbolic link resolved, or empty when nothing is there.
QString realPath(const QString &path)
{
    return QFileInfo(path).canonicalFilePath();
}

bool isArchived(LibraryItemImportStatus status)
{
    return status == LibraryItemImportStatus::VerifiedBackup
           || status == LibraryItemImportStatus::CleanupPending
           || status == LibraryItemImportStatus::Duplicate;
}

bool isOnlyCached(LibraryItemImportStatus status)
{
    return status == LibraryItemImportStatus::LocalCacheReady
           || status == LibraryItemImportStatus::NeedsAttention;
}

QString label(const LocalLibraryItem &record)
{
    // "Local Cache — Ready to Import" as "Ready to Import".
    return QStringLiteral("%1 (%2)").arg(
        record.originalFilename,
        LibraryPresentation::importStatusTitle(record.importStatus).section(u"— "_s, 1));
}

/// The failures an interruption injects: the operations that change the disk, and reads.
const QList<FileOperation> interruptible{
    FileOperation::CreateDirectory,
    FileOperation::CreateFile,
    FileOperation::RemoveItem,
    FileOperation::RemoveDirectory,
    FileOperation::MoveItem,
    FileOperation::ReplaceItem,
    FileOperation::LinkItem,
    FileOperation::OpenForWriting,
    FileOperation::OpenForAppending,
    FileOperation::OpenForReading,
    FileOperation::Write,
    FileOperation::Synchronize,
    FileOperation::SynchronizeDirectory,
};

class Walk
{
public:
    Walk(quint32 seed, const LibraryWalkPasses &passes)
        : m_passes(passes)
        , m_dir(killTestDirectoryTemplate(QStringLiteral("LibraryRandomWalk")))
        , m_random(seed)
        , m_backend(backendOptions())
    {
        m_realCache = m_dir.filePath(QStringLiteral("Ingest Cache"));
        m_linkCache = m_dir.filePath(QStringLiteral("Ingest Cache Link"));
        QDir().mkpath(m_realCache);
        QFile::link(m_realCache, m_linkCache);
        TestBackend::Account account;
        account.email = walkEmail;
        account.password = QStringLiteral("walk the walk");
        account.library.paidPlan.status = PaidPlanStatus::Paid;
        account.library.paidPlan.storageEntitlement = {0, qint64(1) << 40};
        m_backend.addAccount(account);
        m_token = m_backend.issueToken(walkEmail);
        m_client = std::make_shared<LibrarySessionClient>(m_backend.baseURL(), CurlFetch());
        m_throughLink = chance(0.5);
        open();
    }

    LibraryWalkOutcome run(quint32 seed, int steps)
    {
        LibraryWalkOutcome outcome{seed, {u"0. start with the cache named "_s + spelling()}, {}};
        for (int n = 1; n <= steps && m_failure.isEmpty(); ++n) {
            m_step = QString::number(n) + u". "_s;
            m_namedBefore = namedFiles();
            takeStep(n == 1);
            outcome.steps.append(m_step);
            if (m_failure.isEmpty())
                checkInvariants();
        }
        outcome.failure = m_failure;
        return outcome;
    }

private:
    static TestBackend::Options backendOptions()
    {
        TestBackend::Options options;
        options.partSizeBytes = qint64(1) << 20;
        return options;
    }

    // Randomness.

    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }

    bool chance(double p) { return std::bernoulli_distribution(p)(m_random); }

    template<typename T>
    const T &pick(const QList<T> &list)
    {
        return list.at(below(int(list.size())));
    }

    // The world.

    QString cacheRoot() const { return m_throughLink ? m_linkCache : m_realCache; }

    QString spelling() const
    {
        return m_throughLink ? QStringLiteral("through the link")
                             : QStringLiteral("by its real path");
    }

    /// The library, cache and Staging Area as a start makes them: nothing loaded yet.
    void open()
    {
        m_library.emplace(m_dir.filePath(QStringLiteral("Library")), m_files);
        m_cache.emplace(cacheRoot(), m_files, m_hasher);
        m_staging.emplace(m_dir.filePath(QStringLiteral("Staging Area")), m_files, m_hasher);
    }

    VerifiedBackupImporter importer() const
    {
        return VerifiedBackupImporter(
            *m_library,
            *m_staging,
            m_extractor,
            StubPreviewGenerator::writing(QByteArray("preview of a walk")),
            m_hasher,
            m_client,
            std::make_shared<CurlPresignedURLUploader>(m_files, std::chrono::seconds(5)),
            std::make_shared<FixedImportClock>(Date{}));
    }

    QList<LocalLibraryItem> records() const
    {
        return m_library->readItems().value_or(QList<LocalLibraryItem>());
    }

    /// A step's own failure that no injected fault explains ends the walk.
    template<typename T>
    bool succeeded(const Result<T> &result, const QString &what)
    {
        if (result)
            return true;
        m_step += u" → "_s + what + u" failed: "_s + describe(result.error());
        if (!m_injecting)
            m_failure = what + u" failed without an injected fault: "_s + describe(result.error());
        return false;
    }

    Result<WalkArchivedCleanup> cleanUp(const std::optional<QList<LocalLibraryItem>> &given)
    {
        return m_passes.cleanUpArchivedCopies(given, *m_cache, *m_library, *m_staging);
    }

    /// The reconciliation a start, and every import, runs first, with the archived cleanup.
    void reconcileAtStart()
    {
        if (!m_files->fileExists(m_cache->rootURL()))
            return;
        const Result<ImportReview> review = ImportReviewBuilder(m_files).buildReview(
            {ImportScanVolume{QStringLiteral("Ingest Cache"), m_cache->rootURL(), std::nullopt}});
        if (!succeeded(review, u"the start's scan of the cache"_s))
            return;
        const Result<QSet<QString>> blocked = m_cache->incompleteSourceFolderURLs();
        if (!succeeded(blocked, u"the start's marker listing"_s))
            return;
        const Result<void> reconciled = m_library->withExclusiveAccess([&]() -> Result<void> {
            PELLWICK_TRY(m_library->reconcileIngestCache(
                *review, *blocked, *m_hasher, *m_extractor, Date::now()));
            PELLWICK_TRY(cleanUp(std::nullopt));
            return {};
        });
        succeeded(reconciled, u"the start's reconciliation"_s);
    }

    /// What a start does after a reopen: reconciles, resumes interrupted imports, cleans up.
    void recoverAtStart()
    {
        reconcileAtStart();
        const Result<QList<LocalLibraryItem>> resumed = importer().resumeInterruptedImports(
            m_token, [] {}, [](const TransferProgress &) {}, QUuid::createUuid());
        if (succeeded(resumed, u"resuming imports"_s))
            succeeded(cleanUp(std::nullopt), u"the cleanup after resuming"_s);
    }

    // Cards.

    QByteArray rawBytes()
    {
        DngOptions options;
        options.width = 16;
        options.height = 12;
        options.noiseAmplitude = 400;
        options.noiseSeed = quint32(++m_photos);
        options.embeddedPreview = false;
        options.dateTime = QByteArray("2024:05:17 10:30:") + QByteArray::number(m_photos % 60);
        return DngWriter::bytes(options);
    }

    QByteArray sidecarBytes()
    {
        return QByteArray("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:Description rating=\"")
               + QByteArray::number(++m_sidecars) + QByteArray("\"/></x:xmpmeta>\n");
    }

    /// A new card: a few photos, some with sidecars, and twins of them (the same RAW bytes under
    /// another name, with a sidecar byte-equal to the original's, none, or one of their own), at
    /// times with a photo of an earlier card.
    WalkCard makeCard(QString &line)
    {
        struct Photo
        {
            QByteArray raw;
            std::optional<QByteArray> sidecar;
        };

        QList<Photo> photos;
        const int originals = 2 + below(3);
        for (int i = 0; i < originals; ++i)
            photos.append({rawBytes(), chance(0.7) ? std::optional(sidecarBytes()) : std::nullopt});
        QStringList described;
        const auto nameOf = [](qsizetype index) {
            return QStringLiteral("T_%1").arg(index + 1, 4, 10, QChar(u'0'));
        };
        for (int i = below(3); i > 0; --i) {
            const qsizetype base = below(int(photos.size()));
            const Photo original = photos.at(base);
            QString sidecar;
            switch (below(3)) {
            case 0:
                photos.append(original);
                sidecar = original.sidecar ? u"its sidecar's bytes"_s : u"no sidecar either"_s;
                break;
            case 1:
                photos.append({original.raw, std::nullopt});
                sidecar = u"no sidecar"_s;
                break;
            default:
                photos.append({original.raw, sidecarBytes()});
                sidecar = u"a sidecar of its own"_s;
                break;
            }
            described.append(nameOf(photos.size() - 1) + u" twin of "_s + nameOf(base) + u" with "_s
                             + sidecar);
        }
        if (!m_cards.isEmpty() && chance(0.3)) {
            const WalkCard &other = pick(m_cards);
            const QString folder = other.folder + QStringLiteral("/DCIM/100PELLW/");
            const QStringList raws = QDir(folder).entryList({QStringLiteral("*.DNG")}, QDir::Files);
            if (!raws.isEmpty()) {
                const QString raw = pick(raws);
                const QString sidecar = folder + QFileInfo(raw).completeBaseName() + u".xmp"_s;
                photos.append(
                    {readFile(folder + raw),
                     QFile::exists(sidecar) ? std::optional(readFile(sidecar)) : std::nullopt});
                described.append(nameOf(photos.size() - 1) + u" copy of "_s + other.name + u'/'
                                 + raw);
            }
        }
        WalkCard card{QStringLiteral("card-%1").arg(m_cards.size() + 1),
                      m_dir.filePath(QStringLiteral("Cards/card-%1").arg(m_cards.size() + 1))};
        QString sidecars;
        for (qsizetype i = 0; i < photos.size(); ++i) {
            const QString stem = card.folder + QStringLiteral("/DCIM/100PELLW/") + nameOf(i);
            writeFile(stem + QStringLiteral(".DNG"), photos[i].raw);
            if (photos[i].sidecar)
                writeFile(stem + QStringLiteral(".xmp"), *photos[i].sidecar);
            sidecars += photos[i].sidecar ? u'+' : u'-';
        }
        m_cards.append(card);
        described.prepend(
            QStringLiteral("%1 photos, sidecars %2").arg(photos.size()).arg(sidecars));
        line += card.name + u" ("_s + described.join(u"; "_s) + u')';
        return card;
    }

    /// The card's photos as pairs of bytes, by file name.
    QList<std::pair<QString, Pair>> cardPairs(const WalkCard &card) const
    {
        QList<std::pair<QString, Pair>> pairs;
        const QString folder = card.folder + QStringLiteral("/DCIM/100PELLW/");
        for (const QString &raw : QDir(folder).entryList({QStringLiteral("*.DNG")}, QDir::Files)) {
            const QString sidecar = folder + QFileInfo(raw).completeBaseName() + u".xmp"_s;
            pairs.append({card.name + u'/' + raw,
                          Pair{hashOfFile(folder + raw),
                               QFile::exists(sidecar) ? hashOfFile(sidecar) : noSidecar}});
        }
        return pairs;
    }

    // Operations.

    void takeStep(bool first)
    {
        if (first || m_cards.isEmpty())
            return addNewCard();
        switch (below(10)) {
        case 0:
        case 1:
            return addNewCard();
        case 2:
        case 3:
            return addAgain();
        case 4:
            return archive();
        case 5:
            return chance(0.5) ? removeFromCache() : editSidecar();
        case 6:
            return chance(0.5) ? refresh() : rebuild();
        case 7:
        case 8:
            return reopen();
        default:
            return interrupted();
        }
    }

    void addNewCard()
    {
        m_step += u"add new card "_s;
        add(makeCard(m_step));
    }

    void addAgain()
    {
        const WalkCard card = pick(m_cards);
        m_step += u"add "_s + card.name + u" again"_s;
        add(card);
    }

    /// Add to Ingest Cache as the application runs it: the copy, its records, the cleanup of
    /// copies the archive holds; then the checks of what an add reports and keeps.
    void add(const WalkCard &card)
    {
        // A pair the archive holds is copied again when no waiting record held it before.
        QSet<QString> archivedBefore = archivedPairs();
        archivedBefore.subtract(cachedPairKeys(true));
        const Result<ImportReview> review = ImportReviewBuilder(m_files).buildReview(
            {ImportScanVolume{card.name, card.folder, std::nullopt}});
        if (!succeeded(review, u"the card's scan"_s))
            return;
        const Result<QList<IngestCacheCopy>> copies = m_cache->copy(
            *review, [](const TransferProgress &) {}, QUuid::createUuid());
        if (!succeeded(copies, u"the copy"_s))
            return;
        const Result<IngestCacheCopyRecords> stored
            = m_library->addIngestCacheCopies(*copies, *m_cache, m_files, *m_hasher, *m_extractor);
        if (!succeeded(stored, u"the records of the copy"_s))
            return;
        const Result<WalkArchivedCleanup> cleanup = cleanUp(stored->records);
        if (!succeeded(cleanup, u"the cleanup of archived copies"_s))
            return;
        // The counts the application tells.
        qint64 alreadyArchived = cleanup->pendingCount;
        for (const LocalLibraryItem &record : std::as_const(stored->records))
            alreadyArchived += cleanup->removedItemIDs.contains(record.id) ? 1 : 0;
        const qint64 alreadyHeld = stored->alreadyHeldCount;
        const qint64 added = stored->records.size() - alreadyArchived - alreadyHeld;
        m_step += QStringLiteral(" → added %1, already archived %2, already held %3")
                      .arg(added)
                      .arg(alreadyArchived)
                      .arg(alreadyHeld);
        if (m_injecting)
            return;
        for (const auto &[name, pair] : cardPairs(card))
            expect(name, pair);
        QStringList batches;
        for (const IngestCacheCopy &copy : *copies)
            batches.append(realPath(copy.sourceFolderURL));
        checkAdd(batches, archivedBefore, added, alreadyHeld, cleanup->pendingCount);
    }

    void archive()
    {
        reconcileAtStart();
        QList<LocalLibraryItem> ready;
        for (const LocalLibraryItem &record : records()) {
            if (record.importStatus == LibraryItemImportStatus::LocalCacheReady
                && record.ingestCacheOriginalURL)
                ready.append(record);
        }
        const bool all = chance(0.5);
        QList<LocalLibraryItem> chosen;
        for (const LocalLibraryItem &record : std::as_const(ready)) {
            if (all || chance(0.5))
                chosen.append(record);
        }
        m_step += QStringLiteral("archive %1 of %2 ready").arg(chosen.size()).arg(ready.size());
        if (chosen.isEmpty())
            return;
        const Result<QList<LocalLibraryItem>> imported = importer().importVerifiedBackups(
            chosen,
            m_token,
            std::nullopt,
            [] {},
            [](const TransferProgress &) {},
            QUuid::createUuid());
        if (!succeeded(imported, u"the import"_s))
            return;
        QList<LocalLibraryItem> archived;
        for (const LocalLibraryItem &item : *imported) {
            if (isArchived(item.importStatus))
                archived.append(item);
        }
        m_step += QStringLiteral(" → %1 archived").arg(archived.size());
        succeeded(cleanUp(archived), u"the cleanup after the import"_s);
    }

    void removeFromCache()
    {
        QSet<QUuid> ids;
        QStringList names;
        const QList<LocalLibraryItem> all = records();
        for (const LocalLibraryItem &record : all) {
            if (isOnlyCached(record.importStatus) && record.ingestCacheOriginalURL && chance(0.4)) {
                ids.insert(record.id);
                names.append(label(record));
            }
        }
        m_step += u"remove from the cache: "_s
                  + (names.isEmpty() ? u"nothing"_s : names.join(u", "_s));
        if (ids.isEmpty())
            return;
        // The user no longer asks for these photos: a twin's record may keep them.
        for (const LocalLibraryItem &record : all) {
            if (ids.contains(record.id))
                dropExpectations(record.contentHash);
        }
        const IngestCachePackageRemover remover(*m_library, *m_staging, *m_cache, m_client);
        if (!succeeded(remover.removePackages(ids, m_token), u"the removal"_s))
            m_failedRemoval = ids;
    }

    /// A photographer told that a removal failed asks for it again: a removal cut after some of
    /// a record's files went keeps the record, for the next call to finish.
    void removeAgain()
    {
        const QSet<QUuid> ids = std::exchange(m_failedRemoval, {});
        if (ids.isEmpty() || !m_failure.isEmpty())
            return;
        m_step += u", remove them again"_s;
        const IngestCachePackageRemover remover(*m_library, *m_staging, *m_cache, m_client);
        succeeded(remover.removePackages(ids, m_token), u"the removal asked again"_s);
    }

    void editSidecar()
    {
        QList<LocalLibraryItem> edible;
        for (const LocalLibraryItem &record : records()) {
            if (record.importStatus == LibraryItemImportStatus::LocalCacheReady
                && record.ingestCacheSidecarURL && QFile::exists(*record.ingestCacheSidecarURL))
                edible.append(record);
        }
        if (edible.isEmpty()) {
            m_step += u"edit a sidecar in the cache: none cached"_s;
            return;
        }
        const LocalLibraryItem record = pick(edible);
        const QString path = *record.ingestCacheSidecarURL;
        const QString before = hashOfFile(path);
        appendToFile(path,
                     QByteArray("<!-- edited ") + QByteArray::number(++m_sidecars) + " -->\n");
        const QString after = hashOfFile(path);
        for (Expectation &expectation : m_expected) {
            if (expectation.raw == record.contentHash && expectation.sidecars.contains(before))
                expectation.sidecars.insert(after);
        }
        m_step += u"edit the sidecar of "_s + label(record) + u" in the cache"_s;
    }

    void refresh()
    {
        m_step += u"refresh the cache"_s;
        if (succeeded(m_passes.refreshCache(*m_cache, *m_library), u"the refresh"_s))
            succeeded(cleanUp(std::nullopt), u"the cleanup after the refresh"_s);
    }

    void rebuild()
    {
        m_step += u"rebuild the library from the backend"_s;
        const Result<QList<RemoteLibraryItem>> items = m_client->libraryItems(m_token);
        if (succeeded(items, u"the backend's list"_s))
            succeeded(m_library->rebuild(*items), u"the rebuild"_s);
    }

    /// A start with the cache named through the link or by its real path, at times with an Add
    /// before the start's reconciliation.
    void reopen()
    {
        m_throughLink = chance(0.5);
        open();
        m_step += u"reopen with the cache named "_s + spelling();
        if (chance(0.5)) {
            if (chance(0.5)) {
                m_step += u", add new card "_s;
                add(makeCard(m_step));
            } else {
                const WalkCard card = pick(m_cards);
                m_step += u", add "_s + card.name + u" again"_s;
                add(card);
            }
            m_step += u" before the start's reconciliation"_s;
            // What the add removed, before a reconciliation can drop the records naming it.
            if (m_failure.isEmpty())
                checkNamedFiles();
        }
        if (m_failure.isEmpty())
            recoverAtStart();
    }

    /// An operation cut short by a failure at a random file operation, then a reopen and the
    /// start's recovery. Photos of an interrupted add that reached a record are expected from
    /// then on; those a removal was asked for are not.
    void interrupted()
    {
        const FileOperation operation = pick(interruptible);
        const int occurrence = 1 + below(12);
        m_step += QStringLiteral("with %1 #%2 failing: ")
                      .arg(operationName(operation))
                      .arg(occurrence);
        m_injecting = true;
        m_files->failOperation(operation, EIO, {}, occurrence);
        std::optional<WalkCard> added;
        switch (below(6)) {
        case 0:
            addNewCard();
            added = m_cards.last();
            break;
        case 1:
            addAgain();
            break;
        case 2:
            archive();
            break;
        case 3:
            removeFromCache();
            break;
        case 4:
            refresh();
            break;
        default:
            rebuild();
            break;
        }
        m_files->clearFailures();
        m_injecting = false;
        m_step += u"; reopen and recover"_s;
        open();
        recoverAtStart();
        removeAgain();
        if (added) {
            const QSet<QString> cached = cachedPairKeys();
            for (const auto &[name, pair] : cardPairs(*added)) {
                if (cached.contains(pair.key()))
                    expect(name, pair);
            }
        }
    }

    // Expectations and invariants.

    void expect(const QString &name, const Pair &pair)
    {
        Expectation &expectation = m_expected[pair.key()];
        if (expectation.raw.isEmpty())
            expectation = Expectation{name, pair.raw, {pair.sidecar}};
    }

    void dropExpectations(const QString &raw)
    {
        for (auto it = m_expected.begin(); it != m_expected.end();) {
            if (it->raw == raw)
                it = m_expected.erase(it);
            else
                ++it;
        }
    }

    /// The pairs the archive holds verified, by key.
    QSet<QString> archivedPairs() const
    {
        QSet<QString> pairs;
        for (const TestBackend::LibraryItem &item : m_backend.libraryItems(walkEmail)) {
            if (item.importStatus == QLatin1String("verified_backup"))
                pairs.insert(
                    Pair{item.contentHash, item.sidecarContentHash.value_or(noSidecar)}.key());
        }
        return pairs;
    }

    /// The pairs of bytes the records' cached files hold, by key; with `waiting`, only those of
    /// records that have not reached the archive.
    QSet<QString> cachedPairKeys(bool waiting = false) const
    {
        QSet<QString> pairs;
        for (const LocalLibraryItem &record : records()) {
            if ((waiting && !isOnlyCached(record.importStatus)) || !record.ingestCacheOriginalURL
                || !QFile::exists(*record.ingestCacheOriginalURL))
                continue;
            QString sidecar = noSidecar;
            if (record.ingestCacheSidecarURL) {
                if (!QFile::exists(*record.ingestCacheSidecarURL))
                    continue;
                sidecar = hashOfFile(*record.ingestCacheSidecarURL);
            }
            pairs.insert(Pair{hashOfFile(*record.ingestCacheOriginalURL), sidecar}.key());
        }
        return pairs;
    }

    /// The records naming the file at `path` (in any spelling), or "named by no record".
    QString namers(const QString &path) const
    {
        QStringList names;
        const QString real = realPath(path);
        for (const LocalLibraryItem &record : records()) {
            for (const std::optional<QString> &url :
                 {record.ingestCacheOriginalURL, record.ingestCacheSidecarURL}) {
                if (url && realPath(*url) == real)
                    names.append(label(record));
            }
        }
        return names.isEmpty() ? u"named by no record"_s : u"named by "_s + names.join(u", "_s);
    }

    /// Each file a record names, by "<record id> <path>", and whether it exists.
    QHash<QString, bool> namedFiles() const
    {
        QHash<QString, bool> named;
        for (const LocalLibraryItem &record : records()) {
            for (const std::optional<QString> &url :
                 {record.ingestCacheOriginalURL, record.ingestCacheSidecarURL}) {
                if (url)
                    named.insert(record.id.toString() + u' ' + *url, QFile::exists(*url));
            }
        }
        return named;
    }

    void fail(const QString &what)
    {
        if (m_failure.isEmpty())
            m_failure = what;
    }

    /// Every file a record names exists, and none that existed before the step went while named.
    void checkNamedFiles()
    {
        if (const Result<QList<LocalLibraryItem>> read = m_library->readItems(); !read)
            return fail(u"the library cannot be read: "_s + describe(read.error()));
        for (const LocalLibraryItem &record : records()) {
            for (const std::optional<QString> &url :
                 {record.ingestCacheOriginalURL, record.ingestCacheSidecarURL}) {
                if (!url || QFile::exists(*url))
                    continue;
                if (m_namedBefore.value(record.id.toString() + u' ' + *url))
                    return fail(u"removed "_s + *url + u", which "_s + label(record) + u" names"_s);
                return fail(label(record) + u" names the missing file "_s + *url);
            }
        }
    }

    /// The named files' check, and every photo added is in the cache under a record or verified
    /// in the archive.
    void checkInvariants()
    {
        checkNamedFiles();
        if (!m_failure.isEmpty())
            return;
        const QSet<QString> cached = cachedPairKeys();
        const QSet<QString> archived = archivedPairs();
        for (const Expectation &expectation : std::as_const(m_expected)) {
            const bool kept
                = std::any_of(expectation.sidecars.cbegin(),
                              expectation.sidecars.cend(),
                              [&](const QString &sidecar) {
                                  const QString key = Pair{expectation.raw, sidecar}.key();
                                  return cached.contains(key) || archived.contains(key);
                              });
            if (!kept)
                return fail(
                    u"the photo "_s + expectation.label
                    + u" is neither in the cache under a record nor verified in the archive"_s);
        }
    }

    /// What an add kept: no pair the archive held before it (and no waiting record held in the
    /// cache) is in its batches under a record
    /// that has not reached the archive, nor more of them than its cleanup left pending; and each
    /// photo it tells as added is a copy its batches keep, as may be those it tells as already
    /// held (a copy with the same bytes and sidecar gave way to it, in the cache before or in the
    /// same add).
    void checkAdd(const QStringList &batches,
                  const QSet<QString> &archivedBefore,
                  qint64 added,
                  qint64 alreadyHeld,
                  qint64 pending)
    {
        const auto inBatches = [&batches](const QString &path) {
            const QString real = realPath(path);
            return !real.isEmpty()
                   && std::any_of(batches.cbegin(), batches.cend(), [&](const QString &batch) {
                          return !batch.isEmpty() && real.startsWith(batch + u'/');
                      });
        };
        for (const LocalLibraryItem &record : records()) {
            if (!isOnlyCached(record.importStatus) || !record.ingestCacheOriginalURL
                || !inBatches(*record.ingestCacheOriginalURL))
                continue;
            const Pair pair{hashOfFile(*record.ingestCacheOriginalURL),
                            record.ingestCacheSidecarURL ? hashOfFile(*record.ingestCacheSidecarURL)
                                                         : noSidecar};
            if (archivedBefore.contains(pair.key()))
                return fail(u"the add copied "_s + label(record)
                            + u" into the cache again, though the archive holds its bytes"_s);
        }
        qint64 kept = 0;
        qint64 keptArchived = 0;
        for (const QString &batch : batches) {
            if (batch.isEmpty() || !QFileInfo(batch).isDir())
                continue;
            const Result<ImportReview> review = ImportReviewBuilder(m_files).buildReview(
                {ImportScanVolume{QStringLiteral("batch"), batch, std::nullopt}});
            if (!review)
                return fail(u"the batch "_s + batch + u" cannot be read: "_s
                            + describe(review.error()));
            for (const ImportReviewItem &item : review->items) {
                if (!item.status.isSupported())
                    continue;
                const Pair pair{hashOfFile(item.url),
                                item.sidecar ? hashOfFile(item.sidecar->url) : noSidecar};
                if (!archivedBefore.contains(pair.key()))
                    ++kept;
                else if (++keptArchived > pending)
                    return fail(u"the add kept a copy of "_s + item.filename
                                + u", whose bytes the archive holds ("_s + namers(item.url) + u')');
            }
        }
        if (added < 0 || kept < added || kept > added + alreadyHeld)
            fail(
                QStringLiteral("the add told %1 added and %2 already held, but its batches keep %3 "
                               "photos the archive lacks")
                    .arg(added)
                    .arg(alreadyHeld)
                    .arg(kept));
    }

    const LibraryWalkPasses &m_passes;
    QTemporaryDir m_dir;
    std::mt19937 m_random;
    TestBackend m_backend;
    QString m_token;
    std::shared_ptr<LibrarySessionClient> m_client;
    std::shared_ptr<FaultInjectingFileManager> m_files
        = std::make_shared<FaultInjectingFileManager>();
    std::shared_ptr<const ContentHashing> m_hasher = std::make_shared<SHA256ContentHasher>();
    std::shared_ptr<const PhotoMetadataExtracting> m_extractor
        = std::make_shared<FixedMetadataExtractor>(PhotoMetadata::unknown());
    QString m_realCache;
    QString m_linkCache;
    bool m_throughLink = false;
    std::optional<LocalLibraryCache> m_library;
    std::optional<IngestCache> m_cache;
    std::optional<StagingArea> m_staging;
    QList<WalkCard> m_cards;
    QHash<QString, Expectation> m_expected;
    int m_photos = 0;
    int m_sidecars = 0;
    bool m_injecting = false;
    QSet<QUuid> m_failedRemoval;
    QString m_step;
    QString m_failure;
    /// Each file the records named before the step (`namedFiles`).
    QHash<QString, bool> m_namedBefore;
};

int environmentNumber(const char *name, int otherwise)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : otherwise;
}

} // namespace

} // namespace RandomWalk

QString LibraryWalkOutcome::report() const
{
    return QStringLiteral("seed %1 (PELLWICK_RANDOM_WALK_SEED=%1): %2\n  %3")
        .arg(seed)
        .arg(failure, steps.join(QStringLiteral("\n  ")));
}

LibraryWalkOutcome runLibraryRandomWalk(quint32 seed, const LibraryWalkPasses &passes, int steps)
{
    RandomWalk::Walk walk(seed, passes);
    return walk.run(seed, steps);
}

QList<quint32> randomWalkSeeds(const QList<quint32> &defaultSeeds)
{
    if (const int one = RandomWalk::environmentNumber("PELLWICK_RANDOM_WALK_SEED", 0); one > 0)
        return {quint32(one)};
    const int count = RandomWalk::environmentNumber("PELLWICK_RANDOM_WALK_SEEDS", 0);
    if (count == 0)
        return defaultSeeds;
    QList<quint32> seeds;
    for (int seed = 1; seed <= count; ++seed)
        seeds.append(quint32(seed));
    return seeds;
}

int randomWalkSteps(int defaultSteps)
{
    return RandomWalk::environmentNumber("PELLWICK_RANDOM_WALK_STEPS", defaultSteps);
}

} // namespace Pellwick::Test
