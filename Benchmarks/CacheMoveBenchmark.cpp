// pellwick-bench-cache-move CACHE TARGET
// Moves the Ingest Cache at CACHE to TARGET as the application does: listing, free-space check,
// marker, stable snapshot copy with verified copies, then removal of the marker. Exits 1 when
// the move fails.

#include <PellwickCore/Ingest/IngestCache.h>

#include <QString>
#include <QUuid>

#include <cstdio>
#include <memory>

using namespace Pellwick;

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fputs("usage: pellwick-bench-cache-move CACHE TARGET\n", stderr);
        return 2;
    }
    const QString target = QString::fromLocal8Bit(argv[2]);
    const IngestCache cache(QString::fromLocal8Bit(argv[1]),
                            std::make_shared<LocalFileManager>(),
                            std::make_shared<SHA256ContentHasher>());
    Result<IngestCacheMigration> moved = cache.migrate(target, {}, QUuid::createUuid());
    if (moved) {
        if (Result<void> completed = cache.completeMigration(target); !completed)
            moved = tl::unexpected<Error>(completed.error());
    }
    if (!moved) {
        std::fprintf(stderr, "%s\n", qPrintable(describe(moved.error())));
        return 1;
    }
    return 0;
}
