#include <PellwickCore/Library/LocalLibraryCache.h>

#include <QTemporaryDir>
#include <QTest>

#include <Support/FaultInjectingFileManager.h>
#include <Support/LibraryFixtures.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

class LibraryRebuildTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void linking_data();
    void linking();
    void linkedRecordKeepsWhatOnlyThisMachineKnows_data();
    void linkedRecordKeepsWhatOnlyThisMachineKnows();
    void newRecordIsTheBackendItem();
    void contentLinkNeedsTheArchivedSidecar_data();
    void contentLinkNeedsTheArchivedSidecar();
    void backendIDLinkIsSafeOnlyWithTheSourceSidecarArchived_data();
    void backendIDLinkIsSafeOnlyWithTheSourceSidecarArchived();
    void failedWriteKeepsTheLibrary();

private:
    LocalLibraryCache store(std::shared_ptr<const FileManager> fileManager = nullptr) const;

    std::unique_ptr<QTemporaryDir> m_dir;
};

namespace {

/// A local record "label backendID|- hash [canonical [=prev]]"; "=prev" gives it the previous
/// record's id, as a hand-edited file may.
LocalLibraryItem localRecord(const QString &layout, int n)
{
    const QStringList words = layout.split(QLatin1Char(' '));
    LocalLibraryItem item = filledLibraryItem(n);
    item.originalFilename = words.at(0);
    item.backendLibraryItemID = words.at(1) == QStringLiteral("-")
                                    ? std::nullopt
                                    : std::optional<qint64>(words.at(1).toLongLong());
    item.contentHash = words.at(2);
    item.canonicalFilename = words.value(3, QStringLiteral("c"));
    item.ingestCacheSidecarContentHash = QStringLiteral("xmp-") + item.contentHash;
    item.sourceMediaEvidence->sidecarContentHash = item.ingestCacheSidecarContentHash;
    return item;
}

/// A backend item "id hash [canonical [attention]]", named like the local record "a", holding the
/// sidecar of the local records with its bytes; archived unless it says "attention".
RemoteLibraryItem remoteItem(const QString &layout)
{
    const QStringList words = layout.split(QLatin1Char(' '));
    RemoteLibraryItem item;
    item.id = words.at(0).toLongLong();
    item.contentHash = words.at(1);
    item.canonicalFilename = words.value(2, QStringLiteral("c"));
    item.originalFilename = QStringLiteral("a");
    item.archiveByteCount = 1000 + item.id;
    item.importStatus = words.value(3) == QStringLiteral("attention")
                            ? LibraryItemImportStatus::NeedsAttention
                            : LibraryItemImportStatus::VerifiedBackup;
    item.importedAt = Date{6e8 + static_cast<double>(item.id)};
    item.importSourceName = QStringLiteral("Card ") + words.at(0);
    item.archiveSidecarContentHash = QStringLiteral("xmp-") + item.contentHash;
    return item;
}

/// Gives `remote` an archived sidecar with the content hash `hash`, or none for "-".
void archiveSidecar(RemoteLibraryItem &remote, const QString &hash)
{
    remote.archiveSidecarContentHash.reset();
    if (hash == QStringLiteral("-"))
        return;
    remote.archiveSidecarFilename = QStringLiteral("IMG.xmp");
    remote.archiveSidecarByteCount = 4;
    remote.archiveSidecarContentHash = hash;
}

} // namespace

void LibraryRebuildTests::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

LocalLibraryCache LibraryRebuildTests::store(std::shared_ptr<const FileManager> fileManager) const
{
    return LocalLibraryCache(
        m_dir->path(), fileManager ? std::move(fileManager) : std::make_shared<LocalFileManager>());
}

