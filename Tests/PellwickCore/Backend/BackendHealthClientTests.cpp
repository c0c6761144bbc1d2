#include <PellwickCore/Backend/BackendHealthClient.h>
#include <PellwickCore/Backend/CurlFetch.h>

#include <QTest>

#include <Support/ScriptedFetch.h>
#include <Support/TestBackend/TestBackend.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;
using Fault = TestBackend::Fault;

class BackendHealthClientTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void healthURLKeepsTheBasePath_data();
    void healthURLKeepsTheBasePath();
    void onlyAnExactOkIsReachable_data();
    void onlyAnExactOkIsReachable();
    void failedExchangesAreUnreachable();
    void probesARealBackend();
    void stalledBackendIsUnreachableWithinTheIdleLimit();
};

void BackendHealthClientTests::initTestCase()
{
    CurlFetch::initializeGlobally();
}

void BackendHealthClientTests::healthURLKeepsTheBasePath_data()
{
    QTest::addColumn<QString>("baseURL");
    QTest::addColumn<QString>("healthURL");
    QTest::newRow("host") << u"https://api.example.test"_s
                          << u"https://api.example.test/api/health"_s;
    QTest::newRow("path") << u"https://api.example.test/v1"_s
                          << u"https://api.example.test/v1/api/health"_s;
    QTest::newRow("path with slash")
        << u"https://api.example.test/v1/"_s << u"https://api.example.test/v1/api/health"_s;
}

void BackendHealthClientTests::healthURLKeepsTheBasePath()
{
    QFETCH(QString, baseURL);
    QFETCH(QString, healthURL);
    ScriptedFetch fetch;
    fetch.reply(200, R"({"status":"ok"})");
    const BackendHealthClient client(QUrl(baseURL), fetch.urlFunction());
    QCOMPARE(client.healthURL().toString(), healthURL);
    QCOMPARE(client.checkHealth(), BackendReachability::Reachable);
    QCOMPARE(fetch.onlyRequest().url, healthURL);
}

void BackendHealthClientTests::onlyAnExactOkIsReachable_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("reachable");
    const QByteArray ok = R"({"status":"ok"})";
    QTest::newRow("ok") << 200 << ok << true;
    QTest::newRow("ok with extra keys")
        << 200 << QByteArray(R"({"version":"3","status":"ok","db":{}})") << true;
    QTest::newRow("capital OK") << 200 << QByteArray(R"({"status":"OK"})") << false;
    QTest::newRow("degraded") << 200 << QByteArray(R"({"status":"degraded"})") << false;
    QTest::newRow("status not a string") << 200 << QByteArray(R"({"status":true})") << false;
    QTest::newRow("no status") << 200 << QByteArray(R"({"state":"ok"})") << false;
    QTest::newRow("empty body") << 200 << QByteArray() << false;
    QTest::newRow("not JSON") << 200 << QByteArray("ok") << false;
    QTest::newRow("204") << 204 << ok << false;
    QTest::newRow("301") << 301 << ok << false;
    QTest::newRow("503") << 503 << ok << false;
}

void BackendHealthClientTests::onlyAnExactOkIsReachable()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, reachable);
    ScriptedFetch fetch;
    fetch.reply(status, body);
    const BackendHealthClient client(QUrl(u"https://api.example.test"_s), fetch.urlFunction());
    QCOMPARE(client.checkHealth(),
             reachable ? BackendReachability::Reachable : BackendReachability::Unreachable);
}

void BackendHealthClientTests::failedExchangesAreUnreachable()
{
    ScriptedFetch fetch;
    fetch.fail(TransportError{7, false, false, u"Connection refused"_s})
        .fail(TransportError{42, true, false, u"Cancelled"_s})
        .replyNotHttp();
    const BackendHealthClient client(QUrl(u"https://api.example.test"_s), fetch.urlFunction());
    QCOMPARE(client.checkHealth(), BackendReachability::Unreachable);
    QCOMPARE(client.checkHealth(), BackendReachability::Unreachable);
    QCOMPARE(client.checkHealth(), BackendReachability::Unreachable);
}

void BackendHealthClientTests::probesARealBackend()
{
    TestBackend backend(TestBackend::Options{"/v1"});
    const BackendHealthClient client(backend.baseURL(), CurlFetch());
    QCOMPARE(client.checkHealth(), BackendReachability::Reachable);
    const RecordedRequest probe = backend.requests().value(0);
    QCOMPARE(probe.method, QByteArray("GET"));
    QCOMPARE(probe.path, QByteArray("/v1/api/health"));
    QVERIFY(!probe.headers.contains("Authorization"));
    QVERIFY(!probe.headers.contains("Content-Type"));

    backend.injectFault("GET", "/v1/api/health", Fault::reply(503, R"({"status":"ok"})"), 1);
    QCOMPARE(client.checkHealth(), BackendReachability::Unreachable);
    backend.injectFault("GET", "/v1/api/health", Fault::closeConnection(200, R"({"sta)"), 1);
    QCOMPARE(client.checkHealth(), BackendReachability::Unreachable);
    QCOMPARE(client.checkHealth(), BackendReachability::Reachable);

    const BackendHealthClient notHttp(QUrl(u"ftp://127.0.0.1:"_s + QString::number(backend.port())),
                                      CurlFetch());
    QCOMPARE(notHttp.checkHealth(), BackendReachability::Unreachable);
    QCOMPARE(backend.requests().size(), 4);
}

void BackendHealthClientTests::stalledBackendIsUnreachableWithinTheIdleLimit()
{
    TestBackend backend;
    backend.injectFault("GET", "/api/health", Fault::stall());
    const BackendHealthClient client(backend.baseURL(),
                                     CurlFetch(CurlFetch::Options{std::chrono::seconds(1)}));
    QCOMPARE(client.checkHealth(), BackendReachability::Unreachable);
}

QTEST_GUILESS_MAIN(BackendHealthClientTests)
#include "BackendHealthClientTests.moc"
