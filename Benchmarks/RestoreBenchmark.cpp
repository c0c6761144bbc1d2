// Restores a RAW original and its sidecar through the whole restore transfer engine (ranged
// GETs, part files, manifests, assembly, verification, installation) with the production
// services and the default configuration. Prints "peak RSS: <N> MiB" on standard error.
//
// usage: pellwick-bench-restore STATE DESTINATION_FOLDER RAW_URL RAW_SIZE RAW_HASH
//                               SIDECAR_URL SIDECAR_SIZE SIDECAR_HASH

#include <PellwickCore/Restore/CurlRestoreRangeFetcher.h>
#include <PellwickCore/Restore/RestoreTransferEngine.h>
#include <PellwickCore/Restore/RestoreTransferError.h>
#include <PellwickCore/Support/CurlTransfer.h>

#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <optional>
#include <utility>

using namespace Pellwick;

namespace {

qint64 peakResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 9) {
        std::fprintf(stderr,
                     "usage: %s STATE DESTINATION_FOLDER RAW_URL RAW_SIZE RAW_HASH SIDECAR_URL "
                     "SIDECAR_SIZE SIDECAR_HASH\n",
                     argv[0]);
        return 2;
    }
    auto argument = [&](int index) { return QString::fromLocal8Bit(argv[index]); };
    CurlTransfer::initializeGlobally();

    const Date expiry = Date::now().addingSeconds(3600);
    const RestoreTransfer transfer{
        {1, 1, RestoreTransferArtifact::Raw},
        QStringLiteral("IMG_0001.CR3"),
        argument(2) + QStringLiteral("/IMG_0001.CR3"),
        argument(4).toLongLong(),
        argument(5),
        argument(3),
        expiry,
        RestoreTransferFile{{1, 1, RestoreTransferArtifact::Sidecar},
                            QStringLiteral("IMG_0001.xmp"),
                            argument(2) + QStringLiteral("/IMG_0001.xmp"),
                            argument(7).toLongLong(),
                            argument(8),
                            argument(6),
                            expiry}};
    const auto engine = std::make_shared<RestoreTransferEngine>(
        argument(1),
        RestoreTransferConfiguration::defaultConfiguration(),
        std::make_shared<CurlRestoreRangeFetcher>(),
        std::make_shared<SHA256ContentHasher>(),
        std::make_shared<SystemRestoreTransferClock>(),
        std::make_shared<LocalFileManager>());
    // With PELLWICK_BENCH_PHASES set, each change of phase is printed with the time it began.
    QElapsedTimer clock;
    clock.start();
    std::optional<std::pair<std::optional<QString>, TransferProgressPhase>> lastPhase;
    RestoreTransferExecutor::ProgressCallback progress;
    if (qEnvironmentVariableIsSet("PELLWICK_BENCH_PHASES")) {
        progress = [&](const TransferProgress &row) {
            const std::pair phase{row.currentFilename, row.phase};
            if (phase == lastPhase)
                return;
            lastPhase = phase;
            std::fprintf(stderr,
                         "%8lld ms %s phase %d\n",
                         static_cast<long long>(clock.elapsed()),
                         qPrintable(row.currentFilename.value_or(QString())),
                         static_cast<int>(row.phase));
        };
    }
    const Result<RestoreTransferManifest> result = engine->continueTransfer(
        transfer,
        [](std::stop_token) -> Result<RestoreTransferCapability> {
            return failure(RestoreTransferError{RestoreTransferError::UnexpectedRangeResponse{}});
        },
        progress,
        QUuid::createUuid());
    if (progress)
        std::fprintf(stderr, "%8lld ms done\n", static_cast<long long>(clock.elapsed()));
    if (!result) {
        std::fprintf(stderr, "restore failed: %s\n", qPrintable(describe(result.error())));
        return 1;
    }
    std::fprintf(stderr, "peak RSS: %lld MiB\n", peakResidentKiB() / 1024);
    return 0;
}
