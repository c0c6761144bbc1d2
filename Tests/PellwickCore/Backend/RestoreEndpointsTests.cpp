#include <PellwickCore/Backend/CurlFetch.h>
#include <PellwickCore/Backend/LibrarySessionClient.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <functional>

#include <Support/ScriptedFetch.h>
#include <Support/TestBackend/TestBackend.h>

using namespace Pellwick;
using E = LibrarySessionClientError;

Q_DECLARE_METATYPE(Pellwick::LibrarySessionClientError)

class RestoreEndpointsTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void createSendsTheIdsInOrder_data();
    void createSendsTheIdsInOrder();
    void createAcceptsOnly201();
    void activeRequestMayBeAbsent_data();
    void activeRequestMayBeAbsent();
    void operationsUseTheirMethodAndPath_data();
    void operationsUseTheirMethodAndPath();
    void optionalFieldsAbsentOrNullDecodeAlike();
    void itemsComeBackAsListed();
    void statusWordsAreExact_data();
    void statusWordsAreExact();
    void restoreFailuresReachTheCaller_data();
    void restoreFailuresReachTheCaller();
    void transportFailurePassesThrough();
    void undecodableAcceptedReplyFailsWhole_data();
    void undecodableAcceptedReplyFailsWhole();
    void lifecycleThroughCurl();
    void refusalsThroughCurl();
};

namespace {

const QString token = QStringLiteral("session-token");
const QUrl baseURL(QStringLiteral("https://backend.example/v1"));

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QJsonObject itemJson(qint64 libraryItemID, const QString &status = QStringLiteral("preparing"))
{
    return {{QStringLiteral("library_item_id"), libraryItemID},
            {QStringLiteral("canonical_filename"),
             QStringLiteral("2024-06-01_%1.NEF").arg(libraryItemID)},
            {QStringLiteral("byte_count"), 25'000'000},
            {QStringLiteral("status"), status}};
}

QJsonObject requestJson(qint64 id,
                        const QString &status = QStringLiteral("preparing"),
                        const QJsonArray &items = {itemJson(7), itemJson(3)})
{
    return {{QStringLiteral("id"), id},
            {QStringLiteral("status"), status},
            {QStringLiteral("byte_count"), 50'000'000},
            {QStringLiteral("items"), items}};
}

QByteArray envelope(const QJsonObject &request)
{
    return json({{QStringLiteral("restore_request"), request}});
}

RestoreRequest expectedRequest(qint64 id)
{
    RestoreRequest request{id, RestoreRequestStatus::Preparing, 50'000'000, {}, {}, {}};
    for (const qint64 item : {7, 3}) {
        request.items.append({item,
                              QStringLiteral("2024-06-01_%1.NEF").arg(item),
                              25'000'000,
                              RestoreRequestStatus::Preparing,
                              std::nullopt});
    }
    return request;
}

QString fullURL(const QString &path)
{
    return QStringLiteral("https://backend.example/v1/") + path;
}

template<typename T>
const E *clientError(const Result<T> &result)
{
    return result ? nullptr : result.error().template as<E>();
}

template<typename T>
const DecodingError *decodingError(const Result<T> &result)
{
    return result ? nullptr : result.error().template as<DecodingError>();
}

/// An operation of the interface that yields a Restore Request, for table-driven cases.
using RequestOperation = std::function<Result<RestoreRequest>(const RestoreAPI &)>;

RequestOperation operation(const QString &name)
{
    if (name == u"create")
        return [](const RestoreAPI &api) { return api.createRestoreRequest(token, {7, 3}); };
    if (name == u"get")
        return [](const RestoreAPI &api) { return api.restoreRequest(token, 12); };
    if (name == u"cancel")
        return [](const RestoreAPI &api) { return api.cancelRestoreRequest(token, 12); };
    if (name == u"retry")
        return [](const RestoreAPI &api) { return api.retryRestoreRequest(token, 12); };
    if (name == u"complete")
        return [](const RestoreAPI &api) { return api.completeRestoreRequest(token, 12); };
    if (name == u"downloads") {
        return [](const RestoreAPI &api) -> Result<RestoreRequest> {
            Result<RestoreDownloads> downloads = api.restoreDownloads(token, 12);
            PELLWICK_TRY(downloads);
            return downloads->restoreRequest;
        };
    }
    if (name == u"capabilities") {
        return [](const RestoreAPI &api) -> Result<RestoreRequest> {
            Result<RestoreTransferCapabilities> capabilities
                = api.restoreTransferCapabilities(token, 12);
            PELLWICK_TRY(capabilities);
            return capabilities->restoreRequest;
        };
    }
    return [](const RestoreAPI &api) -> Result<RestoreRequest> {
        Result<std::optional<RestoreRequest>> active = api.activeRestoreRequest(token);
        PELLWICK_TRY(active);
        return active->value_or(RestoreRequest{});
    };
}

} // namespace

