#include "RestoreHarness.h"

#include <QDir>
#include <QScopeGuard>
#include <QTest>

#include <cerrno>

#include <Support/TestObjectStore.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;
using Fault = TestBackend::Fault;

namespace {

enum class Operation {
    Refresh,
    LibraryRefresh,
    /// The restore page's refresh without a held request: the library's, then the request's.
    PageRefresh,
    Create,
    Cancel,
    Retry,
    Rebuild
};

QCoro::Task<> refreshPage(LibraryShellViewModel &model)
{
    co_await model.restoreWorkflows().refreshLocalLibraryCacheForRestore();
    co_await model.restoreWorkflows().refreshActiveRestoreRequest();
}

QCoro::Task<> start(LibraryShellViewModel &model, Operation operation)
{
    switch (operation) {
    case Operation::Refresh:
        return model.restoreWorkflows().refreshActiveRestoreRequest();
    case Operation::LibraryRefresh:
        return model.restoreWorkflows().refreshLocalLibraryCacheForRestore();
    case Operation::PageRefresh:
        return refreshPage(model);
    case Operation::Create:
        return model.restoreWorkflows().requestRestoreForSelection();
    case Operation::Cancel:
        return model.restoreWorkflows().cancelActiveRestoreRequest();
    case Operation::Retry:
        return model.restoreWorkflows().retryActiveRestorePreparation();
    case Operation::Rebuild:
        return model.restoreWorkflows().rebuildLocalLibraryCache();
    }
    Q_UNREACHABLE();
}

void run(LibraryShellViewModel &model, Operation operation)
{
    QCoro::waitFor(start(model, operation));
}

/// Everything a restore workflow may change.
struct Snapshot
{
    std::optional<RestoreRequest> request;
    std::optional<QString> message;
    std::optional<QString> error;
    bool needsRebuild = false;
    bool cancelling = false;
    QSet<QUuid> selection;

    static Snapshot of(const LibraryShellViewModel &model)
    {
        const RestoreState &r = model.restoreState();
        return {r.activeRestoreRequest(),
                r.restoreMessage(),
                r.restoreErrorMessage(),
                r.needsLocalLibraryCacheRebuild(),
                r.isCancellingRestore(),
                model.libraryState().selectedLibraryItemIDs()};
    }

    bool operator==(const Snapshot &) const = default;
};

const QByteArray requests = "/api/library/restore_requests";

QByteArray requestJson(qint64 id, const char *status)
{
    return R"({"restore_request":{"id":)" + QByteArray::number(id) + R"(,"status":")" + status
           + R"(","byte_count":2000,"items":[]}})";
}

struct TextCase
{
    Operation operation = Operation::Refresh;
    /// Where the backend moves the request before the operation; none keeps it preparing.
    std::optional<RestoreRequestStatus> status = std::nullopt;
    bool holdRequest = true;
    /// Replaces the reply of the operation's request (method, path below the request's path).
    std::optional<std::pair<QByteArray, QByteArray>> failing = std::nullopt;
    Fault fault = Fault::reply(500);
    /// The errno of every change in the library's folder during the operation; 0 for none.
    int libraryFault = 0;
    std::optional<QString> message = std::nullopt;
    /// "<library>" stands for the library's folder.
    std::optional<QString> error = std::nullopt;
};

struct CancelCase
{
    /// Where the backend moved the request before the cancellation reached it.
    std::optional<RestoreRequestStatus> finishedAs = std::nullopt;
    std::optional<QString> shownBefore = std::nullopt;
    std::optional<QString> message = std::nullopt;
    std::optional<QString> error = std::nullopt;
    bool requestHeld = false;
};

} // namespace

Q_DECLARE_METATYPE(TextCase)
Q_DECLARE_METATYPE(CancelCase)
Q_DECLARE_METATYPE(Operation)

class RestoreRequestWorkflowTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { CurlFetch::initializeGlobally(); }

    void signedOutTouchesNothing_data();
    void signedOutTouchesNothing();
    void textsAndErrorSentences_data();
    void textsAndErrorSentences();
    void hostileReplyChangesOnlyTheError_data();
    void hostileReplyChangesOnlyTheError();
    void creationShowsPreparingAndEmptiesTheSelection();
    void failedCancellation_data();
    void failedCancellation();
    void conflictFlagLastsUntilARebuild();
    void cancellationStopsTransfersBeforeTheBackendIsAsked();
    void closedWindowDropsARefresh();
};

void RestoreRequestWorkflowTests::signedOutTouchesNothing_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::newRow("refresh") << Operation::Refresh;
    QTest::newRow("library refresh") << Operation::LibraryRefresh;
    QTest::newRow("create") << Operation::Create;
    QTest::newRow("cancel") << Operation::Cancel;
    QTest::newRow("retry") << Operation::Retry;
    QTest::newRow("rebuild") << Operation::Rebuild;
}

void RestoreRequestWorkflowTests::signedOutTouchesNothing()
{
    QFETCH(Operation, operation);
    RestoreHarness h;
    h.model->sessionState().setSession(std::nullopt);
    h.selectAll();
    RestoreRequest held;
    held.id = 7;
    h.restore().setActiveRestoreRequest(held);
    h.restore().setRestoreMessage(u"Restore preparing"_s);
    h.restore().setNeedsLocalLibraryCacheRebuild(true);
    const Snapshot before = Snapshot::of(*h.model);

    run(*h.model, operation);
    QVERIFY(Snapshot::of(*h.model) == before);
    QCOMPARE(h.backend.requests().size(), 0);
}

void RestoreRequestWorkflowTests::textsAndErrorSentences_data()
{
    QTest::addColumn<TextCase>("textCase");
    QTest::addColumn<bool>("german");
    using S = RestoreRequestStatus;
    const auto unavailable = [](const QString &operation) -> QString {
        return operation + u" failed because Pellwick service is unavailable. Try again later."_s;
    };
    const auto unsaved = [](const QString &reason, bool requestStands) -> QString {
        return u"Pellwick could not save the library in <library>: "_s + reason
               + (requestStands ? u". The Restore Request is shown as the service holds it; the "
                                  u"library keeps its earlier restore status."_s
                                : u". The library keeps what it held before."_s);
    };
    const QList<std::pair<const char *, TextCase>> rows{
        {"no request", {.holdRequest = false}},
        {"preparing with an estimate",
         {.message = u"Restore preparing \u2014 estimated ready about 4 hours"_s}},
        {"preparing without an estimate",
         {.failing = std::pair{"GET", ""},
          .fault = Fault::reply(200, requestJson(1, "preparing")),
          .message = u"Restore preparing"_s}},
        {"ready", {.status = S::Ready, .message = u"Restore ready"_s}},
        {"downloaded", {.status = S::Downloaded, .message = u"Restore downloaded"_s}},
        {"needs attention", {.status = S::NeedsAttention, .message = u"Restore needs attention"_s}},
        {"cancelled", {.status = S::Cancelled, .message = u"Restore cancelled"_s}},
        {"rebuilt", {.operation = Operation::Rebuild, .message = u"Local Library Cache rebuilt"_s}},
        {"refresh fails",
         {.failing = std::pair{"GET", ""},
          .message = u"Restore preparing"_s,
          .error = unavailable(u"Restore refresh"_s)}},
        {"library refresh fails",
         {.operation = Operation::LibraryRefresh,
          .failing = std::pair{"GET", "/api/library/items"},
          .message = u"Restore preparing"_s,
          .error = unavailable(u"Library refresh"_s)}},
        {"creation fails",
         {.operation = Operation::Create,
          .holdRequest = false,
          .failing = std::pair{"POST", "/api/library/restore_requests"},
          .message = std::nullopt,
          .error = u"Restore Request could not start because Pellwick service is unavailable. "
                   u"Try again later."_s}},
        {"cancellation fails",
         {.operation = Operation::Cancel,
          .failing = std::pair{"DELETE", ""},
          // The refresh that follows a failed cancellation shows the request's status.
          .message = u"Restore preparing \u2014 estimated ready about 4 hours"_s,
          .error = unavailable(u"Restore cancellation"_s)}},
        {"retry fails",
         {.operation = Operation::Retry,
          .failing = std::pair{"POST", "/retry"},
          .message = u"Restore preparing"_s,
          .error = unavailable(u"Restore retry"_s)}},
        {"rebuild fails",
         {.operation = Operation::Rebuild,
          .failing = std::pair{"GET", "/api/library/items"},
          .message = u"Restore preparing"_s,
          .error = unavailable(u"Local Library Cache rebuild"_s)}},
        {"refresh on a full library",
         {.status = S::Ready,
          .libraryFault = ENOSPC,
          .message = u"Restore ready"_s,
          .error = unsaved(u"no space left"_s, true)}},
        {"page refresh on a read-only library",
         {.operation = Operation::PageRefresh,
          .holdRequest = false,
          .libraryFault = EROFS,
          .error = unsaved(u"read-only"_s, false)}},
        {"creation on a read-only library",
         {.operation = Operation::Create,
          .holdRequest = false,
          .libraryFault = EROFS,
          .message = u"Restore preparing"_s,
          .error = unsaved(u"read-only"_s, true)}},
    };
    for (const bool german : {false, true}) {
        for (const auto &[name, row] : rows)
            QTest::addRow("%s%s", name, german ? " (de_DE)" : "") << row << german;
    }
}

