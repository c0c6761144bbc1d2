#include "RestoreHarness.h"

#include <PellwickApp/Views/Overview/SystemStatusPanel.h>
#include <PellwickApp/Views/Restore/RestorePresentation.h>

#include <cerrno>

#include <Support/ScopedBindMount.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

// clang-format off
enum class Guard { None, SignedOut, NoRequest, RunActive, Cancelling };

/// A file operation failing with `code` on paths containing `pathFragment`.
struct Fault { FileOperation operation; int code; QString pathFragment; };
/// The free space reported for paths containing `pathFragment`; `entries` as the file system counts them.
struct Free { QString pathFragment; qint64 bytes; std::optional<quint64> entries = std::nullopt; qint64 blockSize = 1; };

// clang-format on

struct RunCase
{
    int items = 2;
    Guard guard = Guard::None;
    std::optional<QString> folder = std::nullopt;      ///< below the test's directory
    bool retainedOld = false;                          ///< "Old" is the retained Ingest Cache
    std::optional<QString> bindCacheAt = std::nullopt; ///< the active Ingest Cache is bound there
    std::optional<QString> moveTarget
        = std::nullopt; ///< a move of the Ingest Cache there is pending
    /// Once the first file is saved, a move of the Ingest Cache into the destination is asked for;
    /// its message.
    std::optional<QString> moveIntoDestination = std::nullopt;
    QString existing = {};         ///< in the destination beforehand
    bool leftoverProbe = false;    ///< a killed check's empty file is in the destination
    bool probeTakenBeside = false; ///< a check running beside the run's removes its empty file
    QList<int> wrongHashes = {};   ///< records whose hash no download matches
    bool corruptBytes = false;
    std::optional<Fault> fault = std::nullopt;
    std::optional<Free> free = std::nullopt;
    /// Saved transfers, after which the destination is full.
    std::optional<qint64> fullAfter = std::nullopt;
    /// With `fullAfter`: the restore state folder lies on the destination's disk, which fills as
    /// a disk does (bytes a file holds can still be written over).
    bool stateOnFullDisk = false;
    bool outcomeUnwritable = false; ///< writing the run's outcome over its room fails (EIO)
    bool expiring = false;          ///< the plan's URLs have expired; refreshes hand out fresh ones
    bool pauseWhilePlanning = false;
    bool lookUpAfter = false;  ///< the Restore page then looks for an active request
    bool refreshAfter = false; ///< the held request is then read again ("Refresh")
    /// The state holds another request's finished manifest and an unfinished one of this
    /// request's; what the run leaves of the state is checked.
    bool otherState = false;
    bool earlierFolder = false; ///< "Saved to" names where an earlier request's files went
    std::optional<qint64> pauseAfter = std::nullopt;  ///< saved transfers
    std::optional<qint64> cancelAfter = std::nullopt; ///< saved transfers
    bool quitDuringNext = false; ///< with `pauseAfter`: the pause lands inside the next file
    /// With the faults lifted, a retry is then paused after this many saved transfers.
    std::optional<qint64> retryPausedAfter = std::nullopt;
    /// The Restore page is then opened: the library is rebuilt from the backend, and the held
    /// request read again (as the window's activation does).
    bool rebuildAfter = false;
    bool relaunch = false;   ///< the application starts again and reads its request
    bool stopAfter = false;  ///< "Stop Restore" once the run has ended
    bool startAfter = false; ///< a new request for every record then cannot start (HTTP 503)
    int saved = 2;
    bool planned = true;
    std::optional<QString> message = u"Restore complete: 2 item(s) saved"_s;
    std::optional<QString> error = std::nullopt;
    /// Of the first record needing attention. In it and in `error`, "<dir>" is the test's
    /// directory.
    std::optional<QString> reason = std::nullopt;
    bool paused = false;
    std::optional<QString> suggestion = std::nullopt;
    bool continuesInDestination = false; ///< `message` names the folder; the chooser starts there
    /// Checked when set: the card's outcome tone, and whether "Saved to" names the run's folder.
    std::optional<LibraryPresentationTone> messageTone = std::nullopt;
    std::optional<bool> savedHere = std::nullopt;
    /// Checked when set: the tones of the Overview's "Restore" rows; the first names `reason`.
    std::optional<QList<LibraryPresentationTone>> overview = std::nullopt;
    /// Checked when set: only the first records' files are fetched, and those not saved keep
    /// their fetched ranges for the retry.
    std::optional<int> fetched = std::nullopt;
    /// Checked when set: with the faults lifted, a retry then saves what was left; its message.
    std::optional<QString> retried = std::nullopt;
};