void RestoreEndpointsTests::initTestCase()
{
    CurlFetch::initializeGlobally();
}

void RestoreEndpointsTests::createSendsTheIdsInOrder_data()
{
    QTest::addColumn<QList<qint64>>("ids");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("order kept") << QList<qint64>{7, 3}
                                << QByteArray(R"({"library_item_ids":[7,3]})");
    QTest::newRow("empty list is sent")
        << QList<qint64>{} << QByteArray(R"({"library_item_ids":[]})");
    QTest::newRow("large ids keep every digit")
        << QList<qint64>{9007199254740993LL}
        << QByteArray(R"({"library_item_ids":[9007199254740993]})");
}

void RestoreEndpointsTests::createSendsTheIdsInOrder()
{
    QFETCH(QList<qint64>, ids);
    QFETCH(QByteArray, body);
    Test::ScriptedFetch fetch;
    fetch.reply(201, envelope(requestJson(5)));
    const LibrarySessionClient client(baseURL, fetch.function());

    Result<RestoreRequest> created = client.createRestoreRequest(token, ids);
    QVERIFY2(created, qPrintable(created ? QString() : describe(created.error())));
    QCOMPARE(*created, expectedRequest(5));

    const HttpRequest sent = fetch.onlyRequest();
    QCOMPARE(sent.effectiveMethod(), QByteArray("POST"));
    QCOMPARE(sent.url, fullURL(QStringLiteral("api/library/restore_requests")));
    QCOMPARE(sent.body, std::optional<QByteArray>(body));
    QCOMPARE(sent.headers.value("Content-Type"), std::optional<QByteArray>("application/json"));
    QCOMPARE(sent.headers.value("Authorization"),
             std::optional<QByteArray>("Bearer session-token"));
}

void RestoreEndpointsTests::createAcceptsOnly201()
{
    // A Restore Request body has no "error" key, so it is no restore failure body either.
    Test::ScriptedFetch fetch;
    fetch.reply(200, envelope(requestJson(5)));
    const LibrarySessionClient client(baseURL, fetch.function());
    Result<RestoreRequest> created = client.createRestoreRequest(token, {7});
    QVERIFY(clientError(created));
    QCOMPARE(*clientError(created), (E{E::UnexpectedStatus{200}}));
}

void RestoreEndpointsTests::activeRequestMayBeAbsent_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<bool>("hasRequest");
    QTest::newRow("null") << 200 << QByteArray(R"({"restore_request":null})") << true << false;
    QTest::newRow("no key") << 200 << QByteArray("{}") << true << false;
    QTest::newRow("present") << 200 << envelope(requestJson(9)) << true << true;
    QTest::newRow("404 is an error, not none") << 404 << QByteArray() << false << false;
    QTest::newRow("404 with a failure body")
        << 404 << QByteArray(R"({"error":"not_found"})") << false << false;
}

void RestoreEndpointsTests::activeRequestMayBeAbsent()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, succeeds);
    QFETCH(bool, hasRequest);
    Test::ScriptedFetch fetch;
    fetch.reply(status, body);
    const LibrarySessionClient client(baseURL, fetch.function());

    Result<std::optional<RestoreRequest>> active = client.activeRestoreRequest(token);
    QCOMPARE(bool(active), succeeds);
    if (succeeds)
        QCOMPARE(active->has_value(), hasRequest);
    else
        QVERIFY(clientError(active));
    if (hasRequest)
        QCOMPARE(active->value(), expectedRequest(9));

    const HttpRequest sent = fetch.onlyRequest();
    QCOMPARE(sent.method, std::nullopt);
    QCOMPARE(sent.url, fullURL(QStringLiteral("api/library/restore_requests/active")));
    QCOMPARE(sent.body, std::nullopt);
}

