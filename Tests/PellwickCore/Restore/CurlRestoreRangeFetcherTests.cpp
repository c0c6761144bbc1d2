#include <PellwickCore/Restore/CurlRestoreRangeFetcher.h>
#include <PellwickCore/Restore/RestoreTransferError.h>
#include <PellwickCore/Support/CurlTransfer.h>

#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <optional>
#include <thread>

#include <Support/FaultInjectingFileManager.h>
#include <Support/TestBackend/TestBackend.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>
#include <Support/TestObjectStore.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;
using GetFault = TestObjectStore::GetFault;

Q_DECLARE_METATYPE(TestObjectStore::GetFault)

namespace {

constexpr std::chrono::milliseconds shortIdleLimit(700);
const QByteArray object = patternBytes(1024 * 1024 + 17, 5);

QString validURL(const TestObjectStore &store, const QString &key = u"photos/IMG 0001.CR3"_s)
{
    return store.presignedGetURL(key, Date::now().addingSeconds(3600));
}

QByteArray inverted(QByteArray bytes)
{
    for (char &byte : bytes)
        byte = static_cast<char>(~byte);
    return bytes;
}

bool isUnexpectedRangeResponse(const Error &error)
{
    return error == Error(RestoreTransferError{RestoreTransferError::UnexpectedRangeResponse{}});
}

/// The body `download` streams into a fresh file under `folder`.
Result<QByteArray> downloaded(const RestoreRangeFetching &fetcher,
                              const FileManager &files,
                              const QString &folder,
                              const QString &url,
                              const RestoreByteRange &range)
{
    const QString path = folder + u"/body"_s;
    if (!files.createFile(path))
        return fileSystemFailure(u"create"_s, path, EIO);
    PELLWICK_TRY_ASSIGN(std::unique_ptr<FileHandle> file, files.openForWriting(path));
    Result<qint64> length = fetcher.download(url, range, *file, {});
    file->close();
    if (!length)
        return tl::unexpected<Error>(length.error());
    Result<QByteArray> body = readFileContents(LocalFileManager(), path);
    if (body && body->size() != *length)
        return fileSystemFailure(u"length"_s, path, EIO);
    return body;
}

} // namespace

class CurlRestoreRangeFetcherTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void requestArrivesAsBuilt();
    void replies_data();
    void replies();
    void serverErrorsAreUnexpectedResponses();
    void onlyHttpIsFetched_data();
    void onlyHttpIsFetched();
    void droppedConnectionIsTransportError();
    void stallTimesOut();
    void cancellationStopsTheRequest();
    void connectionsAreReused();
    void fileWriteFailuresPassThrough();
};

void CurlRestoreRangeFetcherTests::initTestCase()
{
    CurlTransfer::initializeGlobally();
}

void CurlRestoreRangeFetcherTests::requestArrivesAsBuilt()
{
    TestObjectStore store;
    store.putObject(u"photos/IMG 0001.CR3"_s, object);
    const QString url = validURL(store);
    Result<QByteArray> body = CurlRestoreRangeFetcher().data(url, {16, 31}, {});
    PELLWICK_VERIFY_SUCCESS(body);

    const QList<RecordedRequest> requests = store.requests();
    QCOMPARE(requests.size(), 1);
    const RecordedRequest &request = requests.first();
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(store.baseURL() + QString::fromLatin1(request.target), url);
    QCOMPARE(request.headers.value("Range"), QByteArray("bytes=16-31"));
    // Beyond what every HTTP client sends (Host, Accept), the range is the only field.
    for (const auto &[name, value] : request.headers.fields()) {
        const QByteArray lower = name.toLower();
        QVERIFY2(lower == "range" || lower == "host" || lower == "accept"
                     || lower.startsWith("remote_") || lower.startsWith("local_"),
                 name.constData());
    }
}