void RestoreRequestWorkflowTests::textsAndErrorSentences()
{
    QFETCH(TextCase, textCase);
    QFETCH(bool, german);
    const QLocale previous;
    QLocale::setDefault(german ? QLocale(QLocale::German, QLocale::Germany) : QLocale::c());
    const auto restoreLocale = qScopeGuard([&] { QLocale::setDefault(previous); });

    RestoreHarness h;
    if (textCase.holdRequest) {
        const qint64 id = h.createRequest();
        QVERIFY(id > 0);
        if (textCase.status)
            h.backend.setRestoreRequestStatus(id, *textCase.status);
    }
    h.selectAll();
    if (textCase.failing) {
        QByteArray path = textCase.failing->second;
        if (!path.startsWith("/api"))
            path = requests + '/' + QByteArray::number(h.restore().activeRestoreRequest()->id)
                   + path;
        h.backend.injectFault(textCase.failing->first, path, textCase.fault);
    }
    if (textCase.libraryFault)
        h.files->failChanges(textCase.libraryFault, h.fixture.libraryRoot());
    h.recordMainThreadWork();
    run(*h.model, textCase.operation);
    QCOMPARE(h.restore().restoreMessage(), textCase.message);
    QCOMPARE(h.restore().restoreErrorMessage(),
             textCase.error ? std::optional(
                 QString(*textCase.error).replace(u"<library>"_s, h.fixture.libraryRoot()))
                            : std::nullopt);
    // No library write, manifest operation or request of the workflow ran on the main thread.
    QCOMPARE(h.mainThreadWork(), QStringList());
    // A request created is held: pressing again asks for no second one.
    if (textCase.operation == Operation::Create && h.restore().activeRestoreRequest()) {
        h.selectAll();
        run(*h.model, textCase.operation);
        QCOMPARE(h.requestCount("POST", requests), 1);
    }
}

void RestoreRequestWorkflowTests::hostileReplyChangesOnlyTheError_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QString>("error");
    const QString unavailable
        = u"Restore refresh failed because Pellwick service is unavailable. Try again later."_s;
    const QString offline = u"Restore refresh failed. Check internet connection, then try again."_s;
    QTest::newRow("malformed JSON") << Fault::reply(200, "{\"restore_request\":") << offline;
    QTest::newRow("500") << Fault::reply(500) << unavailable;
    QTest::newRow("stall to the idle limit") << Fault::stall() << offline;
    QTest::newRow("closed connection") << Fault::closeConnection(200, "{\"rest") << offline;
}