void RestoreEndpointsTests::operationsUseTheirMethodAndPath_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::newRow("get") << QStringLiteral("get") << QByteArray("GET")
                         << QStringLiteral("api/library/restore_requests/12");
    QTest::newRow("cancel") << QStringLiteral("cancel") << QByteArray("DELETE")
                            << QStringLiteral("api/library/restore_requests/12");
    QTest::newRow("retry") << QStringLiteral("retry") << QByteArray("POST")
                           << QStringLiteral("api/library/restore_requests/12/retry");
    QTest::newRow("complete") << QStringLiteral("complete") << QByteArray("POST")
                              << QStringLiteral("api/library/restore_requests/12/complete");
    QTest::newRow("downloads") << QStringLiteral("downloads") << QByteArray("POST")
                               << QStringLiteral("api/library/restore_requests/12/downloads");
    QTest::newRow("capabilities") << QStringLiteral("capabilities") << QByteArray("POST")
                                  << QStringLiteral("api/library/restore_requests/12/downloads");
}

void RestoreEndpointsTests::operationsUseTheirMethodAndPath()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    Test::ScriptedFetch fetch;
    QJsonObject reply{{QStringLiteral("restore_request"), requestJson(12)},
                      {QStringLiteral("downloads"), QJsonArray()}};
    fetch.reply(200, json(reply));
    const LibrarySessionClient client(baseURL, fetch.function());

    Result<RestoreRequest> result = operation(name)(client);
    QVERIFY2(result, qPrintable(result ? QString() : describe(result.error())));
    QCOMPARE(*result, expectedRequest(12));

    const HttpRequest sent = fetch.onlyRequest();
    QCOMPARE(sent.method, std::optional<QByteArray>(method));
    QCOMPARE(sent.url, fullURL(path));
    QCOMPARE(sent.body, std::nullopt);
    QVERIFY(!sent.headers.contains("Content-Type"));
    QCOMPARE(sent.headers.value("Authorization"),
             std::optional<QByteArray>("Bearer session-token"));
    QCOMPARE(sent.timeoutInterval, std::chrono::milliseconds(std::chrono::seconds(60)));
}

void RestoreEndpointsTests::optionalFieldsAbsentOrNullDecodeAlike()
{
    QJsonObject withNulls = requestJson(4, QStringLiteral("ready"), {});
    withNulls.insert(QStringLiteral("attention_reason"), QJsonValue::Null);
    withNulls.insert(QStringLiteral("preparation_estimate"), QJsonValue::Null);
    QJsonObject item = itemJson(7);
    item.insert(QStringLiteral("attention_reason"), QJsonValue::Null);
    withNulls.insert(QStringLiteral("items"), QJsonArray{item});
    QJsonObject withoutKeys = requestJson(4, QStringLiteral("ready"), {itemJson(7)});
    QJsonObject withText = withoutKeys;
    withText.insert(QStringLiteral("attention_reason"), QStringLiteral("one file is missing"));
    withText.insert(QStringLiteral("preparation_estimate"), QStringLiteral("about 4 hours"));
    withText.insert(QStringLiteral("unknown_future_key"), QJsonArray{1, 2});

    Test::ScriptedFetch fetch;
    fetch.reply(200, envelope(withNulls))
        .reply(200, envelope(withoutKeys))
        .reply(200, envelope(withText))
        .reply(200, envelope(requestJson(4, QStringLiteral("ready"), {})));
    const LibrarySessionClient client(baseURL, fetch.function());

    Result<RestoreRequest> nulls = client.restoreRequest(token, 4);
    Result<RestoreRequest> absent = client.restoreRequest(token, 4);
    Result<RestoreRequest> text = client.restoreRequest(token, 4);
    Result<RestoreRequest> empty = client.restoreRequest(token, 4);
    QVERIFY(nulls && absent && text && empty);
    QCOMPARE(*nulls, *absent);
    QCOMPARE(nulls->attentionReason, std::nullopt);
    QCOMPARE(nulls->items.at(0).attentionReason, std::nullopt);
    QCOMPARE(text->attentionReason, std::optional<QString>(QStringLiteral("one file is missing")));
    QCOMPARE(text->preparationEstimate, std::optional<QString>(QStringLiteral("about 4 hours")));
    QVERIFY(empty->items.isEmpty());
    QCOMPARE(empty->status, RestoreRequestStatus::Ready);
}

