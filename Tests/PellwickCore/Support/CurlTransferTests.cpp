#include <PellwickCore/Backend/CurlFetch.h>
#include <PellwickCore/Backend/CurlPresignedURLUploader.h>
#include <PellwickCore/Support/CurlTransfer.h>
#include <PellwickCore/Support/FileManager.h>

#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

#include <Support/TestBackend/TestBackend.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>
#include <Support/TestObjectStore.h>
#include <Support/TlsTestServer.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;
using Fault = TestBackend::Fault;

namespace {

constexpr int curlFileSizeExceeded = 63;

const TransportError *transportError(const Result<CurlTransfer::Reply> &result)
{
    return result ? nullptr : result.error().as<TransportError>();
}

int connectionCount(const QList<RecordedRequest> &requests)
{
    QSet<quint16> ports;
    for (const RecordedRequest &request : requests)
        ports.insert(request.clientPort);
    return static_cast<int>(ports.size());
}

CurlTransfer::Request get(const QString &url, CurlTransfer::Sink sink)
{
    CurlTransfer::Request request;
    request.url = url;
    request.sink = sink;
    return request;
}

const Error shortFile = Error(DecodingError{DecodingError::Kind::DataCorrupted, {}, u"short"_s});

struct ClosedBeforeReplyCase
{
    QByteArray method;
    std::optional<QByteArray> body = QByteArray("{\"a\":1}");
    int receptions = 1; ///< how often the server reads the request
};

} // namespace

Q_DECLARE_METATYPE(ClosedBeforeReplyCase)

class CurlTransferTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void connectionsAreReusedAcrossCalls_data();
    void connectionsAreReusedAcrossCalls();
    void eachThreadKeepsItsOwnConnection();
    void sourcesSendExactlyTheirBytes_data();
    void sourcesSendExactlyTheirBytes();
    void fileEndingBeforeItsRangeStopsTheTransfer();
    void sinksTakeTheBodyWithinTheirCap_data();
    void sinksTakeTheBodyWithinTheirCap();
    void fileSinkKeepsFailureBodiesOutOfTheFile();
    void sharedOptionsRefuseBeforeAnyIO_data();
    void sharedOptionsRefuseBeforeAnyIO();
    void idleLimitAndCancellationEndTheTransfer();
    void methodKeepingRedirects_data();
    void methodKeepingRedirects();
    void keptConnectionClosedBeforeTheReply_data();
    void keptConnectionClosedBeforeTheReply();

private:
    std::unique_ptr<QTemporaryDir> m_folder;
};

void CurlTransferTests::initTestCase()
{
    CurlTransfer::initializeGlobally();
}

void CurlTransferTests::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
}

void CurlTransferTests::connectionsAreReusedAcrossCalls_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("API calls through the fetch") << u"fetch"_s;
    QTest::newRow("POSTs with bodies") << u"post"_s;
    QTest::newRow("parts through the uploader") << u"upload"_s;
}

