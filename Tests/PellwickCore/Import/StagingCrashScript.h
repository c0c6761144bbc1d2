#pragma once

// The work that StagingAreaCrashChild does and StagingAreaTests checks after killing it.

#include "ImportFixtures.h"

#include <PellwickCore/Import/StagingArea.h>

#include <QList>

namespace Pellwick::Test {

/// The records written, in order, for a package staged into `folder` (a sidecar or none).
inline QList<StagedImportRecord> scriptedRecords(const QString &folder, bool withSidecar)
{
    StagedImportRecord record = preparedRecord(folder);
    if (!withSidecar) {
        record.sidecarFilename.reset();
        record.sidecarContentHash.reset();
        record.sidecarByteCount = 0;
        record.stagedSidecarRelativePath.reset();
    }
    QList<StagedImportRecord> out{record};
    record = record.replacingAuthorization(
        authorization(QStringLiteral("raw"), 100, withSidecar, true));
    out.append(record);
    for (qint64 part = 1; part <= 3; ++part) {
        record = record.markingRawPartUploaded({part, QStringLiteral("\"etag-%1\"").arg(part)});
        out.append(record);
    }
    record = record.markingRawUploadCompleted();
    out.append(record);
    if (withSidecar) {
        record = record.markingSidecarPartUploaded({1, QStringLiteral("\"xmp\"")});
        out.append(record);
        record = record.markingSidecarUploadCompleted();
        out.append(record);
    }
    record = record.markingPreviewUploaded().markingUploaded();
    out.append(record);
    out.append(record.markingTerminal(StagedImportPhase::VerifiedBackup));
    return out;
}

/// The items the child stages, from the files under `sources`.
inline QList<ImportReviewItem> scriptedItems(const QString &sources)
{
    ImportReviewItem withSidecar(QStringLiteral("CARD"),
                                 sources + QStringLiteral("/IMG_0001.CR3"),
                                 QStringLiteral("IMG_0001.CR3"),
                                 0,
                                 ImportReviewItemStatus::supported(),
                                 ImportReviewSidecar{sources + QStringLiteral("/IMG_0001.xmp"),
                                                     QStringLiteral("IMG_0001.xmp"),
                                                     0},
                                 QStringLiteral("IMG_0001.CR3"));
    ImportReviewItem alone(QStringLiteral("CARD"),
                           sources + QStringLiteral("/IMG_0002.CR3"),
                           QStringLiteral("IMG_0001.CR3"),
                           0,
                           ImportReviewItemStatus::supported(),
                           std::nullopt,
                           QStringLiteral("IMG_0002.CR3"));
    return {withSidecar, alone};
}

/// Stages every scripted item and writes its records, stopping at the first failure.
inline Result<void> runStagingScript(const StagingArea &area, const QString &sources)
{
    for (const ImportReviewItem &item : scriptedItems(sources)) {
        PELLWICK_TRY_ASSIGN(const StagedRawOriginal staged, area.stage(item));
        const QString folder = staged.relativePath.section(QLatin1Char('/'), 0, 0);
        for (const StagedImportRecord &record : scriptedRecords(folder, item.sidecar.has_value()))
            PELLWICK_TRY(area.writeRecord(record));
    }
    return {};
}

} // namespace Pellwick::Test
