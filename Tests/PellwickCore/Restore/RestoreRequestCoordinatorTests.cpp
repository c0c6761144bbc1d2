#include <PellwickCore/Restore/RestoreRequestCoordinator.h>

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include <Support/FaultInjectingFileManager.h>
#include <Support/LibraryFixtures.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>

using namespace Pellwick;
using namespace Qt::StringLiterals;

namespace {

using S = RestoreRequestStatus;
using CoordinatorError = RestoreRequestCoordinatorError;
constexpr qint64 requestID = 7;
const QString token = u"session-token"_s;

/// Replies with the one scripted request (or failure) to every operation and records each call.
class RecordingRestoreAPI final : public RestoreAPI
{
public:
    RestoreRequest request;
    bool hasActiveRequest = true;
    QList<RestoreTransferCapability> capabilities;
    std::optional<Error> error;
    mutable QStringList calls;

    Result<RestoreRequest>
    createRestoreRequest(const QString &t, const QList<qint64> &ids, std::stop_token) const override
    {
        QStringList text;
        for (qint64 id : ids)
            text.append(QString::number(id));
        return reply(t, u"create "_s + text.join(u','), request);
    }

    Result<RestoreRequest>
    restoreRequest(const QString &t, qint64 id, std::stop_token) const override
    {
        return reply(t, u"request %1"_s.arg(id), request);
    }

    Result<std::optional<RestoreRequest>> activeRestoreRequest(const QString &t,
                                                               std::stop_token) const override
    {
        return reply(t,
                     u"active"_s,
                     hasActiveRequest ? std::optional(request) : std::optional<RestoreRequest>());
    }

    Result<RestoreRequest>
    cancelRestoreRequest(const QString &t, qint64 id, std::stop_token) const override
    {
        return reply(t, u"cancel %1"_s.arg(id), request);
    }

    Result<RestoreRequest>
    retryRestoreRequest(const QString &t, qint64 id, std::stop_token) const override
    {
        return reply(t, u"retry %1"_s.arg(id), request);
    }

    Result<RestoreDownloads>
    restoreDownloads(const QString &t, qint64 id, std::stop_token) const override
    {
        return reply(t, u"downloads %1"_s.arg(id), RestoreDownloads{request, {}});
    }

    Result<RestoreRequest>
    completeRestoreRequest(const QString &t, qint64 id, std::stop_token) const override
    {
        return reply(t, u"complete %1"_s.arg(id), request);
    }

    Result<RestoreTransferCapabilities>
    restoreTransferCapabilities(const QString &t, qint64 id, std::stop_token) const override
    {
        return reply(
            t, u"capabilities %1"_s.arg(id), RestoreTransferCapabilities{request, capabilities});
    }

private:
    template<typename T>
    Result<T> reply(const QString &t, const QString &call, T value) const
    {
        calls.append(t == token ? call : u"wrong token"_s);
        if (error)
            return tl::unexpected(*error);
        return value;
    }
};

/// Record `n` with backend id 100 + n (none for `backendID` false).
LocalLibraryItem record(int n,
                        std::optional<S> restoreStatus = std::nullopt,
                        std::optional<QString> reason = std::nullopt,
                        LibraryItemImportStatus importStatus
                        = LibraryItemImportStatus::VerifiedBackup,
                        bool backendID = true)
{
    LocalLibraryItem item = Test::minimalLibraryItem(n);
    item.importStatus = importStatus;
    if (backendID)
        item.backendLibraryItemID = 100 + n;
    item.restoreStatus = restoreStatus;
    item.restoreAttentionReason = reason;
    return item;
}

RestoreRequestItem requestItem(qint64 id, S status, std::optional<QString> reason = std::nullopt)
{
    return {id, u"IMG_%1.CR3"_s.arg(id), 1000, status, std::move(reason)};
}

RestoreTransferCapability capability(qint64 id, const QString &name)
{
    return {id, name, 1000, u"https://store.example/%1"_s.arg(id), Date{8e8}, std::nullopt};
}

using ChosenNames = QHash<qint64, QString>;

enum class Operation {
    Create,
    Refresh,
    Active,
    Cancel,
    Retry,
    Complete,
    Downloads,
    Transfers
};

struct Fixture
{
    QTemporaryDir dir;
    std::shared_ptr<Test::FaultInjectingFileManager> files
        = std::make_shared<Test::FaultInjectingFileManager>();
    LocalLibraryCache cache{dir.filePath(u"Library"_s), files};
    std::shared_ptr<RecordingRestoreAPI> api = std::make_shared<RecordingRestoreAPI>();
    RestoreRequestCoordinator coordinator{cache, api, RestoreDestinationResolver(files)};