void RestoreEndpointsTests::itemsComeBackAsListed()
{
    // Refusing a reply that lists one item twice is the caller's business, not the client's.
    QJsonObject attention = itemJson(3, QStringLiteral("needs_attention"));
    attention.insert(QStringLiteral("attention_reason"), QStringLiteral("checksum"));
    const QJsonArray items{itemJson(9, QStringLiteral("ready")), attention, itemJson(9)};
    Test::ScriptedFetch fetch;
    fetch.reply(200, envelope(requestJson(1, QStringLiteral("needs_attention"), items)));
    const LibrarySessionClient client(baseURL, fetch.function());

    Result<RestoreRequest> request = client.retryRestoreRequest(token, 1);
    QVERIFY(request);
    QCOMPARE(request->items.size(), 3);
    QCOMPARE(request->items.at(0).libraryItemID, 9);
    QCOMPARE(request->items.at(0).status, RestoreRequestStatus::Ready);
    QCOMPARE(request->items.at(1).status, RestoreRequestStatus::NeedsAttention);
    QCOMPARE(request->items.at(1).attentionReason,
             std::optional<QString>(QStringLiteral("checksum")));
    QCOMPARE(request->items.at(2).libraryItemID, 9);
}

void RestoreEndpointsTests::statusWordsAreExact_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<bool>("inItem");
    QTest::addColumn<bool>("accepted");
    for (const RestoreRequestStatus status : {RestoreRequestStatus::Preparing,
                                              RestoreRequestStatus::Ready,
                                              RestoreRequestStatus::Downloaded,
                                              RestoreRequestStatus::NeedsAttention,
                                              RestoreRequestStatus::Cancelled}) {
        QTest::addRow("%s", qPrintable(toRaw(status))) << toRaw(status) << true << true;
    }
    QTest::newRow("letter case, item") << QStringLiteral("Needs_Attention") << true << false;
    QTest::newRow("letter case, request") << QStringLiteral("READY") << false << false;
    QTest::newRow("blank around") << QStringLiteral(" ready") << false << false;
    QTest::newRow("case name instead of word") << QStringLiteral("needsAttention") << true << false;
    QTest::newRow("unknown word") << QStringLiteral("archived") << false << false;
}

void RestoreEndpointsTests::statusWordsAreExact()
{
    QFETCH(QString, word);
    QFETCH(bool, inItem);
    QFETCH(bool, accepted);
    const QJsonObject body = inItem ? requestJson(2, QStringLiteral("ready"), {itemJson(7, word)})
                                    : requestJson(2, word, {itemJson(7)});
    Test::ScriptedFetch fetch;
    fetch.reply(200, envelope(body));
    const LibrarySessionClient client(baseURL, fetch.function());

    Result<RestoreRequest> request = client.restoreRequest(token, 2);
    QCOMPARE(bool(request), accepted);
    if (accepted) {
        const RestoreRequestStatus decoded = inItem ? request->items.at(0).status : request->status;
        QCOMPARE(toRaw(decoded), word);
        QCOMPARE(restoreRequestStatusFromRaw(word), std::optional(decoded));
    } else {
        QVERIFY(decodingError(request));
        QCOMPARE(decodingError(request)->keyPath,
                 inItem ? QStringLiteral("restore_request.items[0].status")
                        : QStringLiteral("restore_request.status"));
        QCOMPARE(restoreRequestStatusFromRaw(word), std::nullopt);
    }
}

