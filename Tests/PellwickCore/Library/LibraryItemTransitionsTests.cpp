#include <PellwickCore/Library/LocalLibraryItem.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <Support/LibraryFixtures.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>

using namespace Pellwick;
using namespace Pellwick::Test;

class LibraryItemTransitionsTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void singleFieldReplacementsChangeOnlyTheirFields();
    void packageApplication_data();
    void packageApplication();
    void replacingIngestCacheItem_data();
    void replacingIngestCacheItem();
    void relocation_data();
    void relocation();
    void relocationThroughSymbolicLinks_data();
    void relocationThroughSymbolicLinks();
    void matchesArchivedPackage_data();
    void matchesArchivedPackage();
    void packageOfVanishedSidecar();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    LocalFileManager m_fileManager;
};

namespace {

const QByteArray sidecarBytes = "<x:xmpmeta>rating 4</x:xmpmeta>";
const QString sidecarHash = QString(64, QLatin1Char('d'));

} // namespace

void LibraryItemTransitionsTests::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void LibraryItemTransitionsTests::singleFieldReplacementsChangeOnlyTheirFields()
{
    const LocalLibraryItem item = filledLibraryItem(12);

    LocalLibraryItem expected = item;
    expected.importStatus = LibraryItemImportStatus::Duplicate;
    QCOMPARE(item.replacingImportStatus(LibraryItemImportStatus::Duplicate), expected);

    expected = item;
    expected.archiveSidecarFilename.reset();
    expected.archiveSidecarByteCount.reset();
    expected.archiveSidecarContentHash.reset();
    QCOMPARE(item.replacingArchiveSidecar(std::nullopt, std::nullopt, std::nullopt), expected);
    QCOMPARE(expected.archiveByteCount, item.archiveByteCount);

    expected = item;
    expected.backendLibraryItemID.reset();
    QCOMPARE(item.replacingBackendLibraryItemID(std::nullopt), expected);

    expected = item;
    expected.restoreStatus = RestoreRequestStatus::Ready;
    expected.restoreAttentionReason.reset();
    QCOMPARE(item.replacingRestoreStatus(RestoreRequestStatus::Ready, std::nullopt), expected);

    expected = item;
    expected.sourceMediaEvidence->safety = SourceMediaSafety::Changed;
    // A changed copy leaves the record it was copied from as it was.
    QVERIFY(item.sourceMediaEvidence->safety != SourceMediaSafety::Changed);
    QCOMPARE(item.markingSourceMediaChanged(), expected);
    QCOMPARE(expected.markingSourceMediaChanged(), expected);
    LocalLibraryItem withoutEvidence = item;
    withoutEvidence.sourceMediaEvidence.reset();
    QCOMPARE(withoutEvidence.markingSourceMediaChanged(), withoutEvidence);
}

void LibraryItemTransitionsTests::packageApplication_data()
{
    QTest::addColumn<bool>("forCleanup");
    QTest::addColumn<bool>("hasPackage");
    QTest::addColumn<bool>("packageHasPath");
    QTest::addColumn<bool>("pathTaken");

    QTest::newRow("replace with none keeps path") << false << false << false << false;
    QTest::newRow("replace with pathless package keeps path") << false << true << false << false;
    QTest::newRow("replace with package takes its path") << false << true << true << true;
    QTest::newRow("cleanup attach never changes path") << true << true << true << false;
    QTest::newRow("cleanup attach of pathless package") << true << true << false << false;
}

