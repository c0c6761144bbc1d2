#include "ImporterRunScene.h"

#include <PellwickCore/Import/VerifiedBackupImporter.h>
#include <PellwickCore/Import/VerifiedBackupImporterError.h>
#include <PellwickCore/Support/UuidText.h>

#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <Support/TestErrors.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

using S = LibraryItemImportStatus;
using P = StagedImportPhase;

/// Stages cached item `index` of the scene and writes its first record changed by `change`.
StagedImportRecord stagePackage(
    ImporterRunScene &scene,
    int index,
    const std::function<StagedImportRecord(StagedImportRecord)> &change
    = [](StagedImportRecord r) { return r; })
{
    const VerifiedBackupImporter importer = scene.importer();
    QSet<QString> used;
    const Result<PreparedBackup> prepared = importer.prepareBackup(
        *importer.cacheReviewItem(scene.items[index]), std::nullopt, used, scene.items[index]);
    const StagedImportRecord record = change(prepared->record);
    (void) scene.stagingArea().writeRecord(record);
    return record;
}

void setStatus(ImporterRunScene &scene, int index, S status)
{
    (void) scene.cache().updateImportStatus(scene.items[index].id, status);
}

/// Writes `bytes` as the record of a new package folder.
void writeBrokenRecord(ImporterRunScene &scene, const QString &folder, const QByteArray &bytes)
{
    writeFile(scene.stagingRoot() + u'/' + folder + u"/import-state.json"_s, bytes);
}

QByteArray namingOnly(const QUuid &id)
{
    return "{\"localLibraryItemID\": \"" + uuidText(id).toUtf8() + "\"}";
}

} // namespace

class ImporterRecoveryTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void onlyTerminalRecords();
    void resumableRecordsInListingOrder();
    void unreadableRecords_data();
    void unreadableRecords();
    void terminalRecordsTheLibraryMissed_data();
    void terminalRecordsTheLibraryMissed();
    void staleStagingOfAVerifiedItem_data();
    void staleStagingOfAVerifiedItem();
    void staleStagingNeverUndoesAVerifiedItem_data();
    void staleStagingNeverUndoesAVerifiedItem();
    void stagingsOfAnItemOneVerified_data();
    void stagingsOfAnItemOneVerified();
    void refusedCompletionHoldsBackNoOtherPackage();
};

void ImporterRecoveryTests::refusedCompletionHoldsBackNoOtherPackage()
{
    ImporterRunScene scene(5);
    // Package n+1 as authorized, its parts sent; `done` also completes and uploads the rest.
    const auto authorized = [](int n, bool done) {
        return [n, done](StagedImportRecord r) {
            VerifiedBackupUploadAuthorization a;
            a.libraryItemID = 41 + n;
            a.rawOriginalUpload = multipartUpload(u"raw-%1"_s.arg(n), 1000, {1, 2});
            if (n != 1)
                a.sidecarUpload = multipartUpload(u"xmp-%1"_s.arg(n), 1000, {1});
            r = r.replacingAuthorization(a)
                    .markingRawPartUploaded({1, u"\"e1\""_s})
                    .markingRawPartUploaded({2, u"\"e2\""_s});
            if (n != 1)
                r = r.markingSidecarPartUploaded({1, u"\"e3\""_s});
            if (!done)
                return r;
            return r.markingRawUploadCompleted()
                .markingSidecarUploadCompleted()
                .markingPreviewUploaded()
                .markingUploaded();
        };
    };
    QHash<QUuid, int> indexOf;
    QList<StagedImportRecord> staged;
    for (int i = 0; i < 5; ++i) {
        staged.append(stagePackage(scene, i));
        (void) scene.stagingArea().writeRecord(authorized(i, true)(staged.last()));
        indexOf.insert(scene.items[i].id, i);
    }
    // The package listed first stopped before its completion, which the backend now refuses.
    const QUuid first
        = scene.stagingArea().readRecoverableRecords()->records.first().localLibraryItemID;
    const int index = indexOf.value(first);
    (void) scene.stagingArea().writeRecord(authorized(index, false)(staged.at(index)));
    const Error refused
        = LibrarySessionClientError{LibrarySessionClientError::UnexpectedStatus{400}};
    scene.api->states = {VerifiedBackupUploadState{0, S::Uploading}};
    scene.api->decisions.clear();
    scene.scriptPackage(index + 1);
    scene.api->completions = {tl::unexpected<Error>(refused), Result<void>()};

    const Result<QList<LocalLibraryItem>> items = scene.importer().resumeInterruptedImports(
        u"t"_s, scene.callback(), scene.rowSink(), QUuid::createUuid());
    QVERIFY(!items);
    QCOMPARE(items.error(), refused);
    for (const LocalLibraryItem &item : scene.items)
        QCOMPARE(scene.storedItem(item.id).importStatus,
                 item.id == first ? S::NeedsAttention : S::VerifiedBackup);
    QCOMPARE(scene.log->matching(u"finalize"_s).size(), 4);
    // Closed: the next start leaves it to the user.
    const StagingRecoveryReport after = *scene.stagingArea().readRecoverableRecords();
    for (const StagedImportRecord &record : after.records)
        QCOMPARE(record.phase,
                 record.localLibraryItemID == first ? P::NeedsAttention : P::VerifiedBackup);
}

