#pragma once

#include "CacheUpkeepFixture.h"

#include <PellwickApp/Stores/IngestCacheLocationStore.h>
#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>
#include <PellwickCore/Ingest/IngestCacheMigrator.h>

#include <QCoro/QCoroTask>
#include <QSettings>

#include <atomic>

namespace Pellwick::Test {

/// An Ingest Cache of packages "b/P<n>.DNG" with records, to be moved to "Moved" beside it; the
/// free space the cache sees is `capacity`, changeable at any time.
struct CacheMoveFixture : CacheUpkeepFixture
{
    CacheMoveFixture()
    {
        availableCapacity
            = [capacity = capacity](const QString &) { return Result<qint64>(capacity->load()); };
        // Copies, hashes, size queries and library writes.
        for (const FileOperation operation : {FileOperation::OpenForReading,
                                              FileOperation::Write,
                                              FileOperation::OpenForAppending,
                                              FileOperation::AttributesOfItem})
            files->beforeOperation(operation, {}, [this](const QString &) {
                if (countsMainThreadWork && std::this_thread::get_id() == mainThread)
                    ++mainThreadWork;
            });
    }

    /// Disk work done on the main thread while `countsMainThreadWork`.
    std::atomic<bool> countsMainThreadWork = false;
    std::atomic<int> mainThreadWork = 0;

    QString target() const { return filePath(QStringLiteral("Moved")); }

    /// `name` below the temporary folder; "@" stands for the cache root.
    QString place(const QString &name) const
    {
        return name.startsWith(u'@') ? cacheRoot() + name.mid(1) : filePath(name);
    }

    QString marker() const { return target() + u'/' + IngestCacheMigrator::markerName(); }

    /// Settings in "settings.ini" (a folder of that name when `writable` is false, so that
    /// every write fails).
    std::shared_ptr<IngestCacheLocationStore> settingsStore(bool writable = true) const
    {
        const QString path = filePath(QStringLiteral("settings.ini"));
        if (!writable)
            QDir().mkpath(path);
        return std::make_shared<IngestCacheLocationStore>(
            std::make_unique<QSettings>(path, QSettings::IniFormat));
    }

    static void signIn(LibraryShellViewModel &model)
    {
        model.sessionState().setSession(AuthenticatedLibrarySession{
            QStringLiteral("token"), LibraryUser{1, QStringLiteral("a@example.test"), {}}, {}});
    }

    /// Moves the cache of `model` to `target()`.
    void move(LibraryShellViewModel &model) const
    {
        const QString to = target();
        QCoro::waitFor(model.ingestCacheWorkflows().beginIngestCacheMigration(to));
    }

    /// The texts assigned to the move's message field and to the import message field, in order.
    static std::shared_ptr<QStringList> recordMessages(LibraryShellViewModel &model)
    {
        auto texts = std::make_shared<QStringList>();
        IngestCacheState *cache = &model.ingestCacheState();
        ImportState *imports = &model.importState();
        QObject::connect(cache, &IngestCacheState::ingestCacheMigrationMessageChanged, [=] {
            texts->append(cache->ingestCacheMigrationMessage().value_or(QString()));
        });
        QObject::connect(imports, &ImportState::importErrorMessageChanged, [=] {
            texts->append(imports->importErrorMessage().value_or(QString()));
        });
        return texts;
    }

    std::shared_ptr<std::atomic<qint64>> capacity
        = std::make_shared<std::atomic<qint64>>(qint64(1) << 40);
};

} // namespace Pellwick::Test