    explicit Fixture(const QList<LocalLibraryItem> &items)
    {
        api->request = {requestID, S::Preparing, 2000, std::nullopt, std::nullopt, {}};
        if (!cache.writeItems(items))
            qFatal("library not written");
    }

    QByteArray libraryBytes() const
    {
        return Test::readFile(dir.filePath(u"Library/library-items.json"_s))
               + Test::readFile(dir.filePath(u"Library/library-items.journal"_s));
    }

    /// Reads the library afresh from disk.
    QList<LocalLibraryItem> storedItems() const
    {
        return LocalLibraryCache(cache.rootURL(), std::make_shared<LocalFileManager>())
            .readItems()
            .value_or(QList<LocalLibraryItem>());
    }

    std::optional<LocalLibraryItem> stored(int n) const
    {
        for (const LocalLibraryItem &item : storedItems()) {
            if (item.id == Test::minimalLibraryItem(n).id)
                return item;
        }
        return std::nullopt;
    }

    /// Runs `operation` for the request; what a request-returning operation returned.
    Result<std::optional<RestoreRequest>> run(Operation operation,
                                              const QSet<QUuid> &selection = {}) const
    {
        const auto some = [](auto result) -> Result<std::optional<RestoreRequest>> {
            if (!result)
                return tl::unexpected(result.error());
            return std::optional(*result);
        };
        switch (operation) {
        case Operation::Create:
            return some(coordinator.createRestoreRequest(token, selection));
        case Operation::Refresh:
            return some(coordinator.refreshRestoreRequest(token, requestID));
        case Operation::Active:
            return coordinator.activeRestoreRequest(token);
        case Operation::Cancel:
            return some(coordinator.cancelRestoreRequest(token, requestID));
        case Operation::Retry:
            return some(coordinator.retryRestoreRequest(token, requestID));
        case Operation::Complete:
            return some(coordinator.completeRestoreRequest(token, requestID));
        case Operation::Downloads: {
            PELLWICK_TRY_ASSIGN(auto downloads, coordinator.restoreDownloads(token, requestID));
            return std::optional(downloads.restoreRequest);
        }
        case Operation::Transfers: {
            PELLWICK_TRY_ASSIGN(auto transfers,
                                coordinator.restoreTransfers(
                                    token, requestID, dir.filePath(u"Restored"_s), {}, {}));
            return std::optional<RestoreRequest>();
        }
        }
        return std::optional<RestoreRequest>();
    }
};

} // namespace

Q_DECLARE_METATYPE(Operation)
Q_DECLARE_METATYPE(Error)
Q_DECLARE_METATYPE(LocalLibraryItem)
Q_DECLARE_METATYPE(RestoreTransferCapability)
Q_DECLARE_METATYPE(std::optional<S>)
Q_DECLARE_METATYPE(std::optional<QString>)
Q_DECLARE_METATYPE(std::optional<Error>)

class RestoreRequestCoordinatorTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void selectionSendsVerifiedBackupsInStoredOrder_data();
    void selectionSendsVerifiedBackupsInStoredOrder();
    void localStatusesFollowTheRequest_data();
    void localStatusesFollowTheRequest();
    void conflictsChangeNothingLocally_data();
    void conflictsChangeNothingLocally();
    void backendFailuresPassThroughUnchanged_data();
    void backendFailuresPassThroughUnchanged();
    void noActiveRequestTouchesNothing();
    void cancelClearsEveryItem();
    void marksRecordTransferOutcomes();
    void transfersFollowTheCapabilities_data();
    void transfersFollowTheCapabilities();
    void failedWriteKeepsEarlierGroups();
};