void ImporterRecoveryTests::onlyTerminalRecords()
{
    ImporterRunScene scene;
    const StagedImportRecord verified
        = stagePackage(scene, 0, [](auto r) { return r.markingTerminal(P::VerifiedBackup); });
    const StagedImportRecord duplicate
        = stagePackage(scene, 1, [](auto r) { return r.markingDuplicate(9); });
    setStatus(scene, 0, S::VerifiedBackup);
    setStatus(scene, 1, S::Duplicate);
    (void) scene.cache().updateArchiveSidecar(scene.items[0].id,
                                              verified.sidecarFilename,
                                              verified.sidecarByteCount,
                                              verified.sidecarContentHash);
    const qsizetype before = scene.log->events().size();
    const Result<QList<LocalLibraryItem>> items = scene.importer().resumeInterruptedImports(
        u"t"_s, scene.callback(), scene.rowSink(), QUuid::createUuid());
    PELLWICK_VERIFY_SUCCESS(items);
    QVERIFY(items->isEmpty());
    QCOMPARE(scene.log->events().mid(before), QStringList());
    // Finished packages stay as they are, with their records and staged copies.
    for (const StagedImportRecord &record : {verified, duplicate}) {
        QVERIFY(QFileInfo::exists(scene.stagingArea().stagedOriginalURL(record)));
        QVERIFY(QFileInfo::exists(scene.stagingArea().recordURL(record)));
    }
    QVERIFY(QFileInfo::exists(*scene.stagingArea().stagedSidecarURL(verified)));
    QCOMPARE(scene.stagingArea().readRecoverableRecords()->records.size(), 2);
}

void ImporterRecoveryTests::resumableRecordsInListingOrder()
{
    ImporterRunScene scene;
    stagePackage(scene, 0);
    stagePackage(scene, 2, [&](StagedImportRecord r) {
        VerifiedBackupUploadAuthorization a;
        a.libraryItemID = 43;
        a.rawOriginalUpload = multipartUpload(u"raw-3"_s, 1000, {1, 2});
        a.sidecarUpload = multipartUpload(u"xmp-3"_s, 1000, {1});
        return r.replacingAuthorization(a)
            .markingRawUploadCompleted()
            .markingSidecarUploadCompleted()
            .markingPreviewUploaded()
            .markingUploaded();
    });
    scene.api->states = {VerifiedBackupUploadState{43, S::Verifying}};
    const StagingRecoveryReport report = *scene.stagingArea().readRecoverableRecords();

    const Result<QList<LocalLibraryItem>> items = scene.importer().resumeInterruptedImports(
        u"t"_s, scene.callback(), scene.rowSink(), QUuid::createUuid());
    PELLWICK_VERIFY_SUCCESS(items);
    QCOMPARE(items->size(), 2);
    for (qsizetype i = 0; i < 2; ++i) {
        QCOMPARE(items->at(i).id, report.records.at(i).localLibraryItemID);
        QCOMPARE(items->at(i).importStatus, S::VerifiedBackup);
    }
    qint64 total = 0;
    for (const StagedImportRecord &record : report.records)
        total += record.byteCount + record.sidecarByteCount;
    QCOMPARE(scene.rows.first().totalByteCount, total);
    QCOMPARE(scene.rows.first().totalPackageCount, 2);
    QCOMPARE(scene.rows.first().phase, TransferProgressPhase::Staging);
    QCOMPARE(scene.rows.first().currentFilename,
             std::optional(report.records.first().originalFilename));
    // The uploaded package is not authorized again; the other one is, once.
    QCOMPARE(scene.log->matching(u"request"_s).size(), 1);
    QCOMPARE(scene.log->matching(u"state "_s).size(), 1);
}