void CurlRestoreRangeFetcherTests::replies_data()
{
    QTest::addColumn<GetFault>("fault");
    QTest::addColumn<qint64>("start");
    QTest::addColumn<qint64>("end");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<QByteArray>("body");

    const auto size = qint64(object.size());
    QTest::newRow("206 range") << GetFault::None << qint64(1000) << qint64(1999) << true
                               << object.mid(1000, 1000);
    QTest::newRow("206 last range shorter")
        << GetFault::None << size - 10 << size + 100 << true << object.right(10);
    QTest::newRow("200 whole object fitting the range")
        << GetFault::IgnoreRange << qint64(0) << size - 1 << true << object;
    QTest::newRow("200 whole object longer than the range")
        << GetFault::IgnoreRange << qint64(0) << qint64(99) << false << QByteArray();
    // Bytes from another offset than asked are refused, whatever their length.
    QTest::newRow("200 whole object for a later range")
        << GetFault::IgnoreRange << qint64(500) << qint64(599) << false << QByteArray();
    QTest::newRow("206 from one byte further on")
        << GetFault::OtherRange << qint64(500) << qint64(599) << false << QByteArray();
    QTest::newRow("206 without Content-Range")
        << GetFault::NoContentRange << qint64(500) << qint64(599) << false << QByteArray();
    // Bytes past those a reply names are not the range's, whatever their count.
    QTest::newRow("206 sending more than it names")
        << GetFault::UnderAnnounced << qint64(1000) << qint64(1999) << false << QByteArray();
    QTest::newRow("206 sending more than it names, first range")
        << GetFault::UnderAnnounced << qint64(0) << qint64(99) << false << QByteArray();
    QTest::newRow("wrong bytes returned unchecked")
        << GetFault::WrongBytes << qint64(0) << qint64(3) << true << inverted(object.left(4));
    QTest::newRow("403 expired") << GetFault::Expired << qint64(0) << qint64(99) << false
                                 << QByteArray();
    QTest::newRow("416 past the end")
        << GetFault::None << size << size + 5 << false << QByteArray();
}

void CurlRestoreRangeFetcherTests::replies()
{
    QFETCH(GetFault, fault);
    QFETCH(qint64, start);
    QFETCH(qint64, end);
    QFETCH(bool, succeeds);
    QFETCH(QByteArray, body);

    TestObjectStore store;
    store.putObject(u"photos/IMG 0001.CR3"_s, object);
    store.setGetFault(fault);
    const CurlRestoreRangeFetcher fetcher;
    QTemporaryDir folder;
    const LocalFileManager files;

    Result<QByteArray> inMemory = fetcher.data(validURL(store), {start, end}, {});
    Result<QByteArray> streamed
        = downloaded(fetcher, files, folder.path(), validURL(store), {start, end});
    if (succeeds) {
        PELLWICK_VERIFY_SUCCESS(inMemory);
        PELLWICK_VERIFY_SUCCESS(streamed);
        QCOMPARE(inMemory->size(), body.size());
        QVERIFY(*inMemory == body);
        QVERIFY(*streamed == body);
    } else {
        QVERIFY(!inMemory && isUnexpectedRangeResponse(inMemory.error()));
        QVERIFY(!streamed && isUnexpectedRangeResponse(streamed.error()));
        // The refusal's own body never reaches the file.
        QCOMPARE(QFileInfo(folder.filePath(u"body"_s)).size(), 0);
    }
}

void CurlRestoreRangeFetcherTests::serverErrorsAreUnexpectedResponses()
{
    TestBackend backend;
    backend.injectFault({}, "/broken", TestBackend::Fault::reply(500, "internal error"));
    backend.injectFault({}, "/empty", TestBackend::Fault::reply(204));
    Result<QByteArray> broken
        = CurlRestoreRangeFetcher().data(backend.url(u"/broken"_s), {0, 9}, {});
    QVERIFY(!broken && isUnexpectedRangeResponse(broken.error()));
    // Any 2xx is accepted; the length is the executor's to check.
    Result<QByteArray> empty = CurlRestoreRangeFetcher().data(backend.url(u"/empty"_s), {0, 9}, {});
    PELLWICK_VERIFY_SUCCESS(empty);
    QVERIFY(empty->isEmpty());
}

void CurlRestoreRangeFetcherTests::onlyHttpIsFetched_data()
{
    QTest::addColumn<QString>("url");
    QTest::newRow("file") << u"file:///etc/passwd"_s;
    QTest::newRow("ftp") << u"ftp://127.0.0.1/x"_s;
    QTest::newRow("no scheme") << u"/etc/passwd"_s;
    QTest::newRow("empty") << QString();
}

void CurlRestoreRangeFetcherTests::onlyHttpIsFetched()
{
    QFETCH(QString, url);
    QTemporaryDir folder;
    auto files = std::make_shared<FaultInjectingFileManager>();
    const QString path = folder.filePath(u"body"_s);
    QVERIFY(files->createFile(path));
    std::unique_ptr<FileHandle> file = *files->openForWriting(path);
    const int before = files->operationCount();

    Result<QByteArray> data = CurlRestoreRangeFetcher().data(url, {0, 9}, {});
    QVERIFY(!data && isUnexpectedRangeResponse(data.error()));
    Result<qint64> streamed = CurlRestoreRangeFetcher().download(url, {0, 9}, *file, {});
    QVERIFY(!streamed && isUnexpectedRangeResponse(streamed.error()));
    QCOMPARE(files->operationCount(), before);
}