void RestoreRequestCoordinatorTests::selectionSendsVerifiedBackupsInStoredOrder_data()
{
    QTest::addColumn<QList<LocalLibraryItem>>("items");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<QString>("call"); // empty: noRestorableItems without a call

    using I = LibraryItemImportStatus;
    QTest::newRow("only cache-ready and duplicate items")
        << QList{record(1, {}, {}, I::LocalCacheReady), record(2, {}, {}, I::Duplicate)}
        << QList<int>{1, 2} << QString();
    QTest::newRow("a Verified Backup without backend id is left out")
        << QList{record(1, {}, {}, I::VerifiedBackup, false), record(2)} << QList<int>{1, 2}
        << u"create 102"_s;
    QTest::newRow("only a Verified Backup without backend id")
        << QList{record(1, {}, {}, I::VerifiedBackup, false)} << QList<int>{1} << QString();
    QTest::newRow("stored order, unselected left out")
        << QList{record(3), record(1), record(2)} << QList<int>{2, 3} << u"create 103,102"_s;
}

void RestoreRequestCoordinatorTests::selectionSendsVerifiedBackupsInStoredOrder()
{
    QFETCH(QList<LocalLibraryItem>, items);
    QFETCH(QList<int>, selected);
    QFETCH(QString, call);

    Fixture fixture(items);
    fixture.api->request.items = {requestItem(102, S::Preparing)};
    QSet<QUuid> selection;
    for (int n : selected)
        selection.insert(Test::minimalLibraryItem(n).id);
    const QByteArray before = fixture.libraryBytes();

    const auto result = fixture.run(Operation::Create, selection);
    if (call.isEmpty()) {
        QCOMPARE(result.error(), Error(CoordinatorError{CoordinatorError::NoRestorableItems{}}));
        QCOMPARE(fixture.api->calls, QStringList());
        QCOMPARE(fixture.libraryBytes(), before);
        return;
    }
    PELLWICK_VERIFY_SUCCESS(result);
    QCOMPARE(**result, fixture.api->request);
    QCOMPARE(fixture.api->calls, QStringList{call});
    QCOMPARE(fixture.stored(2)->restoreStatus, std::optional(S::Preparing));
}