void RestoreEndpointsTests::restoreFailuresReachTheCaller_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<LibrarySessionClientError>("expected");

    const auto failed = [](const char *error, std::optional<QString> reason, int status) {
        return E{E::RestoreRequestFailed{QString::fromLatin1(error), std::move(reason), status}};
    };
    QTest::newRow("allowance exceeded, trial")
        << QStringLiteral("create") << 422
        << QByteArray(R"({"error":"restore_allowance_exceeded","allowance_kind":"trial"})")
        << E{E::RestoreAllowanceExceeded{RestoreAllowanceKind::Trial}};
    QTest::newRow("allowance exceeded, paid")
        << QStringLiteral("retry") << 422
        << QByteArray(R"({"error":"restore_allowance_exceeded","allowance_kind":"paid"})")
        << E{E::RestoreAllowanceExceeded{RestoreAllowanceKind::Paid}};
    QTest::newRow("allowance exceeded without a kind")
        << QStringLiteral("create") << 422
        << QByteArray(R"({"error":"restore_allowance_exceeded"})")
        << failed("restore_allowance_exceeded", std::nullopt, 422);
    QTest::newRow("allowance kind outside the two words")
        << QStringLiteral("create") << 422
        << QByteArray(R"({"error":"restore_allowance_exceeded","allowance_kind":"Trial"})")
        << E{E::UnexpectedStatus{422}};
    QTest::newRow("unavailable after the grace period")
        << QStringLiteral("create") << 403
        << QByteArray(R"({"error":"restore_unavailable","reason":"billing_grace_period_ended"})")
        << E{E::RestoreUnavailableAfterGracePeriod{}};
    QTest::newRow("unavailable for another reason")
        << QStringLiteral("downloads") << 403
        << QByteArray(R"({"error":"restore_unavailable","reason":"account_locked"})")
        << failed("restore_unavailable", QStringLiteral("account_locked"), 403);
    QTest::newRow("unavailable without a reason")
        << QStringLiteral("capabilities") << 403 << QByteArray(R"({"error":"restore_unavailable"})")
        << failed("restore_unavailable", std::nullopt, 403);
    QTest::newRow("active request exists")
        << QStringLiteral("create") << 409 << QByteArray(R"({"error":"active_restore_request"})")
        << failed("active_restore_request", std::nullopt, 409);
    QTest::newRow("not a verified backup")
        << QStringLiteral("create") << 422
        << QByteArray(R"({"error":"not_verified_backup","reason":"item 7"})")
        << failed("not_verified_backup", QStringLiteral("item 7"), 422);
    QTest::newRow("empty request")
        << QStringLiteral("create") << 422 << QByteArray(R"({"error":"empty_restore_request"})")
        << failed("empty_restore_request", std::nullopt, 422);
    QTest::newRow("not found") << QStringLiteral("get") << 404
                               << QByteArray(R"({"error":"not_found"})")
                               << failed("not_found", std::nullopt, 404);
    QTest::newRow("not cancellable")
        << QStringLiteral("cancel") << 422
        << QByteArray(R"({"error":"restore_request_not_cancellable"})")
        << failed("restore_request_not_cancellable", std::nullopt, 422);
    QTest::newRow("not retryable") << QStringLiteral("retry") << 422
                                   << QByteArray(R"({"error":"restore_request_not_retryable"})")
                                   << failed("restore_request_not_retryable", std::nullopt, 422);
    QTest::newRow("not ready") << QStringLiteral("capabilities") << 409
                               << QByteArray(R"({"error":"restore_not_ready"})")
                               << failed("restore_not_ready", std::nullopt, 409);
    QTest::newRow("words are passed through unchanged")
        << QStringLiteral("complete") << 418 << QByteArray(R"({"error":"Brand_New"})")
        << failed("Brand_New", std::nullopt, 418);
    QTest::newRow("server error with a failure body")
        << QStringLiteral("get") << 500 << QByteArray(R"({"error":"internal"})")
        << failed("internal", std::nullopt, 500);
    QTest::newRow("server error, empty body")
        << QStringLiteral("get") << 500 << QByteArray() << E{E::UnexpectedStatus{500}};
    QTest::newRow("import unavailable comes first")
        << QStringLiteral("create") << 403 << QByteArray(R"({"error":"import_unavailable"})")
        << E{E::ImportUnavailable{}};
    QTest::newRow("storage full comes first")
        << QStringLiteral("create") << 409
        << QByteArray(R"({"error":"storage_full","storage":{"state":"storage_full",)"
                      R"("used_bytes":10,"limit_bytes":10,"remaining_bytes":0,"message":"full"}})")
        << E{E::StorageFull{StorageFullState{10, 10, 0, QStringLiteral("full")}}};
    QTest::newRow("failure body must be an object")
        << QStringLiteral("active") << 422 << QByteArray(R"(["restore_not_ready"])")
        << E{E::UnexpectedStatus{422}};
}