const QString ready = u"Restore ready"_s;
const QString unverified
    = u"Restore Transfer did not verify the RAW Original. Retry this RAW Original."_s;

} // namespace

Q_DECLARE_METATYPE(RunCase)

class RestoreTransferRunTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { CurlFetch::initializeGlobally(); }

    void runSettlesItsOutcomes_data();
    void runSettlesItsOutcomes();
};

void RestoreTransferRunTests::runSettlesItsOutcomes_data()
{
    QTest::addColumn<RunCase>("c");
    const QString cancelled = u"Restore cancelled"_s, paused = u"Restore Transfer paused"_s;
    const QString refused = u"Choose a restore destination outside the Ingest Cache."_s;
    const QString noSpace
        = u"No space left in <dir>/Restored. Free space or choose another folder, then retry."_s;
    const QString stateFull
        = u"No space left in Pellwick's restore state folder (<dir>/RestoreTransfers). Free space, then retry."_s;
    const auto outside = [](const QString &folder) -> QString {
        return u"Choose a restore destination outside the "_s + folder + u'.';
    };
    // clang-format off
    QTest::newRow("all saved") << RunCase{.items = 5, .saved = 5, .message = u"Restore complete: 5 item(s) saved"_s,
        .messageTone = LibraryPresentationTone::Positive, .overview = {{LibraryPresentationTone::Positive}}};
    QTest::newRow("all saved, then a new request cannot start") << RunCase{.startAfter = true, .message = std::nullopt,
        .error = u"Restore Request could not start because Pellwick service is unavailable. Try again later."_s,
        .overview = {{LibraryPresentationTone::Danger}}};
    QTest::newRow("all saved, then the page looks for a request") << RunCase{.lookUpAfter = true};
    QTest::newRow("all saved: the request's finished state goes") << RunCase{.otherState = true};
    QTest::newRow("3 saved, 2 failed: a warning, saved here") << RunCase{.items = 5, .wrongHashes = {1, 3}, .saved = 3,
        .message = u"3 of 5 item(s) saved; 2 need attention"_s, .reason = unverified,
        .messageTone = LibraryPresentationTone::Attention, .savedHere = true, .overview = {{LibraryPresentationTone::Attention}}};
    QTest::newRow("corrupted bytes") << RunCase{.items = 1, .corruptBytes = true, .saved = 0,
        .message = u"0 of 1 item(s) saved; 1 need attention"_s, .reason = unverified};
    QTest::newRow("nothing saved: no earlier folder") << RunCase{.items = 1, .corruptBytes = true, .earlierFolder = true,
        .saved = 0, .message = u"0 of 1 item(s) saved; 1 need attention"_s, .reason = unverified, .savedHere = false};
    QTest::newRow("3 saved, 2 failed, then refreshed") << RunCase{.items = 5, .wrongHashes = {1, 3}, .refreshAfter = true,
        .saved = 3, .message = u"3 of 5 item(s) saved; 2 need attention"_s, .reason = unverified,
        .messageTone = LibraryPresentationTone::Attention};
    QTest::newRow("signed out") << RunCase{.guard = Guard::SignedOut, .saved = 0, .planned = false, .message = ready};
    QTest::newRow("no request") << RunCase{.guard = Guard::NoRequest, .saved = 0, .planned = false, .message = std::nullopt};
    QTest::newRow("run active") << RunCase{.guard = Guard::RunActive, .saved = 0, .planned = false, .message = ready};
    QTest::newRow("being cancelled") << RunCase{.guard = Guard::Cancelling, .saved = 0, .planned = false, .message = cancelled};
    QTest::newRow("existing destination") << RunCase{.existing = u"IMG_0002.CR3"_s, .saved = 0, .message = ready,
        .suggestion = u"IMG_0002-restored.CR3"_s};
    QTest::newRow("cancelled between transfers") << RunCase{.cancelAfter = 1, .saved = 1, .message = cancelled};
    QTest::newRow("stop after the last transfer") << RunCase{.cancelAfter = 2, .message = cancelled};
    QTest::newRow("paused while planning") << RunCase{.pauseWhilePlanning = true, .saved = 0, .message = paused, .paused = true};
    QTest::newRow("paused between transfers") << RunCase{.pauseAfter = 1, .saved = 1, .message = paused, .paused = true};
    QTest::newRow("paused, then stopped") << RunCase{.pauseAfter = 1, .stopAfter = true, .saved = 1, .message = cancelled};
    QTest::newRow("quit inside a file, relaunched") << RunCase{.items = 3, .pauseAfter = 1, .quitDuringNext = true,
        .relaunch = true, .saved = 1, .message = paused + u": 1 of 3 item(s) saved in "_s, .paused = true,
        .continuesInDestination = true};
    QTest::newRow("paused between files, relaunched") << RunCase{.items = 3, .pauseAfter = 1, .relaunch = true,
        .saved = 1, .message = paused + u": 1 of 3 item(s) saved in "_s, .paused = true, .continuesInDestination = true};
    QTest::newRow("active cache") << RunCase{.folder = u"LocalLibraryCache/IngestCache"_s, .saved = 0, .planned = false,
        .message = ready, .error = refused};
    QTest::newRow("the active cache bound elsewhere") << RunCase{.folder = u"Bound/Photos"_s, .bindCacheAt = u"Bound"_s,
        .saved = 0, .planned = false, .message = ready, .error = refused};
    QTest::newRow("inside a move's target") << RunCase{.folder = u"Moved/Photos"_s, .moveTarget = u"Moved"_s, .saved = 0,
        .planned = false, .message = ready, .error = refused};
    QTest::newRow("a move into the destination meanwhile") << RunCase{.moveIntoDestination = u"A restore is saving files "
        "into that folder. Choose another Ingest Cache location, or move the cache once the restore has finished."_s};
    QTest::newRow("inside retained cache") << RunCase{.folder = u"Old/Photos"_s, .retainedOld = true, .saved = 0,
        .planned = false, .message = ready, .error = outside(u"old Ingest Cache"_s)};
    QTest::newRow("inside the Staging Area") << RunCase{.folder = u"StagingArea/x"_s, .saved = 0, .planned = false,
        .message = ready, .error = outside(u"Staging Area"_s)};
    QTest::newRow("inside the Local Library Cache") << RunCase{.folder = u"LocalLibraryCache/Restored"_s, .saved = 0,
        .planned = false, .message = ready, .error = outside(u"Local Library Cache"_s)};
    QTest::newRow("the restore state") << RunCase{.folder = u"RestoreTransfers"_s, .saved = 0, .planned = false,
        .message = ready, .error = outside(u"Restore Transfer state folder"_s)};
    QTest::newRow("a killed check's file left") << RunCase{.leftoverProbe = true};
    QTest::newRow("a check beside it took its file") << RunCase{.probeTakenBeside = true};
    QTest::newRow("destination full") << RunCase{.fault = Fault{FileOperation::Write, ENOSPC, u"Restored/."_s},
        .saved = 0, .message = u"0 of 2 item(s) saved; 2 need attention"_s,
        .reason = u"No space left in <dir>/Restored. Free space or choose another folder, then retry."_s};
    QTest::newRow("destination read-only") << RunCase{.fault = Fault{FileOperation::CreateFile, EROFS, u"Restored/"_s},
        .saved = 0, .planned = false, .message = ready,
        .error = u"<dir>/Restored cannot be written (read-only). Choose another folder, then retry."_s};
    QTest::newRow("restore state folder full") << RunCase{.fault = Fault{FileOperation::Write, ENOSPC, u"RestoreTransfers/"_s},
        .saved = 0, .message = u"0 of 2 item(s) saved; 2 need attention"_s,
        .reason = u"No space left in Pellwick's restore state folder (<dir>/RestoreTransfers). Free space, then retry."_s};
    QTest::newRow("restore state folder short of a file") << RunCase{.free = Free{u"RestoreTransfers"_s, 999}, .saved = 0,
        .message = ready, .error = u"Pellwick's restore state folder (<dir>/RestoreTransfers) needs 1000 B; 999 B available. Free space, then retry."_s,
        .fetched = 0};
    QTest::newRow("destination short of the request and a file's parts") << RunCase{.free = Free{u""_s, 1000}, .saved = 0,
        .message = ready, .error = u"<dir>/Restored needs 2.9 KB (2 KB for the restored files, 1000 B working room for Pellwick's "
        "restore state folder (<dir>/RestoreTransfers) on the same disk); 1000 B available. Free space or choose another folder, then retry."_s,
        .fetched = 0};
    QTest::newRow("one full disk: both shares named") << RunCase{.free = Free{u""_s, 0}, .saved = 0, .message = ready,
        .error = u"<dir>/Restored needs 2.9 KB (2 KB for the restored files, 1000 B working room for Pellwick's restore state "
        "folder (<dir>/RestoreTransfers) on the same disk); 0 B available. Free space or choose another folder, then retry."_s,
        .fetched = 0};
    QTest::newRow("restore state folder short in whole blocks") << RunCase{.free = Free{u"RestoreTransfers"_s, 2048, {}, 4096},
        .saved = 0, .message = ready, .error = u"Pellwick's restore state folder (<dir>/RestoreTransfers) needs 4 KB; 2 KB available. "
        "Free space, then retry."_s, .fetched = 0};
    QTest::newRow("destination short of file entries") << RunCase{.free = Free{u"Restored"_s, 1 << 30, 2}, .saved = 0,
        .message = ready, .error = u"<dir>/Restored needs 6 new files; its file system has free file entries for 2. Remove files "
        "there or choose another folder, then retry."_s, .fetched = 0};
    QTest::newRow("destination counting all ones free file entries") << RunCase{.free = Free{u"Restored"_s, 1 << 30, ~0ULL}};
    QTest::newRow("destination refuses a new file mid-run") << RunCase{.items = 3,
        .fault = Fault{FileOperation::CreateFile, ENOSPC, u"Restored/.IMG_"_s}, .saved = 0,
        .message = u"0 of 3 item(s) saved; 3 need attention"_s,
        .reason = u"No space left in <dir>/Restored. Free space or choose another folder, then retry."_s, .fetched = 1};
    QTest::newRow("3 saved, 2 failed, relaunched") << RunCase{.items = 5, .wrongHashes = {1, 3}, .relaunch = true, .saved = 3,
        .message = u"3 of 5 item(s) saved; 2 need attention"_s, .reason = unverified};
    QTest::newRow("destination full after the first file") << RunCase{.items = 3, .fullAfter = 1, .saved = 1,
        .message = u"1 of 3 item(s) saved; 2 need attention"_s,
        .reason = u"No space left in <dir>/Restored. Free space or choose another folder, then retry."_s, .fetched = 2};
    QTest::newRow("destination full, library rebuilt: still needs attention") << RunCase{.items = 3, .fullAfter = 1,
        .rebuildAfter = true, .saved = 1, .message = u"1 of 3 item(s) saved; 2 need attention"_s, .reason = noSpace,
        .messageTone = LibraryPresentationTone::Attention, .overview = {{LibraryPresentationTone::Attention}}};
    QTest::newRow("destination full, library rebuilt, relaunched, retried") << RunCase{.items = 3, .fullAfter = 1,
        .rebuildAfter = true, .relaunch = true, .saved = 1, .message = u"1 of 3 item(s) saved; 2 need attention"_s,
        .reason = noSpace, .messageTone = LibraryPresentationTone::Attention,
        .overview = {{LibraryPresentationTone::Attention}}, .retried = u"Restore complete: 2 item(s) saved"_s};
    QTest::newRow("destination full, retry paused, library rebuilt, relaunched") << RunCase{.items = 3, .fullAfter = 1,
        .retryPausedAfter = 1, .rebuildAfter = true, .relaunch = true, .saved = 2,
        .message = u"2 of 3 item(s) saved; 1 need attention"_s, .reason = noSpace,
        .messageTone = LibraryPresentationTone::Attention, .retried = u"Restore complete: 1 item(s) saved"_s};
    QTest::newRow("one disk for destination and state full, library rebuilt, relaunched, retried") << RunCase{.items = 4,
        .fullAfter = 1, .stateOnFullDisk = true, .rebuildAfter = true, .relaunch = true, .saved = 1,
        .message = u"1 of 4 item(s) saved; 3 need attention"_s, .reason = stateFull,
        .messageTone = LibraryPresentationTone::Attention, .overview = {{LibraryPresentationTone::Attention}},
        .retried = u"Restore complete: 3 item(s) saved"_s};
    QTest::newRow("one full disk, outcome unwritable, library rebuilt, relaunched, retried") << RunCase{.items = 4,
        .fullAfter = 1, .stateOnFullDisk = true, .outcomeUnwritable = true, .rebuildAfter = true, .relaunch = true,
        .saved = 1, .message = u"1 of 4 item(s) saved; 3 need attention"_s, .messageTone = LibraryPresentationTone::Attention,
        .overview = {{LibraryPresentationTone::Attention}}, .retried = u"Restore complete: 3 item(s) saved"_s};
    QTest::newRow("capability expired after the first file") << RunCase{.items = 3, .expiring = true, .saved = 3,
        .message = u"Restore complete: 3 item(s) saved"_s};
    // clang-format on
}

