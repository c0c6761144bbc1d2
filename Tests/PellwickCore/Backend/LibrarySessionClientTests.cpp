#include <PellwickCore/Backend/LibrarySessionClient.h>
#include <PellwickCore/Support/Json.h>

#include <QTest>

#include <functional>

#include <Support/BackendReplies.h>
#include <Support/ScriptedFetch.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using E = LibrarySessionClientError;
using namespace Qt::StringLiterals;

namespace {

/// The outcome a reply must map to: a failure, or (no value) success.
struct Outcome
{
    std::optional<Error> error;
};

Outcome success()
{
    return {};
}

Outcome failsWith(E error)
{
    return {Error(std::move(error))};
}

Outcome failsWith(Error error)
{
    return {std::move(error)};
}

Result<qint64> decodeValue(const QByteArray &body)
{
    Result<QJsonObject> object = Json::parseObject(body);
    PELLWICK_TRY(object);
    return Json::ObjectReader(*object).integer(QStringLiteral("value"));
}

const QByteArray storageFullBody = QByteArrayLiteral(
    R"({"error":"storage_full","storage":{"state":"storage_full","used_bytes":90,)"
    R"("limit_bytes":100,"remaining_bytes":10,"message":"Archive storage is full."}})");

using ClientCall = std::function<void(const LibrarySessionClient &)>;

} // namespace

Q_DECLARE_METATYPE(Outcome)
Q_DECLARE_METATYPE(ClientCall)

class LibrarySessionClientTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void urlsKeepTheBaseURLsOwnPath_data();
    void urlsKeepTheBaseURLsOwnPath();
    void everyOperationBuildsItsRequest();
    void everyJsonBodyIsWrittenByteForByte_data();
    void everyJsonBodyIsWrittenByteForByte();
    void failedEncodingSendsNothing();
    void repliesMapInOneDecisionOrder_data();
    void repliesMapInOneDecisionOrder();
    void transportFailuresPassThroughUnchanged();
};

void LibrarySessionClientTests::urlsKeepTheBaseURLsOwnPath_data()
{
    QTest::addColumn<QString>("baseURL");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("bare host") << "https://api.example.test"
                               << "api/library"
                               << "https://api.example.test/api/library";
    QTest::newRow("host with slash") << "https://api.example.test/"
                                     << "api/library"
                                     << "https://api.example.test/api/library";
    QTest::newRow("own path") << "https://api.example.test/v1"
                              << "api/library"
                              << "https://api.example.test/v1/api/library";
    QTest::newRow("own path with slash") << "http://127.0.0.1:8080/v1/"
                                         << "api/auth/sessions"
                                         << "http://127.0.0.1:8080/v1/api/auth/sessions";
    QTest::newRow("id with characters a path cannot hold")
        << "https://api.example.test"
        << QString(u"api/library/import_capacity_reservations/"_s + pathSegment(u"a b?c#d%/.."_s))
        << "https://api.example.test/api/library/import_capacity_reservations/"
           "a%20b%3Fc%23d%25%2F..";
    QTest::newRow("dot segments stay segments")
        << "https://api.example.test/v1?key=1"
        << QString(u"api/x/"_s + pathSegment(u".."_s) + u"/"_s + pathSegment(u"."_s) + u"/y"_s)
        << "https://api.example.test/v1/api/x/%2E%2E/%2E/y?key=1";
}

void LibrarySessionClientTests::urlsKeepTheBaseURLsOwnPath()
{
    QFETCH(QString, baseURL);
    QFETCH(QString, path);
    QFETCH(QString, expected);
    const LibrarySessionClient client(QUrl(baseURL), ScriptedFetch().function());
    QCOMPARE(client.makeRequest(path, std::nullopt, std::nullopt).url, expected);
}