void RestoreRequestCoordinatorTests::localStatusesFollowTheRequest_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<S>("requestStatus");
    QTest::addColumn<std::optional<S>>("localStatus");
    QTest::addColumn<std::optional<QString>>("localReason");
    QTest::addColumn<S>("itemStatus");
    QTest::addColumn<std::optional<QString>>("itemReason");
    // The record's status and reason afterwards, and the returned item's.
    QTest::addColumn<std::optional<S>>("storedStatus");
    QTest::addColumn<std::optional<QString>>("storedReason");
    QTest::addColumn<S>("returnedStatus");
    QTest::addColumn<std::optional<QString>>("returnedReason");

    using OS = std::optional<S>;
    using OR = std::optional<QString>;
    const OR none;
    const OR diskFull = u"disk full"_s;
    const OR expired = u"expired"_s;

    QTest::newRow("ready keeps a local download")
        << Operation::Refresh << S::Ready << OS(S::Downloaded) << none << S::Ready << none
        << OS(S::Downloaded) << none << S::Downloaded << none;
    QTest::newRow("ready keeps a local failure and its reason")
        << Operation::Active << S::Ready << OS(S::NeedsAttention) << diskFull << S::Ready << none
        << OS(S::NeedsAttention) << diskFull << S::NeedsAttention << diskFull;
    QTest::newRow("local failure without reason shows the backend's")
        << Operation::Refresh << S::Ready << OS(S::NeedsAttention) << none << S::NeedsAttention
        << expired << OS(S::NeedsAttention) << none << S::NeedsAttention << expired;
    QTest::newRow("ready with no local outcome takes the item's status")
        << Operation::Refresh << S::Ready << OS() << none << S::Ready << none << OS(S::Ready)
        << none << S::Ready << none;
    QTest::newRow("a preparing request overrides a local download")
        << Operation::Refresh << S::Preparing << OS(S::Downloaded) << none << S::Preparing << none
        << OS(S::Preparing) << none << S::Preparing << none;
    QTest::newRow("the item's own status, not the request's")
        << Operation::Active << S::NeedsAttention << OS(S::Preparing) << none << S::Downloaded
        << none << OS(S::Downloaded) << none << S::Downloaded << none;
    QTest::newRow("a backend reason is stored")
        << Operation::Retry << S::NeedsAttention << OS(S::Preparing) << none << S::NeedsAttention
        << expired << OS(S::NeedsAttention) << expired << S::NeedsAttention << expired;
    QTest::newRow("a local reason is cleared with the item's")
        << Operation::Complete << S::Downloaded << OS(S::NeedsAttention) << diskFull
        << S::Downloaded << none << OS(S::Downloaded) << none << S::Downloaded << none;
    QTest::newRow("create takes the reply")
        << Operation::Create << S::Preparing << OS() << none << S::Preparing << none
        << OS(S::Preparing) << none << S::Preparing << none;
    // A request ready at once must not take an outcome left from an earlier request for its own.
    QTest::newRow("create of a ready request replaces an earlier download")
        << Operation::Create << S::Ready << OS(S::Downloaded) << none << S::Ready << none
        << OS(S::Ready) << none << S::Ready << none;
    QTest::newRow("create of a ready request replaces an earlier failure")
        << Operation::Create << S::Ready << OS(S::NeedsAttention) << diskFull << S::Ready << none
        << OS(S::Ready) << none << S::Ready << none;
    QTest::newRow("retry of a ready request keeps a local download")
        << Operation::Retry << S::Ready << OS(S::Downloaded) << none << S::Ready << none
        << OS(S::Downloaded) << none << S::Ready << none;
    QTest::newRow("downloads take their request's statuses")
        << Operation::Downloads << S::Ready << OS(S::Preparing) << none << S::Ready << none
        << OS(S::Ready) << none << S::Ready << none;
}

void RestoreRequestCoordinatorTests::localStatusesFollowTheRequest()
{
    QFETCH(Operation, operation);
    QFETCH(S, requestStatus);
    QFETCH(std::optional<S>, localStatus);
    QFETCH(std::optional<QString>, localReason);
    QFETCH(S, itemStatus);
    QFETCH(std::optional<QString>, itemReason);
    QFETCH(std::optional<S>, storedStatus);
    QFETCH(std::optional<QString>, storedReason);
    QFETCH(S, returnedStatus);
    QFETCH(std::optional<QString>, returnedReason);

    Fixture fixture({record(1, localStatus, localReason), record(2, S::Cancelled)});
    fixture.api->request.status = requestStatus;
    // Item 999 has no local record and changes nothing.
    fixture.api->request.items
        = {requestItem(999, S::Ready), requestItem(101, itemStatus, itemReason)};

    const auto result = fixture.run(operation, {Test::minimalLibraryItem(1).id});
    PELLWICK_VERIFY_SUCCESS(result);
    QCOMPARE(fixture.stored(1)->restoreStatus, storedStatus);
    QCOMPARE(fixture.stored(1)->restoreAttentionReason, storedReason);
    QCOMPARE(fixture.stored(2), std::optional(record(2, S::Cancelled)));

    const RestoreRequest &returned = **result;
    RestoreRequest expected = fixture.api->request;
    expected.items[1].status = returnedStatus;
    expected.items[1].attentionReason = returnedReason;
    QCOMPARE(returned, expected);
}

