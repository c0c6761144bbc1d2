#include "LibraryFixtures.h"

#include <QCryptographicHash>

namespace Pellwick::Test {

namespace {

QUuid uuidFor(int n, quint16 salt)
{
    return QUuid(static_cast<uint>(n),
                 salt,
                 0x4a11,
                 0x8c,
                 0x3e,
                 0x51,
                 0x02,
                 0x77,
                 0x19,
                 static_cast<uchar>(n >> 8),
                 static_cast<uchar>(n));
}

QString hashFor(int n, const char *kind)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(QByteArray(QByteArray(kind) + QByteArray::number(n)),
                                 QCryptographicHash::Sha256)
            .toHex());
}

} // namespace

LocalLibraryItem minimalLibraryItem(int n)
{
    LocalLibraryItem item;
    item.id = uuidFor(n, 1);
    item.originalFilename = QStringLiteral("IMG_%1.CR3").arg(n, 4, 10, QLatin1Char('0'));
    item.canonicalFilename = item.originalFilename;
    item.contentHash = hashFor(n, "raw");
    item.importDate = Date{7.5e8 + n};
    item.importStatus = LibraryItemImportStatus::LocalCacheReady;
    item.metadata = PhotoMetadata::unknown();
    item.preview = LocalPreviewState::failed(QStringLiteral("Generated when Import starts"));
    return item;
}

