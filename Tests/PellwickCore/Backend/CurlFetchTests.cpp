#include <PellwickCore/Backend/CurlFetch.h>

#include <QTemporaryDir>
#include <QTest>

#include <thread>

#include <Support/BackendReplies.h>
#include <Support/TestBackend/TestBackend.h>
#include <Support/TestFiles.h>
#include <Support/TlsTestServer.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;
using Fault = TestBackend::Fault;

namespace {

constexpr std::chrono::seconds shortIdleLimit(1);

HttpRequest requestFor(const QString &url,
                       std::optional<QByteArray> method = std::nullopt,
                       std::optional<QByteArray> body = std::nullopt)
{
    HttpRequest request;
    request.url = url;
    request.method = std::move(method);
    request.body = std::move(body);
    return request;
}

const TransportError *transportError(const Result<HttpResponse> &result)
{
    return result ? nullptr : result.error().as<TransportError>();
}

} // namespace

class CurlFetchTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void requestArrivesAsBuilt();
    void onlyHeadersTheRequestSetsAreAdded();
    void bodilessRequestsCarryNoBody_data();
    void bodilessRequestsCarryNoBody();
    void onlyHttpAndHttpsAreFetched_data();
    void onlyHttpAndHttpsAreFetched();
    void redirectsAreFollowedOnlyOverHttp();
    void idleLimitEndsStalledExchanges();
    void steadySlowTransfersAreNotCutOff();
    void droppedConnectionsAreTransportErrors();
    void cancellationStopsTheExchange();
    void headerFieldsWithLineBreaksAreRefused();
    void untrustedCertificatesAreRefused();
};

void CurlFetchTests::initTestCase()
{
    CurlFetch::initializeGlobally();
}

void CurlFetchTests::requestArrivesAsBuilt()
{
    TestBackend backend;
    backend.injectFault("PUT",
                        "/objects/a b",
                        Fault::reply(201, "stored", "text/plain")
                            .withHeader("ETag", R"("abc123")")
                            .withHeader("X-Repeated", "1")
                            .withHeader("X-Repeated", "2"));
    HttpRequest request = requestFor(
        backend.url(u"/objects/a%20b?part=1&sig=x%2Fy"_s), "PUT", QByteArray("\x00\x01payload", 9));
    request.headers.set("Content-Type", "application/octet-stream");
    request.headers.set("Authorization", "Bearer t");

    Result<HttpResponse> response = CurlFetch()(request, {});
    PELLWICK_VERIFY_SUCCESS(response);
    QCOMPARE(response->statusCode, 201);
    QCOMPARE(response->body, QByteArray("stored"));
    QCOMPARE(response->headers.value("etag"), QByteArray(R"("abc123")"));
    QCOMPARE(response->headers.value("Content-Type"), QByteArray("text/plain"));

    const QList<RecordedRequest> received = backend.requests();
    QCOMPARE(received.size(), 1);
    QCOMPARE(received[0].method, QByteArray("PUT"));
    QCOMPARE(received[0].target, QByteArray("/objects/a%20b?part=1&sig=x%2Fy"));
    QCOMPARE(received[0].body, QByteArray("\x00\x01payload", 9));
    QCOMPARE(received[0].headers.value("Content-Type"), QByteArray("application/octet-stream"));
    QCOMPARE(received[0].headers.value("Authorization"), QByteArray("Bearer t"));
    QCOMPARE(received[0].headers.value("Content-Length"), QByteArray("9"));
}

void CurlFetchTests::onlyHeadersTheRequestSetsAreAdded()
{
    TestBackend backend;
    backend.injectFault({}, "/upload", Fault::reply(200));
    // Large enough that curl would otherwise ask "Expect: 100-continue" first.
    const QByteArray large = patternBytes(2 * 1024 * 1024);
    Result<HttpResponse> post
        = CurlFetch()(requestFor(backend.url(u"/upload"_s), "POST", large), {});
    PELLWICK_VERIFY_SUCCESS(post);

    const RecordedRequest received = backend.requests().value(0);
    QCOMPARE(received.body.size(), large.size());
    QVERIFY(received.body == large);
    QVERIFY(!received.headers.contains("Expect"));
    QVERIFY(!received.headers.contains("Content-Type"));
}