void ImporterRecoveryTests::unreadableRecords_data()
{
    QTest::addColumn<bool>("anonymousIssue");
    QTest::addColumn<S>("libraryStatus");
    QTest::addColumn<S>("expected");
    QTest::newRow("every issue names an item") << false << S::Uploading << S::NeedsAttention;
    QTest::newRow("one issue names none") << true << S::Uploading << S::NeedsAttention;
    QTest::newRow("ready item") << false << S::LocalCacheReady << S::NeedsAttention;
    // The archive's verdict on the item's bytes stands: a leftover file takes nothing from it.
    QTest::newRow("verified item stays verified")
        << false << S::VerifiedBackup << S::VerifiedBackup;
    QTest::newRow("archived item pending cleanup stays so")
        << false << S::CleanupPending << S::CleanupPending;
    QTest::newRow("verified item, one issue names none")
        << true << S::VerifiedBackup << S::VerifiedBackup;
}

void ImporterRecoveryTests::unreadableRecords()
{
    QFETCH(bool, anonymousIssue);
    QFETCH(S, libraryStatus);
    QFETCH(S, expected);
    ImporterRunScene scene;
    setStatus(scene, 1, libraryStatus);
    writeBrokenRecord(scene, u"A"_s, namingOnly(scene.items[1].id));
    writeBrokenRecord(scene, u"B"_s, namingOnly(scene.items[1].id));
    writeBrokenRecord(scene, u"C"_s, namingOnly(QUuid::createUuid()));
    if (anonymousIssue)
        writeBrokenRecord(scene, u"D"_s, "not json");
    const Result<QList<LocalLibraryItem>> items = scene.importer().resumeInterruptedImports(
        u"t"_s, scene.callback(), {}, QUuid::createUuid());
    // Two issues naming one item set it twice; an unknown id changes nothing.
    const bool changed = expected != libraryStatus;
    QCOMPARE(scene.log->matching(u"statusDidChange"_s).size(), changed ? 2 : 0);
    QCOMPARE(scene.storedItem(scene.items[1].id).importStatus, expected);
    QCOMPARE(scene.cache().readItems()->size(), 3);
    if (anonymousIssue) {
        QVERIFY(!items);
        QCOMPARE(items.error(), Error(VerifiedBackupImporterError::unrecoverableStagedImport()));
    } else {
        PELLWICK_VERIFY_SUCCESS(items);
        QCOMPARE(items->size(), changed ? 2 : 0);
        for (const LocalLibraryItem &item : *items)
            QCOMPARE(item.id, scene.items[1].id);
    }
    // The record files stay.
    QVERIFY(QFileInfo::exists(scene.stagingRoot() + u"/A/import-state.json"_s));
}

void ImporterRecoveryTests::staleStagingOfAVerifiedItem_data()
{
    QTest::addColumn<S>("libraryStatus");
    QTest::addColumn<bool>("sameBytes");
    QTest::addColumn<S>("expected");
    QTest::newRow("verified item stays verified") << S::VerifiedBackup << true << S::VerifiedBackup;
    QTest::newRow("verified item with other bytes") << S::VerifiedBackup << false << S::Duplicate;
    QTest::newRow("ready item becomes a duplicate") << S::LocalCacheReady << true << S::Duplicate;
}