LocalLibraryItem filledLibraryItem(int n, const QString &cacheRoot)
{
    static const QString cameras[] = {QStringLiteral("Canon EOS R5"),
                                      QStringLiteral("NIKON Z 8"),
                                      QStringLiteral("ILCE-7RM5"),
                                      QStringLiteral("X-T5")};
    static const QString extensions[] = {
        QStringLiteral("CR3"), QStringLiteral("NEF"), QStringLiteral("ARW"), QStringLiteral("RAF")};
    static const LibraryItemImportStatus statuses[] = {LibraryItemImportStatus::VerifiedBackup,
                                                       LibraryItemImportStatus::VerifiedBackup,
                                                       LibraryItemImportStatus::VerifiedBackup,
                                                       LibraryItemImportStatus::LocalCacheReady,
                                                       LibraryItemImportStatus::CleanupPending,
                                                       LibraryItemImportStatus::Duplicate,
                                                       LibraryItemImportStatus::NeedsAttention,
                                                       LibraryItemImportStatus::Uploading};
    const int card = n / 500;
    const int kind = card % 4;
    const QString stem = QStringLiteral("IMG_%1").arg(n % 10000, 4, 10, QLatin1Char('0'));
    const QString original = stem + QLatin1Char('.') + extensions[kind];
    const QString batch = QStringLiteral("2024/%1/%2-CARD%3")
                              .arg(1 + card % 12, 2, 10, QLatin1Char('0'))
                              .arg(1 + card % 28, 2, 10, QLatin1Char('0'))
                              .arg(card, 4, 10, QLatin1Char('0'));
    const QString sourceRelative = QStringLiteral("DCIM/%1MEDIA/").arg(100 + n % 7) + original;
    const QString cacheRelative = batch + QLatin1Char('/') + sourceRelative;
    const QString sidecarName = stem + QStringLiteral(".xmp");
    const QString rawHash = hashFor(n, "raw");
    const QString sidecarHash = hashFor(n, "xmp");
    const QString sourceName = QStringLiteral("EOS_DIGITAL %1").arg(card % 9);

    LocalLibraryItem item;
    item.id = uuidFor(n, 2);
    item.originalFilename = original;
    item.canonicalFilename = QStringLiteral("2024-%1-%2_%3_%4.%5")
                                 .arg(1 + card % 12, 2, 10, QLatin1Char('0'))
                                 .arg(1 + card % 28, 2, 10, QLatin1Char('0'))
                                 .arg(n, 6, 10, QLatin1Char('0'))
                                 .arg(rawHash.left(8), extensions[kind]);
    item.contentHash = rawHash;
    item.archiveByteCount = 25'000'000 + (n * 7919) % 40'000'000;
    item.archiveSidecarFilename = sidecarName;
    item.archiveSidecarByteCount = 4'000 + n % 3'000;
    item.archiveSidecarContentHash = sidecarHash;
    item.importDate = Date{7.2e8 + n * 37.25};
    item.importStatus = statuses[n % 8];
    item.backendLibraryItemID = 1'000'000'000'000LL + n;
    if (n % 5 == 0) {
        item.restoreStatus = RestoreRequestStatus::NeedsAttention;
        item.restoreAttentionReason = QStringLiteral("The archive copy is being re-verified.");
    } else {
        item.restoreStatus = RestoreRequestStatus::Downloaded;
    }
    item.ingestCacheOriginalURL = cacheRoot + QLatin1Char('/') + cacheRelative;
    item.ingestCacheSidecarURL = cacheRoot + QLatin1Char('/') + batch + QStringLiteral("/DCIM/")
                                 + QStringLiteral("%1MEDIA/").arg(100 + n % 7) + sidecarName;
    item.ingestCacheSidecarContentHash = sidecarHash;
    item.ingestSourceName = sourceName;
    item.sourceRelativePath = sourceRelative;
    SourceMediaEvidence evidence;
    evidence.sourceRootURL = QStringLiteral("/media/ana/") + sourceName;
    evidence.sourceIdentity = ImportSourceIdentity::volume(QStringLiteral("%1-4C2D-9E11-%2")
                                                               .arg(card, 8, 16, QLatin1Char('0'))
                                                               .arg(card, 12, 16, QLatin1Char('0'))
                                                               .toUpper());
    evidence.rawRelativePath = sourceRelative;
    evidence.rawContentHash = rawHash;
    evidence.sidecarRelativePath = QStringLiteral("DCIM/%1MEDIA/").arg(100 + n % 7) + sidecarName;
    evidence.sidecarContentHash = sidecarHash;
    evidence.safety = n % 11 == 0 ? SourceMediaSafety::Changed : SourceMediaSafety::Current;
    item.sourceMediaEvidence = evidence;
    item.cacheRelativePath = cacheRelative;
    item.metadata.captureTime = n % 13 == 0 ? CaptureTimeMetadata::unknown()
                                            : CaptureTimeMetadata::known(Date{7.1e8 + n * 29.5});
    item.metadata.captureLocation
        = n % 3 == 0 ? CaptureLocationMetadata::unknown()
                     : CaptureLocationMetadata::known(
                         {47.0 + (n % 1000) * 0.00123, 8.0 + (n % 777) * 0.00217});
    item.metadata.cameraModel = CameraModelMetadata::known(cameras[kind]);
    item.preview = LocalPreviewState::available(QStringLiteral("previews/") + item.canonicalFilename
                                                + QStringLiteral(".jpg"));
    return item;
}

RemoteLibraryItem backendItem(const LocalLibraryItem &record)
{
    Q_ASSERT(record.backendLibraryItemID);
    RemoteLibraryItem item;
    item.id = *record.backendLibraryItemID;
    item.originalFilename = record.originalFilename;
    item.canonicalFilename = record.canonicalFilename;
    item.contentHash = record.contentHash;
    item.archiveByteCount = record.archiveByteCount.value_or(0);
    item.archiveSidecarFilename = record.archiveSidecarFilename;
    item.archiveSidecarByteCount = record.archiveSidecarByteCount;
    item.archiveSidecarContentHash = record.archiveSidecarContentHash;
    item.importStatus = record.importStatus;
    item.importedAt = record.importDate;
    item.importSourceName = record.ingestSourceName.value_or(QString());
    item.sourceRelativePath = record.sourceRelativePath;
    item.cacheRelativePath = record.cacheRelativePath;
    return item;
}

} // namespace Pellwick::Test