void LibraryRebuildTests::linking_data()
{
    QTest::addColumn<QStringList>("local");
    QTest::addColumn<QStringList>("remote");
    // "label:backendID" per resulting record; "new" for a record made from a backend item.
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("linked record kept")
        << texts({"a 7 h1 c1"}) << texts({"7 h1 c1"}) << texts({"a:7"});
    QTest::newRow("linked record whose names differ is replaced")
        << texts({"a 7 h1 c1"}) << texts({"7 h1 c2"}) << texts({"new:7"});
    QTest::newRow("linked record whose hash differs is replaced")
        << texts({"a 7 h1"}) << texts({"7 h2"}) << texts({"new:7"});
    QTest::newRow("record unknown to the backend is dropped")
        << texts({"a 7 h1", "b 8 h2"}) << texts({"8 h2"}) << texts({"new:8"});
    QTest::newRow("unlinked record linked by content")
        << texts({"a - h1 c1"}) << texts({"7 h1 other"}) << texts({"a:7"});
    QTest::newRow("two unlinked records with the bytes: neither linked")
        << texts({"a - h1", "b - h1"}) << texts({"7 h1"}) << texts({"a:-", "b:-", "new:7"});
    QTest::newRow("two records with the backend id: content decides")
        << texts({"a 7 h1", "a 7 h1", "c - h1"}) << texts({"7 h1"}) << texts({"c:7"});
    QTest::newRow("two backend items with one hash")
        << texts({"a - h1"}) << texts({"7 h1", "8 h1"}) << texts({"a:7", "new:8"});
    QTest::newRow("two backend items with one hash, the first not archived")
        << texts({"a - h1"}) << texts({"7 h1 c attention", "8 h1"}) << texts({"new:7", "a:8"});
    QTest::newRow("empty backend list keeps only unlinked records")
        << texts({"a 7 h1", "b - h2", "c 8 h3", "d - h4"}) << QStringList{}
        << texts({"b:-", "d:-"});
    QTest::newRow("unlinked records first, then the backend's order")
        << texts({"x 5 h9", "a - h1", "b - h2", "y 4 h7"}) << texts({"3 h2", "4 h7"})
        << texts({"a:-", "b:3", "new:4"});
    QTest::newRow("repeated backend id counts once")
        << texts({"a 7 h1"}) << texts({"7 h1", "9 h5", "7 h1", "9 h5"}) << texts({"a:7", "new:9"});
    QTest::newRow("repeated backend id of a content link counts once")
        << texts({"a - h1"}) << texts({"7 h1", "7 h1"}) << texts({"a:7"});
    QTest::newRow("a record sharing its id with a content link stays")
        << texts({"a - h1", "b - h2 c =prev"}) << texts({"7 h1"}) << texts({"b:-", "a:7"});
    QTest::newRow("records sharing an id, each linked by content")
        << texts({"a - h1", "b - h2 c =prev", "c - h3"}) << texts({"8 h2", "7 h1"})
        << texts({"c:-", "b:8", "a:7"});
    QTest::newRow("unlinked record changed since the list was asked for, linked by content")
        << texts({"a - h1 c *"}) << texts({"7 h1"}) << texts({"a:7"});
}

void LibraryRebuildTests::linking()
{
    QFETCH(QStringList, local);
    QFETCH(QStringList, remote);
    QFETCH(QStringList, expected);

    QList<LocalLibraryItem> records;
    QSet<QUuid> localIDs;
    for (const QString &layout : local) {
        LocalLibraryItem record = localRecord(layout, static_cast<int>(records.size()));
        if (layout.endsWith(QStringLiteral(" =prev")))
            record.id = records.last().id;
        localIDs.insert(record.id);
        records.append(record);
    }
    PELLWICK_VERIFY_SUCCESS(store().writeItems(records));
    QList<RemoteLibraryItem> items;
    for (const QString &layout : remote)
        items.append(remoteItem(layout));
    // A record ending " *" is written again after the list was asked for.
    const Result<LocalLibraryCacheRecords> whenListed = store().cachedRecords();
    QVERIFY(whenListed);
    for (qsizetype n = 0; n < records.size(); ++n) {
        if (local.at(n).endsWith(QStringLiteral(" *")))
            records[n].preview = LocalPreviewState::failed(QStringLiteral("changed"));
    }
    PELLWICK_VERIFY_SUCCESS(store().writeItems(records));

    PELLWICK_VERIFY_SUCCESS(store().rebuild(items, *whenListed));

    const QList<LocalLibraryItem> rebuilt = store().readItems().value();
    QStringList summary;
    QSet<QUuid> ids;
    for (const LocalLibraryItem &item : rebuilt) {
        const bool isNew
            = item.preview == LocalPreviewState::failed(QStringLiteral("Preview needs refresh"));
        QString label = QStringLiteral("?");
        for (const LocalLibraryItem &record : records) {
            if (record.id == item.id
                && (label == QStringLiteral("?") || record.contentHash == item.contentHash))
                label = record.originalFilename;
        }
        summary.append((isNew ? QStringLiteral("new") : label) + QLatin1Char(':')
                       + (item.backendLibraryItemID ? QString::number(*item.backendLibraryItemID)
                                                    : QStringLiteral("-")));
        ids.insert(item.id);
        if (!item.backendLibraryItemID) // unlinked records stay exactly as they were
            QVERIFY(records.contains(item));
        else
            QCOMPARE(item.restoreStatus, std::nullopt);
    }
    QCOMPARE(summary, expected);
    if (localIDs.size() == records.size()) // ids stay unique unless the file repeated one
        QCOMPARE(ids.size(), rebuilt.size());
}

