#include <PellwickCore/Library/LocalLibraryCache.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <Support/ContentHasherFakes.h>
#include <Support/LibraryFixtures.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

/// A folder source holding "ok.CR3" (its "gone.CR3" deleted since the copy), a card with volume
/// UUID "CARD" mounted at "mnt/card" (recorded at a mount point that no longer exists) that holds
/// "ok.CR3" and lost "gone.CR3", and a card "AWAY" that is not mounted.
///
/// Records are given by kind: "none" (no evidence), "folder-ok", "folder-gone", "card-ok",
/// "card-gone", "away", "changed" (folder-gone already marked changed).
class SourceMediaRevalidationTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void revalidate_data();
    void revalidate();
    void recordChangedMeanwhile_data();
    void recordChangedMeanwhile();
    void recordRemovedMeanwhileStaysRemoved();
    void stopKeepsWhatWasFound_data();
    void stopKeepsWhatWasFound();

private:
    LocalLibraryCache store() const;
    LocalLibraryItem record(const QString &kind, int n) const;
    QList<LocalLibraryItem> records(const QStringList &kinds) const;
    ImportScanVolume card() const;
    QByteArray storedBytes() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_folder;
    QString m_card;
};

void SourceMediaRevalidationTests::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_folder = m_dir->filePath(QStringLiteral("folder"));
    m_card = m_dir->filePath(QStringLiteral("mnt/card"));
    writeFile(m_folder + QStringLiteral("/ok.CR3"), patternBytes(1000, 1));
    writeFile(m_card + QStringLiteral("/ok.CR3"), patternBytes(1000, 2));
}

LocalLibraryCache SourceMediaRevalidationTests::store() const
{
    return LocalLibraryCache(m_dir->filePath(QStringLiteral("library")),
                             std::make_shared<LocalFileManager>());
}

ImportScanVolume SourceMediaRevalidationTests::card() const
{
    return ImportScanVolume{QStringLiteral("CARD"), m_card, QStringLiteral("CARD")};
}

LocalLibraryItem SourceMediaRevalidationTests::record(const QString &kind, int n) const
{
    LocalLibraryItem item = filledLibraryItem(n);
    item.originalFilename = kind;
    item.importStatus = LibraryItemImportStatus::VerifiedBackup;
    if (kind == QStringLiteral("none")) {
        item.sourceMediaEvidence.reset();
        return item;
    }
    SourceMediaEvidence evidence;
    const bool onFolder
        = kind.startsWith(QStringLiteral("folder")) || kind == QStringLiteral("changed");
    if (onFolder) {
        evidence.sourceRootURL = m_folder;
        evidence.sourceIdentity = ImportSourceIdentity::folder(m_folder, QStringLiteral("0f"));
        evidence.rawContentHash = referenceSha256(patternBytes(1000, 1));
    } else {
        evidence.sourceRootURL = m_dir->filePath(QStringLiteral("mnt/old-mount"));
        evidence.sourceIdentity = ImportSourceIdentity::volume(
            kind == QStringLiteral("away") ? QStringLiteral("AWAY") : QStringLiteral("CARD"));
        evidence.rawContentHash = referenceSha256(patternBytes(1000, 2));
    }
    evidence.rawRelativePath = kind.endsWith(QStringLiteral("ok")) ? QStringLiteral("ok.CR3")
                                                                   : QStringLiteral("gone.CR3");
    if (kind == QStringLiteral("changed"))
        evidence.safety = SourceMediaSafety::Changed;
    item.sourceMediaEvidence = evidence;
    item.contentHash = evidence.rawContentHash; // the archived bytes are those the source held
    return item;
}

QList<LocalLibraryItem> SourceMediaRevalidationTests::records(const QStringList &kinds) const
{
    QList<LocalLibraryItem> items;
    for (QString kind : kinds) {
        // "kind*": the record has the previous record's id, as a hand-edited file may hold.
        const bool sharesID = kind.endsWith(QLatin1Char('*'));
        if (sharesID)
            kind.chop(1);
        LocalLibraryItem item = record(kind, static_cast<int>(items.size()));
        if (sharesID)
            item.id = items.last().id;
        items.append(item);
    }
    return items;
}

QByteArray SourceMediaRevalidationTests::storedBytes() const
{
    QByteArray bytes;
    for (const QString &name :
         {LocalLibraryCache::libraryFileName(), LocalLibraryCache::journalFileName()}) {
        const QString path = m_dir->filePath(QStringLiteral("library/") + name);
        if (QFileInfo::exists(path))
            bytes += readFile(path);
    }
    return bytes;
}