void CurlRestoreRangeFetcherTests::droppedConnectionIsTransportError()
{
    TestObjectStore store;
    store.putObject(u"photos/IMG 0001.CR3"_s, object);
    store.setGetFault(GetFault::ShortBody);
    Result<QByteArray> body = CurlRestoreRangeFetcher().data(validURL(store), {0, 9999}, {});
    QVERIFY(!body);
    const TransportError *error = body.error().as<TransportError>();
    QVERIFY2(error, qPrintable(describe(body.error())));
    QVERIFY(!error->cancelled);
}

void CurlRestoreRangeFetcherTests::stallTimesOut()
{
    TestObjectStore store;
    store.putObject(u"photos/IMG 0001.CR3"_s, object);
    store.setGetFault(GetFault::Stall);
    const CurlRestoreRangeFetcher fetcher(CurlRestoreRangeFetcher::Options{shortIdleLimit});
    Result<QByteArray> body = fetcher.data(validURL(store), {0, 9999}, {});
    store.releaseStalls();
    QVERIFY(!body);
    const TransportError *error = body.error().as<TransportError>();
    QVERIFY2(error && error->timedOut, qPrintable(describe(body.error())));
}

void CurlRestoreRangeFetcherTests::cancellationStopsTheRequest()
{
    TestObjectStore store;
    store.putObject(u"photos/IMG 0001.CR3"_s, object);

    std::stop_source early;
    early.request_stop();
    Result<QByteArray> before
        = CurlRestoreRangeFetcher().data(validURL(store), {0, 9}, early.get_token());
    QVERIFY(!before && before.error().as<TransportError>()->cancelled);
    QVERIFY(store.requests().isEmpty());

    store.setGetFault(GetFault::Stall);
    std::stop_source stop;
    std::optional<Result<QByteArray>> during;
    std::thread worker([&] {
        during = CurlRestoreRangeFetcher().data(validURL(store), {0, 9999}, stop.get_token());
    });
    store.waitUntilStalled();
    const auto stopped = std::chrono::steady_clock::now();
    stop.request_stop();
    worker.join();
    QVERIFY(std::chrono::steady_clock::now() - stopped < std::chrono::seconds(3));
    store.releaseStalls();
    QVERIFY(during && !*during);
    const TransportError *error = during->error().as<TransportError>();
    QVERIFY(error && error->cancelled && !error->timedOut);
}

void CurlRestoreRangeFetcherTests::connectionsAreReused()
{
    TestObjectStore store;
    store.putObject(u"photos/IMG 0001.CR3"_s, object);
    const CurlRestoreRangeFetcher fetcher;
    QTemporaryDir folder;
    const LocalFileManager files;
    for (qint64 start = 0; start < 6 * 1000; start += 1000) {
        if (start % 2000 == 0)
            PELLWICK_VERIFY_SUCCESS(fetcher.data(validURL(store), {start, start + 999}, {}));
        else
            PELLWICK_VERIFY_SUCCESS(
                downloaded(fetcher, files, folder.path(), validURL(store), {start, start + 999}));
    }
    const QList<RecordedRequest> requests = store.requests();
    QCOMPARE(requests.size(), 6);
    for (const RecordedRequest &request : requests)
        QCOMPARE(request.clientPort, requests.first().clientPort);
}

void CurlRestoreRangeFetcherTests::fileWriteFailuresPassThrough()
{
    TestObjectStore store;
    store.putObject(u"photos/IMG 0001.CR3"_s, object);
    QTemporaryDir folder;
    FaultInjectingFileManager files;
    files.failOperation(FileOperation::Write, ENOSPC);
    Result<QByteArray> body
        = downloaded(CurlRestoreRangeFetcher(), files, folder.path(), validURL(store), {0, 99'999});
    QVERIFY(!body);
    const FileSystemError *error = body.error().as<FileSystemError>();
    QVERIFY2(error, qPrintable(describe(body.error())));
    QCOMPARE(error->code, ENOSPC);
}

QTEST_GUILESS_MAIN(CurlRestoreRangeFetcherTests)
#include "CurlRestoreRangeFetcherTests.moc"