void CurlFetchTests::bodilessRequestsCarryNoBody_data()
{
    QTest::addColumn<QByteArray>("method"); // empty: the default GET
    QTest::addColumn<QByteArray>("received");
    QTest::newRow("default") << QByteArray() << QByteArray("GET");
    QTest::newRow("POST") << QByteArray("POST") << QByteArray("POST");
    QTest::newRow("PATCH") << QByteArray("PATCH") << QByteArray("PATCH");
    QTest::newRow("DELETE") << QByteArray("DELETE") << QByteArray("DELETE");
}

void CurlFetchTests::bodilessRequestsCarryNoBody()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, received);
    TestBackend backend;
    backend.injectFault({}, "/x", Fault::reply(204));
    const HttpRequest request
        = requestFor(backend.url(u"/x"_s), method.isEmpty() ? std::nullopt : std::optional(method));
    Result<HttpResponse> response = CurlFetch()(request, {});
    PELLWICK_VERIFY_SUCCESS(response);
    QCOMPARE(response->statusCode, 204);

    const RecordedRequest recorded = backend.requests().value(0);
    QCOMPARE(recorded.method, received);
    QVERIFY(recorded.body.isEmpty());
    QVERIFY(!recorded.headers.contains("Content-Type"));
    QVERIFY(!recorded.headers.contains("Expect"));
    const std::optional<QByteArray> length = recorded.headers.value("Content-Length");
    QVERIFY(!length || *length == "0");
}

void CurlFetchTests::onlyHttpAndHttpsAreFetched_data()
{
    QTest::addColumn<QString>("urlPattern"); // %1: the test backend's port; %2: a local file
    QTest::newRow("file") << u"file://%2"_s;
    QTest::newRow("file in capitals") << u"FILE://%2"_s;
    QTest::newRow("ftp to a listening port") << u"ftp://127.0.0.1:%1/api/health"_s;
    QTest::newRow("gopher") << u"gopher://127.0.0.1:%1/"_s;
    QTest::newRow("dict") << u"dict://127.0.0.1:%1/"_s;
    QTest::newRow("no scheme") << u"127.0.0.1:%1/api/health"_s;
    QTest::newRow("scheme-relative") << u"//127.0.0.1:%1/api/health"_s;
    QTest::newRow("empty") << QString();
}

void CurlFetchTests::onlyHttpAndHttpsAreFetched()
{
    QFETCH(QString, urlPattern);
    QTemporaryDir folder;
    const QString secret = folder.filePath(u"secret.txt"_s);
    writeFile(secret, "local bytes");
    TestBackend backend;
    const QString url = urlPattern.isEmpty()
                            ? QString()
                            : QString(urlPattern)
                                  .replace(u"%1"_s, QString::number(backend.port()))
                                  .replace(u"%2"_s, secret);

    Result<HttpResponse> response = CurlFetch()(requestFor(url), {});
    PELLWICK_VERIFY_SUCCESS(response);
    QCOMPARE(*response, HttpResponse::notHttp());
    QVERIFY(backend.requests().isEmpty());
}

void CurlFetchTests::redirectsAreFollowedOnlyOverHttp()
{
    QTemporaryDir folder;
    const QString secret = folder.filePath(u"secret.txt"_s);
    writeFile(secret, "local bytes");
    TestBackend backend;
    backend.injectFault({}, "/moved", Fault::reply(302).withHeader("Location", "/target"));
    backend.injectFault({}, "/target", Fault::reply(200, "arrived", "text/plain"));
    backend.injectFault(
        {}, "/to-file", Fault::reply(302).withHeader("Location", "file://" + secret.toUtf8()));
    backend.injectFault(
        {},
        "/to-ftp",
        Fault::reply(301).withHeader(
            "Location", "ftp://127.0.0.1:" + QByteArray::number(backend.port()) + "/"));

    Result<HttpResponse> followed = CurlFetch()(requestFor(backend.url(u"/moved"_s)), {});
    PELLWICK_VERIFY_SUCCESS(followed);
    QCOMPARE(followed->statusCode, 200);
    QCOMPARE(followed->body, QByteArray("arrived"));
    QVERIFY(!followed->headers.contains("Location")); // headers of the final reply only

    for (const QString &path : {u"/to-file"_s, u"/to-ftp"_s}) {
        backend.clearRequests();
        Result<HttpResponse> refused = CurlFetch()(requestFor(backend.url(path)), {});
        QVERIFY(transportError(refused));
        QVERIFY(!transportError(refused)->timedOut);
        QCOMPARE(backend.requests().size(), 1); // the redirecting request only
    }
}