void RestoreEndpointsTests::restoreFailuresReachTheCaller()
{
    QFETCH(QString, name);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(LibrarySessionClientError, expected);
    Test::ScriptedFetch fetch;
    fetch.reply(status, body);
    const LibrarySessionClient client(baseURL, fetch.function());

    Result<RestoreRequest> result = operation(name)(client);
    QVERIFY(clientError(result));
    QCOMPARE(*clientError(result), expected);
}

void RestoreEndpointsTests::transportFailurePassesThrough()
{
    const TransportError lost{7, false, false, QStringLiteral("Couldn't connect to server")};
    Test::ScriptedFetch fetch;
    fetch.fail(lost).replyNotHttp();
    const LibrarySessionClient client(baseURL, fetch.function());

    Result<RestoreRequest> failed = client.completeRestoreRequest(token, 3);
    QVERIFY(!failed);
    QCOMPARE(failed.error(), Error(lost));
    Result<RestoreRequest> notHttp = client.completeRestoreRequest(token, 3);
    QVERIFY(clientError(notHttp));
    QCOMPARE(*clientError(notHttp), (E{E::UnexpectedStatus{-1}}));
}

void RestoreEndpointsTests::undecodableAcceptedReplyFailsWhole_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<DecodingError::Kind>("kind");
    QTest::addColumn<QString>("keyPath");

    QJsonObject missingSize = itemJson(3);
    missingSize.remove(QStringLiteral("byte_count"));
    QTest::newRow("item without a size")
        << envelope(requestJson(1, QStringLiteral("ready"), {itemJson(7), missingSize}))
        << DecodingError::Kind::KeyNotFound
        << QStringLiteral("restore_request.items[1].byte_count");
    QJsonObject nullItems = requestJson(1);
    nullItems.insert(QStringLiteral("items"), QJsonValue::Null);
    QTest::newRow("null items") << envelope(nullItems) << DecodingError::Kind::ValueNotFound
                                << QStringLiteral("restore_request.items");
    QJsonObject textId = requestJson(1);
    textId.insert(QStringLiteral("id"), QStringLiteral("1"));
    QTest::newRow("id as text") << envelope(textId) << DecodingError::Kind::TypeMismatch
                                << QStringLiteral("restore_request.id");
    QJsonObject fractionalSize = requestJson(1);
    fractionalSize.insert(QStringLiteral("byte_count"), 1.5);
    QTest::newRow("fractional size")
        << envelope(fractionalSize) << DecodingError::Kind::DataCorrupted
        << QStringLiteral("restore_request.byte_count");
    QJsonObject negativeSize = requestJson(1);
    negativeSize.insert(QStringLiteral("byte_count"), -1);
    QTest::newRow("negative size") << envelope(negativeSize) << DecodingError::Kind::DataCorrupted
                                   << QStringLiteral("restore_request.byte_count");
    QJsonObject negativeItem = itemJson(3);
    negativeItem.insert(QStringLiteral("byte_count"), -25);
    QTest::newRow("negative item size")
        << envelope(requestJson(1, QStringLiteral("ready"), {itemJson(7), negativeItem}))
        << DecodingError::Kind::DataCorrupted
        << QStringLiteral("restore_request.items[1].byte_count");
    QJsonObject numericReason = requestJson(1);
    numericReason.insert(QStringLiteral("attention_reason"), 4);
    QTest::newRow("optional of the wrong type")
        << envelope(numericReason) << DecodingError::Kind::TypeMismatch
        << QStringLiteral("restore_request.attention_reason");
    QTest::newRow("no envelope") << json(requestJson(1)) << DecodingError::Kind::KeyNotFound
                                 << QStringLiteral("restore_request");
    QTest::newRow("null envelope")
        << QByteArray(R"({"restore_request":null})") << DecodingError::Kind::ValueNotFound
        << QStringLiteral("restore_request");
    QTest::newRow("empty body") << QByteArray() << DecodingError::Kind::DataCorrupted << QString();
}