void LibrarySessionClientTests::everyOperationBuildsItsRequest()
{
    struct Expected
    {
        const char *name;
        std::function<void(const LibrarySessionClient &)> call;
        std::optional<QByteArray> method;
        QString path;
        bool token;
        bool body;
    };

    const QString token = QStringLiteral("tok en/1");
    const QList<Expected> operations{
        {"signInResult",
         [](auto &c) { (void) c.signInResult(u"a@example.test"_s, u"pw"_s); },
         "POST",
         u"api/auth/sessions"_s,
         false,
         true},
        {"currentLibrary",
         [&](auto &c) { (void) c.currentLibrary(token); },
         "GET",
         u"api/library"_s,
         true,
         false},
        {"requestCheckout",
         [&](auto &c) { (void) c.requestCheckout(token); },
         "POST",
         u"api/billing/checkout_sessions"_s,
         true,
         false},
        {"requestCustomerPortal",
         [&](auto &c) { (void) c.requestCustomerPortal(token); },
         "POST",
         u"api/billing/customer_portal_sessions"_s,
         true,
         false},
        {"registerAccount",
         [](auto &c) { (void) c.registerAccount(u"a@example.test"_s, u"pw"_s, u"pw"_s); },
         "POST",
         u"api/auth/registrations"_s,
         false,
         true},
        {"requestPasswordReset",
         [](auto &c) { (void) c.requestPasswordReset(u"a@example.test"_s); },
         "POST",
         u"api/auth/password_resets"_s,
         false,
         true},
        {"emailVerificationStatus",
         [&](auto &c) { (void) c.emailVerificationStatus(token); },
         std::nullopt,
         u"api/auth/email_verification"_s,
         true,
         false},
        {"resendEmailVerification",
         [&](auto &c) { (void) c.resendEmailVerification(token); },
         "POST",
         u"api/auth/email_verification/resend"_s,
         true,
         false},
        {"changePassword",
         [&](auto &c) { (void) c.changePassword(token, u"old"_s, u"new"_s, u"new"_s); },
         "PATCH",
         u"api/auth/password"_s,
         true,
         true},
        {"libraryItems",
         [&](auto &c) { (void) c.libraryItems(token); },
         "GET",
         u"api/library/items"_s,
         true,
         false},
        {"createImportCapacityReservation",
         [&](auto &c) { (void) c.createImportCapacityReservation(token, {}); },
         "POST",
         u"api/library/import_capacity_reservations"_s,
         true,
         true},
        {"releaseImportCapacityReservation",
         [&](auto &c) { (void) c.releaseImportCapacityReservation(token, u"res_7"_s); },
         "DELETE",
         u"api/library/import_capacity_reservations/res_7"_s,
         true,
         false},
        {"requestVerifiedBackupUpload",
         [&](auto &c) { (void) c.requestVerifiedBackupUpload(token, {}); },
         "POST",
         u"api/library/verified_backup_uploads"_s,
         true,
         true},
        {"verifiedBackupUploadState",
         [&](auto &c) { (void) c.verifiedBackupUploadState(token, 42); },
         "GET",
         u"api/library/verified_backup_uploads/42"_s,
         true,
         false},
        {"completeVerifiedBackupUpload",
         [&](auto &c) { (void) c.completeVerifiedBackupUpload(token, 42, u"u"_s, {}); },
         "POST",
         u"api/library/verified_backup_uploads/42/complete"_s,
         true,
         true},
        {"completeVerifiedBackupSidecarUpload",
         [&](auto &c) { (void) c.completeVerifiedBackupSidecarUpload(token, -3, u"u"_s, {}); },
         "POST",
         u"api/library/verified_backup_uploads/-3/complete_sidecar"_s,
         true,
         true},
        {"finalizeVerifiedBackupUpload",
         [&](auto &c) { (void) c.finalizeVerifiedBackupUpload(token, 42); },
         "POST",
         u"api/library/verified_backup_uploads/42/finalize"_s,
         true,
         false},
        {"cancelVerifiedBackupImport",
         [&](auto &c) { (void) c.cancelVerifiedBackupImport(token, 42); },
         "DELETE",
         u"api/library/verified_backup_uploads/42"_s,
         true,
         false},
    };

    for (const Expected &operation : operations) {
        ScriptedFetch fetch;
        fetch.reply(599);
        const LibrarySessionClient client(QUrl(QStringLiteral("https://api.example.test/v2")),
                                          fetch.function());
        operation.call(client);
        const HttpRequest request = fetch.onlyRequest();
        const QByteArray message = operation.name;
        QVERIFY2(request.url == u"https://api.example.test/v2/"_s + operation.path, message);
        QVERIFY2(request.method == operation.method, message);
        QVERIFY2(request.timeoutInterval == std::chrono::seconds(60), message);
        QVERIFY2(request.headers.value("Authorization")
                     == (operation.token ? std::optional<QByteArray>("Bearer " + token.toUtf8())
                                         : std::nullopt),
                 message);
        QVERIFY2(request.body.has_value() == operation.body, message);
        QVERIFY2(
            request.headers.value("Content-Type")
                == (operation.body ? std::optional<QByteArray>("application/json") : std::nullopt),
            message);
        // Authorization is set before Content-Type, and nothing else is set.
        QStringList names;
        for (const auto &field : request.headers.fields())
            names.append(QString::fromLatin1(field.first));
        QStringList expectedNames;
        if (operation.token)
            expectedNames.append(QStringLiteral("Authorization"));
        if (operation.body)
            expectedNames.append(QStringLiteral("Content-Type"));
        QVERIFY2(names == expectedNames, message);
    }
}

