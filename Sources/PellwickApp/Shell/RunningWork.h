#pragma once

#include <QtGlobal>

namespace Pellwick {

class ImportState;
class IngestCacheState;

/// The shell's work on the Ingest Cache's packages and on the records that name them.
enum class Work : quint8 {
    /// Add to Ingest Cache: copies a review in, re-points records to the new copies and deletes
    /// the copies they replace.
    AddToIngestCache,
    /// Start Import, from its confirmation's action (its reconciliation and the check of its
    /// plan included) to the end of its run.
    ConfirmedImport,
    /// The resumption of interrupted imports.
    ImportRecovery,
    /// Remove from Cache.
    PackageRemoval,
    /// A move of the Ingest Cache, running or started and not finalized.
    IngestCacheMove,
    /// A refresh of the library from the Ingest Cache (a reconciliation).
    IngestCacheRefresh,
};

/// The work that runs now, and the one table of which work keeps which from starting. The entry
/// point of each workflow and the control that offers it read the same table: a control is
/// enabled exactly when its workflow would start. Main thread only (a plain value).
class RunningWork
{
public:
    /// The work the state objects publish as running: a confirmed import while it starts or runs,
    /// a resumption, a move running or pending, and for `isImporting` (held by an Add, an
    /// import's run and a removal alike) both an Add and a removal, which exclude the same work.
    static RunningWork of(const ImportState &imports, const IngestCacheState &ingestCache);

    /// Whether `running` keeps `wanted` from starting while it runs.
    static bool excludes(Work running, Work wanted);

    /// This work with `work` running (or not, when `running` is false).
    RunningWork with(Work work, bool running = true) const;

    bool contains(Work work) const;

    /// Whether any of this work keeps `wanted` from starting.
    bool excludes(Work wanted) const;

    bool operator==(const RunningWork &) const = default;

private:
    quint8 m_running = 0;
};

} // namespace Pellwick
