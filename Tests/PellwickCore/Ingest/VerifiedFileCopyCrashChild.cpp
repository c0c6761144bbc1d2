// The process that VerifiedFileCopyCrashTests ends at chosen or random moments.
//
// Usage: VerifiedFileCopyCrashChild SOURCE DESTINATION [KILL_AT_OPERATION]
// Copies SOURCE to DESTINATION with VerifiedFileCopy. Without KILL_AT_OPERATION it uses the local
// file manager (and so the kernel copy); with it, a fault-injecting file manager that sends this
// process SIGKILL as its KILL_AT_OPERATION-th operation begins. Prints "ready" just before the
// copy starts; exits 0 after a successful copy, 1 after a failed one, 2 on bad arguments.

#include <PellwickCore/Ingest/VerifiedFileCopy.h>

#include <QString>

#include <cstdio>

#include <Support/FaultInjectingFileManager.h>

using namespace Pellwick;

int main(int argc, char **argv)
{
    if (argc != 3 && argc != 4) {
        std::fputs("usage: VerifiedFileCopyCrashChild SOURCE DESTINATION [KILL_AT_OPERATION]\n",
                   stderr);
        return 2;
    }
    const QString source = QString::fromLocal8Bit(argv[1]);
    const QString destination = QString::fromLocal8Bit(argv[2]);

    std::shared_ptr<const FileManager> fileManager = std::make_shared<LocalFileManager>();
    if (argc == 4) {
        fileManager = Test::fileManagerKilledAtOperation(argv[3]);
        if (!fileManager)
            return 2;
    }

    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    const Result<void> result
        = VerifiedFileCopy::copy(source, destination, *fileManager, SHA256ContentHasher());
    if (!result) {
        std::fprintf(stderr, "%s\n", qPrintable(describe(result.error())));
        return 1;
    }
    return 0;
}