void RestoreRequestWorkflowTests::hostileReplyChangesOnlyTheError()
{
    QFETCH(Fault, fault);
    QFETCH(QString, error);
    RestoreHarness h(2, 1000, CurlFetch::Options{std::chrono::seconds(1)});
    const qint64 id = h.createRequest();
    h.selectAll();
    Snapshot expected = Snapshot::of(*h.model);
    h.backend.injectFault("GET", requests + '/' + QByteArray::number(id), fault);

    run(*h.model, Operation::Refresh);
    h.backend.releaseStalls();
    expected.error = error;
    QVERIFY(Snapshot::of(*h.model) == expected);
}

void RestoreRequestWorkflowTests::creationShowsPreparingAndEmptiesTheSelection()
{
    RestoreHarness h;
    h.backend.injectFault("POST", requests, Fault::reply(201, requestJson(5, "ready")), 1);
    h.selectAll();
    h.recordMainThreadWork();
    run(*h.model, Operation::Create);
    QCOMPARE(h.mainThreadWork(), QStringList());
    QCOMPARE(h.restore().activeRestoreRequest()->status, RestoreRequestStatus::Ready);
    QCOMPARE(h.restore().restoreMessage(), u"Restore preparing"_s);
    QVERIFY(h.model->libraryState().selectedLibraryItemIDs().isEmpty());
    QVERIFY(!h.model->restoreWorkflows().restorePollingTask()); // a ready request is not polled
}

void RestoreRequestWorkflowTests::failedCancellation_data()
{
    QTest::addColumn<CancelCase>("cancelCase");
    const QString finished = u"Restore completed before cancellation could finish"_s;
    QTest::newRow("finished meanwhile")
        << CancelCase{.finishedAs = RestoreRequestStatus::Downloaded, .message = finished};
    QTest::newRow("cancelled meanwhile: its word stays")
        << CancelCase{.finishedAs = RestoreRequestStatus::Cancelled,
                      .shownBefore = u"Restore cancelled"_s,
                      .message = u"Restore cancelled"_s};
    QTest::newRow("still living") << CancelCase{
        .message = u"Restore preparing \u2014 estimated ready about 4 hours"_s,
        .error = u"Restore cancellation failed because Pellwick service is "
                 u"unavailable. Try again later."_s,
        .requestHeld = true};
}

void RestoreRequestWorkflowTests::failedCancellation()
{
    QFETCH(CancelCase, cancelCase);
    RestoreHarness h;
    const qint64 id = h.createRequest();
    if (cancelCase.shownBefore)
        h.restore().setRestoreMessage(cancelCase.shownBefore);
    const QByteArray path = requests + '/' + QByteArray::number(id);
    if (cancelCase.finishedAs) {
        h.backend.setRestoreRequestStatus(id, *cancelCase.finishedAs);
    } else {
        h.backend.injectFault("DELETE", path, Fault::reply(500));
    }
    run(*h.model, Operation::Cancel);
    QCOMPARE(h.restore().activeRestoreRequest().has_value(), cancelCase.requestHeld);
    QCOMPARE(h.restore().restoreMessage(), cancelCase.message);
    QCOMPARE(h.restore().restoreErrorMessage(), cancelCase.error);
    QVERIFY(!h.restore().isCancellingRestore());
    // With the id cleared, a new run of the request's transfers is not refused.
    QCOMPARE(h.requestCount("DELETE", path), 1);
}

void RestoreRequestWorkflowTests::conflictFlagLastsUntilARebuild()
{
    RestoreHarness h;
    h.createRequest();
    h.backend.setRestoreRequestStatus(h.restore().activeRestoreRequest()->id,
                                      RestoreRequestStatus::NeedsAttention);
    // A second record claims the first one's backend id.
    QList<LocalLibraryItem> records = h.records;
    LocalLibraryItem twin = minimalLibraryItem(9);
    twin.importStatus = LibraryItemImportStatus::VerifiedBackup;
    twin.backendLibraryItemID = records[0].backendLibraryItemID;
    records.append(twin);
    QVERIFY(h.fixture.library.writeItems(records));

    run(*h.model, Operation::Retry);
    QVERIFY(h.restore().needsLocalLibraryCacheRebuild());
    QCOMPARE(h.restore().restoreErrorMessage(),
             u"Restore cannot continue because Local Library Cache has conflicting items. "
             u"Refresh Local Library Cache, then try again."_s);

    h.selectAll();
    run(*h.model, Operation::Rebuild);
    QVERIFY(!h.restore().needsLocalLibraryCacheRebuild());
    QVERIFY(h.model->libraryState().selectedLibraryItemIDs().isEmpty());
    QCOMPARE(h.restore().restoreMessage(), u"Local Library Cache rebuilt"_s);
    QCOMPARE(h.fixture.library.readItems()->size(), 2);
}