void ImporterRecoveryTests::staleStagingOfAVerifiedItem()
{
    QFETCH(S, libraryStatus);
    QFETCH(bool, sameBytes);
    QFETCH(S, expected);
    // A stop right after the first record; the item was then imported again and verified.
    ImporterRunScene scene;
    const StagedImportRecord stale = stagePackage(scene, 0);
    setStatus(scene, 0, libraryStatus);
    if (!sameBytes) {
        QList<LocalLibraryItem> all = *scene.cache().readItems();
        all.first().contentHash = QString(64, u'f');
        PELLWICK_VERIFY_SUCCESS(scene.cache().writeItems(all));
    }
    scene.api->decisions = {VerifiedBackupUploadDecision{VerifiedBackupUploadDecision::Duplicate{
        {77, stale.originalFilename, stale.contentHash, stale.byteCount}}}};

    const Result<QList<LocalLibraryItem>> items = scene.importer().resumeInterruptedImports(
        u"t"_s, scene.callback(), scene.rowSink(), QUuid::createUuid());
    PELLWICK_VERIFY_SUCCESS(items);
    QCOMPARE(items->size(), 1);
    QCOMPARE(items->first().importStatus, expected);
    QCOMPARE(scene.cache().readItems()->first().importStatus, expected);
    QCOMPARE(scene.stagingArea().readRecoverableRecords()->records.first().phase, P::Duplicate);
}

namespace {

enum class StaleEnd {
    NewUploadNeedsAttention,
    Refused,
    PartUploadFails,
    StagedCopyGone,
    OwnBackendItemNeedsAttention,
};

} // namespace

void ImporterRecoveryTests::staleStagingNeverUndoesAVerifiedItem_data()
{
    QTest::addColumn<StaleEnd>("end");
    QTest::newRow("new upload whose finalization needs attention")
        << StaleEnd::NewUploadNeedsAttention;
    QTest::newRow("authorization refused") << StaleEnd::Refused;
    QTest::newRow("part upload fails") << StaleEnd::PartUploadFails;
    QTest::newRow("staged copy gone") << StaleEnd::StagedCopyGone;
    QTest::newRow("its own backend item needs attention") << StaleEnd::OwnBackendItemNeedsAttention;
}

void ImporterRecoveryTests::staleStagingNeverUndoesAVerifiedItem()
{
    QFETCH(StaleEnd, end);
    // A stop left a resumable record; the item was imported again, verified as backend item 7,
    // and the card may have been erased since. Whatever the stale staging meets, the item stays
    // verified under the backend item that holds its bytes.
    ImporterRunScene scene;
    const StagedImportRecord stale = stagePackage(scene, 0, [&](StagedImportRecord r) {
        if (end == StaleEnd::OwnBackendItemNeedsAttention)
            r.backendLibraryItemID = 99;
        return r;
    });
    setStatus(scene, 0, S::VerifiedBackup);
    (void) scene.cache().updateBackendLibraryItemID(scene.items[0].id, 7);
    const Error refused
        = LibrarySessionClientError{LibrarySessionClientError::UnexpectedStatus{422}};
    switch (end) {
    case StaleEnd::NewUploadNeedsAttention:
        scene.api->finalizations
            = {VerifiedBackupFinalization{41, S::NeedsAttention, std::nullopt}};
        break;
    case StaleEnd::Refused:
        scene.api->decisions = {tl::unexpected<Error>(refused)};
        break;
    case StaleEnd::PartUploadFails:
        scene.uploader->failures = {{u"raw-1"_s, refused}};
        break;
    case StaleEnd::StagedCopyGone:
        QVERIFY(QFile::remove(scene.stagingArea().stagedOriginalURL(stale)));
        break;
    case StaleEnd::OwnBackendItemNeedsAttention:
        scene.api->states = {VerifiedBackupUploadState{99, S::NeedsAttention}};
        break;
    }

    (void) scene.importer().resumeInterruptedImports(
        u"t"_s, scene.callback(), scene.rowSink(), QUuid::createUuid());
    const LocalLibraryItem item = scene.cache().readItems()->first();
    QCOMPARE(item.importStatus, S::VerifiedBackup);
    QCOMPARE(item.backendLibraryItemID, std::optional<qint64>(7));
    QVERIFY(item.isSafeToEraseSourceMedia());
}

