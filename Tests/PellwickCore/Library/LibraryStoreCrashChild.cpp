// The process that LibraryStoreCrashTests ends at chosen or random moments.
//
// Usage: LibraryStoreCrashChild ROOT ACKS [KILL_AT_OPERATION]
// Runs the library script on a store at ROOT. After each change returns, appends its number to
// the file ACKS (through plain system calls, outside the file manager under test); at the end
// appends "operations <N>" with the number of file-manager operations used. Prints "ready" first.
// Exits 0 after the whole script, 1 when a step fails, 2 on bad arguments.

#include "LibraryStoreScript.h"

#include <QByteArray>

#include <cstdio>

#include <Support/FaultInjectingFileManager.h>
#include <fcntl.h>
#include <unistd.h>

using namespace Pellwick;

int main(int argc, char **argv)
{
    if (argc != 3 && argc != 4) {
        std::fputs("usage: LibraryStoreCrashChild ROOT ACKS [KILL_AT_OPERATION]\n", stderr);
        return 2;
    }
    std::shared_ptr<Test::FaultInjectingFileManager> fileManager
        = argc == 4 ? Test::fileManagerKilledAtOperation(argv[3])
                    : std::make_shared<Test::FaultInjectingFileManager>();
    if (!fileManager)
        return 2;
    const int acks = ::open(argv[2], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (acks < 0)
        return 2;
    const LocalLibraryCache cache(
        QString::fromLocal8Bit(argv[1]), fileManager, {Test::LibraryStoreScript::foldBytes});
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    for (int step = 0; step < Test::LibraryStoreScript::stepCount(); ++step) {
        if (Result<void> done = Test::LibraryStoreScript::runStep(cache, step); !done) {
            std::fprintf(stderr, "step %d: %s\n", step, qPrintable(describe(done.error())));
            return 1;
        }
        const QByteArray line = QByteArray::number(step + 1) + '\n';
        if (::write(acks, line.constData(), static_cast<size_t>(line.size())) != line.size())
            return 1;
    }
    const QByteArray line
        = "operations " + QByteArray::number(fileManager->operationCount()) + '\n';
    if (::write(acks, line.constData(), static_cast<size_t>(line.size())) != line.size())
        return 1;
    return 0;
}