void RestoreRequestWorkflowTests::cancellationStopsTransfersBeforeTheBackendIsAsked()
{
    constexpr qint64 range = 16'384;
    RestoreHarness h(1, 64 * range);
    h.fixture.restoreTransfers = RestoreTransferConfiguration{range, 4};
    h.model = h.fixture.make();
    h.model->sessionState().setSession(
        AuthenticatedLibrarySession{h.token, LibraryUser{1, RestoreHarness::email, {}}, {}});
    const qint64 id = h.createRequest();
    h.backend.setRestoreRequestStatus(id, RestoreRequestStatus::Ready);
    QCoro::waitFor(h.model->restoreWorkflows().refreshActiveRestoreRequest());
    const QString folder = h.fixture.dir.filePath(u"Restored"_s);
    QVERIFY(QDir().mkpath(folder));
    const auto transfers = h.model->restoreWorkflows().restoreCoordinator().restoreTransfers(
        h.token, id, folder, {}, {});
    QVERIFY(transfers && transfers->size() == 1);

    // The transfer side, slowed by the object store, runs on a thread of its own.
    h.backend.objectStore().setGetDelay(std::chrono::milliseconds(50));
    const std::shared_ptr<RestoreTransferEngine> engine
        = h.model->restoreWorkflows().restoreTransferEngine();
    const RestoreTransfer transfer = transfers->first();
    auto refresh = [](std::stop_token) -> Result<RestoreTransferCapability> {
        return failure(RestoreTransferError{RestoreTransferError::UnexpectedRangeResponse{}});
    };
    QFuture<Result<RestoreTransferManifest>> running
        = QtConcurrent::run([engine, transfer, refresh] {
              return engine->continueTransfer(transfer, refresh, {}, QUuid::createUuid());
          });
    QTRY_VERIFY(h.backend.objectStore().requests().size() >= 2);

    // Ranges the store sees after the backend was asked to cancel.
    std::atomic<qsizetype> rangesWhenAsked = -1;
    h.backend.setRequestHook([&](const QByteArray &method, const QByteArray &, bool applied) {
        if (method == "DELETE" && !applied)
            rangesWhenAsked = h.backend.objectStore().requests().size();
        return true;
    });
    h.recordMainThreadWork();
    run(*h.model, Operation::Cancel);
    running.waitForFinished();
    QCOMPARE(h.mainThreadWork(), QStringList());
    QVERIFY(rangesWhenAsked >= 0);
    // At most the ranges in flight when the engine was told to stop arrive later.
    QVERIFY(h.backend.objectStore().requests().size() <= rangesWhenAsked + 4);
    QVERIFY(!running.result());
    QCOMPARE(h.restore().restoreMessage(), u"Restore cancelled"_s);
    QVERIFY(!engine->manifest(transfer.id).value_or(std::nullopt));
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
}

void RestoreRequestWorkflowTests::closedWindowDropsARefresh()
{
    RestoreHarness h;
    const qint64 id = h.createRequest();
    h.backend.injectFault("GET", requests + '/' + QByteArray::number(id), Fault::stall());
    QCoro::Task<> refresh = h.model->restoreWorkflows().refreshActiveRestoreRequest();
    QTRY_COMPARE(h.requestCount("GET", requests + '/' + QByteArray::number(id)), 1);
    h.model.reset(); // its destructor stops the stalled call: the store's pool is not held
    h.backend.setRestoreRequestStatus(id, RestoreRequestStatus::Ready);
    QCoro::waitFor(std::move(refresh));
    QCOMPARE(h.timers.activeCount(), 0);
}

QTEST_GUILESS_MAIN(RestoreRequestWorkflowTests)
#include "RestoreRequestWorkflowTests.moc"
