#include "RunningWork.h"

#include <PellwickApp/Shell/State/ImportState.h>
#include <PellwickApp/Shell/State/IngestCacheState.h>

#include <array>

namespace Pellwick {

namespace {

constexpr int workCount = int(Work::IngestCacheRefresh) + 1;

constexpr quint8 bit(Work work)
{
    return quint8(1U << unsigned(work));
}

template<typename... Works>
constexpr quint8 bits(Works... works)
{
    return quint8((0U | ... | unsigned(bit(works))));
}

// What work that copies into the cache, deletes from it or moves it keeps from starting: any other
// work that plans, stages, deletes or re-points the packages and their records, and a refresh,
// which would find the cache mid-change.
constexpr quint8 changingTheCache = bits(Work::AddToIngestCache,
                                         Work::ConfirmedImport,
                                         Work::PackageRemoval,
                                         Work::IngestCacheMove,
                                         Work::IngestCacheRefresh);

// Row: the work running; its bits: the work it keeps from starting.
constexpr std::array<quint8, workCount> exclusions{
    // AddToIngestCache: a plan checked while an Add re-points its records would find good copies
    // gone.
    changingTheCache,
    // ConfirmedImport: it plans, stages and deletes the packages from its start to its end; a
    // refresh waits for its end, and so never splits a planned record.
    quint8(changingTheCache | bit(Work::ImportRecovery)),
    // ImportRecovery: the packages it resumes are the importer's.
    bits(Work::ConfirmedImport, Work::ImportRecovery, Work::PackageRemoval),
    // PackageRemoval
    changingTheCache,
    // IngestCacheMove: it holds the library for its whole copy, and its cache is not the one the
    // others would work on.
    changingTheCache,
    // IngestCacheRefresh: one at a time.
    bits(Work::IngestCacheRefresh),
};

// `isImporting` does not say whether an Add or a removal holds it.
static_assert(exclusions[size_t(Work::AddToIngestCache)]
              == exclusions[size_t(Work::PackageRemoval)]);

} // namespace

RunningWork RunningWork::of(const ImportState &imports, const IngestCacheState &ingestCache)
{
    return RunningWork()
        .with(Work::AddToIngestCache, imports.isImporting())
        .with(Work::PackageRemoval, imports.isImporting())
        .with(Work::ConfirmedImport, imports.isStartingImport())
        .with(Work::ImportRecovery, imports.isRecoveringInterruptedImports())
        .with(Work::IngestCacheMove, ingestCache.isIngestCacheMigrationPending());
}

bool RunningWork::excludes(Work running, Work wanted)
{
    return (exclusions[size_t(running)] & bit(wanted)) != 0;
}

RunningWork RunningWork::with(Work work, bool running) const
{
    RunningWork changed = *this;
    changed.m_running = running ? quint8(m_running | bit(work)) : quint8(m_running & ~bit(work));
    return changed;
}

bool RunningWork::contains(Work work) const
{
    return (m_running & bit(work)) != 0;
}

bool RunningWork::excludes(Work wanted) const
{
    for (int running = 0; running < workCount; ++running) {
        if (contains(Work(running)) && excludes(Work(running), wanted))
            return true;
    }
    return false;
}

} // namespace Pellwick
