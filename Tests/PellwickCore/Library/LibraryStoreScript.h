#pragma once

// The sequence of library changes that LibraryStoreCrashTests interrupts: every kind of change,
// whole-library writes and, with the small fold bound below, journal folds.

#include <PellwickCore/Library/LocalLibraryCache.h>

#include <Support/LibraryFixtures.h>

namespace Pellwick::Test::LibraryStoreScript {

/// Small enough that the script's journal is folded twice on its own.
inline constexpr qint64 foldBytes = 12 * 1024;

inline LocalLibraryItem scriptItem(int n)
{
    return filledLibraryItem(n, QStringLiteral("/crash/cache"));
}

inline int stepCount()
{
    return 34;
}

/// Runs step `step` (0-based) of the script.
inline Result<void> runStep(const LocalLibraryCache &cache, int step)
{
    const auto ignore = [](const auto &result) -> Result<void> {
        if (!result)
            return tl::unexpected<Error>(result.error());
        return {};
    };
    const QUuid first = scriptItem(0).id;
    const QUuid third = scriptItem(2).id;
    switch (step % 17) {
    case 0:
        if (step == 0)
            return cache.writeItems({scriptItem(0), scriptItem(1), scriptItem(2), scriptItem(3)});
        return cache.appendItems({scriptItem(100 + step)});
    case 1:
        return ignore(cache.updateImportStatus(first, LibraryItemImportStatus::Uploading));
    case 2:
        return ignore(cache.updateArchiveSidecar(
            third, QStringLiteral("side %1.xmp").arg(step), step, QString(64, QLatin1Char('a'))));
    case 3:
        return ignore(cache.updateBackendLibraryItemID(first, 7000 + step));
    case 4:
        return cache.updateRestoreStatus({1'000'000'000'000LL + 1, 7000 + step},
                                         RestoreRequestStatus::Preparing,
                                         {{7000 + step, QStringLiteral("reason %1").arg(step)}});
    case 5:
        return cache.appendItems({scriptItem(200 + step), scriptItem(300 + step)});
    case 6: {
        LocalLibraryItem copy = scriptItem(1);
        copy.id = QUuid::createUuidV5(QUuid(), QString::number(step));
        copy.importStatus = LibraryItemImportStatus::LocalCacheReady;
        copy.ingestCacheOriginalURL = QStringLiteral("/crash/cache/again/%1.CR3").arg(step);
        return ignore(cache.upsertIngestCacheItems({copy, scriptItem(400 + step)}));
    }
    case 7:
        return cache.relocateIngestCacheItems(QStringLiteral("/crash/cache"),
                                              QStringLiteral("/crash/moved %1").arg(step));
    case 8:
        return cache.removeIngestCachePackages({third});
    case 9:
        return ignore(cache.updateImportStatus(QUuid::createUuidV5(QUuid(), QStringLiteral("none")),
                                               LibraryItemImportStatus::Duplicate));
    case 10:
        return cache.removeItems({scriptItem(200 + step - 5).id});
    case 11:
        return cache.withExclusiveAccess([&]() -> Result<void> {
            PELLWICK_TRY_ASSIGN(QList<LocalLibraryItem> items, cache.readItems());
            QList<LocalLibraryItem> changed = items;
            changed.last()
                = changed.last().replacingImportStatus(LibraryItemImportStatus::NeedsAttention);
            Result<bool> written = cache.writeItemsIfUnchangedLocked(changed, items);
            return ignore(written);
        });
    case 12:
        return ignore(cache.updateImportStatus(third, LibraryItemImportStatus::VerifiedBackup));
    case 13:
        return cache.appendItems(
            {scriptItem(500 + step), scriptItem(600 + step), scriptItem(700 + step)});
    case 14:
        return ignore(cache.updateImportStatus(first, LibraryItemImportStatus::VerifiedBackup));
    case 15:
        if (step > 17)
            return cache.writeItems({scriptItem(800 + step), scriptItem(0)});
        return cache.removeItems({third});
    case 16:
        return ignore(cache.updateArchiveSidecar(first, std::nullopt, std::nullopt, std::nullopt));
    }
    return {};
}

} // namespace Pellwick::Test::LibraryStoreScript
