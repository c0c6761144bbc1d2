// pellwick-bench-verified-copy SOURCE DESTINATION
// Copies SOURCE to DESTINATION with VerifiedFileCopy (partial file, flush, hash of source and
// copy, move into place). Exits 1 when the copy fails; the destination must not exist.

#include <PellwickCore/Ingest/VerifiedFileCopy.h>

#include <QString>

#include <cstdio>

using namespace Pellwick;

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fputs("usage: pellwick-bench-verified-copy SOURCE DESTINATION\n", stderr);
        return 2;
    }
    const Result<void> result = VerifiedFileCopy::copy(QString::fromLocal8Bit(argv[1]),
                                                       QString::fromLocal8Bit(argv[2]),
                                                       LocalFileManager(),
                                                       SHA256ContentHasher());
    if (!result) {
        std::fprintf(stderr, "%s\n", qPrintable(describe(result.error())));
        return 1;
    }
    return 0;
}