void LibraryItemTransitionsTests::packageApplication()
{
    QFETCH(bool, forCleanup);
    QFETCH(bool, hasPackage);
    QFETCH(bool, packageHasPath);
    QFETCH(bool, pathTaken);

    const LocalLibraryItem item = filledLibraryItem(30);
    const IngestCachePackage package{QStringLiteral("/cache/new/IMG_1.CR3"),
                                     std::nullopt,
                                     std::nullopt,
                                     123,
                                     packageHasPath ? std::optional(QStringLiteral("new/IMG_1.CR3"))
                                                    : std::nullopt};
    const LocalLibraryItem result
        = forCleanup ? item.attachingIngestCachePackageForCleanup(package)
                     : item.replacingIngestCachePackage(hasPackage ? std::optional(package)
                                                                   : std::nullopt);
    LocalLibraryItem expected = item;
    expected.ingestCacheOriginalURL
        = hasPackage ? std::optional(package.originalURL) : std::nullopt;
    expected.ingestCacheSidecarURL.reset();
    expected.ingestCacheSidecarContentHash.reset();
    if (pathTaken)
        expected.cacheRelativePath = package.relativePath;
    QCOMPARE(result, expected);
}

void LibraryItemTransitionsTests::replacingIngestCacheItem_data()
{
    QTest::addColumn<bool>("otherHasOriginal");
    QTest::addColumn<bool>("otherHasEvidence");
    QTest::addColumn<bool>("otherHasPath");

    QTest::newRow("full new copy") << true << true << true;
    QTest::newRow("no evidence keeps evidence") << true << false << true;
    QTest::newRow("no path keeps path") << true << true << false;
    QTest::newRow("no cached original clears package") << false << true << true;
}

void LibraryItemTransitionsTests::replacingIngestCacheItem()
{
    QFETCH(bool, otherHasOriginal);
    QFETCH(bool, otherHasEvidence);
    QFETCH(bool, otherHasPath);

    const QString sidecar = m_dir->filePath(QStringLiteral("new/IMG_9.xmp"));
    writeFile(sidecar, sidecarBytes);
    const LocalLibraryItem item = filledLibraryItem(8);
    LocalLibraryItem other = filledLibraryItem(9, m_dir->path());
    other.contentHash = item.contentHash;
    other.importStatus = LibraryItemImportStatus::LocalCacheReady;
    other.ingestSourceName = QStringLiteral("Other Card");
    other.sourceRelativePath = QStringLiteral("DCIM/other.CR3");
    other.ingestCacheSidecarURL = sidecar;
    other.sourceMediaEvidence->rawRelativePath = QStringLiteral("DCIM/other.CR3");
    if (!otherHasOriginal)
        other.ingestCacheOriginalURL.reset();
    if (!otherHasEvidence)
        other.sourceMediaEvidence.reset();
    if (!otherHasPath)
        other.cacheRelativePath.reset();

    const LocalLibraryItem result = item.replacingIngestCacheItem(other, m_fileManager);
    LocalLibraryItem expected = item;
    expected.ingestCacheOriginalURL = other.ingestCacheOriginalURL;
    expected.ingestCacheSidecarURL = otherHasOriginal ? other.ingestCacheSidecarURL : std::nullopt;
    expected.ingestCacheSidecarContentHash
        = otherHasOriginal ? other.ingestCacheSidecarContentHash : std::nullopt;
    if (otherHasOriginal && otherHasPath)
        expected.cacheRelativePath = other.cacheRelativePath;
    if (otherHasEvidence)
        expected.sourceMediaEvidence = other.sourceMediaEvidence;
    QCOMPARE(result, expected);
    QCOMPARE(result.importStatus, item.importStatus);
    QCOMPARE(result.ingestSourceName, item.ingestSourceName);
    QCOMPARE(result.sourceRelativePath, item.sourceRelativePath);
}