void CurlFetchTests::idleLimitEndsStalledExchanges()
{
    TestBackend backend;
    backend.injectFault({}, "/silent", Fault::stall());
    backend.injectFault({}, "/halfway", Fault::stallAfterHeaders(200, "first bytes", 1000));
    const CurlFetch fetch(CurlFetch::Options{shortIdleLimit});

    for (const QString &path : {u"/silent"_s, u"/halfway"_s}) {
        Result<HttpResponse> response = fetch(requestFor(backend.url(path)), {});
        const TransportError *error = transportError(response);
        QVERIFY2(error, qPrintable(path));
        QVERIFY2(error->timedOut, qPrintable(describe(response.error())));
        QVERIFY(!error->cancelled);
    }

    // A request's own shorter interval counts too.
    HttpRequest request = requestFor(backend.url(u"/silent"_s));
    request.timeoutInterval = shortIdleLimit;
    QVERIFY(transportError(CurlFetch()(request, {}))->timedOut);
}

void CurlFetchTests::steadySlowTransfersAreNotCutOff()
{
    TestBackend backend;
    // 20 pieces 100 ms apart: the whole transfer takes about twice the idle limit, but bytes
    // never stop moving for long.
    const QByteArray body = patternBytes(5 * 1024 * 1024, 7);
    backend.injectFault(
        {}, "/slow", Fault::trickle(body, body.size() / 20 + 1, std::chrono::milliseconds(100)));
    Result<HttpResponse> response
        = CurlFetch(CurlFetch::Options{shortIdleLimit})(requestFor(backend.url(u"/slow"_s)), {});
    PELLWICK_VERIFY_SUCCESS(response);
    QCOMPARE(response->statusCode, 200);
    QCOMPARE(response->body.size(), body.size());
    QVERIFY(response->body == body);
}

void CurlFetchTests::droppedConnectionsAreTransportErrors()
{
    TestBackend backend;
    backend.injectFault({}, "/dropped", Fault::closeConnection(200, R"({"status":)"));
    Result<HttpResponse> dropped = CurlFetch()(requestFor(backend.url(u"/dropped"_s)), {});
    QVERIFY(transportError(dropped));
    QVERIFY(!transportError(dropped)->timedOut);
    QVERIFY(!transportError(dropped)->cancelled);

    // Nothing listens on the port of a backend that has stopped.
    QString closedURL;
    {
        TestBackend stopped;
        closedURL = stopped.url(u"/api/health"_s);
    }
    Result<HttpResponse> refused = CurlFetch()(requestFor(closedURL), {});
    QVERIFY(transportError(refused));
    QVERIFY(!transportError(refused)->timedOut);
}

void CurlFetchTests::cancellationStopsTheExchange()
{
    TestBackend backend;
    backend.injectFault({}, "/silent", Fault::stall());

    std::stop_source early;
    early.request_stop();
    Result<HttpResponse> before
        = CurlFetch()(requestFor(backend.url(u"/silent"_s)), early.get_token());
    QVERIFY(transportError(before));
    QVERIFY(transportError(before)->cancelled);
    QVERIFY(backend.requests().isEmpty());

    std::stop_source stop;
    std::optional<Result<HttpResponse>> during;
    std::thread worker(
        [&] { during = CurlFetch()(requestFor(backend.url(u"/silent"_s)), stop.get_token()); });
    QTRY_COMPARE(backend.requests().size(), 1);
    stop.request_stop();
    worker.join();
    QVERIFY(during && transportError(*during));
    QVERIFY(transportError(*during)->cancelled);
    QVERIFY(!transportError(*during)->timedOut);
}

void CurlFetchTests::headerFieldsWithLineBreaksAreRefused()
{
    TestBackend backend;
    HttpRequest request = requestFor(backend.url(u"/api/health"_s));
    request.headers.set("Authorization", "Bearer t\r\nX-Injected: 1");
    QVERIFY(transportError(CurlFetch()(request, {})));
    QVERIFY(backend.requests().isEmpty());
}

void CurlFetchTests::untrustedCertificatesAreRefused()
{
    TlsTestServer server;
    Result<HttpResponse> response = CurlFetch()(requestFor(server.url()), {});
    QVERIFY(transportError(response));
    QCOMPARE(transportError(response)->curlCode, 60); // peer certificate cannot be verified
    QCOMPARE(server.answeredRequests(), 0);
}

QTEST_GUILESS_MAIN(CurlFetchTests)
#include "CurlFetchTests.moc"