void LibrarySessionClientTests::everyJsonBodyIsWrittenByteForByte_data()
{
    QTest::addColumn<ClientCall>("call");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("sign-in, text escaped")
        << ClientCall([](auto &c) { (void) c.signInResult(u"ada@example.test"_s, u"p\"w\\"_s); })
        << QByteArray(R"({"email":"ada@example.test","password":"p\"w\\"})");
    QTest::newRow("registration")
        << ClientCall(
               [](auto &c) { (void) c.registerAccount(u"ada@example.test"_s, u"pw"_s, u"pw2"_s); })
        << QByteArray(
               R"({"email":"ada@example.test","password":"pw","password_confirmation":"pw2"})");
    QTest::newRow("password reset")
        << ClientCall([](auto &c) { (void) c.requestPasswordReset(u"ada@example.test"_s); })
        << QByteArray(R"({"email":"ada@example.test"})");
    QTest::newRow("password change")
        << ClientCall(
               [](auto &c) { (void) c.changePassword(u"t"_s, u"old"_s, u"new"_s, u"new!"_s); })
        << QByteArray(
               R"({"current_password":"old","password":"new","password_confirmation":"new!"})");
    QTest::newRow("restore request") << ClientCall([](auto &c) {
        (void) c.createRestoreRequest(u"t"_s, {42, 7, -1});
    }) << QByteArray(R"({"library_item_ids":[42,7,-1]})");
    QTest::newRow("restore request without items")
        << ClientCall([](auto &c) { (void) c.createRestoreRequest(u"t"_s, {}); })
        << QByteArray(R"({"library_item_ids":[]})");
    QTest::newRow("capacity reservation")
        << ClientCall([](auto &c) {
               (void) c.createImportCapacityReservation(u"t"_s, {{25'000'000'000, 4096}, {10, 0}});
           })
        << QByteArray(R"({"packages":[{"raw_byte_count":25000000000,"sidecar_byte_count":4096},)"
                      R"({"raw_byte_count":10,"sidecar_byte_count":0}]})");
    QTest::newRow("upload request, mandatory keys only")
        << ClientCall([](auto &c) {
               (void) c.requestVerifiedBackupUpload(
                   u"t"_s,
                   {u"IMG_1.CR3"_s, u"2026-01-01-a.CR3"_s, 123, u"ab"_s, 45, {}, {}, {}, {}, {}});
           })
        << QByteArray(R"({"original_filename":"IMG_1.CR3","canonical_filename":"2026-01-01-a.CR3",)"
                      R"("byte_count":123,"content_hash":"ab","preview_byte_count":45})");
    QTest::newRow("upload request, every key")
        << ClientCall([](auto &c) {
               (void) c.requestVerifiedBackupUpload(
                   u"t"_s,
                   {u"IMG_1.CR3"_s,
                    u"2026-01-01-a.CR3"_s,
                    123,
                    u"ab"_s,
                    45,
                    u"EOS_DIGITAL"_s,
                    u"DCIM/IMG_1.CR3"_s,
                    u"2026-01-01/IMG_1.CR3"_s,
                    VerifiedBackupSidecar{u"IMG_1.xmp"_s, 6, u"cd"_s},
                    u"res/1"_s});
           })
        << QByteArray(
               R"({"original_filename":"IMG_1.CR3","canonical_filename":"2026-01-01-a.CR3",)"
               R"("byte_count":123,"content_hash":"ab","preview_byte_count":45,)"
               R"("import_source_name":"EOS_DIGITAL","source_relative_path":"DCIM/IMG_1.CR3",)"
               R"("cache_relative_path":"2026-01-01/IMG_1.CR3","sidecar_filename":"IMG_1.xmp",)"
               R"("sidecar_byte_count":6,"sidecar_content_hash":"cd","reservation_id":"res/1"})");
    QTest::newRow("raw completion, part number before ETag")
        << ClientCall([](auto &c) {
               (void) c.completeVerifiedBackupUpload(
                   u"t"_s, 42, u"up-1"_s, {{2, u"\"b2\""_s}, {1, u"\"a1\""_s}});
           })
        << QByteArray(R"({"upload_id":"up-1","parts":[{"part_number":2,"etag":"\"b2\""},)"
                      R"({"part_number":1,"etag":"\"a1\""}]})");
    QTest::newRow("sidecar completion") << ClientCall([](auto &c) {
        (void) c.completeVerifiedBackupSidecarUpload(u"t"_s, 42, u"up-2"_s, {{1, u"e"_s}});
    }) << QByteArray(R"({"upload_id":"up-2","parts":[{"part_number":1,"etag":"e"}]})");
}