void SourceMediaRevalidationTests::revalidate_data()
{
    QTest::addColumn<QStringList>("kinds");
    QTest::addColumn<bool>("cardMounted");
    QTest::addColumn<QStringList>("expectedChanged");

    QTest::newRow("no records with evidence") << texts({"none", "none"}) << true << QStringList{};
    QTest::newRow("empty source list still examines present roots")
        << texts({"folder-gone", "card-gone", "folder-ok", "none"}) << false
        << texts({"folder-gone"});
    QTest::newRow("file deleted from a mounted card")
        << texts({"card-ok", "card-gone", "folder-ok"}) << true << texts({"card-gone"});
    QTest::newRow("card not mounted") << texts({"away", "card-gone"}) << false << QStringList{};
    QTest::newRow("already changed") << texts({"changed", "folder-ok"}) << true << QStringList{};
    QTest::newRow("every kind") << texts(
        {"none", "folder-ok", "folder-gone", "card-ok", "card-gone", "away", "changed"})
                                << true << texts({"folder-gone", "card-gone"});
    QTest::newRow("an id held twice, both sources changed")
        << texts({"folder-gone", "card-gone*", "folder-ok"}) << true
        << texts({"folder-gone", "card-gone"});
    QTest::newRow("an id held three times")
        << texts({"card-gone", "none*", "folder-gone*", "folder-ok*"}) << true
        << texts({"card-gone", "folder-gone"});
}

void SourceMediaRevalidationTests::revalidate()
{
    QFETCH(QStringList, kinds);
    QFETCH(bool, cardMounted);
    QFETCH(QStringList, expectedChanged);

    const QList<LocalLibraryItem> before = records(kinds);
    PELLWICK_VERIFY_SUCCESS(store().writeItems(before));
    const QByteArray storedBefore = storedBytes();
    const QList<ImportScanVolume> sources = cardMounted ? QList{card()} : QList<ImportScanVolume>{};
    const LocalFileManager fileManager;
    const SHA256ContentHasher hasher;

    const LocalLibraryCache cache = store();
    QCOMPARE(cache.revalidateSourceMedia(sources, fileManager, hasher).value(),
             expectedChanged.size());

    const QList<LocalLibraryItem> after = store().readItems().value();
    QCOMPARE(after.size(), before.size());
    for (qsizetype i = 0; i < after.size(); ++i) {
        const bool marked = expectedChanged.contains(before.at(i).originalFilename);
        QCOMPARE(after.at(i), marked ? before.at(i).markingSourceMediaChanged() : before.at(i));
        QCOMPARE(after.at(i).isSafeToEraseSourceMedia(),
                 !marked && before.at(i).originalFilename != QStringLiteral("changed"));
    }
    if (expectedChanged.isEmpty())
        QCOMPARE(storedBytes(), storedBefore);
    // A change is found once.
    const QByteArray storedAfter = storedBytes();
    QCOMPARE(cache.revalidateSourceMedia(sources, fileManager, hasher).value(), 0);
    QCOMPARE(storedBytes(), storedAfter);
}

void SourceMediaRevalidationTests::recordChangedMeanwhile_data()
{
    // What another writer does to the record of a deleted file while the sources are read.
    QTest::addColumn<LibraryItemImportStatus>("startStatus");
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<bool>("marked");
    using S = LibraryItemImportStatus;

    // The finding is about the evidence, which is still the record's.
    QTest::newRow("verified by an import meanwhile") << S::Verifying << "verified" << true;
    QTest::newRow("import status changed meanwhile")
        << S::VerifiedBackup << "cleanup pending" << true;
    QTest::newRow("package removed meanwhile") << S::VerifiedBackup << "package removed" << true;
    // A new copy's evidence has not been examined: it is looked at next time.
    QTest::newRow("new evidence meanwhile") << S::VerifiedBackup << "new evidence" << false;
}

