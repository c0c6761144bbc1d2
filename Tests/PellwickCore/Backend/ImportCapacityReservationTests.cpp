#include <PellwickCore/Backend/CurlFetch.h>
#include <PellwickCore/Backend/LibrarySessionClient.h>

#include <QTest>

#include <Support/BackendReplies.h>
#include <Support/ScriptedFetch.h>
#include <Support/TestBackend/TestBackend.h>
#include <Support/TestErrors.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using E = LibrarySessionClientError;

namespace {

const QString token = QStringLiteral("tok-1");

const QByteArray storageFullBody = QByteArrayLiteral(
    R"({"error":"storage_full","storage":{"state":"storage_full","used_bytes":90,)"
    R"("limit_bytes":100,"remaining_bytes":10,"message":"Archive storage is full."}})");

const Error storageFull
    = E{E::StorageFull{{90, 100, 10, QStringLiteral("Archive storage is full.")}}};
const Error importUnavailable = E{E::ImportUnavailable{}};

DecodingError::Kind decodingKind(const Error &error)
{
    return error.as<DecodingError>() ? error.as<DecodingError>()->kind
                                     : DecodingError::Kind::DataCorrupted;
}

} // namespace

class ImportCapacityReservationTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void createSendsEveryPackageWithBothCounts();
    void createAcceptsOnly201_data();
    void createAcceptsOnly201();
    void releaseAcceptsOnly204_data();
    void releaseAcceptsOnly204();
    void reservationIdIsOnePathSegment_data();
    void reservationIdIsOnePathSegment();
    void reservationsHoldRoomOnTheBackend_data();
    void reservationsHoldRoomOnTheBackend();
};

void ImportCapacityReservationTests::initTestCase()
{
    CurlFetch::initializeGlobally();
}

void ImportCapacityReservationTests::createSendsEveryPackageWithBothCounts()
{
    ScriptedFetch fetch;
    fetch.reply(599).reply(599);
    const LibrarySessionClient client(QUrl(QStringLiteral("https://api.example.test")),
                                      fetch.function());
    (void) client.createImportCapacityReservation(token, {{25'000'000'000, 2400}, {50, 0}});
    (void) client.createImportCapacityReservation(token, {});
    const QList<HttpRequest> requests = fetch.requests();
    QCOMPARE(*requests[0].body,
             QByteArray(R"({"packages":[{"raw_byte_count":25000000000,"sidecar_byte_count":2400},)"
                        R"({"raw_byte_count":50,"sidecar_byte_count":0}]})"));
    QCOMPARE(*requests[1].body, QByteArray(R"({"packages":[]})"));
}

void ImportCapacityReservationTests::createAcceptsOnly201_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<std::optional<Error>>("expected"); // no value: the id "res_1 a/b" comes back
    const QByteArray valid = R"({"reservation":{"id":"res_1 a/b","bytes":5},"other":1})";
    QTest::newRow("201") << 201 << valid << std::optional<Error>();
    QTest::newRow("200 with a valid body")
        << 200 << valid << std::optional(unexpectedStatusError(200));
    QTest::newRow("storage full") << 409 << storageFullBody << std::optional(storageFull);
    QTest::newRow("import unavailable") << 403 << QByteArray(R"({"error":"import_unavailable"})")
                                        << std::optional(importUnavailable);
    QTest::newRow("500") << 500 << QByteArray() << std::optional(unexpectedStatusError(500));
    QTest::newRow("id as a number")
        << 201 << QByteArray(R"({"reservation":{"id":17}})")
        << std::optional(Error(DecodingError{
               DecodingError::Kind::TypeMismatch, QStringLiteral("reservation.id"), {}}));
    QTest::newRow("no reservation")
        << 201 << QByteArray(R"({"id":"res_1"})")
        << std::optional(Error(
               DecodingError{DecodingError::Kind::KeyNotFound, QStringLiteral("reservation"), {}}));
}

void ImportCapacityReservationTests::createAcceptsOnly201()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(std::optional<Error>, expected);
    ScriptedFetch fetch;
    fetch.reply(status, body);
    const LibrarySessionClient client(QUrl(QStringLiteral("https://api.example.test")),
                                      fetch.function());
    Result<QString> id = client.createImportCapacityReservation(token, {{1, 0}});
    if (!expected) {
        QCOMPARE(id.value(), QStringLiteral("res_1 a/b"));
    } else if (expected->is<DecodingError>()) {
        // Kind and key path: the decoder's own wording is not the contract.
        QVERIFY(!id);
        QCOMPARE(decodingKind(id.error()), expected->as<DecodingError>()->kind);
        QCOMPARE(id.error().as<DecodingError>()->keyPath, expected->as<DecodingError>()->keyPath);
    } else {
        QCOMPARE(id.error(), *expected);
    }
}

void ImportCapacityReservationTests::releaseAcceptsOnly204_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("expectedFailure"); // 0: success
    QTest::newRow("204") << 204 << QByteArray("{}") << 0;
    QTest::newRow("200") << 200 << QByteArray() << 200;
    QTest::newRow("404 is not done") << 404 << QByteArray() << 404;
    QTest::newRow("storage-full body") << 409 << storageFullBody << 409;
    QTest::newRow("import-unavailable body")
        << 403 << QByteArray(R"({"error":"import_unavailable"})") << 403;
}