void LibrarySessionClientTests::everyJsonBodyIsWrittenByteForByte()
{
    QFETCH(ClientCall, call);
    QFETCH(QByteArray, body);
    ScriptedFetch fetch;
    fetch.reply(599);
    const LibrarySessionClient client(QUrl(u"https://api.example.test"_s), fetch.function());
    call(client);
    const HttpRequest request = fetch.onlyRequest();
    QVERIFY(request.body);
    QCOMPARE(*request.body, body);
    QCOMPARE(request.headers.value("Content-Type"), QByteArray("application/json"));
}

void LibrarySessionClientTests::failedEncodingSendsNothing()
{
    ScriptedFetch fetch;
    const LibrarySessionClient client(QUrl(QStringLiteral("https://api.example.test")),
                                      fetch.function());
    Result<HttpRequest> request
        = client.makeRequest(QStringLiteral("api/x"),
                             QByteArrayLiteral("POST"),
                             std::nullopt,
                             {{QStringLiteral("ok"), 1},
                              {QStringLiteral("size"), std::numeric_limits<double>::infinity()}});
    QVERIFY(!request);
    QCOMPARE(request.error().as<DecodingError>()->keyPath, QStringLiteral("size"));
    QVERIFY(fetch.requests().isEmpty());
}

void LibrarySessionClientTests::repliesMapInOneDecisionOrder_data()
{
    QTest::addColumn<bool>("bodyLess");
    QTest::addColumn<QList<int>>("accepted");
    QTest::addColumn<bool>("restoreHandling");
    QTest::addColumn<int>("status"); // -1: not an HTTP response
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<Outcome>("outcome");

    const QList<int> ok{200};
    const QList<int> created{200, 201};
    const QByteArray value = R"({"value":7})";

    // Replies that are not HTTP, and accepted statuses.
    QTest::newRow("not HTTP, decoding step")
        << false << ok << false << -1 << value << failsWith(E{E::UnexpectedStatus{-1}});
    QTest::newRow("not HTTP, body-less step")
        << true << QList<int>{204} << false << -1 << QByteArray()
        << failsWith(E{E::UnexpectedStatus{-1}});
    QTest::newRow("201 of the accepted 200 and 201")
        << false << created << false << 201 << value << success();
    QTest::newRow("accepted 200 with an empty body")
        << false << ok << true << 200 << QByteArray() << failsWith(Json::dataCorrupted({}, {}));
    QTest::newRow("accepted reply with an error body is only decoded")
        << false << ok << true << 200 << QByteArray(R"({"error":"import_unavailable"})")
        << failsWith(DecodingError{DecodingError::Kind::KeyNotFound, u"value"_s, {}});
    QTest::newRow("body-less step ignores the body")
        << true << QList<int>{204} << false << 204 << QByteArray("not json") << success();
    QTest::newRow("body-less step answered 200 instead of 204")
        << true << QList<int>{204} << false << 200 << QByteArray()
        << failsWith(E{E::UnexpectedStatus{200}});

    // 403.
    const QByteArray importUnavailable = R"({"error":"import_unavailable","detail":1})";
    QTest::newRow("403 import_unavailable")
        << false << ok << false << 403 << importUnavailable << failsWith(E{E::ImportUnavailable{}});
    QTest::newRow("403 import_unavailable before restore handling")
        << false << ok << true << 403 << importUnavailable << failsWith(E{E::ImportUnavailable{}});
    QTest::newRow("403 import_unavailable, body-less step")
        << true << QList<int>{204} << false << 403 << importUnavailable
        << failsWith(E{E::UnexpectedStatus{403}});
    QTest::newRow("403 import_unavailable in other letter case")
        << false << ok << false << 403 << QByteArray(R"({"error":"Import_Unavailable"})")
        << failsWith(E{E::UnexpectedStatus{403}});
    QTest::newRow("403 other word")
        << false << ok << false << 403 << QByteArray(R"({"error":"forbidden"})")
        << failsWith(E{E::UnexpectedStatus{403}});
    QTest::newRow("403 other word, restore handling")
        << false << ok << true << 403 << QByteArray(R"({"error":"forbidden"})")
        << failsWith(E{E::RestoreRequestFailed{u"forbidden"_s, std::nullopt, 403}});
    QTest::newRow("import_unavailable under another status")
        << false << ok << false << 400 << importUnavailable
        << failsWith(E{E::UnexpectedStatus{400}});

    // 409.
    const StorageFullState full{90, 100, 10, QStringLiteral("Archive storage is full.")};
    QByteArray otherState = storageFullBody;
    otherState.replace(R"("state":"storage_full")", R"("state":"nearly_full")");
    QByteArray noMessage = storageFullBody;
    noMessage.replace(R"(,"message":"Archive storage is full.")", "");
    QTest::newRow("409 storage full")
        << false << ok << false << 409 << storageFullBody << failsWith(E{E::StorageFull{full}});
    QTest::newRow("409 storage full before restore handling")
        << false << ok << true << 409 << storageFullBody << failsWith(E{E::StorageFull{full}});
    QTest::newRow("409 storage full, body-less step")
        << true << QList<int>{204} << false << 409 << storageFullBody
        << failsWith(E{E::UnexpectedStatus{409}});
    QTest::newRow("409 with another storage state")
        << false << ok << false << 409 << otherState << failsWith(E{E::UnexpectedStatus{409}});
    QTest::newRow("409 with another storage state, restore handling")
        << false << ok << true << 409 << otherState
        << failsWith(E{E::RestoreRequestFailed{u"storage_full"_s, std::nullopt, 409}});
    QTest::newRow("409 storage full without message")
        << false << ok << false << 409 << noMessage << failsWith(E{E::UnexpectedStatus{409}});
    QTest::newRow("409 storage full without message, restore handling")
        << false << ok << true << 409 << noMessage
        << failsWith(E{E::RestoreRequestFailed{u"storage_full"_s, std::nullopt, 409}});
    QTest::newRow("storage full body under another status")
        << false << ok << false << 507 << storageFullBody << failsWith(E{E::UnexpectedStatus{507}});

    // Restore failure handling.
    QTest::newRow("allowance exceeded, trial")
        << false << ok << true << 422
        << QByteArray(R"({"error":"restore_allowance_exceeded","allowance_kind":"trial"})")
        << failsWith(E{E::RestoreAllowanceExceeded{RestoreAllowanceKind::Trial}});
    QTest::newRow("allowance exceeded, paid")
        << false << ok << true << 402
        << QByteArray(R"({"error":"restore_allowance_exceeded","allowance_kind":"paid"})")
        << failsWith(E{E::RestoreAllowanceExceeded{RestoreAllowanceKind::Paid}});
    QTest::newRow("allowance exceeded without a kind")
        << false << ok << true << 422 << QByteArray(R"({"error":"restore_allowance_exceeded"})")
        << failsWith(
               E{E::RestoreRequestFailed{u"restore_allowance_exceeded"_s, std::nullopt, 422}});
    QTest::newRow("allowance exceeded with a null kind")
        << false << ok << true << 422
        << QByteArray(R"({"error":"restore_allowance_exceeded","allowance_kind":null})")
        << failsWith(
               E{E::RestoreRequestFailed{u"restore_allowance_exceeded"_s, std::nullopt, 422}});
    QTest::newRow("unknown allowance kind")
        << false << ok << true << 422
        << QByteArray(R"({"error":"restore_allowance_exceeded","allowance_kind":"Paid"})")
        << failsWith(E{E::UnexpectedStatus{422}});
    QTest::newRow("unavailable after the grace period")
        << false << ok << true << 403
        << QByteArray(R"({"error":"restore_unavailable","reason":"billing_grace_period_ended"})")
        << failsWith(E{E::RestoreUnavailableAfterGracePeriod{}});
    QTest::newRow("unavailable without a reason")
        << false << ok << true << 403 << QByteArray(R"({"error":"restore_unavailable"})")
        << failsWith(E{E::RestoreRequestFailed{u"restore_unavailable"_s, std::nullopt, 403}});
    QTest::newRow("unavailable for another reason")
        << false << ok << true << 403
        << QByteArray(R"({"error":"restore_unavailable","reason":"maintenance"})")
        << failsWith(E{E::RestoreRequestFailed{u"restore_unavailable"_s, u"maintenance"_s, 403}});
    QTest::newRow("reason of the wrong type")
        << false << ok << true << 403 << QByteArray(R"({"error":"restore_unavailable","reason":5})")
        << failsWith(E{E::UnexpectedStatus{403}});
    QTest::newRow("restore words with handling off")
        << false << ok << false << 422
        << QByteArray(R"({"error":"restore_allowance_exceeded","allowance_kind":"trial"})")
        << failsWith(E{E::UnexpectedStatus{422}});
    QTest::newRow("500 with a failure body, restore handling")
        << false << ok << true << 500 << QByteArray(R"({"error":"internal","reason":"db"})")
        << failsWith(E{E::RestoreRequestFailed{u"internal"_s, u"db"_s, 500}});
    QTest::newRow("500 with an empty body")
        << false << ok << false << 500 << QByteArray() << failsWith(E{E::UnexpectedStatus{500}});
    QTest::newRow("500 with an empty body, restore handling")
        << false << ok << true << 500 << QByteArray() << failsWith(E{E::UnexpectedStatus{500}});
    QTest::newRow("404 with an HTML page, restore handling")
        << false << ok << true << 404 << QByteArray("<html>not found</html>")
        << failsWith(E{E::UnexpectedStatus{404}});
    QTest::newRow("error word of the wrong type, restore handling")
        << false << ok << true << 400 << QByteArray(R"({"error":{"code":1}})")
        << failsWith(E{E::UnexpectedStatus{400}});
}