void CurlTransferTests::connectionsAreReusedAcrossCalls()
{
    QFETCH(QString, kind);
    TestBackend backend;
    backend.injectFault({}, "/api/x", Fault::reply(200, R"({"ok":true})"));
    const QString file = m_folder->filePath(u"IMG_0001.CR3"_s);
    writeFile(file, patternBytes(100'000));
    const CurlFetch fetch;
    const CurlPresignedURLUploader uploader;

    for (int call = 0; call < 10; ++call) {
        if (kind == u"fetch") {
            PELLWICK_VERIFY_SUCCESS(fetch(backend.url(u"/api/x"_s), {}));
        } else if (kind == u"post") {
            HttpRequest request;
            request.url = backend.url(u"/api/x"_s);
            request.method = "POST";
            request.body = patternBytes(5000, call);
            PELLWICK_VERIFY_SUCCESS(fetch(request, {}));
        } else {
            const QString url = backend.objectStore().presignedPutURL(u"u/part-%1"_s.arg(call));
            PELLWICK_VERIFY_SUCCESS(
                uploader.uploadPart(file, ByteRange{call * 10'000, (call + 1) * 10'000}, url));
        }
    }
    const QList<RecordedRequest> received
        = kind == u"upload" ? backend.objectStore().requests() : backend.requests();
    QCOMPARE(received.size(), 10);
    QCOMPARE(connectionCount(received), 1);
}

void CurlTransferTests::eachThreadKeepsItsOwnConnection()
{
    TestBackend backend;
    backend.injectFault({}, "/api/x", Fault::reply(204));
    const CurlFetch fetch;
    auto tenCalls = [&] {
        for (int call = 0; call < 10; ++call)
            QVERIFY(fetch(backend.url(u"/api/x"_s), {}));
    };
    std::thread first(tenCalls);
    std::thread second(tenCalls);
    first.join();
    second.join();
    QCOMPARE(backend.requests().size(), 20);
    QCOMPARE(connectionCount(backend.requests()), 2);
}

void CurlTransferTests::sourcesSendExactlyTheirBytes_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("source"); // "memory", "file" or "none"
    QTest::addColumn<qint64>("lower");
    QTest::addColumn<qint64>("upper");
    QTest::newRow("PUT of a memory body") << QByteArray("PUT") << u"memory"_s << 0LL << 70'000LL;
    QTest::newRow("POST of a memory body") << QByteArray("POST") << u"memory"_s << 0LL << 5LL;
    QTest::newRow("PATCH of a memory body") << QByteArray("PATCH") << u"memory"_s << 0LL << 9LL;
    QTest::newRow("PUT of a file range") << QByteArray("PUT") << u"file"_s << 3LL << 300'003LL;
    QTest::newRow("POST of a file range") << QByteArray("POST") << u"file"_s << 1LL << 2LL;
    QTest::newRow("PUT of an empty range") << QByteArray("PUT") << u"file"_s << 7LL << 7LL;
    QTest::newRow("POST without body") << QByteArray("POST") << u"none"_s << 0LL << 0LL;
    QTest::newRow("DELETE without body") << QByteArray("DELETE") << u"none"_s << 0LL << 0LL;
}

void CurlTransferTests::sourcesSendExactlyTheirBytes()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, source);
    QFETCH(qint64, lower);
    QFETCH(qint64, upper);
    const QByteArray content = patternBytes(400'000, 3);
    const QString path = m_folder->filePath(u"source"_s);
    writeFile(path, content);
    Result<std::unique_ptr<FileHandle>> file = LocalFileManager().openForReading(path);
    QVERIFY(file);
    TestBackend backend;
    backend.injectFault({}, "/sink", Fault::reply(201));

    CurlTransfer::Request request;
    request.url = backend.url(u"/sink"_s);
    request.method = method;
    if (source == u"memory")
        request.body = CurlTransfer::Source::memory(content.mid(lower, upper - lower));
    else if (source == u"file")
        request.body = CurlTransfer::Source::fileRange(**file, ByteRange{lower, upper}, shortFile);
    QList<qint64> sent;
    request.progress = [&sent](qint64 bytes, qint64) { sent.append(bytes); };
    Result<CurlTransfer::Reply> reply = CurlTransfer::perform(request, {});
    PELLWICK_VERIFY_SUCCESS(reply);
    QCOMPARE(reply->status, 201);

    const RecordedRequest received = backend.requests().value(0);
    QCOMPARE(received.method, method);
    QCOMPARE(received.body.size(), upper - lower);
    QVERIFY(received.body == content.mid(lower, upper - lower));
    QCOMPARE(received.headers.value("Content-Length").value_or("0"),
             QByteArray::number(upper - lower));
    QVERIFY(!received.headers.contains("Content-Type"));
    QVERIFY(!received.headers.contains("Expect"));
    QCOMPARE(sent.isEmpty() ? 0 : sent.last(), upper - lower);
}

void CurlTransferTests::fileEndingBeforeItsRangeStopsTheTransfer()
{
    const QString path = m_folder->filePath(u"source"_s);
    writeFile(path, patternBytes(1000));
    Result<std::unique_ptr<FileHandle>> file = LocalFileManager().openForReading(path);
    QVERIFY(file);
    TestBackend backend;
    backend.injectFault({}, "/sink", Fault::reply(200));

    CurlTransfer::Request request;
    request.url = backend.url(u"/sink"_s);
    request.method = "PUT";
    request.body = CurlTransfer::Source::fileRange(**file, ByteRange{500, 1500}, shortFile);
    Result<CurlTransfer::Reply> reply = CurlTransfer::perform(request, {});
    QVERIFY(!reply);
    QCOMPARE(reply.error(), shortFile);
    QVERIFY(backend.requests().isEmpty()); // the request never completed
}