void SourceMediaRevalidationTests::recordChangedMeanwhile()
{
    QFETCH(LibraryItemImportStatus, startStatus);
    QFETCH(QString, meanwhile);
    QFETCH(bool, marked);

    QList<LocalLibraryItem> before = records(texts({"folder-gone", "folder-ok"}));
    before[0].importStatus = startStatus;
    PELLWICK_VERIFY_SUCCESS(store().writeItems(before));
    const LocalLibraryCache cache = store();
    LocalLibraryItem changed = before.at(0);
    if (meanwhile == QStringLiteral("verified")) {
        changed = changed.replacingImportStatus(LibraryItemImportStatus::VerifiedBackup);
    } else if (meanwhile == QStringLiteral("cleanup pending")) {
        changed = changed.replacingImportStatus(LibraryItemImportStatus::CleanupPending);
    } else if (meanwhile == QStringLiteral("package removed")) {
        changed = changed.replacingIngestCachePackage(std::nullopt);
    } else {
        changed.sourceMediaEvidence->rawRelativePath = QStringLiteral("also-gone.CR3");
    }
    // The folder's "ok.CR3" is the only file hashed; the record of "gone.CR3" was examined
    // before it.
    ScriptedContentHasher hasher;
    hasher.setBeforeEachCall([&](const QString &) {
        QVERIFY(cache.writeItems({changed, before.at(1)}).has_value());
    });

    QCOMPARE(cache.revalidateSourceMedia({card()}, LocalFileManager(), hasher).value(),
             marked ? 1 : 0);
    QCOMPARE(hasher.hashedPaths().size(), 1);
    const QList<LocalLibraryItem> after = store().readItems().value();
    QCOMPARE(after.at(0), marked ? changed.markingSourceMediaChanged() : changed);
    QCOMPARE(after.at(1), before.at(1));
    QVERIFY(!after.at(0).isSafeToEraseSourceMedia() || !marked);
    // A record left alone is examined again by the next call.
    QCOMPARE(
        cache.revalidateSourceMedia({card()}, LocalFileManager(), SHA256ContentHasher()).value(),
        marked ? 0 : 1);
    QVERIFY(!store().readItems().value().at(0).isSafeToEraseSourceMedia());
}

void SourceMediaRevalidationTests::recordRemovedMeanwhileStaysRemoved()
{
    const QList<LocalLibraryItem> before
        = records(texts({"folder-gone", "card-gone", "folder-ok"}));
    PELLWICK_VERIFY_SUCCESS(store().writeItems(before));
    const LocalLibraryCache cache = store();
    ScriptedContentHasher hasher;
    hasher.setBeforeEachCall(
        [&](const QString &) { QVERIFY(cache.removeItems({before.at(0).id}).has_value()); });

    QCOMPARE(cache.revalidateSourceMedia({card()}, LocalFileManager(), hasher).value(), 1);
    QCOMPARE(store().readItems().value(),
             (QList<LocalLibraryItem>{before.at(1).markingSourceMediaChanged(), before.at(2)}));
}

void SourceMediaRevalidationTests::stopKeepsWhatWasFound_data()
{
    // The stop is requested before the call, or by the first hash (of the folder's "ok.CR3");
    // records examined before it are marked, the rest are not examined.
    QTest::addColumn<QStringList>("kinds");
    QTest::addColumn<bool>("stopFirst");
    QTest::addColumn<QStringList>("expectedMarked");
    QTest::addColumn<int>("expectedHashes");

    QTest::newRow("stopped before anything was examined")
        << texts({"folder-gone", "folder-ok", "card-gone"}) << true << QStringList{} << 0;
    QTest::newRow("stopped before a change was seen")
        << texts({"folder-ok", "folder-gone", "card-gone"}) << false << QStringList{} << 1;
    QTest::newRow("stopped after a change was seen")
        << texts({"folder-gone", "folder-ok", "card-gone"}) << false << texts({"folder-gone"}) << 1;
}

void SourceMediaRevalidationTests::stopKeepsWhatWasFound()
{
    QFETCH(QStringList, kinds);
    QFETCH(bool, stopFirst);
    QFETCH(QStringList, expectedMarked);
    QFETCH(int, expectedHashes);

    const QList<LocalLibraryItem> before = records(kinds);
    PELLWICK_VERIFY_SUCCESS(store().writeItems(before));
    const QByteArray storedBefore = storedBytes();
    const LocalLibraryCache cache = store();
    std::stop_source stop;
    if (stopFirst)
        stop.request_stop();
    ScriptedContentHasher hasher;
    hasher.setBeforeEachCall([&](const QString &) { stop.request_stop(); });

    const Result<qsizetype> outcome
        = cache.revalidateSourceMedia({card()}, LocalFileManager(), hasher, stop.get_token());
    QVERIFY(!outcome);
    QCOMPARE(outcome.error(), Error(CancellationError{}));
    QCOMPARE(hasher.hashedPaths().size(), expectedHashes);
    QList<LocalLibraryItem> expected = before;
    for (LocalLibraryItem &item : expected) {
        if (expectedMarked.contains(item.originalFilename))
            item = item.markingSourceMediaChanged();
    }
    QCOMPARE(store().readItems().value(), expected);
    if (expectedMarked.isEmpty())
        QCOMPARE(storedBytes(), storedBefore);
}

QTEST_GUILESS_MAIN(SourceMediaRevalidationTests)
#include "SourceMediaRevalidationTests.moc"