void RestoreTransferRunTests::runSettlesItsOutcomes()
{
    QFETCH(RunCase, c);
    RestoreHarness h(c.items);
    for (const int n : c.wrongHashes)
        h.records[n].contentHash = QString(64, u'0');
    QVERIFY(h.fixture.library.writeItems(h.records));
    if (c.earlierFolder)
        h.restore().setLastCompletedRestoreDestination(h.fixture.dir.filePath(u"Earlier"_s));
    const qint64 requestID = c.guard != Guard::NoRequest ? h.makeReady() : -1;
    const std::shared_ptr<RestoreTransferEngine> &engine
        = h.model->restoreWorkflows().restoreTransferEngine();
    QStringList otherState;
    if (c.otherState) {
        const qint64 itemID = *h.records[0].backendLibraryItemID;
        for (const auto &[id, complete] :
             {std::pair{
                  RestoreTransferIdentifier{requestID + 1, itemID, RestoreTransferArtifact::Raw},
                  true},
              std::pair{
                  RestoreTransferIdentifier{requestID, itemID, RestoreTransferArtifact::Sidecar},
                  false}}) {
            RestoreTransferManifest manifest;
            manifest.id = id;
            manifest.canonicalFilename = u"IMG_0001.xmp"_s;
            manifest.destinationPath = h.destination() + u"/IMG_0001.xmp"_s;
            manifest.transferURL = u"https://store.example/xmp"_s;
            manifest.isComplete = complete;
            QVERIFY(engine->persistManifest(manifest));
            otherState.append(id.fileStem() + u".json"_s);
        }
    }
    if (c.retainedOld)
        h.model->ingestCacheState().setRetainedIngestCacheURL(h.fixture.dir.filePath(u"Old"_s));
    if (c.moveTarget)
        h.model->ingestCacheState().setPendingIngestCacheMigration(
            IngestCacheLocationStoring::PendingMigration{
                h.model->ingestCacheWorkflows().ingestCache().rootURL(),
                h.fixture.dir.filePath(*c.moveTarget)});
    std::unique_ptr<ScopedBindMount> bound;
    if (c.bindCacheAt) {
        const QString cache = h.model->ingestCacheWorkflows().ingestCache().rootURL();
        QVERIFY(QDir().mkpath(cache));
        bound = ScopedBindMount::create(cache, h.fixture.dir.filePath(*c.bindCacheAt));
        if (!bound)
            QSKIP("a bind mount needs the administrator");
    }
    std::optional<QCoro::Task<>> move;
    if (c.moveIntoDestination)
        h.whenSaved(1, [&] {
            move.emplace(
                h.model->ingestCacheWorkflows().beginIngestCacheMigration(h.destination()));
        });
    if (c.probeTakenBeside) {
        h.files->beforeOperation(FileOperation::RemoveItem,
                                 u".pellwick-write-probe-"_s,
                                 [](const QString &path) { QFile::remove(path); });
    }
    if (c.leftoverProbe)
        writeFile(h.destination() + u"/.pellwick-write-probe-LEFT"_s, {});
    const QMap<QString, QString> before = h.placeInDestination({c.existing, u"notes.txt"_s});
    if (c.corruptBytes)
        h.backend.objectStore().setGetFault(TestObjectStore::GetFault::WrongBytes);
    if (c.expiring)
        h.expirePlannedCapabilities();
    if (c.fault)
        h.files->failOperation(c.fault->operation, c.fault->code, c.fault->pathFragment);
    if (c.free)
        h.files->setAvailableSpace(
            h.fixture.dir.filePath(c.free->pathFragment),
            FileSystemSpace{c.free->bytes,
                            FileSystemSpace::reportedFileEntries(c.free->entries.has_value(),
                                                                 c.free->entries.value_or(0)),
                            c.free->blockSize});
    if (c.outcomeUnwritable)
        h.files->failOperation(FileOperation::Truncate, EIO, u"/outcomes/"_s);
    if (c.fullAfter && c.stateOnFullDisk) {
        h.whenSaved(*c.fullAfter, [&] {
            h.files->fillDisk(h.destination() + u'/');
            h.files->fillDisk(engine->rootPath() + u'/');
        });
    } else if (c.fullAfter) {
        h.whenSaved(*c.fullAfter, [&] { h.files->failChanges(ENOSPC, h.destination() + u'/'); });
    }
    std::optional<QCoro::Task<>> cancellation;
    const auto cancel
        = [&] { cancellation.emplace(h.model->restoreWorkflows().cancelActiveRestoreRequest()); };
    const auto pause = [&] { h.model->restoreWorkflows().pauseActiveRestoreTransfer(); };
    if (c.guard == Guard::SignedOut)
        h.model->sessionState().setSession(std::nullopt);
    if (c.guard == Guard::RunActive)
        h.restore().setIsRestoreTransferActive(true);
    if (c.guard == Guard::Cancelling)
        cancel();
    if (c.cancelAfter)
        h.whenSaved(*c.cancelAfter, cancel);
    if (c.pauseAfter && c.quitDuringNext) {
        h.whenSaved(*c.pauseAfter,
                    [&] { h.duringFirst(FileOperation::CreateFile, u".part"_s, pause); });
    } else if (c.pauseAfter) {
        h.whenSaved(*c.pauseAfter, pause);
    }
    if (c.pauseWhilePlanning)
        h.duringFirst(FileOperation::FileExists, u"restore-request-"_s, pause);
    h.recordMainThreadWork();

    h.restoreInto(c.folder ? h.fixture.dir.filePath(*c.folder) : QString());
    if (cancellation)
        QCoro::waitFor(std::move(*cancellation));
    if (move)
        QCoro::waitFor(std::move(*move));
    if (c.moveIntoDestination) {
        QCOMPARE(h.model->ingestCacheState().ingestCacheMigrationMessage(), c.moveIntoDestination);
        QVERIFY(!h.model->ingestCacheState().isIngestCacheMigrationPending());
    }
    if (c.stopAfter)
        QCoro::waitFor(h.model->restoreWorkflows().cancelActiveRestoreRequest());
    if (c.retryPausedAfter) {
        h.files->clearFailures();
        h.whenSaved(*c.retryPausedAfter, pause);
        h.restoreInto();
    }
    if (c.rebuildAfter) {
        QCoro::waitFor(h.model->restoreWorkflows().refreshLocalLibraryCacheForRestore());
        QCoro::waitFor(h.model->restoreWorkflows().refreshActiveRestoreRequest());
    }
    if (c.relaunch)
        h.relaunch();
    if (c.lookUpAfter) {
        QVERIFY(!h.restore().activeRestoreRequest());
        QCoro::waitFor(h.model->restoreWorkflows().refreshActiveRestoreRequest());
    }
    if (c.refreshAfter)
        QCoro::waitFor(h.model->restoreWorkflows().refreshActiveRestoreRequest());
    if (c.startAfter) {
        h.backend.injectFault(
            "POST", "/api/library/restore_requests", TestBackend::Fault::reply(503, "{}"), 1);
        h.createRequest();
    }

    QCOMPARE(h.restore().isRestoreTransferActive(), c.guard == Guard::RunActive);
    const int runs = c.retryPausedAfter ? 2 : 1;
    QCOMPARE(h.requestCount("POST", "/downloads"), !c.planned ? 0 : c.expiring ? 4 : runs);
    QCOMPARE(h.requestCount("POST", "/complete") > 0,
             c.startAfter || (c.message && c.message->startsWith(u"Restore complete")));
    QCOMPARE(h.restore().restoreMessage(),
             c.continuesInDestination ? std::optional(*c.message + h.destination()) : c.message);
    QCOMPARE(h.restore().unfinishedRestoreDestination(),
             c.continuesInDestination ? std::optional(h.destination()) : std::nullopt);
    const auto placed = [&](std::optional<QString> text) {
        return text ? std::optional(text->replace(u"<dir>"_s, h.fixture.dir.path())) : text;
    };
    QCOMPARE(h.restore().restoreErrorMessage(), placed(c.error));
    QCOMPARE(h.restore().hasPausedRestoreTransfer(), c.paused);
    QCOMPARE(h.restore().restoreFilenameConflict().has_value(), c.suggestion.has_value());
    if (c.suggestion)
        QCOMPARE(h.restore().restoreConflictFilename(), *c.suggestion);
    const RestorePresentation page = RestorePresentation::derive(
        RestorePageState::read(h.restore(), h.model->sessionState(), h.model->restoreWorkflows()));
    if (c.reason) {
        const QList<RestoreRequestItem> &items = h.restore().activeRestoreRequest()->items;
        const auto attention = std::find_if(items.cbegin(), items.cend(), [](const auto &item) {
            return item.status == RestoreRequestStatus::NeedsAttention;
        });
        QVERIFY(attention != items.cend());
        QCOMPARE(attention->attentionReason, placed(c.reason));
        QCOMPARE(page.actionAvailability.transferTitle, u"Retry Failed Restore"_s);
    }
    if (c.messageTone)
        QCOMPARE(page.summary.messageTone, *c.messageTone);
    if (c.savedHere)
        QCOMPARE(page.summary.completedDestination,
                 *c.savedHere ? std::optional(h.destination()) : std::nullopt);
    if (c.overview) {
        QList<LibraryPresentationTone> tones;
        for (const SystemStatusRow &row :
             SystemStatusPanel::rows(SystemStatusSnapshot::read(h.model->sessionState(),
                                                                h.model->importState(),
                                                                h.restore(),
                                                                h.model->shellState(),
                                                                h.model->libraryState()))) {
            if (row.title == u"Restore"_s)
                tones.append(row.tone);
            if (row.title == u"Restore"_s && tones.size() == 1)
                QCOMPARE(row.detail, placed(c.reason));
        }
        QCOMPARE(tones, *c.overview);
    }
    QVERIFY(!QFileInfo::exists(h.destination() + u"/.pellwick-write-probe-LEFT"_s));
    const QMap<QString, QString> saved = h.newFiles(before);
    QCOMPARE(saved.size(), c.saved);
    if (!c.planned)
        QCOMPARE(h.backend.objectStore().requests().size(), 0);
    // A run that saved a file reads the library's figures (its restore allowance) again.
    QCOMPARE(h.backend.requestCount("GET", "/api/library"), c.saved > 0 ? runs : 0);
    for (auto it = saved.cbegin(); it != saved.cend(); ++it)
        QCOMPARE(it.value(), h.archivedHashes().value(it.key()));
    QCOMPARE(h.mainThreadWork(), QStringList());
    for (int n = 0; c.fetched && n < c.items; ++n) {
        const RestoreTransferIdentifier id{
            requestID, *h.records[n].backendLibraryItemID, RestoreTransferArtifact::Raw};
        const Result<std::optional<RestoreTransferManifest>> kept = engine->manifest(id);
        QVERIFY(kept);
        if (n >= *c.fetched)
            QCOMPARE(h.objectGets(h.records[n].canonicalFilename), 0);
        else if (!saved.contains(h.records[n].canonicalFilename))
            QVERIFY(*kept && !(*kept)->completedRanges.isEmpty());
    }
    if (c.retried) {
        h.files->clearFailures();
        h.restoreInto();
        QCOMPARE(h.restore().restoreMessage(), c.retried);
        QVERIFY(!h.restore().activeRestoreRequest());
        QCOMPARE(h.newFiles(before).size(), c.items);
        QVERIFY(!h.restore().hasPausedRestoreTransfer());
    }
    if (c.otherState) {
        const QStringList left = QDir(engine->rootPath() + u"/manifests"_s).entryList(QDir::Files);
        QCOMPARE(QSet<QString>(left.cbegin(), left.cend()),
                 QSet<QString>(otherState.cbegin(), otherState.cend()));
    }
}

QTEST_GUILESS_MAIN(RestoreTransferRunTests)
#include "RestoreTransferRunTests.moc"
