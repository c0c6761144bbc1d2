// The process that IngestCachePackageRemoverTests ends at each file-manager operation.
//
// Usage: PackageRemoverCrashChild ROOT [KILL_AT_OPERATION]
// Removes the selected packages of the removal scene at ROOT, prints "ready" first and writes the
// number of file-manager operations used to ROOT/operations. Exits 0 on success, 1 on failure.

#include "PackageRemovalScene.h"

#include <QFile>

#include <cstdio>

#include <Support/FaultInjectingFileManager.h>

using namespace Pellwick;

namespace {

class NoBackend final : public VerifiedBackupImportCancelling
{
public:
    Result<void> cancelVerifiedBackupImport(const QString &, qint64, std::stop_token) const override
    {
        return {};
    }
};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 3)
        return 2;
    const std::shared_ptr<Test::FaultInjectingFileManager> fileManager
        = argc == 3 ? Test::fileManagerKilledAtOperation(argv[2])
                    : std::make_shared<Test::FaultInjectingFileManager>();
    if (!fileManager)
        return 2;
    const Test::PackageRemovalScene scene{QString::fromLocal8Bit(argv[1])};
    const auto hasher = std::make_shared<SHA256ContentHasher>();
    const IngestCachePackageRemover remover(LocalLibraryCache(scene.library(), fileManager),
                                            StagingArea(scene.staging(), fileManager, hasher),
                                            IngestCache(scene.cache(), fileManager, hasher),
                                            std::make_shared<NoBackend>());
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    const Result<QSet<QUuid>> removed
        = remover.removePackages(Test::PackageRemovalScene::selectedIDs(), QStringLiteral("t"));
    if (!removed) {
        std::fprintf(stderr, "%s\n", qPrintable(describe(removed.error())));
        return 1;
    }
    QFile operations(scene.root + QStringLiteral("/operations"));
    if (!operations.open(QIODevice::WriteOnly))
        return 1;
    operations.write(QByteArray::number(fileManager->operationCount()));
    return 0;
}