void ImportCapacityReservationTests::releaseAcceptsOnly204()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, expectedFailure);
    ScriptedFetch fetch;
    fetch.reply(status, body);
    const LibrarySessionClient client(QUrl(QStringLiteral("https://api.example.test")),
                                      fetch.function());
    Result<void> released = client.releaseImportCapacityReservation(token, QStringLiteral("res_1"));
    if (expectedFailure == 0)
        PELLWICK_VERIFY_SUCCESS(released);
    else
        QCOMPARE(released.error(), unexpectedStatusError(expectedFailure));
    QCOMPARE(fetch.onlyRequest().body, std::nullopt);
}

void ImportCapacityReservationTests::reservationIdIsOnePathSegment_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("segment");
    QTest::newRow("plain") << QStringLiteral("res_1-a.b~") << QStringLiteral("res_1-a.b~");
    QTest::newRow("climbing out") << QStringLiteral("../../auth/password")
                                  << QStringLiteral("..%2F..%2Fauth%2Fpassword");
    QTest::newRow("parent") << QStringLiteral("..") << QStringLiteral("%2E%2E");
    QTest::newRow("self") << QStringLiteral(".") << QStringLiteral("%2E");
    QTest::newRow("query and fragment") << QStringLiteral("a?b#c") << QStringLiteral("a%3Fb%23c");
    QTest::newRow("escape-like text") << QStringLiteral("%2F") << QStringLiteral("%252F");
    QTest::newRow("non-ASCII") << QStringLiteral("r\u00e9s") << QStringLiteral("r%C3%A9s");
}

void ImportCapacityReservationTests::reservationIdIsOnePathSegment()
{
    QFETCH(QString, id);
    QFETCH(QString, segment);
    ScriptedFetch fetch;
    fetch.reply(204);
    const LibrarySessionClient client(QUrl(QStringLiteral("https://api.example.test/v1")),
                                      fetch.function());
    PELLWICK_VERIFY_SUCCESS(client.releaseImportCapacityReservation(token, id));
    QCOMPARE(fetch.onlyRequest().url,
             QStringLiteral("https://api.example.test/v1/api/library/import_capacity_reservations/")
                 + segment);

    // Through curl too: the backend receives one segment under the reservations path.
    TestBackend backend;
    const QString email = QStringLiteral("ada@example.test");
    backend.addAccount({0, email, QStringLiteral("pw"), std::nullopt, true, {}});
    const LibrarySessionClient real(backend.baseURL(), CurlFetch());
    (void) real.releaseImportCapacityReservation(backend.issueToken(email), id);
    const QByteArray target = backend.requests().value(0).target;
    QCOMPARE(target, QByteArray("/api/library/import_capacity_reservations/" + segment.toUtf8()));
}

void ImportCapacityReservationTests::reservationsHoldRoomOnTheBackend_data()
{
    QTest::addColumn<bool>("paid");
    QTest::newRow("paid plan: its storage entitlement") << true;
    QTest::newRow("trial: the trial quota") << false;
}

void ImportCapacityReservationTests::reservationsHoldRoomOnTheBackend()
{
    QFETCH(bool, paid);
    TestBackend backend;
    TestBackend::Account account;
    account.email = QStringLiteral("ada@example.test");
    // The storage not in use is far larger, so only the right one refuses.
    if (paid) {
        account.library.paidPlan.status = PaidPlanStatus::Paid;
        account.library.paidPlan.storageEntitlement = {400, 1000};
    } else {
        account.library.trialQuota = {400, 1000};
    }
    backend.addAccount(account);
    const QString session = backend.issueToken(account.email);
    const LibrarySessionClient client(backend.baseURL(), CurlFetch());

    Result<QString> first = client.createImportCapacityReservation(session, {{300, 100}, {100, 0}});
    PELLWICK_VERIFY_SUCCESS(first);
    QCOMPARE(backend.reservationIDs(account.email), QStringList{*first});

    // 400 used and 500 reserved leave 100.
    Result<QString> refused = client.createImportCapacityReservation(session, {{101, 0}});
    QVERIFY(!refused);
    QCOMPARE(
        refused.error(),
        Error(E{E::StorageFull{{900, 1000, 100, QStringLiteral("Archive storage is full.")}}}));

    PELLWICK_VERIFY_SUCCESS(client.releaseImportCapacityReservation(session, *first));
    QVERIFY(backend.reservationIDs(account.email).isEmpty());
    QCOMPARE(client.releaseImportCapacityReservation(session, *first).error(),
             unexpectedStatusError(404));
    PELLWICK_VERIFY_SUCCESS(client.createImportCapacityReservation(session, {{101, 0}}));
}

QTEST_GUILESS_MAIN(ImportCapacityReservationTests)
#include "ImportCapacityReservationTests.moc"