void CurlTransferTests::sinksTakeTheBodyWithinTheirCap_data()
{
    QTest::addColumn<QString>("sink"); // "memory", "discard" or "file"
    QTest::addColumn<qint64>("bodySize");
    QTest::addColumn<qint64>("cap");
    QTest::addColumn<bool>("fits");
    QTest::newRow("memory, empty body") << u"memory"_s << 0LL << 0LL << true;
    QTest::newRow("memory, exactly the cap") << u"memory"_s << 300'000LL << 300'000LL << true;
    QTest::newRow("memory, one byte over") << u"memory"_s << 300'001LL << 300'000LL << false;
    QTest::newRow("memory, far over") << u"memory"_s << 3'000'000LL << 1000LL << false;
    QTest::newRow("discarded") << u"discard"_s << 500'000LL << 0LL << true;
    QTest::newRow("file, exactly the cap") << u"file"_s << 300'000LL << 300'000LL << true;
    QTest::newRow("file, one byte over") << u"file"_s << 300'001LL << 300'000LL << false;
}

void CurlTransferTests::sinksTakeTheBodyWithinTheirCap()
{
    QFETCH(QString, sink);
    QFETCH(qint64, bodySize);
    QFETCH(qint64, cap);
    QFETCH(bool, fits);
    const QByteArray body = patternBytes(bodySize, 9);
    TestBackend backend;
    backend.injectFault({}, "/body", Fault::reply(200, body, "application/octet-stream"));

    // The file holds other bytes around the range the body is written to.
    const qint64 offset = 1234;
    const QByteArray before = QByteArray(offset + bodySize + 10, 'x');
    const QString path = m_folder->filePath(u"target"_s);
    writeFile(path, before);
    Result<std::unique_ptr<FileHandle>> file = LocalFileManager().openForWriting(path);
    QVERIFY(file);

    CurlTransfer::Sink target = sink == u"memory" ? CurlTransfer::Sink::memory(cap)
                                : sink == u"discard"
                                    ? CurlTransfer::Sink::discard()
                                    : CurlTransfer::Sink::toFile(**file, offset, cap);
    Result<CurlTransfer::Reply> reply
        = CurlTransfer::perform(get(backend.url(u"/body"_s), target), {});
    (*file)->close();
    if (!fits) {
        QVERIFY(transportError(reply));
        QCOMPARE(transportError(reply)->curlCode, curlFileSizeExceeded);
        const QByteArray after = readFile(path);
        QCOMPARE(after.size(), before.size());
        QVERIFY(after.mid(offset + cap) == before.mid(offset + cap)); // never past the cap
        return;
    }
    PELLWICK_VERIFY_SUCCESS(reply);
    QCOMPARE(reply->status, 200);
    QCOMPARE(reply->bodyLength, bodySize);
    QCOMPARE(reply->headers.value("Content-Length"), QByteArray::number(bodySize));
    if (sink == u"memory")
        QVERIFY(reply->body == body);
    else
        QVERIFY(reply->body.isEmpty());
    const QByteArray expectedFile
        = sink == u"file" ? QByteArray(before).replace(offset, bodySize, body) : before;
    QVERIFY(readFile(path) == expectedFile);
}