void RestoreEndpointsTests::undecodableAcceptedReplyFailsWhole()
{
    QFETCH(QByteArray, body);
    QFETCH(DecodingError::Kind, kind);
    QFETCH(QString, keyPath);
    Test::ScriptedFetch fetch;
    fetch.reply(200, body);
    const LibrarySessionClient client(baseURL, fetch.function());

    Result<RestoreRequest> request = client.cancelRestoreRequest(token, 1);
    QVERIFY(decodingError(request));
    QCOMPARE(decodingError(request)->kind, kind);
    QCOMPARE(decodingError(request)->keyPath, keyPath);
}

namespace {

/// A test backend with one signed-in account holding three archived items.
struct LiveBackend
{
    Test::TestBackend backend;
    QString token;
    QList<qint64> items;
    LibrarySessionClient client{backend.baseURL(), CurlFetch()};

    LiveBackend()
    {
        Test::TestBackend::Account account;
        account.email = QStringLiteral("ada@example.test");
        backend.addAccount(account);
        token = backend.issueToken(QStringLiteral("ada@example.test"));
        for (const char *name : {"A.NEF", "B.NEF", "C.NEF"}) {
            const Test::TestBackend::LibraryItem item
                = backend.addArchivedItem(QStringLiteral("ada@example.test"),
                                          {QString::fromLatin1(name), QByteArray(100, 'x')});
            items.append(item.id);
        }
    }

    Test::RecordedRequest lastRequest() const { return backend.requests().constLast(); }
};

} // namespace

void RestoreEndpointsTests::lifecycleThroughCurl()
{
    LiveBackend live;
    const LibrarySessionClient &client = live.client;
    const QString &token = live.token;

    Result<std::optional<RestoreRequest>> none = client.activeRestoreRequest(token);
    QVERIFY2(none, qPrintable(none ? QString() : describe(none.error())));
    QCOMPARE(*none, std::nullopt);
    QCOMPARE(live.lastRequest().method, QByteArray("GET"));

    Result<RestoreRequest> created
        = client.createRestoreRequest(token, {live.items[2], live.items[0]});
    QVERIFY2(created, qPrintable(created ? QString() : describe(created.error())));
    QCOMPARE(live.lastRequest().body,
             QStringLiteral(R"({"library_item_ids":[%1,%2]})")
                 .arg(live.items[2])
                 .arg(live.items[0])
                 .toUtf8());
    QCOMPARE(live.lastRequest().headers.value("Content-Type"),
             std::optional<QByteArray>("application/json"));
    QCOMPARE(created->status, RestoreRequestStatus::Preparing);
    QCOMPARE(created->byteCount, 200);
    QCOMPARE(created->items.size(), 2);
    QCOMPARE(created->items[0].libraryItemID, live.items[2]);
    QCOMPARE(created->items[0].canonicalFilename, QStringLiteral("C.NEF"));
    QCOMPARE(created->items[1].libraryItemID, live.items[0]);
    QCOMPARE(*created, *live.backend.restoreRequest(created->id));

    Result<std::optional<RestoreRequest>> active = client.activeRestoreRequest(token);
    QVERIFY(active && active->has_value());
    QCOMPARE(active->value(), *created);

    live.backend.setRestoreRequestStatus(created->id, RestoreRequestStatus::NeedsAttention);
    live.backend.setRestoreItemStatus(created->id,
                                      live.items[0],
                                      RestoreRequestStatus::NeedsAttention,
                                      QStringLiteral("object missing"));
    Result<RestoreRequest> attention = client.restoreRequest(token, created->id);
    QVERIFY(attention);
    QCOMPARE(attention->status, RestoreRequestStatus::NeedsAttention);
    QCOMPARE(attention->items[1].attentionReason,
             std::optional<QString>(QStringLiteral("object missing")));

    Result<RestoreRequest> retried = client.retryRestoreRequest(token, created->id);
    QVERIFY(retried);
    QCOMPARE(retried->status, RestoreRequestStatus::Preparing);
    QCOMPARE(live.lastRequest().method, QByteArray("POST"));
    QVERIFY(live.lastRequest().body.isEmpty());
    QVERIFY(!live.lastRequest().headers.contains("Content-Type"));

    live.backend.setRestoreRequestStatus(created->id, RestoreRequestStatus::Ready);
    Result<RestoreRequest> completed = client.completeRestoreRequest(token, created->id);
    QVERIFY(completed);
    QCOMPARE(completed->status, RestoreRequestStatus::Downloaded);
    QCOMPARE(completed->items[0].status, RestoreRequestStatus::Downloaded);
    none = client.activeRestoreRequest(token);
    QVERIFY(none);
    QCOMPARE(*none, std::nullopt);

    Result<RestoreRequest> second = client.createRestoreRequest(token, {live.items[1]});
    QVERIFY(second);
    Result<RestoreRequest> cancelled = client.cancelRestoreRequest(token, second->id);
    QVERIFY(cancelled);
    QCOMPARE(live.lastRequest().method, QByteArray("DELETE"));
    QCOMPARE(live.lastRequest().path,
             QStringLiteral("/api/library/restore_requests/%1").arg(second->id).toUtf8());
    QCOMPARE(cancelled->status, RestoreRequestStatus::Cancelled);
    QCOMPARE(cancelled->id, second->id);
}