void ImporterRecoveryTests::stagingsOfAnItemOneVerified_data()
{
    // One staging of the item ended verified as backend item 7; the other one ("other") ended
    // as a duplicate, or was left resumable by a stop and is refused when asked again.
    QTest::addColumn<P>("otherPhase");
    QTest::addColumn<qint64>("otherBackendID");
    QTest::addColumn<bool>("otherSameBytes");
    QTest::addColumn<bool>("verifiedFirst");
    QTest::addColumn<S>("libraryStatus");
    QTest::addColumn<S>("expected");
    const auto row
        = [](const char *name, P phase, qint64 id, bool same, bool first, S library, S expected) {
              QTest::newRow(name) << phase << id << same << first << library << expected;
          };
    row("duplicate of it after it, library missed both",
        P::Duplicate,
        7,
        true,
        true,
        S::Verifying,
        S::VerifiedBackup);
    row("duplicate of it before it, library missed both",
        P::Duplicate,
        7,
        true,
        false,
        S::Verifying,
        S::VerifiedBackup);
    row("duplicate of it, item still uploading",
        P::Duplicate,
        7,
        true,
        true,
        S::Uploading,
        S::VerifiedBackup);
    row("duplicate of it after it, library verified",
        P::Duplicate,
        7,
        true,
        true,
        S::VerifiedBackup,
        S::VerifiedBackup);
    row("duplicate of it before it, library verified",
        P::Duplicate,
        7,
        true,
        false,
        S::VerifiedBackup,
        S::VerifiedBackup);
    row("stale staging refused after it, library missed it",
        P::NotStarted,
        0,
        true,
        true,
        S::Verifying,
        S::VerifiedBackup);
    row("stale staging refused before it, library missed it",
        P::NotStarted,
        0,
        true,
        false,
        S::Verifying,
        S::VerifiedBackup);
    row("stale staging refused, library verified",
        P::NotStarted,
        0,
        true,
        false,
        S::VerifiedBackup,
        S::VerifiedBackup);
    // Doubt stays doubt.
    row("duplicate of another backend item",
        P::Duplicate,
        8,
        true,
        true,
        S::Verifying,
        S::NeedsAttention);
    row("duplicate of other bytes", P::Duplicate, 7, false, false, S::Verifying, S::NeedsAttention);
    row("needing attention", P::NeedsAttention, 7, true, true, S::Verifying, S::NeedsAttention);
}

void ImporterRecoveryTests::stagingsOfAnItemOneVerified()
{
    QFETCH(P, otherPhase);
    QFETCH(qint64, otherBackendID);
    QFETCH(bool, otherSameBytes);
    QFETCH(bool, verifiedFirst);
    QFETCH(S, libraryStatus);
    QFETCH(S, expected);
    ImporterRunScene scene;
    stagePackage(scene, 0);
    stagePackage(scene, 0);
    const QList<StagedImportRecord> listed = scene.stagingArea().readRecoverableRecords()->records;
    QCOMPARE(listed.size(), 2);
    StagedImportRecord verified = listed.at(verifiedFirst ? 0 : 1);
    verified.backendLibraryItemID = 7;
    PELLWICK_VERIFY_SUCCESS(
        scene.stagingArea().writeRecord(verified.markingTerminal(P::VerifiedBackup)));
    StagedImportRecord other = listed.at(verifiedFirst ? 1 : 0);
    if (!otherSameBytes)
        other.contentHash = QString(64, u'e');
    if (otherPhase == P::Duplicate)
        other = other.markingDuplicate(otherBackendID);
    else if (otherPhase != P::NotStarted)
        other = other.markingTerminal(otherPhase);
    PELLWICK_VERIFY_SUCCESS(scene.stagingArea().writeRecord(other));
    QCOMPARE(scene.stagingArea().readRecoverableRecords()->records.size(), 2);
    setStatus(scene, 0, libraryStatus);
    (void) scene.cache().updateBackendLibraryItemID(scene.items[0].id, 7);
    scene.api->decisions = {tl::unexpected<Error>(
        LibrarySessionClientError{LibrarySessionClientError::UnexpectedStatus{422}})};

    (void) scene.importer().resumeInterruptedImports(
        u"t"_s, scene.callback(), scene.rowSink(), QUuid::createUuid());
    const LocalLibraryItem item = scene.storedItem(scene.items[0].id);
    QCOMPARE(item.importStatus, expected);
    if (expected == S::VerifiedBackup) {
        // The archive holds the item's bytes as backend item 7: nothing asks the backend again.
        QCOMPARE(item.backendLibraryItemID, std::optional<qint64>(7));
        QVERIFY(item.isSafeToEraseSourceMedia());
        QCOMPARE(scene.log->matching(u"request"_s), QStringList());
        QCOMPARE(item.archiveSidecarFilename, std::optional(u"IMG_0001.xmp"_s));
    }
    // A second recovery changes nothing.
    PELLWICK_VERIFY_SUCCESS(scene.importer().resumeInterruptedImports(
        u"t"_s, scene.callback(), {}, QUuid::createUuid()));
    QCOMPARE(scene.storedItem(scene.items[0].id).importStatus, expected);
}