void LibraryRebuildTests::linkedRecordKeepsWhatOnlyThisMachineKnows_data()
{
    QTest::addColumn<bool>("remoteHasPaths");
    QTest::addColumn<bool>("linkedByID");

    QTest::newRow("by backend id, paths given") << true << true;
    QTest::newRow("by backend id, paths absent") << false << true;
    QTest::newRow("by content, paths given") << true << false;
    QTest::newRow("by content, paths absent") << false << false;
}

void LibraryRebuildTests::linkedRecordKeepsWhatOnlyThisMachineKnows()
{
    QFETCH(bool, remoteHasPaths);
    QFETCH(bool, linkedByID);

    LocalLibraryItem local = filledLibraryItem(3);
    local.backendLibraryItemID = linkedByID ? std::optional<qint64>(7) : std::nullopt;
    local.restoreStatus = RestoreRequestStatus::NeedsAttention;
    local.restoreAttentionReason = QStringLiteral("Object missing");
    local.importStatus = LibraryItemImportStatus::Uploading;
    PELLWICK_VERIFY_SUCCESS(store().writeItems({local}));

    RemoteLibraryItem remote;
    remote.id = 7;
    remote.originalFilename = local.originalFilename;
    remote.canonicalFilename = local.canonicalFilename;
    remote.contentHash = local.contentHash;
    remote.archiveByteCount = 123456;
    remote.archiveSidecarFilename = QStringLiteral("IMG.xmp");
    remote.archiveSidecarByteCount = 456;
    remote.archiveSidecarContentHash = local.ingestCacheSidecarContentHash;
    remote.importStatus = LibraryItemImportStatus::VerifiedBackup;
    remote.importedAt = Date{1.5e8};
    remote.importSourceName = QStringLiteral("Card B");
    if (remoteHasPaths) {
        remote.sourceRelativePath = QStringLiteral("DCIM/remote.CR3");
        remote.cacheRelativePath = QStringLiteral("remote/cache.CR3");
    }
    PELLWICK_VERIFY_SUCCESS(store().rebuild({remote}));

    LocalLibraryItem expected = local;
    expected.archiveByteCount = 123456;
    expected.archiveSidecarFilename = remote.archiveSidecarFilename;
    expected.archiveSidecarByteCount = 456;
    expected.archiveSidecarContentHash = remote.archiveSidecarContentHash;
    expected.importStatus = LibraryItemImportStatus::VerifiedBackup;
    expected.backendLibraryItemID = 7;
    expected.restoreStatus.reset();
    expected.restoreAttentionReason.reset();
    expected.ingestSourceName = QStringLiteral("Card B");
    expected.sourceRelativePath = remote.sourceRelativePath;
    if (remoteHasPaths)
        expected.cacheRelativePath = remote.cacheRelativePath;
    QCOMPARE(store().readItems().value(), QList<LocalLibraryItem>{expected});
}

void LibraryRebuildTests::newRecordIsTheBackendItem()
{
    RemoteLibraryItem remote = remoteItem(QStringLiteral("12 h9 canon.cr3"));
    remote.archiveSidecarFilename = QStringLiteral("IMG.xmp");
    remote.archiveSidecarByteCount = 4;
    remote.archiveSidecarContentHash = QStringLiteral("cd");
    remote.importStatus = LibraryItemImportStatus::Duplicate;
    remote.sourceRelativePath = QStringLiteral("DCIM/a");
    remote.cacheRelativePath = QStringLiteral("b/a");
    PELLWICK_VERIFY_SUCCESS(store().rebuild({remote}));

    const QList<LocalLibraryItem> items = store().readItems().value();
    QCOMPARE(items.size(), 1);
    LocalLibraryItem expected;
    expected.id = items.at(0).id;
    expected.originalFilename = remote.originalFilename;
    expected.canonicalFilename = remote.canonicalFilename;
    expected.contentHash = remote.contentHash;
    expected.archiveByteCount = remote.archiveByteCount;
    expected.archiveSidecarFilename = remote.archiveSidecarFilename;
    expected.archiveSidecarByteCount = remote.archiveSidecarByteCount;
    expected.archiveSidecarContentHash = remote.archiveSidecarContentHash;
    expected.importDate = remote.importedAt;
    expected.importStatus = LibraryItemImportStatus::Duplicate;
    expected.backendLibraryItemID = 12;
    expected.ingestSourceName = remote.importSourceName;
    expected.sourceRelativePath = remote.sourceRelativePath;
    expected.cacheRelativePath = remote.cacheRelativePath;
    expected.metadata = PhotoMetadata::unknown();
    expected.preview = LocalPreviewState::failed(QStringLiteral("Preview needs refresh"));
    QCOMPARE(items.at(0), expected);
    QVERIFY(!expected.id.isNull());
}

