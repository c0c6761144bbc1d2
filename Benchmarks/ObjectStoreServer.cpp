// An object store on 127.0.0.1 that serves files: prints one presigned GET URL per FILE on
// stdout, one a line, answers ranged GETs of them read from the files, and runs until its
// standard input closes.
//
// usage: pellwick-object-store-server FILE...

#include <QFileInfo>

#include <cstdio>

#include <Support/TestObjectStore.h>

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE...\n", argv[0]);
        return 2;
    }
    Pellwick::Test::TestObjectStore store(Pellwick::Test::TestObjectStore::BodyStorage::Discard);
    const Pellwick::Date expiry = Pellwick::Date::now().addingSeconds(7 * 24 * 3600);
    for (int i = 1; i < argc; ++i) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        const QString key = QStringLiteral("bench/%1/%2").arg(i).arg(QFileInfo(path).fileName());
        store.putObjectFile(key, path);
        std::printf("%s\n", qPrintable(store.presignedGetURL(key, expiry)));
    }
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
}