void RestoreRequestCoordinatorTests::conflictsChangeNothingLocally_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QList<LocalLibraryItem>>("items");
    QTest::addColumn<QList<qint64>>("requestItems");
    QTest::addColumn<std::optional<Error>>("error"); // none: accepted

    const LocalLibraryItem first = record(1);
    LocalLibraryItem second = record(2);
    second.backendLibraryItemID = 101;
    // A copy of the archived bytes under another name, archived as a duplicate of item 101.
    LocalLibraryItem duplicate = record(2, {}, {}, LibraryItemImportStatus::Duplicate);
    duplicate.backendLibraryItemID = 101;
    const std::optional<Error> accepted;
    const std::optional<Error> itemConflict
        = Error(CoordinatorError{CoordinatorError::RestoreRequestItemConflict{}});
    const std::optional<Error> localConflict
        = Error(CoordinatorError{CoordinatorError::LocalLibraryCacheConflict{}});

    for (Operation operation : {Operation::Create, Operation::Refresh, Operation::Complete}) {
        const QByteArray name = QByteArray::number(int(operation));
        QTest::addRow("item listed twice (%s)", name.constData())
            << operation << QList{first, record(2)} << QList<qint64>{101, 102, 101} << itemConflict;
        QTest::addRow("two records with one backend id (%s)", name.constData())
            << operation << QList{first, second} << QList<qint64>{101} << localConflict;
        QTest::addRow("a duplicate of an archived record (%s)", name.constData())
            << operation << QList{duplicate, first} << QList<qint64>{101} << accepted;
    }
    QTest::newRow("two records with one backend id (active, ready)")
        << Operation::Active << QList{first, second} << QList<qint64>{} << localConflict;
    QTest::newRow("two records with one backend id (transfers)")
        << Operation::Transfers << QList{first, second} << QList<qint64>{} << localConflict;
    QTest::newRow("a duplicate of an archived record (transfers)")
        << Operation::Transfers << QList{duplicate, first} << QList<qint64>{} << accepted;
    QTest::newRow("two equal records are accepted") << Operation::Refresh << QList{first, first}
                                                    << QList<qint64>{101} << std::optional<Error>();
}

void RestoreRequestCoordinatorTests::conflictsChangeNothingLocally()
{
    QFETCH(Operation, operation);
    QFETCH(QList<LocalLibraryItem>, items);
    QFETCH(QList<qint64>, requestItems);
    QFETCH(std::optional<Error>, error);

    Fixture fixture(items);
    for (qint64 id : requestItems)
        fixture.api->request.items.append(requestItem(id, S::Downloaded));
    if (requestItems.isEmpty()) // outcome preservation reads the library for a ready request
        fixture.api->request.status = S::Ready;
    const QByteArray before = fixture.libraryBytes();

    const auto result = fixture.run(operation, {Test::minimalLibraryItem(1).id});
    QCOMPARE(fixture.api->calls.size(), 1);
    if (!error) {
        PELLWICK_VERIFY_SUCCESS(result);
        // Record 1 takes the reply's status wherever it is stored; a duplicate stays as it was.
        const LocalLibraryItem first = record(1);
        QList<LocalLibraryItem> expected = items;
        std::ranges::replace(expected,
                             first,
                             requestItems.isEmpty()
                                 ? first
                                 : first.replacingRestoreStatus(S::Downloaded, std::nullopt));
        QCOMPARE(fixture.storedItems(), expected);
        return;
    }
    QCOMPARE(result.error(), *error);
    QCOMPARE(fixture.libraryBytes(), before);
}

void RestoreRequestCoordinatorTests::backendFailuresPassThroughUnchanged_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<Error>("error");

    const Error status
        = LibrarySessionClientError{LibrarySessionClientError::UnexpectedStatus{500}};
    const Error transport = TransportError{7, false, false, u"refused"_s};
    for (Operation operation : {Operation::Create,
                                Operation::Refresh,
                                Operation::Active,
                                Operation::Cancel,
                                Operation::Retry,
                                Operation::Complete,
                                Operation::Downloads,
                                Operation::Transfers}) {
        const QByteArray name = QByteArray::number(int(operation));
        QTest::addRow("status %s", name.constData()) << operation << status;
        QTest::addRow("transport %s", name.constData()) << operation << transport;
    }
}

void RestoreRequestCoordinatorTests::backendFailuresPassThroughUnchanged()
{
    QFETCH(Operation, operation);
    QFETCH(Error, error);

    Fixture fixture({record(1, S::Downloaded)});
    fixture.api->request.items = {requestItem(101, S::Preparing)};
    fixture.api->error = error;
    const QByteArray before = fixture.libraryBytes();

    const auto result = fixture.run(operation, {Test::minimalLibraryItem(1).id});
    QCOMPARE(result.error(), error);
    QCOMPARE(fixture.api->calls.size(), 1);
    QCOMPARE(fixture.libraryBytes(), before);
}