void LibraryRebuildTests::contentLinkNeedsTheArchivedSidecar_data()
{
    // local: "cached" (sidecar in the Ingest Cache), "source" (known only from the source
    // media), "none"; remote: its sidecar hash, or "-".
    QTest::addColumn<QString>("localSidecar");
    QTest::addColumn<LibraryItemImportStatus>("remoteStatus");
    QTest::addColumn<QString>("remoteSidecarHash");
    QTest::addColumn<bool>("linked");
    using S = LibraryItemImportStatus;

    QTest::newRow("archived with the same sidecar")
        << "cached" << S::VerifiedBackup << "s1" << true;
    QTest::newRow("archived without the sidecar") << "cached" << S::VerifiedBackup << "-" << false;
    QTest::newRow("archived with another sidecar")
        << "cached" << S::VerifiedBackup << "s2" << false;
    QTest::newRow("sidecar known from the source only, not archived")
        << "source" << S::VerifiedBackup << "-" << false;
    QTest::newRow("sidecar known from the source only, archived")
        << "source" << S::VerifiedBackup << "s1" << true;
    QTest::newRow("no local sidecar, archive has one")
        << "none" << S::VerifiedBackup << "s2" << true;
    QTest::newRow("no sidecar on either side") << "none" << S::VerifiedBackup << "-" << true;
    // An item not yet archived may be another machine's import: linking would hand this record
    // its backend id, and removing this package would then cancel that import.
    QTest::newRow("still uploading without the sidecar")
        << "cached" << S::Uploading << "-" << false;
    QTest::newRow("still uploading with the same sidecar")
        << "cached" << S::Uploading << "s1" << false;
    QTest::newRow("import needing attention") << "cached" << S::NeedsAttention << "s1" << false;
    QTest::newRow("import still staging") << "cached" << S::LocalCacheReady << "s1" << false;
    QTest::newRow("import needing attention, no sidecar on either side")
        << "none" << S::NeedsAttention << "-" << false;
}

void LibraryRebuildTests::contentLinkNeedsTheArchivedSidecar()
{
    QFETCH(QString, localSidecar);
    QFETCH(LibraryItemImportStatus, remoteStatus);
    QFETCH(QString, remoteSidecarHash);
    QFETCH(bool, linked);

    LocalLibraryItem local = filledLibraryItem(4);
    local.backendLibraryItemID.reset();
    local.importStatus = LibraryItemImportStatus::LocalCacheReady;
    local.ingestCacheSidecarContentHash = QStringLiteral("s1");
    local.sourceMediaEvidence->sidecarContentHash = QStringLiteral("s1");
    if (localSidecar != QStringLiteral("cached")) {
        local = local.replacingIngestCachePackage(std::nullopt);
    }
    if (localSidecar == QStringLiteral("none")) {
        local.sourceMediaEvidence->sidecarRelativePath.reset();
        local.sourceMediaEvidence->sidecarContentHash.reset();
    }
    PELLWICK_VERIFY_SUCCESS(store().writeItems({local}));
    RemoteLibraryItem remote = remoteItem(QStringLiteral("7 ") + local.contentHash);
    remote.importStatus = remoteStatus;
    archiveSidecar(remote, remoteSidecarHash);
    PELLWICK_VERIFY_SUCCESS(store().rebuild({remote}));

    const QList<LocalLibraryItem> items = store().readItems().value();
    if (linked) {
        QCOMPARE(items.size(), 1);
        QCOMPARE(items.at(0).id, local.id);
        QCOMPARE(items.at(0).backendLibraryItemID, std::optional<qint64>(7));
        QCOMPARE(items.at(0).isSafeToEraseSourceMedia(),
                 remoteStatus == LibraryItemImportStatus::VerifiedBackup);
    } else {
        // The local record stays as it was, not safe to erase; the archived item is a record of
        // its own, which knows no source media.
        QCOMPARE(items.size(), 2);
        QCOMPARE(items.at(0), local);
        QVERIFY(!items.at(0).isSafeToEraseSourceMedia());
        QCOMPARE(items.at(1).backendLibraryItemID, std::optional<qint64>(7));
        QCOMPARE(items.at(1).sourceMediaEvidence, std::nullopt);
    }
}

