#include "MigrationFixture.h"

#include <QDir>

#include <limits>

namespace Pellwick::Test {

MigrationFixture::MigrationFixture()
    : root(directory.path() + QStringLiteral("/Cache"))
    , target(directory.path() + QStringLiteral("/Moved"))
    , fileManager(std::make_shared<FaultInjectingFileManager>())
    , hasher(std::make_shared<ScriptedContentHasher>())
    , availableBytes(std::make_shared<qint64>(std::numeric_limits<qint64>::max()))
    , capacityProbes(std::make_shared<QStringList>())
{
    QDir().mkpath(root);
}

IngestCacheMigrator MigrationFixture::migrator(const QString &cacheRoot) const
{
    auto probes = capacityProbes;
    auto available = availableBytes;
    return IngestCacheMigrator(cacheRoot.isEmpty() ? root : cacheRoot,
                               fileManager,
                               hasher,
                               [probes, available](const QString &path) -> Result<qint64> {
                                   probes->append(path);
                                   return *available;
                               });
}

Result<IngestCacheMigration>
MigrationFixture::migrate(const IngestCacheMigrator::ProgressCallback &progress,
                          const QUuid &transferID) const
{
    return migrator().migrate(target, progress, transferID);
}

int MigrationFixture::fileSystemCode(const Error &error)
{
    const auto *fileError = error.as<FileSystemError>();
    return fileError ? fileError->code : -1;
}

} // namespace Pellwick::Test