void RestoreRequestCoordinatorTests::noActiveRequestTouchesNothing()
{
    Fixture fixture({record(1, S::Downloaded)});
    fixture.api->hasActiveRequest = false;
    const QByteArray before = fixture.libraryBytes();

    const auto result = fixture.coordinator.activeRestoreRequest(token);
    PELLWICK_VERIFY_SUCCESS(result);
    QVERIFY(!*result);
    QCOMPARE(fixture.api->calls, QStringList{u"active"_s});
    QCOMPARE(fixture.libraryBytes(), before);
}

void RestoreRequestCoordinatorTests::cancelClearsEveryItem()
{
    Fixture fixture({record(1, S::Downloaded),
                     record(2, S::NeedsAttention, u"hash"_s),
                     record(3, S::Ready),
                     record(4, S::Ready)});
    fixture.api->request.status = S::Cancelled;
    fixture.api->request.items = {requestItem(101, S::Cancelled),
                                  requestItem(102, S::Cancelled, u"x"_s),
                                  requestItem(103, S::Cancelled)};

    PELLWICK_VERIFY_SUCCESS(fixture.coordinator.cancelRestoreRequest(token, requestID));
    QCOMPARE(fixture.api->calls, QStringList{u"cancel 7"_s});
    QCOMPARE(fixture.storedItems(), (QList{record(1), record(2), record(3), record(4, S::Ready)}));
}

void RestoreRequestCoordinatorTests::marksRecordTransferOutcomes()
{
    Fixture fixture({record(1, S::Ready), record(2, S::Ready), record(3, S::Ready)});
    const auto manifest = [](qint64 id, RestoreTransferArtifact artifact, bool complete) {
        RestoreTransferManifest m;
        m.id = {requestID, id, artifact};
        m.isComplete = complete;
        return m;
    };
    PELLWICK_VERIFY_SUCCESS(fixture.coordinator.markRestoreTransfersComplete(
        {manifest(101, RestoreTransferArtifact::Raw, true),
         manifest(101, RestoreTransferArtifact::Sidecar, true),
         manifest(102, RestoreTransferArtifact::Raw, false)}));
    PELLWICK_VERIFY_SUCCESS(fixture.coordinator.markRestoreTransfersComplete({}));
    QCOMPARE(fixture.storedItems(),
             (QList{record(1, S::Downloaded), record(2, S::Ready), record(3, S::Ready)}));

    RestoreTransfer second;
    second.id = {requestID, 102, RestoreTransferArtifact::Raw};
    RestoreTransfer third = second;
    third.id.libraryItemID = 103;
    PELLWICK_VERIFY_SUCCESS(fixture.coordinator.markRestoreTransfersNeedsAttention(
        {second, third}, {{102, u"hash mismatch"_s}, {555, u"other"_s}}));
    QCOMPARE(fixture.storedItems(),
             (QList{record(1, S::Downloaded),
                    record(2, S::NeedsAttention, u"hash mismatch"_s),
                    record(3, S::NeedsAttention)}));
    QVERIFY(fixture.api->calls.isEmpty());
}