void LibraryItemTransitionsTests::relocation_data()
{
    QTest::addColumn<QString>("original"); // relative to the test folder; empty: absent
    QTest::addColumn<QString>("sidecar");
    QTest::addColumn<QString>("expectedOriginal"); // "=" unchanged
    QTest::addColumn<QString>("expectedSidecar");

    QTest::newRow("two folders below the root") << "old/2024/05/IMG_1.CR3"
                                                << "old/2024/05/IMG_1.xmp"
                                                << "new root/2024/05/IMG_1.CR3"
                                                << "new root/2024/05/IMG_1.xmp";
    QTest::newRow("the root itself") << "old"
                                     << ""
                                     << "new root"
                                     << "";
    QTest::newRow("root with trailing slash") << "old/"
                                              << ""
                                              << "new root"
                                              << "";
    QTest::newRow("sibling sharing the name prefix") << "old-copy/IMG_1.CR3"
                                                     << ""
                                                     << "="
                                                     << "";
    QTest::newRow("file elsewhere") << "elsewhere/IMG_1.CR3"
                                    << "old/IMG_1.xmp"
                                    << "="
                                    << "new root/IMG_1.xmp";
    QTest::newRow("dot segments stay outside") << "old/../elsewhere/IMG_1.CR3"
                                               << ""
                                               << "="
                                               << "";
    QTest::newRow("no URLs") << ""
                             << ""
                             << ""
                             << "";
}

void LibraryItemTransitionsTests::relocation()
{
    QFETCH(QString, original);
    QFETCH(QString, sidecar);
    QFETCH(QString, expectedOriginal);
    QFETCH(QString, expectedSidecar);

    const QString base = m_dir->path() + QLatin1Char('/');
    const auto absolute = [&](const QString &relative) {
        return relative.isEmpty() ? std::optional<QString>() : std::optional(base + relative);
    };
    LocalLibraryItem item = filledLibraryItem(4);
    item.ingestCacheOriginalURL = absolute(original);
    item.ingestCacheSidecarURL = absolute(sidecar);
    const LocalLibraryItem result = item.relocatingIngestCacheURLs(
        base + QStringLiteral("old"), base + QStringLiteral("new root"), m_fileManager);
    LocalLibraryItem expected = item;
    expected.ingestCacheOriginalURL = expectedOriginal == QStringLiteral("=")
                                          ? item.ingestCacheOriginalURL
                                          : absolute(expectedOriginal);
    expected.ingestCacheSidecarURL = expectedSidecar == QStringLiteral("=")
                                         ? item.ingestCacheSidecarURL
                                         : absolute(expectedSidecar);
    QCOMPARE(result.ingestCacheOriginalURL, expected.ingestCacheOriginalURL);
    QCOMPARE(result, expected);
}

void LibraryItemTransitionsTests::relocationThroughSymbolicLinks_data()
{
    QTest::addColumn<bool>("recordThroughLink");
    QTest::newRow("root given through the link") << false;
    QTest::newRow("record holds the link") << true;
}

void LibraryItemTransitionsTests::relocationThroughSymbolicLinks()
{
    QFETCH(bool, recordThroughLink);
    const QString real = m_dir->filePath(QStringLiteral("real"));
    const QString link = m_dir->filePath(QStringLiteral("link"));
    QVERIFY(QDir().mkpath(real + QStringLiteral("/2024")));
    QVERIFY(QFile::link(real, link));
    writeFile(real + QStringLiteral("/2024/IMG_1.CR3"), "raw");

    LocalLibraryItem item = filledLibraryItem(6);
    item.ingestCacheOriginalURL
        = (recordThroughLink ? link : real) + QStringLiteral("/2024/IMG_1.CR3");
    item.ingestCacheSidecarURL.reset();
    const QString newRoot = m_dir->filePath(QStringLiteral("moved"));
    const LocalLibraryItem result
        = item.relocatingIngestCacheURLs(recordThroughLink ? real : link, newRoot, m_fileManager);
    QCOMPARE(result.ingestCacheOriginalURL,
             std::optional(newRoot + QStringLiteral("/2024/IMG_1.CR3")));
}

