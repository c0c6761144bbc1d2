// The process that StagingAreaTests ends at chosen or random moments.
//
// Usage: StagingAreaCrashChild ROOT SOURCES [KILL_AT_OPERATION]
// Stages the scripted items from SOURCES into the Staging Area at ROOT and writes each package's
// scripted records. With KILL_AT_OPERATION the file manager sends this process SIGKILL as that
// operation begins. Prints "ready" before the work; exits 0 when done, 1 on a failure, 2 on bad
// arguments.

#include "StagingCrashScript.h"

#include <PellwickCore/Import/StagingArea.h>

#include <cstdio>

#include <Support/FaultInjectingFileManager.h>

using namespace Pellwick;

int main(int argc, char **argv)
{
    if (argc != 3 && argc != 4) {
        std::fputs("usage: StagingAreaCrashChild ROOT SOURCES [KILL_AT_OPERATION]\n", stderr);
        return 2;
    }
    std::shared_ptr<const FileManager> fileManager = std::make_shared<LocalFileManager>();
    if (argc == 4) {
        fileManager = Test::fileManagerKilledAtOperation(argv[3]);
        if (!fileManager)
            return 2;
    }
    const StagingArea area(
        QString::fromLocal8Bit(argv[1]), fileManager, std::make_shared<SHA256ContentHasher>());

    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    const Result<void> done = Test::runStagingScript(area, QString::fromLocal8Bit(argv[2]));
    if (!done) {
        std::fprintf(stderr, "%s\n", qPrintable(describe(done.error())));
        return 1;
    }
    return 0;
}