void RestoreRequestCoordinatorTests::transfersFollowTheCapabilities_data()
{
    QTest::addColumn<QList<RestoreTransferCapability>>("capabilities");
    QTest::addColumn<ChosenNames>("chosen");
    QTest::addColumn<QStringList>("destinations"); // names in the folder, in order
    QTest::addColumn<std::optional<Error>>("error");

    const QHash<qint64, QString> noChoice;
    QTest::newRow("capability order kept")
        << QList{capability(103, u"C.CR3"_s), capability(101, u"A.CR3"_s)} << noChoice
        << QStringList{u"C.CR3"_s, u"A.CR3"_s} << std::optional<Error>();
    QTest::newRow("one name twice in one run")
        << QList{capability(101, u"A.CR3"_s), capability(102, u"A.CR3"_s)} << noChoice
        << QStringList()
        << std::optional<Error>(CoordinatorError{CoordinatorError::DestinationFilenameConflict{
               102, u"A.CR3"_s, u"A-restored.CR3"_s}});
    QTest::newRow("a chosen name resolves the clash")
        << QList{capability(101, u"A.CR3"_s), capability(102, u"A.CR3"_s)}
        << QHash<qint64, QString>{{102, u"A-restored.CR3"_s}}
        << QStringList{u"A.CR3"_s, u"A-restored.CR3"_s} << std::optional<Error>();
    QTest::newRow("one item offered twice")
        << QList{capability(101, u"A.CR3"_s),
                 capability(102, u"B.CR3"_s),
                 capability(101, u"A.CR3"_s)}
        << QHash<qint64, QString>{{101, u"A-restored.CR3"_s}} << QStringList()
        << std::optional<Error>(CoordinatorError{CoordinatorError::RestoreRequestItemConflict{}});
    QTest::newRow("missing local record")
        << QList{capability(101, u"A.CR3"_s), capability(555, u"B.CR3"_s)} << noChoice
        << QStringList()
        << std::optional<Error>(
               RestoreTransferError{RestoreTransferError::MissingLocalLibraryItem{555}});
}

void RestoreRequestCoordinatorTests::transfersFollowTheCapabilities()
{
    QFETCH(QList<RestoreTransferCapability>, capabilities);
    QFETCH(ChosenNames, chosen);
    QFETCH(QStringList, destinations);
    QFETCH(std::optional<Error>, error);

    Fixture fixture({record(1), record(2), record(3)});
    fixture.api->request.status = S::Ready;
    fixture.api->capabilities = capabilities;
    const QString folder = fixture.dir.filePath(u"Restored"_s);
    const QByteArray before = fixture.libraryBytes();

    const auto transfers
        = fixture.coordinator.restoreTransfers(token, requestID, folder, chosen, {});
    QCOMPARE(fixture.api->calls, QStringList{u"capabilities 7"_s});
    QCOMPARE(fixture.libraryBytes(), before);
    if (error) {
        Error expected = *error;
        if (auto *conflict = std::get_if<CoordinatorError>(&expected.value)) {
            if (auto *c
                = std::get_if<CoordinatorError::DestinationFilenameConflict>(&conflict->value))
                c->existingURL = folder + u'/' + c->existingURL;
        }
        QCOMPARE(transfers.error(), expected);
        return;
    }
    PELLWICK_VERIFY_SUCCESS(transfers);
    QCOMPARE(transfers->size(), destinations.size());
    for (qsizetype i = 0; i < destinations.size(); ++i) {
        const RestoreTransfer &transfer = transfers->at(i);
        QCOMPARE(transfer.id.libraryItemID, capabilities[i].libraryItemID);
        QCOMPARE(transfer.destinationPath, folder + u'/' + destinations[i]);
        QCOMPARE(transfer.expectedContentHash,
                 record(int(capabilities[i].libraryItemID - 100)).contentHash);
    }
}

void RestoreRequestCoordinatorTests::failedWriteKeepsEarlierGroups()
{
    Fixture fixture({record(1), record(2)});
    fixture.api->request.status = S::NeedsAttention;
    fixture.api->request.items
        = {requestItem(101, S::Downloaded), requestItem(102, S::NeedsAttention, u"gone"_s)};
    // Groups are written in status order: downloaded first, then needs attention.
    fixture.files->failOperation(Test::FileOperation::Write, EIO, u"library-items"_s, 2);

    const auto result = fixture.coordinator.refreshRestoreRequest(token, requestID);
    QVERIFY(!result);
    const auto *coordinator = result.error().as<CoordinatorError>();
    QVERIFY(coordinator
            && std::holds_alternative<CoordinatorError::LocalStatusNotSaved>(coordinator->value));
    QVERIFY(result.error().cause() && result.error().cause()->is<FileSystemError>());
    QCOMPARE(fixture.storedItems(), (QList{record(1, S::Downloaded), record(2)}));
}

QTEST_GUILESS_MAIN(RestoreRequestCoordinatorTests)
#include "RestoreRequestCoordinatorTests.moc"
