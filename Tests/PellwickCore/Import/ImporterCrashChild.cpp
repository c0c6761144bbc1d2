// The process that ImporterCrashTests ends at chosen or random moments.
//
// Usage: ImporterCrashChild import|recover ROOT BACKEND_URL TOKEN [KILL_AT_OPERATION]
// Runs the first import, or the recovery and the import of the items still waiting, of the
// packages under ROOT against the backend. Writes its process id to ROOT/child.pid and prints
// "ready" before the work; with KILL_AT_OPERATION (0 for none) writes the number of file-manager
// operations it used to ROOT/operations when done. Exits 0 when done, 1 on a failure, 2 on bad
// arguments.

#include "ImportCrashScript.h"

#include <QFile>

#include <cstdio>

#include <Support/FaultInjectingFileManager.h>
#include <unistd.h>

using namespace Pellwick;

int main(int argc, char **argv)
{
    if (argc != 5 && argc != 6) {
        std::fputs("usage: ImporterCrashChild import|recover ROOT BACKEND_URL TOKEN "
                   "[KILL_AT_OPERATION]\n",
                   stderr);
        return 2;
    }
    CurlFetch::initializeGlobally();
    const QString mode = QString::fromLocal8Bit(argv[1]);
    const QString root = QString::fromLocal8Bit(argv[2]);
    std::shared_ptr<const FileManager> fileManager = std::make_shared<LocalFileManager>();
    std::shared_ptr<Test::FaultInjectingFileManager> counting;
    if (argc == 6) {
        counting = Test::fileManagerKilledAtOperation(argv[5]);
        if (!counting)
            return 2;
        fileManager = counting;
    }
    const VerifiedBackupImporter importer
        = Test::crashImporter(root, fileManager, QString::fromLocal8Bit(argv[3]));
    const QString token = QString::fromLocal8Bit(argv[4]);

    QFile pid(root + QStringLiteral("/child.pid"));
    if (!pid.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 2;
    pid.write(QByteArray::number(::getpid()));
    pid.close();

    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    const Result<void> done = mode == QLatin1String("recover")
                                  ? Test::runCrashRecovery(importer, token)
                                  : Test::runCrashImport(importer, token);
    if (!done) {
        std::fprintf(stderr, "%s\n", qPrintable(describe(done.error())));
        return 1;
    }
    if (counting) {
        QFile operations(root + QStringLiteral("/operations"));
        if (!operations.open(QIODevice::WriteOnly))
            return 1;
        operations.write(QByteArray::number(counting->operationCount()));
    }
    return 0;
}
