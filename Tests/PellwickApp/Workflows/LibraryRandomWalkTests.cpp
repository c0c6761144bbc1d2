// A seeded random walk over adds, re-adds, imports, removals, refreshes, rebuilds, reopens and
// interruptions of the library and the Ingest Cache, with the application's own cleanup and
// refresh passes (Support/LibraryRandomWalk.h). PELLWICK_RANDOM_WALK_SEEDS=<n> walks n seeds in
// a long run; PELLWICK_RANDOM_WALK_SEED=<s> replays one.

#include <PellwickApp/Workflows/IngestCache/ArchivedCacheCleanupPass.h>
#include <PellwickApp/Workflows/IngestCacheRefreshGeneration.h>
#include <PellwickApp/Workflows/UserManagedIngestCacheRefreshWorker.h>
#include <PellwickCore/Backend/CurlFetch.h>

#include <QHashSeed>
#include <QTest>

#include <Support/ImporterFakes.h>
#include <Support/LibraryRandomWalk.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

/// The first twenty seeds, about six seconds: a long run (PELLWICK_RANDOM_WALK_SEEDS=200) walks
/// more.
const QList<quint32> defaultSeeds{1,  2,  3,  4,  5,  6,  7,  8,  9,  10,
                                  11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
constexpr int defaultSteps = 25;

LibraryWalkPasses applicationPasses()
{
    LibraryWalkPasses passes;
    passes.cleanUpArchivedCopies = [](const std::optional<QList<LocalLibraryItem>> &given,
                                      const IngestCache &cache,
                                      const LocalLibraryCache &library,
                                      const StagingArea &staging) -> Result<WalkArchivedCleanup> {
        PELLWICK_TRY_ASSIGN(const IngestCacheWorkflows::ArchivedCacheCleanup cleanup,
                            cleanUpArchivedPackages(given, cache, library, staging, {}));
        return WalkArchivedCleanup{cleanup.removedItemIDs, cleanup.pendingCount};
    };
    passes.refreshCache
        = [](const IngestCache &cache, const LocalLibraryCache &library) -> Result<void> {
        const auto generation = std::make_shared<IngestCacheRefreshGeneration>();
        const UserManagedIngestCacheRefreshWorker worker(
            cache,
            library,
            ImportReviewBuilder(library.fileManager()),
            std::make_shared<FixedMetadataExtractor>(PhotoMetadata::unknown()),
            generation,
            generation->value());
        return worker.reconcile(nullptr).map([](const IngestCacheReconciliation &) {});
    };
    return passes;
}

} // namespace

class LibraryRandomWalkTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase()
    {
        CurlFetch::initializeGlobally();
        // A replayed seed visits hashed sets in the same order; only the cache's batch names
        // differ from run to run.
        QHashSeed::setDeterministicGlobalSeed();
    }

    void recordsAndCopiesFollowEachOther();
};

void LibraryRandomWalkTests::recordsAndCopiesFollowEachOther()
{
    const LibraryWalkPasses passes = applicationPasses();
    QStringList failures;
    for (const quint32 seed : randomWalkSeeds(defaultSeeds)) {
        const LibraryWalkOutcome outcome
            = runLibraryRandomWalk(seed, passes, randomWalkSteps(defaultSteps));
        if (outcome.failure.isEmpty())
            continue;
        // Whole, where a test's message would be cut short.
        qWarning().noquote() << outcome.report();
        failures.append(QString::number(seed));
    }
    QVERIFY2(failures.isEmpty(), qPrintable(u"failing seeds: "_s + failures.join(u", "_s)));
}

QTEST_GUILESS_MAIN(LibraryRandomWalkTests)
#include "LibraryRandomWalkTests.moc"