void LibraryRebuildTests::backendIDLinkIsSafeOnlyWithTheSourceSidecarArchived_data()
{
    // The local record, linked by its backend id, holds evidence of a card with the sidecar
    // "s1"; the backend's item archived the sidecar given ("-": none).
    QTest::addColumn<LibraryItemImportStatus>("localStatus");
    QTest::addColumn<LibraryItemImportStatus>("remoteStatus");
    QTest::addColumn<QString>("remoteSidecarHash");
    QTest::addColumn<bool>("safe");
    using S = LibraryItemImportStatus;

    QTest::newRow("archived with the card's sidecar")
        << S::VerifiedBackup << S::VerifiedBackup << "s1" << true;
    QTest::newRow("archived with the card's sidecar, hash in capitals")
        << S::VerifiedBackup << S::VerifiedBackup << "S1" << true;
    QTest::newRow("archived without the card's sidecar")
        << S::VerifiedBackup << S::VerifiedBackup << "-" << false;
    QTest::newRow("archived with another sidecar")
        << S::VerifiedBackup << S::VerifiedBackup << "s2" << false;
    QTest::newRow("duplicate of an item holding the card's sidecar")
        << S::Duplicate << S::VerifiedBackup << "s1" << true;
    QTest::newRow("duplicate of an item without the card's sidecar")
        << S::Duplicate << S::VerifiedBackup << "-" << false;
    QTest::newRow("duplicate of an item with another sidecar")
        << S::Duplicate << S::VerifiedBackup << "s2" << false;
    QTest::newRow("backend says it needs attention")
        << S::VerifiedBackup << S::NeedsAttention << "s1" << false;
}

void LibraryRebuildTests::backendIDLinkIsSafeOnlyWithTheSourceSidecarArchived()
{
    QFETCH(LibraryItemImportStatus, localStatus);
    QFETCH(LibraryItemImportStatus, remoteStatus);
    QFETCH(QString, remoteSidecarHash);
    QFETCH(bool, safe);

    LocalLibraryItem local = localRecord(QStringLiteral("a 7 h1 c1"), 4);
    local.importStatus = localStatus;
    local.ingestCacheSidecarContentHash = QStringLiteral("s1");
    local.archiveSidecarContentHash = QStringLiteral("s1");
    local.sourceMediaEvidence->rawContentHash = local.contentHash;
    local.sourceMediaEvidence->sidecarContentHash = QStringLiteral("s1");
    local.sourceMediaEvidence->safety = SourceMediaSafety::Current;
    PELLWICK_VERIFY_SUCCESS(store().writeItems({local}));
    RemoteLibraryItem remote = remoteItem(QStringLiteral("7 h1 c1"));
    remote.importStatus = remoteStatus;
    archiveSidecar(remote, remoteSidecarHash);
    PELLWICK_VERIFY_SUCCESS(store().rebuild({remote}));

    const QList<LocalLibraryItem> items = store().readItems().value();
    QCOMPARE(items.size(), 1);
    QCOMPARE(items.at(0).id, local.id);
    QCOMPARE(items.at(0).importStatus, remoteStatus);
    QCOMPARE(items.at(0).sourceMediaEvidence, local.sourceMediaEvidence);
    QCOMPARE(items.at(0).isSafeToEraseSourceMedia(), safe);
}

void LibraryRebuildTests::failedWriteKeepsTheLibrary()
{
    const QList<LocalLibraryItem> records{localRecord(QStringLiteral("a 7 h1"), 1)};
    PELLWICK_VERIFY_SUCCESS(store().writeItems(records));
    auto faults = std::make_shared<FaultInjectingFileManager>();
    faults->failOperation(FileOperation::Write, ENOSPC);
    const LocalLibraryCache failing = store(faults);
    QCOMPARE(failing.readItems().value(), records);

    const Result<void> rebuilt = failing.rebuild({});
    QVERIFY(!rebuilt);
    QCOMPARE(failing.readItems().value(), records);
    QCOMPARE(store().readItems().value(), records);
}

QTEST_GUILESS_MAIN(LibraryRebuildTests)
#include "LibraryRebuildTests.moc"
