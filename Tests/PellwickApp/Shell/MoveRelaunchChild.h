#pragma once

#include "CacheMoveFixture.h"

#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

// The child process of the move's relaunch test: one move with the view model, headless, over
// folders and settings that a later launch finds as the child left them.

namespace Pellwick::Test {

inline constexpr const char *moveChildFlag = "--move-child";

/// The settings, ending the process right after its `killAfter`-th write (before the first at 0).
class KillingLocationStore final : public IngestCacheLocationStoring
{
public:
    KillingLocationStore(std::shared_ptr<const IngestCacheLocationStoring> inner, int killAfter)
        : m_inner(std::move(inner))
        , m_killAfter(killAfter)
    {}

    QString load(const QString &defaultURL) const override { return m_inner->load(defaultURL); }

    bool hasSavedLocation() const override { return m_inner->hasSavedLocation(); }

    Result<void> save(const QString &url) const override { return written(m_inner->save(url)); }

    std::optional<QString> retained() const override { return m_inner->retained(); }

    Result<void> saveRetained(const std::optional<QString> &url) const override
    {
        return written(m_inner->saveRetained(url));
    }

    QHash<QString, QString> retainedManifest() const override
    {
        return m_inner->retainedManifest();
    }

    Result<void>
    saveRetainedManifest(const std::optional<QHash<QString, QString>> &manifest) const override
    {
        return written(m_inner->saveRetainedManifest(manifest));
    }

    std::optional<PendingMigration> pendingMigration() const override
    {
        return m_inner->pendingMigration();
    }

    Result<void>
    savePendingMigration(const std::optional<PendingMigration> &migration) const override
    {
        if (m_killAfter == 0)
            ::raise(SIGKILL);
        return written(m_inner->savePendingMigration(migration));
    }

private:
    Result<void> written(Result<void> result) const
    {
        if (++m_writes == m_killAfter)
            ::raise(SIGKILL);
        return result;
    }

    std::shared_ptr<const IngestCacheLocationStoring> m_inner;
    int m_killAfter;
    mutable int m_writes = 0;
};

/// Points `f` at the folders and settings below `root`, as a new launch finds them.
inline void relaunch(CacheMoveFixture &f, const QString &root)
{
    f.root = root;
    f.library = LocalLibraryCache(f.libraryRoot(), f.files);
    f.locationStore = f.settingsStore();
    f.ingestCacheRoot = f.locationStore->load(f.cacheRoot());
}

/// `root killAtOperation killAfterStoreWrite`: runs one move with the view model, headless.
inline int runMoveChild(char **argv)
{
    const QString root = QString::fromLocal8Bit(argv[2]);
    // The fixture's own folder, left behind by a kill, goes with the next reset.
    qputenv("TMPDIR", argv[2]);
    CacheMoveFixture f;
    relaunch(f, root);
    f.locationStore = std::make_shared<KillingLocationStore>(f.locationStore, std::atoi(argv[4]));
    if (const int killAt = std::atoi(argv[3]); killAt > 0)
        f.files->killAtOperation(killAt);
    const auto model = f.make();
    std::printf("ready\n");
    std::fflush(stdout);
    f.move(*model);
    writeFile(root + QStringLiteral("/operations"), QByteArray::number(f.files->operationCount()));
    return model->ingestCacheWorkflows().ingestCache().rootURL() == f.target() ? 0 : 3;
}

} // namespace Pellwick::Test
