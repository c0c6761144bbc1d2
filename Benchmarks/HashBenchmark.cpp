// pellwick-bench-hash FILE...
// Prints the content hash of each file the way `sha256sum` does, "<hash>  <path>", computed by
// SHA256ContentHasher. Exits 1 when a file cannot be hashed.

#include <PellwickCore/Ingest/ContentHashing.h>

#include <QString>

#include <cstdio>

using namespace Pellwick;

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fputs("usage: pellwick-bench-hash FILE...\n", stderr);
        return 2;
    }
    const SHA256ContentHasher hasher;
    for (int i = 1; i < argc; ++i) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        const Result<QString> hash = hasher.contentHash(path);
        if (!hash) {
            std::fprintf(stderr, "%s\n", qPrintable(describe(hash.error())));
            return 1;
        }
        std::printf("%s  %s\n", qPrintable(*hash), argv[i]);
    }
    return 0;
}