void LibrarySessionClientTests::repliesMapInOneDecisionOrder()
{
    QFETCH(bool, bodyLess);
    QFETCH(QList<int>, accepted);
    QFETCH(bool, restoreHandling);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(Outcome, outcome);

    ScriptedFetch fetch;
    if (status == -1)
        fetch.replyNotHttp();
    else
        fetch.reply(status, body);
    const LibrarySessionClient client(QUrl(QStringLiteral("https://api.example.test")),
                                      fetch.function());
    const HttpRequest request
        = client.makeRequest(QStringLiteral("api/test"), QByteArrayLiteral("POST"), u"token"_s);

    std::optional<Error> error;
    if (bodyLess) {
        Result<void> result = client.sendEmpty(request, accepted.first());
        if (!result)
            error = result.error();
    } else {
        const auto handling = restoreHandling ? LibrarySessionClient::RestoreFailureHandling::On
                                              : LibrarySessionClient::RestoreFailureHandling::Off;
        Result<qint64> result = client.send(request, accepted, &decodeValue, handling);
        if (result)
            QCOMPARE(*result, 7);
        else
            error = result.error();
    }
    QCOMPARE(fetch.requests().size(), 1);

    QCOMPARE(error.has_value(), outcome.error.has_value());
    if (!error)
        return;
    if (const DecodingError *expected = outcome.error->as<DecodingError>()) {
        // The decoder's own error: its kind and key path, whatever its wording.
        const DecodingError *actual = error->as<DecodingError>();
        QVERIFY2(actual, qPrintable(describe(*error)));
        QCOMPARE(actual->kind, expected->kind);
        QCOMPARE(actual->keyPath, expected->keyPath);
        return;
    }
    QVERIFY2(*error == *outcome.error,
             qPrintable(describe(*error) + QStringLiteral(" != ") + describe(*outcome.error)));
}

void LibrarySessionClientTests::transportFailuresPassThroughUnchanged()
{
    const TransportError timedOut{28, false, true, QStringLiteral("Operation timed out")};
    ScriptedFetch fetch;
    fetch.fail(timedOut).fail(timedOut).fail(CancellationError{});
    const LibrarySessionClient client(QUrl(QStringLiteral("https://api.example.test")),
                                      fetch.function());

    Result<LibraryShell> library = client.currentLibrary(QStringLiteral("t"));
    QVERIFY(!library);
    QCOMPARE(library.error(), Error(timedOut));

    Result<void> resend = client.resendEmailVerification(QStringLiteral("t"));
    QVERIFY(!resend);
    QCOMPARE(resend.error(), Error(timedOut));

    Result<SignInResult> signIn = client.signInResult(QStringLiteral("a"), QStringLiteral("b"));
    QVERIFY(!signIn);
    QCOMPARE(signIn.error(), Error(CancellationError{}));
    QCOMPARE(fetch.requests().size(), 3);
}

QTEST_GUILESS_MAIN(LibrarySessionClientTests)
#include "LibrarySessionClientTests.moc"
