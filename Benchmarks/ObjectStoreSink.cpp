// An object store on 127.0.0.1 that discards what it receives: prints a presigned PUT URL on
// stdout, answers every PUT to it with a quoted ETag naming the byte count, and runs until its
// standard input closes.

#include <cstdio>

#include <Support/TestObjectStore.h>

int main()
{
    Pellwick::Test::TestObjectStore store(Pellwick::Test::TestObjectStore::BodyStorage::Discard);
    std::printf("%s\n", qPrintable(store.presignedPutURL(QStringLiteral("bench/part-1"))));
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
}
