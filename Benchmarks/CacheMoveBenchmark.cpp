// pellwick-bench-cache-move CACHE TARGET
// Moves the Ingest Cache at CACHE to TARGET as the application does: listing, free-space check,
// marker, stable snapshot copy with verified copies, then removal of the marker. Exits 1 when
// the move fails.

#include <PellwickCore/Ingest/IngestCacheMigration.h>

#include <QFile>
#include <QString>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <memory>

#include <sys/statvfs.h>

using namespace Pellwick;

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fputs("usage: pellwick-bench-cache-move CACHE TARGET\n", stderr);
        return 2;
    }
    const QString cache = QString::fromLocal8Bit(argv[1]);
    const QString target = QString::fromLocal8Bit(argv[2]);
    const IngestCacheMigrator migrator(
        cache,
        std::make_shared<LocalFileManager>(),
        std::make_shared<SHA256ContentHasher>(),
        [](const QString &path) -> Result<qint64> {
            struct statvfs volume
            {};

            if (::statvfs(QFile::encodeName(path).constData(), &volume) != 0)
                return fileSystemFailure(QStringLiteral("statvfs"), path, errno);
            return static_cast<qint64>(volume.f_bavail) * static_cast<qint64>(volume.f_frsize);
        });
    Result<IngestCacheMigration> moved = migrator.migrate(target, {}, QUuid::createUuid());
    if (moved) {
        if (Result<void> completed = migrator.completeMigration(target); !completed)
            moved = tl::unexpected<Error>(completed.error());
    }
    if (!moved) {
        std::fprintf(stderr, "%s\n", qPrintable(describe(moved.error())));
        return 1;
    }
    return 0;
}
