#pragma once

#include "FaultInjectingFileManager.h"
#include "ScriptedContentHasher.h"

#include <PellwickCore/Ingest/IngestCacheMigration.h>

#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace Pellwick::Test {

/// A cache root and a move target in a fresh temporary folder, with a fault-injecting file
/// manager, a scripted hasher and a capacity probe whose answer and calls a test controls.
struct MigrationFixture
{
    MigrationFixture();

    /// The migrator for the cache at `root` (by default the fixture's).
    IngestCacheMigrator migrator(const QString &cacheRoot = {}) const;
    Result<IngestCacheMigration> migrate(const IngestCacheMigrator::ProgressCallback &progress = {},
                                         const QUuid &transferID = QUuid::createUuid()) const;

    /// Whether an `IngestCacheError` case holds the failure.
    template<typename Case>
    static const Case *ingestCacheError(const Error &error)
    {
        const auto *ingest = error.as<IngestCacheError>();
        return ingest ? std::get_if<Case>(&ingest->value) : nullptr;
    }

    /// What went wrong, for test messages (which are built even when nothing did).
    template<typename T>
    static QByteArray failureText(const Result<T> &result)
    {
        return result ? QByteArray() : describe(result.error()).toLocal8Bit();
    }

    /// The errno of a `FileSystemError`, or -1.
    static int fileSystemCode(const Error &error);

    QTemporaryDir directory;
    QString root;   ///< "<temp>/Cache"
    QString target; ///< "<temp>/Moved"
    std::shared_ptr<FaultInjectingFileManager> fileManager;
    std::shared_ptr<ScriptedContentHasher> hasher;
    std::shared_ptr<qint64> availableBytes;
    std::shared_ptr<QStringList> capacityProbes;
};

} // namespace Pellwick::Test