void ImporterRecoveryTests::terminalRecordsTheLibraryMissed_data()
{
    QTest::addColumn<QList<P>>("phases");
    QTest::addColumn<S>("libraryStatus");
    QTest::addColumn<S>("expected");
    QTest::addColumn<bool>("settled");
    QTest::newRow("verified record, item verifying")
        << QList<P>{P::VerifiedBackup} << S::Verifying << S::VerifiedBackup << true;
    QTest::newRow("duplicate record, item uploading")
        << QList<P>{P::Duplicate} << S::Uploading << S::Duplicate << true;
    QTest::newRow("records disagree: never verified on doubt")
        << QList<P>{P::VerifiedBackup, P::NeedsAttention} << S::Verifying << S::NeedsAttention
        << true;
    QTest::newRow("verified item without its sidecar facts")
        << QList<P>{P::VerifiedBackup} << S::VerifiedBackup << S::VerifiedBackup << true;
    QTest::newRow("item already settled: untouched")
        << QList<P>{P::NeedsAttention} << S::VerifiedBackup << S::VerifiedBackup << false;
}

void ImporterRecoveryTests::terminalRecordsTheLibraryMissed()
{
    QFETCH(QList<P>, phases);
    QFETCH(S, libraryStatus);
    QFETCH(S, expected);
    QFETCH(bool, settled);
    ImporterRunScene scene;
    for (const P phase : phases)
        stagePackage(scene, 0, [phase](auto r) { return r.markingTerminal(phase); });
    setStatus(scene, 0, libraryStatus);
    const qsizetype before = scene.log->matching(u"statusDidChange"_s).size();
    const Result<QList<LocalLibraryItem>> items = scene.importer().resumeInterruptedImports(
        u"t"_s, scene.callback(), {}, QUuid::createUuid());
    PELLWICK_VERIFY_SUCCESS(items);
    const LocalLibraryItem stored = scene.storedItem(scene.items[0].id);
    QCOMPARE(stored.importStatus, expected);
    QCOMPARE(items->size(), settled ? 1 : 0);
    QCOMPARE(scene.log->matching(u"statusDidChange"_s).size() - before, settled ? 1 : 0);
    QCOMPARE(scene.log->matching(u"request"_s), QStringList());
    if (expected == S::VerifiedBackup && settled) {
        QCOMPARE(stored.archiveSidecarFilename, std::optional(u"IMG_0001.xmp"_s));
        QCOMPARE(stored.archiveSidecarByteCount, std::optional<qint64>(200));
    }
    // A second recovery does nothing.
    const qsizetype events = scene.log->events().size();
    const Result<QList<LocalLibraryItem>> again = scene.importer().resumeInterruptedImports(
        u"t"_s, scene.callback(), {}, QUuid::createUuid());
    PELLWICK_VERIFY_SUCCESS(again);
    QVERIFY(again->isEmpty());
    QCOMPARE(scene.log->events().size(), events);
}

QTEST_GUILESS_MAIN(ImporterRecoveryTests)
#include "ImporterRecoveryTests.moc"
