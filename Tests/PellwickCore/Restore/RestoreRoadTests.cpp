#include <PellwickCore/Backend/CurlFetch.h>
#include <PellwickCore/Backend/LibrarySessionClient.h>
#include <PellwickCore/Restore/CurlRestoreRangeFetcher.h>
#include <PellwickCore/Restore/RestoreRequestCoordinator.h>
#include <PellwickCore/Restore/RestoreTransferEngine.h>

#include <QTemporaryDir>
#include <QTest>

#include <Support/LibraryFixtures.h>
#include <Support/TestBackend/TestBackend.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>

using namespace Pellwick;
using namespace Qt::StringLiterals;

namespace {

const QString email = u"ada@example.test"_s;

QByteArray pattern(qsizetype size, char seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(seed + i * 7 % 251);
    return bytes;
}

} // namespace

class RestoreRoadTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void oneRestoreEndToEnd();
};

void RestoreRoadTests::oneRestoreEndToEnd()
{
    QTemporaryDir dir;
    Test::TestBackend backend;
    Test::TestBackend::Account account;
    account.email = email;
    backend.addAccount(account);
    const QString token = backend.issueToken(email);

    // Two archived RAW originals, the second with a sidecar, larger than one range.
    const QByteArray first = pattern(70'000, 'a');
    const QByteArray second = pattern(40'000, 'k');
    const QByteArray sidecar = "<x:xmpmeta rating=\"5\"/>";
    const auto a = backend.addArchivedItem(email, {u"IMG_0001.CR3"_s, first});
    const auto b
        = backend.addArchivedItem(email,
                                  {u"IMG_0002.CR3"_s, second},
                                  Test::TestBackend::ArchivedFile{u"IMG_0002.xmp"_s, sidecar});

    const auto files = std::make_shared<LocalFileManager>();
    const LocalLibraryCache cache(dir.filePath(u"Library"_s), files);
    QList<LocalLibraryItem> records;
    for (const auto &item : {a, b}) {
        LocalLibraryItem record = Test::minimalLibraryItem(int(records.size()) + 1);
        record.canonicalFilename = item.canonicalFilename;
        record.contentHash = item.contentHash;
        record.importStatus = LibraryItemImportStatus::VerifiedBackup;
        record.backendLibraryItemID = item.id;
        records.append(record);
    }
    PELLWICK_VERIFY_SUCCESS(cache.writeItems(records));

    const auto client = std::make_shared<LibrarySessionClient>(backend.baseURL(), CurlFetch());
    const RestoreRequestCoordinator coordinator(cache, client, RestoreDestinationResolver(files));
    const auto engine
        = std::make_shared<RestoreTransferEngine>(dir.filePath(u"RestoreTransfers"_s),
                                                  RestoreTransferConfiguration{16'384, 4},
                                                  std::make_shared<CurlRestoreRangeFetcher>(),
                                                  std::make_shared<SHA256ContentHasher>(),
                                                  std::make_shared<SystemRestoreTransferClock>(),
                                                  files);
    const auto statuses = [&] {
        QList<std::optional<RestoreRequestStatus>> result;
        const LocalLibraryCache reread(cache.rootURL(), files);
        for (const LocalLibraryItem &item : reread.readItems().value_or(QList<LocalLibraryItem>()))
            result.append(item.restoreStatus);
        return result;
    };
    using S = std::optional<RestoreRequestStatus>;

    const auto created = coordinator.createRestoreRequest(token, {records[0].id, records[1].id});
    PELLWICK_VERIFY_SUCCESS(created);
    QCOMPARE(statuses(),
             (QList<S>{RestoreRequestStatus::Preparing, RestoreRequestStatus::Preparing}));

    backend.setRestoreRequestStatus(created->id, RestoreRequestStatus::Ready);
    const auto ready = coordinator.refreshRestoreRequest(token, created->id);
    PELLWICK_VERIFY_SUCCESS(ready);
    QCOMPARE(ready->status, RestoreRequestStatus::Ready);

    const QString folder = dir.filePath(u"Restored"_s);
    QVERIFY(QDir().mkpath(folder));
    const auto transfers = coordinator.restoreTransfers(token, created->id, folder, {}, {});
    PELLWICK_VERIFY_SUCCESS(transfers);
    QCOMPARE(transfers->size(), 2);

    QList<RestoreTransferManifest> manifests;
    QHash<RestoreTransferIdentifier, RestoreTransferManifest> completed;
    for (const RestoreTransfer &transfer : *transfers) {
        const qint64 itemID = transfer.id.libraryItemID;
        const auto refresh
            = [&, itemID](std::stop_token stop) -> Result<RestoreTransferCapability> {
            PELLWICK_TRY_ASSIGN(auto capabilities,
                                client->restoreTransferCapabilities(token, created->id, stop));
            for (const RestoreTransferCapability &capability : capabilities.transfers) {
                if (capability.libraryItemID == itemID)
                    return capability;
            }
            return failure(
                RestoreTransferError{RestoreTransferError::MissingLocalLibraryItem{itemID}});
        };
        const auto manifest = engine->continueTransfer(transfer, refresh, {}, QUuid::createUuid());
        PELLWICK_VERIFY_SUCCESS(manifest);
        manifests.append(*manifest);
        completed.insert(manifest->id, *manifest);
        if (transfer.sidecar) {
            const auto sidecarManifest = engine->manifest(transfer.sidecar->id);
            PELLWICK_VERIFY_SUCCESS(sidecarManifest);
            QVERIFY(*sidecarManifest);
            completed.insert(transfer.sidecar->id, **sidecarManifest);
        }
    }
    QCOMPARE(Test::readFile(folder + u"/IMG_0001.CR3"_s), first);
    QCOMPARE(Test::readFile(folder + u"/IMG_0002.CR3"_s), second);
    QCOMPARE(Test::readFile(folder + u"/IMG_0002.xmp"_s), sidecar);

    PELLWICK_VERIFY_SUCCESS(coordinator.markRestoreTransfersComplete(manifests));
    QCOMPARE(statuses(),
             (QList<S>{RestoreRequestStatus::Downloaded, RestoreRequestStatus::Downloaded}));

    // Running the ready request again finds the finished files and reuses them.
    const auto again = coordinator.restoreTransfers(token, created->id, folder, {}, completed);
    PELLWICK_VERIFY_SUCCESS(again);
    QCOMPARE(again->size(), transfers->size());
    for (qsizetype i = 0; i < again->size(); ++i) {
        QCOMPARE(again->at(i).destinationPath, transfers->at(i).destinationPath);
        QCOMPARE(again->at(i).sidecar.has_value(), transfers->at(i).sidecar.has_value());
        if (again->at(i).sidecar)
            QCOMPARE(again->at(i).sidecar->destinationPath,
                     transfers->at(i).sidecar->destinationPath);
    }
    const auto conflicting = coordinator.restoreTransfers(token, created->id, folder, {}, {});
    QVERIFY(!conflicting);
    QVERIFY(conflicting.error().is<RestoreRequestCoordinatorError>());

    const auto refreshed = coordinator.refreshRestoreRequest(token, created->id);
    PELLWICK_VERIFY_SUCCESS(refreshed);
    QCOMPARE(refreshed->items.at(0).status, RestoreRequestStatus::Downloaded);

    const auto done = coordinator.completeRestoreRequest(token, created->id);
    PELLWICK_VERIFY_SUCCESS(done);
    QCOMPARE(done->status, RestoreRequestStatus::Downloaded);
    const QByteArray library = Test::readFile(cache.rootURL() + u"/library-items.json"_s)
                               + Test::readFile(cache.rootURL() + u"/library-items.journal"_s);
    QVERIFY(library.contains("\"downloaded\""));
    QCOMPARE(statuses(),
             (QList<S>{RestoreRequestStatus::Downloaded, RestoreRequestStatus::Downloaded}));
}

QTEST_GUILESS_MAIN(RestoreRoadTests)
#include "RestoreRoadTests.moc"