void LibraryItemTransitionsTests::matchesArchivedPackage_data()
{
    QTest::addColumn<int>("archivedFacts");            // 0 none, 1 name only, 3 all
    QTest::addColumn<QString>("candidateSidecarName"); // empty: no sidecar URL
    QTest::addColumn<QByteArray>("candidateBytes");    // empty: file deleted
    QTest::addColumn<QString>("candidateHash");
    QTest::addColumn<bool>("candidateHasOriginal");
    QTest::addColumn<bool>("matches");

    QTest::newRow("no facts, no sidecar") << 0 << "" << QByteArray() << "" << true << true;
    QTest::newRow("no facts, candidate has sidecar")
        << 0 << "IMG_1.xmp" << sidecarBytes << sidecarHash << true << false;
    QTest::newRow("all facts agree")
        << 3 << "IMG_1.xmp" << sidecarBytes << sidecarHash << true << true;
    QTest::newRow("all facts, no candidate sidecar")
        << 3 << "" << QByteArray() << "" << true << false;
    QTest::newRow("other name") << 3 << "IMG_2.xmp" << sidecarBytes << sidecarHash << true << false;
    QTest::newRow("other size") << 3 << "IMG_1.xmp" << QByteArray(sidecarBytes + "!") << sidecarHash
                                << true << false;
    QTest::newRow("other hash") << 3 << "IMG_1.xmp" << sidecarBytes << QString(64, QLatin1Char('e'))
                                << true << false;
    QTest::newRow("candidate sidecar deleted")
        << 3 << "IMG_1.xmp" << QByteArray() << sidecarHash << true << false;
    QTest::newRow("some facts only")
        << 1 << "IMG_1.xmp" << sidecarBytes << sidecarHash << true << false;
    QTest::newRow("candidate without package") << 0 << "" << QByteArray() << "" << false << false;
}

void LibraryItemTransitionsTests::matchesArchivedPackage()
{
    QFETCH(int, archivedFacts);
    QFETCH(QString, candidateSidecarName);
    QFETCH(QByteArray, candidateBytes);
    QFETCH(QString, candidateHash);
    QFETCH(bool, candidateHasOriginal);
    QFETCH(bool, matches);

    LocalLibraryItem archived = filledLibraryItem(1);
    archived.archiveSidecarFilename = QStringLiteral("IMG_1.xmp");
    archived.archiveSidecarByteCount = sidecarBytes.size();
    archived.archiveSidecarContentHash = sidecarHash;
    if (archivedFacts < 3) {
        archived.archiveSidecarByteCount.reset();
        archived.archiveSidecarContentHash.reset();
    }
    if (archivedFacts < 1)
        archived.archiveSidecarFilename.reset();

    LocalLibraryItem candidate = minimalLibraryItem(1);
    if (candidateHasOriginal)
        candidate.ingestCacheOriginalURL = m_dir->filePath(QStringLiteral("IMG_1.CR3"));
    if (!candidateSidecarName.isEmpty()) {
        candidate.ingestCacheSidecarURL = m_dir->filePath(candidateSidecarName);
        candidate.ingestCacheSidecarContentHash = candidateHash;
        if (!candidateBytes.isEmpty())
            writeFile(*candidate.ingestCacheSidecarURL, candidateBytes);
    }
    QCOMPARE(archived.matchesArchivedPackage(candidate, m_fileManager), matches);
}

void LibraryItemTransitionsTests::packageOfVanishedSidecar()
{
    LocalLibraryItem item = filledLibraryItem(2, m_dir->path());
    const std::optional<IngestCachePackage> package = item.ingestCachePackage(m_fileManager);
    QVERIFY(package);
    QCOMPARE(package->originalURL, *item.ingestCacheOriginalURL);
    QCOMPARE(package->sidecarURL, item.ingestCacheSidecarURL);
    QCOMPARE(package->sidecarContentHash, item.ingestCacheSidecarContentHash);
    QCOMPARE(package->sidecarByteCount, std::nullopt);
    QCOMPARE(package->relativePath, item.cacheRelativePath);

    writeFile(*item.ingestCacheSidecarURL, sidecarBytes);
    QCOMPARE(item.ingestCachePackage(m_fileManager)->sidecarByteCount, qint64(sidecarBytes.size()));
    item.ingestCacheOriginalURL.reset();
    QVERIFY(!item.ingestCachePackage(m_fileManager));
}

QTEST_GUILESS_MAIN(LibraryItemTransitionsTests)
#include "LibraryItemTransitionsTests.moc"
