#pragma once

// A seeded random walk over the ways library records and the Ingest Cache's copies follow each
// other: cards added and added again, archived, removed from the cache, the cache refreshed, the
// library rebuilt from the backend, reopened with the cache named through a symbolic link or its
// real path, a sidecar edited in the cache, and any of them cut short by an injected failure and
// followed by a reopen and the start's recovery. Every step is followed by the invariant checks;
// the first one that fails ends the seed and is reported with the steps that led to it.

#include <PellwickCore/Import/StagingArea.h>
#include <PellwickCore/Ingest/IngestCache.h>
#include <PellwickCore/Library/LocalLibraryCache.h>
#include <PellwickCore/Support/Result.h>

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <functional>
#include <optional>

namespace Pellwick::Test {

/// What a cleanup pass over archived records' cached copies reports.
struct WalkArchivedCleanup
{
    /// The records whose copies it removed.
    QSet<QUuid> removedItemIDs;
    /// How many copies it could not remove yet.
    qint64 pendingCount = 0;
};

/// The application's passes over the library that the walk runs where the application would:
/// given by the test, which links them.
struct LibraryWalkPasses
{
    /// The cleanup of the cached copies of archived records among `given` (none: every record).
    std::function<Result<WalkArchivedCleanup>(const std::optional<QList<LocalLibraryItem>> &given,
                                              const IngestCache &cache,
                                              const LocalLibraryCache &library,
                                              const StagingArea &staging)>
        cleanUpArchivedCopies;
    /// Refresh Cache: the reconciliation of the library with the cache and the removal of
    /// redundant copies that follows it (the walk runs the archived cleanup after it).
    std::function<Result<void>(const IngestCache &cache, const LocalLibraryCache &library)>
        refreshCache;
};

/// One seed's walk: the steps taken, one line each, and the first invariant that failed (empty
/// when every one held).
struct LibraryWalkOutcome
{
    quint32 seed = 0;
    QStringList steps;
    QString failure;

    /// The seed, the failure and the steps, for a test's message.
    QString report() const;
};

/// Walks `steps` random steps from `seed` in a fresh temporary folder against a fresh test
/// backend account. Deterministic for a seed, but for the timing of nothing: every step runs on
/// the calling thread.
LibraryWalkOutcome runLibraryRandomWalk(quint32 seed, const LibraryWalkPasses &passes, int steps);

/// The seeds of a run: `defaultSeeds`, or 1 ... n with PELLWICK_RANDOM_WALK_SEEDS=n in a long
/// run, or only s with PELLWICK_RANDOM_WALK_SEED=s to replay one.
QList<quint32> randomWalkSeeds(const QList<quint32> &defaultSeeds);
/// The steps per seed: `defaultSteps`, or PELLWICK_RANDOM_WALK_STEPS.
int randomWalkSteps(int defaultSteps);

} // namespace Pellwick::Test