void RestoreEndpointsTests::refusalsThroughCurl()
{
    LiveBackend live;
    const LibrarySessionClient &client = live.client;
    const QString &token = live.token;
    const auto failed = [](const char *error, std::optional<QString> reason, int status) {
        return Error(
            E{E::RestoreRequestFailed{QString::fromLatin1(error), std::move(reason), status}});
    };

    QCOMPARE(client.createRestoreRequest(token, {}).error(),
             failed("empty_restore_request", std::nullopt, 422));
    QCOMPARE(client.createRestoreRequest(token, {live.items[0], 999}).error(),
             failed("not_verified_backup", QStringLiteral("999"), 422));
    QCOMPARE(client.restoreRequest(token, 77).error(), failed("not_found", std::nullopt, 404));

    Result<RestoreRequest> created = client.createRestoreRequest(token, {live.items[0]});
    QVERIFY(created);
    QCOMPARE(client.createRestoreRequest(token, {live.items[1]}).error(),
             failed("active_restore_request", std::nullopt, 409));
    QCOMPARE(client.retryRestoreRequest(token, created->id).error(),
             failed("restore_request_not_retryable", std::nullopt, 422));
    QCOMPARE(client.restoreTransferCapabilities(token, created->id).error(),
             failed("restore_not_ready", std::nullopt, 409));
    QVERIFY(client.cancelRestoreRequest(token, created->id));
    QCOMPARE(client.cancelRestoreRequest(token, created->id).error(),
             failed("restore_request_not_cancellable", std::nullopt, 422));

    // The allowance left is smaller than the three items together.
    live.backend.updateAccount(QStringLiteral("ada@example.test"),
                               [](Test::TestBackend::Account &account) {
                                   account.library.paidPlan.restoreAllowance = {50, 250};
                               });
    QCOMPARE(client.createRestoreRequest(token, live.items).error(),
             Error(E{E::RestoreAllowanceExceeded{RestoreAllowanceKind::Trial}}));

    // Replies the in-memory backend does not make on its own.
    const QByteArray activePath = "/api/library/restore_requests/active";
    live.backend.injectFault(
        "GET",
        activePath,
        Test::TestBackend::Fault::reply(
            403, R"({"error":"restore_unavailable","reason":"billing_grace_period_ended"})"),
        1);
    QCOMPARE(client.activeRestoreRequest(token).error(),
             Error(E{E::RestoreUnavailableAfterGracePeriod{}}));
    live.backend.injectFault("GET", activePath, Test::TestBackend::Fault::reply(404), 1);
    QCOMPARE(client.activeRestoreRequest(token).error(), Error(E{E::UnexpectedStatus{404}}));
    live.backend.injectFault("GET", activePath, Test::TestBackend::Fault::reply(200, "{}"), 1);
    Result<std::optional<RestoreRequest>> none = client.activeRestoreRequest(token);
    QVERIFY(none);
    QCOMPARE(*none, std::nullopt);
}

QTEST_GUILESS_MAIN(RestoreEndpointsTests)
#include "RestoreEndpointsTests.moc"
