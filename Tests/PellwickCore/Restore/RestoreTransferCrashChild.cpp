// The process that RestoreTransferCrashTests ends at chosen or random moments.
//
// Usage: RestoreTransferCrashChild STATE OUT RAW_URL RAW_SIZE RAW_HASH XMP_URL XMP_SIZE XMP_HASH
//                                  [KILL_AT_OPERATION]
// Restores a RAW original and its sidecar into OUT with the transfer state under STATE, in
// chunks of 16 KiB, two at a time. With KILL_AT_OPERATION its file manager sends this process
// SIGKILL as that operation begins. Prints "ready" just before the restore starts; exits 0 after
// a successful restore, 1 after a failed one, 2 on bad arguments.

#include <PellwickCore/Restore/CurlRestoreRangeFetcher.h>
#include <PellwickCore/Restore/RestoreTransferError.h>
#include <PellwickCore/Restore/RestoreTransferExecutor.h>
#include <PellwickCore/Support/CurlTransfer.h>

#include <QString>

#include <cstdio>

#include <Support/FaultInjectingFileManager.h>

using namespace Pellwick;

namespace {

QString argument(char **argv, int index)
{
    return QString::fromLocal8Bit(argv[index]);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 9 && argc != 10) {
        std::fputs("usage: RestoreTransferCrashChild STATE OUT RAW_URL RAW_SIZE RAW_HASH XMP_URL "
                   "XMP_SIZE XMP_HASH [KILL_AT_OPERATION]\n",
                   stderr);
        return 2;
    }
    std::shared_ptr<const FileManager> fileManager = std::make_shared<LocalFileManager>();
    if (argc == 10) {
        fileManager = Test::fileManagerKilledAtOperation(argv[9]);
        if (!fileManager)
            return 2;
    }
    CurlTransfer::initializeGlobally();

    const QString out = argument(argv, 2);
    const Date expiry = Date::now().addingSeconds(3600);
    const RestoreTransfer transfer{{1, 2, RestoreTransferArtifact::Raw},
                                   QStringLiteral("IMG_0001.CR3"),
                                   out + QStringLiteral("/IMG_0001.CR3"),
                                   argument(argv, 4).toLongLong(),
                                   argument(argv, 5),
                                   argument(argv, 3),
                                   expiry,
                                   RestoreTransferFile{{1, 2, RestoreTransferArtifact::Sidecar},
                                                       QStringLiteral("IMG_0001.xmp"),
                                                       out + QStringLiteral("/IMG_0001.xmp"),
                                                       argument(argv, 7).toLongLong(),
                                                       argument(argv, 8),
                                                       argument(argv, 6),
                                                       expiry}};
    const RestoreTransferExecutor executor(argument(argv, 1),
                                           RestoreTransferConfiguration{16 * 1024, 2},
                                           std::make_shared<CurlRestoreRangeFetcher>(),
                                           std::make_shared<SHA256ContentHasher>(),
                                           std::make_shared<SystemRestoreTransferClock>(),
                                           fileManager);

    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    const Result<RestoreTransferManifest> result = executor.execute(
        transfer,
        [](std::stop_token) -> Result<RestoreTransferCapability> {
            return failure(RestoreTransferError{RestoreTransferError::UnexpectedRangeResponse{}});
        },
        {},
        QUuid::createUuid());
    if (!result) {
        std::fprintf(stderr, "%s\n", qPrintable(describe(result.error())));
        return 1;
    }
    return 0;
}
