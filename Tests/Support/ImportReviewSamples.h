#pragma once

#include <PellwickCore/Ingest/ImportReview.h>

#include <QString>

namespace Pellwick::Test {

/// The three kinds of scanned file, for reviews built by hand.
enum class SampleKind {
    Supported,
    UnpairedSidecar,
    Excluded,
};

/// A scanned file named `filename` in `folder` on the volume `volume`; a supported one has a
/// sidecar of `sidecarBytes` bytes unless that is negative.
inline ImportReviewItem sampleItem(SampleKind kind,
                                   const QString &filename,
                                   qint64 byteCount = 1024,
                                   qint64 sidecarBytes = -1,
                                   const QString &folder
                                   = QStringLiteral("/media/CARD/DCIM/100CANON"),
                                   const QString &volume = QStringLiteral("CARD"))
{
    const QString url = folder + QLatin1Char('/') + filename;
    ImportReviewItemStatus status = ImportReviewItemStatus::supported();
    if (kind == SampleKind::UnpairedSidecar)
        status
            = ImportReviewItemStatus::unsupported(ImportReviewUnsupportedReason::UnpairedSidecar);
    if (kind == SampleKind::Excluded)
        status = ImportReviewItemStatus::unsupported(
            ImportReviewUnsupportedReason::ExcludedBackupTarget);
    std::optional<ImportReviewSidecar> sidecar;
    if (kind == SampleKind::Supported && sidecarBytes >= 0) {
        const QString name = filename.section(QLatin1Char('.'), 0, 0) + QStringLiteral(".xmp");
        sidecar = ImportReviewSidecar{folder + QLatin1Char('/') + name, name, sidecarBytes};
    }
    return {volume,
            url,
            filename,
            byteCount,
            status,
            sidecar,
            kind == SampleKind::UnpairedSidecar ? std::nullopt : std::optional<QString>(filename)};
}

/// A review of `items` from the volumes named in `volumes`, each mounted at "/media/<name>".
inline ImportReview sampleReview(const QList<ImportReviewItem> &items,
                                 const QStringList &volumes = {QStringLiteral("CARD")})
{
    ImportReview review;
    for (const QString &name : volumes) {
        ImportScanVolume volume;
        volume.name = name;
        volume.url = QStringLiteral("/media/") + name;
        review.volumes.append(volume);
    }
    review.items = items;
    return review;
}

/// `count` files of every kind in turn, as a large card holds them.
inline ImportReview largeSampleReview(int count)
{
    QList<ImportReviewItem> items;
    items.reserve(count);
    for (int index = 0; index < count; ++index) {
        const auto kind = static_cast<SampleKind>(index % 3);
        items.append(sampleItem(kind,
                                QStringLiteral("IMG_%1.%2")
                                    .arg(index, 6, 10, QLatin1Char('0'))
                                    .arg(kind == SampleKind::Supported  ? QStringLiteral("CR3")
                                         : kind == SampleKind::Excluded ? QStringLiteral("JPG")
                                                                        : QStringLiteral("XMP")),
                                1000 + index,
                                index % 2 == 0 ? 16 : -1));
    }
    return sampleReview(items);
}

} // namespace Pellwick::Test
