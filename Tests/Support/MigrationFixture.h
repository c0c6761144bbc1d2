#pragma once

#include "ContentHasherFakes.h"
#include "FaultInjectingFileManager.h"

#include <PellwickCore/Ingest/IngestCacheMigrator.h>

#include <QHash>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace Pellwick::Test {

/// A cache root and a move target in a fresh temporary folder, with a fault-injecting file
/// manager, a scripted hasher and a capacity probe whose answer and calls a test controls.
struct MigrationFixture
{
    MigrationFixture();

    /// The migrator for the cache at `cacheRoot` (by default the fixture's), hashing with
    /// `contentHasher` (by default the fixture's scripted one), stopped by `stop`.
    IngestCacheMigrator migrator(const QString &cacheRoot = {},
                                 std::shared_ptr<const ContentHashing> contentHasher = {},
                                 std::stop_token stop = {}) const;
    Result<IngestCacheMigration> migrate(const IngestCacheMigrator::ProgressCallback &progress = {},
                                         const QUuid &transferID = QUuid::createUuid()) const;

    /// Runs `action` with the call's number among the calls for exactly `path` (from 1) before
    /// each hash of `path`: a writer working beside the move, at a chosen moment.
    void beforeHashing(const QString &path, std::function<void(int occurrence)> action);
    /// How often `path` was hashed.
    int hashCount(const QString &path) const;

    /// The `IngestCacheError` case held by the failure, if it is that case.
    template<typename Case>
    static const Case *ingestCacheError(const Error &error)
    {
        const auto *ingest = error.as<IngestCacheError>();
        return ingest ? std::get_if<Case>(&ingest->value) : nullptr;
    }

    /// The errno of a `FileSystemError`, or -1.
    static int fileSystemCode(const Error &error);

    QTemporaryDir directory;
    /// The system's mount table, the file systems table "<temp>/fstab" (none until written) and
    /// no folder of removable drives, unless a test says otherwise.
    MountTablePaths mountTables;
    QString root;   ///< "<temp>/Cache"
    QString target; ///< "<temp>/Moved"
    std::shared_ptr<FaultInjectingFileManager> fileManager;
    std::shared_ptr<ScriptedContentHasher> hasher;
    std::shared_ptr<qint64> availableBytes;
    std::shared_ptr<QStringList> capacityProbes;

private:
    struct HashAction
    {
        std::function<void(int)> action;
        int calls = 0;
    };

    std::shared_ptr<QHash<QString, HashAction>> m_hashActions;
};

} // namespace Pellwick::Test
