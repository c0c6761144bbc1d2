#include "MigrationFixture.h"

#include <QDir>

#include <limits>

namespace Pellwick::Test {

MigrationFixture::MigrationFixture()
    : mountTables{.fileSystemTable = directory.path() + QStringLiteral("/fstab"),
                  .removableMountBases = {}}
    , root(directory.path() + QStringLiteral("/Cache"))
    , target(directory.path() + QStringLiteral("/Moved"))
    , fileManager(std::make_shared<FaultInjectingFileManager>())
    , hasher(std::make_shared<ScriptedContentHasher>())
    , availableBytes(std::make_shared<qint64>(std::numeric_limits<qint64>::max()))
    , capacityProbes(std::make_shared<QStringList>())
    , m_hashActions(std::make_shared<QHash<QString, HashAction>>())
{
    QDir().mkpath(root);
    auto actions = m_hashActions;
    hasher->setBeforeEachCall([actions](const QString &path) {
        const auto found = actions->find(path);
        if (found != actions->end())
            found->action(++found->calls);
    });
}

IngestCacheMigrator MigrationFixture::migrator(const QString &cacheRoot,
                                               std::shared_ptr<const ContentHashing> contentHasher,
                                               std::stop_token stop) const
{
    auto probes = capacityProbes;
    auto available = availableBytes;
    return IngestCacheMigrator(
        IngestCache(cacheRoot.isEmpty() ? root : cacheRoot,
                    fileManager,
                    contentHasher ? std::move(contentHasher) : hasher,
                    [probes, available](const QString &path) -> Result<qint64> {
                        probes->append(path);
                        return *available;
                    }),
        std::move(stop),
        mountTables);
}

Result<IngestCacheMigration>
MigrationFixture::migrate(const IngestCacheMigrator::ProgressCallback &progress,
                          const QUuid &transferID) const
{
    return migrator().migrate(target, progress, transferID);
}

void MigrationFixture::beforeHashing(const QString &path, std::function<void(int)> action)
{
    m_hashActions->insert(path, HashAction{std::move(action), 0});
}

int MigrationFixture::hashCount(const QString &path) const
{
    return static_cast<int>(hasher->hashedPaths().count(path));
}

int MigrationFixture::fileSystemCode(const Error &error)
{
    const auto *fileError = error.as<FileSystemError>();
    return fileError ? fileError->code : -1;
}

} // namespace Pellwick::Test