void CurlTransferTests::fileSinkKeepsFailureBodiesOutOfTheFile()
{
    TestBackend backend;
    backend.injectFault(
        {}, "/expired", Fault::reply(403, "<Error>AccessDenied</Error>", "text/xml"));
    backend.injectFault({}, "/huge-error", Fault::reply(500, patternBytes(200'000), "text/plain"));
    const QString path = m_folder->filePath(u"target"_s);
    writeFile(path, "unchanged");
    Result<std::unique_ptr<FileHandle>> file = LocalFileManager().openForWriting(path);
    QVERIFY(file);

    Result<CurlTransfer::Reply> denied = CurlTransfer::perform(
        get(backend.url(u"/expired"_s), CurlTransfer::Sink::toFile(**file, 0, 100)), {});
    PELLWICK_VERIFY_SUCCESS(denied);
    QCOMPARE(denied->status, 403);
    QCOMPARE(denied->body, QByteArray("<Error>AccessDenied</Error>"));

    Result<CurlTransfer::Reply> huge = CurlTransfer::perform(
        get(backend.url(u"/huge-error"_s), CurlTransfer::Sink::toFile(**file, 0, 100)), {});
    PELLWICK_VERIFY_SUCCESS(huge);
    QCOMPARE(huge->status, 500);
    QCOMPARE(huge->body.size(), 64 * 1024);
    QCOMPARE(huge->bodyLength, 64 * 1024); // the rest of the refusal is not received
    QCOMPARE(readFile(path), QByteArray("unchanged"));
}

void CurlTransferTests::sharedOptionsRefuseBeforeAnyIO_data()
{
    QTest::addColumn<QString>("url"); // %1: the backend's port
    QTest::addColumn<QByteArray>("headerValue");
    QTest::addColumn<int>("expectedCurlCode"); // 0: a reply without status
    QTest::newRow("ftp") << u"ftp://127.0.0.1:%1/x"_s << QByteArray("v") << 0;
    QTest::newRow("file") << u"file:///etc/hostname"_s << QByteArray("v") << 0;
    QTest::newRow("no scheme") << u"127.0.0.1:%1/x"_s << QByteArray("v") << 0;
    QTest::newRow("carriage return in a field")
        << u"http://127.0.0.1:%1/x"_s << QByteArray("v\rX-Injected: 1") << 43;
    QTest::newRow("line feed in a field")
        << u"http://127.0.0.1:%1/x"_s << QByteArray("v\nX-Injected: 1") << 43;
    QTest::newRow("NUL in a field") << u"http://127.0.0.1:%1/x"_s << QByteArray("v\0w", 3) << 43;
}

void CurlTransferTests::sharedOptionsRefuseBeforeAnyIO()
{
    QFETCH(QString, url);
    QFETCH(QByteArray, headerValue);
    QFETCH(int, expectedCurlCode);
    TestBackend backend;
    CurlTransfer::Request request
        = get(QString(url).replace(u"%1"_s, QString::number(backend.port())),
              CurlTransfer::Sink::memory(100));
    request.headers.set("X-Field", headerValue);
    Result<CurlTransfer::Reply> reply = CurlTransfer::perform(request, {});
    if (expectedCurlCode == 0) {
        PELLWICK_VERIFY_SUCCESS(reply);
        QCOMPARE(reply->status, std::nullopt);
    } else {
        QVERIFY(transportError(reply));
        QCOMPARE(transportError(reply)->curlCode, expectedCurlCode);
    }
    QVERIFY(backend.requests().isEmpty());

    // TLS peers are verified: a self-signed certificate is refused.
    TlsTestServer server;
    Result<CurlTransfer::Reply> untrusted
        = CurlTransfer::perform(get(server.url(), CurlTransfer::Sink::memory(100)), {});
    QVERIFY(transportError(untrusted));
    QCOMPARE(transportError(untrusted)->curlCode, 60);
    QCOMPARE(server.answeredRequests(), 0);
}

void CurlTransferTests::idleLimitAndCancellationEndTheTransfer()
{
    TestBackend backend;
    backend.injectFault({}, "/halfway", Fault::stallAfterHeaders(200, "first bytes", 1000));
    backend.injectFault({}, "/ok", Fault::reply(200, "fine", "text/plain"));

    CurlTransfer::Request request
        = get(backend.url(u"/halfway"_s), CurlTransfer::Sink::memory(1000));
    request.idleLimit = std::chrono::milliseconds(300);
    Result<CurlTransfer::Reply> idle = CurlTransfer::perform(request, {});
    QVERIFY(transportError(idle));
    QVERIFY(transportError(idle)->timedOut);
    QVERIFY(!transportError(idle)->cancelled);

    std::stop_source early;
    early.request_stop();
    request.idleLimit = std::chrono::seconds(60);
    backend.clearRequests();
    Result<CurlTransfer::Reply> before = CurlTransfer::perform(request, early.get_token());
    QVERIFY(transportError(before) && transportError(before)->cancelled);
    QVERIFY(backend.requests().isEmpty());

    std::stop_source stop;
    std::optional<Result<CurlTransfer::Reply>> during;
    std::thread worker([&] { during = CurlTransfer::perform(request, stop.get_token()); });
    QTRY_COMPARE(backend.requests().size(), 1);
    stop.request_stop();
    worker.join();
    QVERIFY(transportError(*during));
    QVERIFY(transportError(*during)->cancelled);
    QVERIFY(!transportError(*during)->timedOut);

    // The thread's handle serves the next call as if nothing had happened.
    Result<CurlTransfer::Reply> next
        = CurlTransfer::perform(get(backend.url(u"/ok"_s), CurlTransfer::Sink::memory(100)), {});
    PELLWICK_VERIFY_SUCCESS(next);
    QCOMPARE(next->body, QByteArray("fine"));
}

void CurlTransferTests::methodKeepingRedirects_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("location"); // %1: the backend's port
    QTest::addColumn<int>("hops");
    QTest::addColumn<int>("expectedStatus");
    QTest::addColumn<bool>("refused");
    QTest::newRow("307 once") << 307 << QByteArray("/target") << 1 << 201 << false;
    QTest::newRow("308 to an absolute URL")
        << 308 << QByteArray("http://127.0.0.1:%1/target") << 1 << 201 << false;
    QTest::newRow("307 as often as allowed") << 307 << QByteArray("/target") << 4 << 201 << false;
    QTest::newRow("307 once too often") << 307 << QByteArray("/target") << 5 << 307 << false;
    QTest::newRow("302 is final") << 302 << QByteArray("/target") << 1 << 302 << false;
    QTest::newRow("301 is final") << 301 << QByteArray("/target") << 1 << 301 << false;
    QTest::newRow("307 to ftp") << 307 << QByteArray("ftp://127.0.0.1:%1/x") << 1 << 307 << true;
    QTest::newRow("308 to a file") << 308 << QByteArray("file:///etc/hostname") << 1 << 308 << true;
}

void CurlTransferTests::methodKeepingRedirects()
{
    QFETCH(int, status);
    QFETCH(QByteArray, location);
    QFETCH(int, hops);
    QFETCH(int, expectedStatus);
    QFETCH(bool, refused);
    TestBackend backend;
    const QByteArray target
        = QByteArray(location).replace("%1", QByteArray::number(backend.port()));
    // Each hop but the last redirects to the next one; the last to `target`.
    for (int hop = 0; hop < hops; ++hop) {
        const QByteArray next = hop + 1 < hops ? "/hop" + QByteArray::number(hop + 1) : target;
        backend.injectFault({},
                            "/hop" + QByteArray::number(hop),
                            Fault::reply(status).withHeader("Location", next));
    }
    backend.injectFault({}, "/target", Fault::reply(201));
    const QString path = m_folder->filePath(u"part"_s);
    const QByteArray content = patternBytes(2'000'000, 5);
    writeFile(path, content);
    Result<std::unique_ptr<FileHandle>> file = LocalFileManager().openForReading(path);
    QVERIFY(file);

    CurlTransfer::Request request;
    request.url = backend.url(u"/hop0"_s);
    request.method = "PUT";
    request.body = CurlTransfer::Source::fileRange(**file, ByteRange{10, 1'500'010}, shortFile);
    request.redirects = CurlTransfer::Redirects::KeepMethod;
    Result<CurlTransfer::Reply> reply = CurlTransfer::perform(request, {});
    PELLWICK_VERIFY_SUCCESS(reply);
    QCOMPARE(reply->status, expectedStatus);
    QCOMPARE(reply->refusedRedirect.has_value(), refused);
    if (refused)
        QCOMPARE(reply->refusedRedirect->toUtf8(), target);

    // Every request carried the whole range from its start, always as a PUT.
    const QList<RecordedRequest> received = backend.requests();
    QCOMPARE(received.size(), expectedStatus == 201 ? hops + 1 : std::min(hops, 5));
    for (const RecordedRequest &one : received) {
        QCOMPARE(one.method, QByteArray("PUT"));
        QVERIFY(one.body == content.mid(10, 1'500'000));
    }
}

void CurlTransferTests::keptConnectionClosedBeforeTheReply_data()
{
    QTest::addColumn<ClosedBeforeReplyCase>("scenario");
    QTest::newRow("POST is sent once") << ClosedBeforeReplyCase{.method = "POST"};
    QTest::newRow("DELETE is sent once")
        << ClosedBeforeReplyCase{.method = "DELETE", .body = std::nullopt};
    QTest::newRow("PUT may be sent again")
        << ClosedBeforeReplyCase{.method = "PUT", .receptions = 2};
}

void CurlTransferTests::keptConnectionClosedBeforeTheReply()
{
    QFETCH(ClosedBeforeReplyCase, scenario);
    TestBackend backend;
    backend.injectFault({}, "/api/x", Fault::reply(204));
    backend.injectFault({}, "/api/y", Fault::closeBeforeReply(), 1);
    backend.injectFault({}, "/api/y", Fault::reply(204));
    const CurlFetch fetch;
    PELLWICK_VERIFY_SUCCESS(fetch(backend.url(u"/api/x"_s), {}));

    HttpRequest request;
    request.url = backend.url(u"/api/y"_s);
    request.method = scenario.method;
    request.body = scenario.body;
    const Result<HttpResponse> response = fetch(request, {});

    QCOMPARE(backend.requests().size(), 1 + scenario.receptions);
    if (scenario.receptions == 1) { // failed as the closed connection would have it
        QVERIFY(!response);
        const TransportError *error = response.error().as<TransportError>();
        QVERIFY(error);
        QCOMPARE(error->curlCode, 52); // "server returned nothing"
        QVERIFY(!error->cancelled);
    } else {
        PELLWICK_VERIFY_SUCCESS(response);
        QCOMPARE(response->statusCode, std::optional(204));
    }
}

QTEST_GUILESS_MAIN(CurlTransferTests)
#include "CurlTransferTests.moc"
