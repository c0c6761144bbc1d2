#include <PellwickCore/Backend/CurlPresignedURLUploader.h>
#include <PellwickCore/Backend/PresignedURLUploadReply_p.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

#include <Support/FaultInjectingFileManager.h>
#include <Support/TestBackend/TestBackend.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>
#include <Support/TestObjectStore.h>

using namespace Pellwick;
using Test::failureText;
using Test::TestObjectStore;

namespace {

constexpr qint64 mebibyte = qint64(1024) * 1024;

TestObjectStore::PutBehaviour
answering(int status, TestObjectStore::ETagMode etag = TestObjectStore::ETagMode::Quoted)
{
    TestObjectStore::PutBehaviour behaviour;
    behaviour.status = status;
    behaviour.etag = etag;
    return behaviour;
}

std::optional<int> uploadStatus(const Error &error)
{
    if (const auto *upload = error.as<PresignedURLUploadError>())
        return std::get<PresignedURLUploadError::UnexpectedStatus>(upload->value).status;
    return std::nullopt;
}

/// An uploader that cannot report progress while sending: it records its calls and fails or
/// removes the file on request.
class RecordingUploader final : public PresignedURLUploading
{
public:
    using PresignedURLUploading::uploadFile;
    using PresignedURLUploading::uploadPart;

    Result<void> uploadFile(const QString &file, const QString &, std::stop_token) const override
    {
        ++calls;
        if (removeFileWhileUploading)
            QFile::remove(file);
        if (failWith)
            return tl::unexpected<Error>(*failWith);
        return {};
    }

    Result<QString>
    uploadPart(const QString &, ByteRange, const QString &, std::stop_token) const override
    {
        ++calls;
        if (failWith)
            return tl::unexpected<Error>(*failWith);
        return QStringLiteral("\"etag\"");
    }

    mutable int calls = 0;
    std::optional<Error> failWith;
    bool removeFileWhileUploading = false;
};

} // namespace

class PresignedURLUploaderTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void partIsSentByteForByteAndReturnsTheETagVerbatim_data();
    void partIsSentByteForByteAndReturnsTheETagVerbatim();
    void emptyRangeSendsAnEmptyBodyAndStillNeedsAnETag();
    void rangeTheFileCannotFillSendsNothing_data();
    void rangeTheFileCannotFillSendsNothing();
    void replyStatusAndETagDecideThePartOutcome_data();
    void replyStatusAndETagDecideThePartOutcome();
    void statusRulesAtTheBoundaries();
    void wholeFileIsStreamedAndNeedsNoETag();
    void progressIsCumulativeAndEndsAtTheLength();
    void fileFailingDuringTheUploadStopsIt();
    void resetConnectionIsATransportError();
    void stalledUploadEndsByCancellationOrIdleLimit();
    void onlyHttpTargetsAreUsed_data();
    void onlyHttpTargetsAreUsed();
    void redirectsKeepThePut_data();
    void redirectsKeepThePut();
    void uploaderWithoutProgressReportsOnceAfterSuccess();

private:
    QString writeSource(qint64 size, quint32 seed = 7);

    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<TestObjectStore> m_store;
    CurlPresignedURLUploader m_uploader;
};

void PresignedURLUploaderTests::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
    m_store = std::make_unique<TestObjectStore>();
}

void PresignedURLUploaderTests::cleanup()
{
    m_store.reset();
    m_folder.reset();
}

QString PresignedURLUploaderTests::writeSource(qint64 size, quint32 seed)
{
    const QString path = m_folder->filePath(QStringLiteral("IMG_0001.CR3"));
    Test::writeFile(path, Test::patternBytes(size, seed));
    return path;
}

void PresignedURLUploaderTests::partIsSentByteForByteAndReturnsTheETagVerbatim_data()
{
    QTest::addColumn<qint64>("fileSize");
    QTest::addColumn<qint64>("lower");
    QTest::addColumn<qint64>("upper");
    QTest::newRow("first part") << qint64(10000) << qint64(0) << qint64(4096);
    QTest::newRow("last part ends at the end of file")
        << qint64(10000) << qint64(8192) << qint64(10000);
    QTest::newRow("one byte") << qint64(10000) << qint64(9999) << qint64(10000);
    QTest::newRow("several read buffers, unaligned")
        << 9 * mebibyte + 3 << 2 * mebibyte + 1 << 7 * mebibyte + 2;
}

void PresignedURLUploaderTests::partIsSentByteForByteAndReturnsTheETagVerbatim()
{
    QFETCH(qint64, fileSize);
    QFETCH(qint64, lower);
    QFETCH(qint64, upper);
    const QString file = writeSource(fileSize);
    const QString url = m_store->presignedPutURL(QStringLiteral("upload-1/part-2"));

    Result<QString> etag = m_uploader.uploadPart(file, ByteRange{lower, upper}, url);
    QVERIFY2(etag, failureText(etag));

    const QByteArray expected = Test::patternBytes(fileSize, 7).mid(lower, upper - lower);
    QCOMPARE(m_store->object(QStringLiteral("upload-1/part-2")), std::optional(expected));
    QCOMPARE(*etag, *m_store->etag(QStringLiteral("upload-1/part-2")));
    QVERIFY(etag->startsWith(QLatin1Char('"')) && etag->endsWith(QLatin1Char('"')));

    const QList<Test::RecordedRequest> requests = m_store->requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].method, QByteArray("PUT"));
    QCOMPARE(requests[0].headers.value("Content-Length"), QByteArray::number(upper - lower));
    for (const char *ours :
         {"authorization", "content-type", "content-md5", "x-amz-checksum", "expect"})
        QVERIFY2(!requests[0].headers.contains(ours), ours);
}

void PresignedURLUploaderTests::emptyRangeSendsAnEmptyBodyAndStillNeedsAnETag()
{
    const QString file = writeSource(100);
    const QString url = m_store->presignedPutURL(QStringLiteral("empty"));

    Result<QString> etag = m_uploader.uploadPart(file, ByteRange{100, 100}, url);
    QVERIFY(etag);
    QCOMPARE(m_store->object(QStringLiteral("empty")), std::optional(QByteArray()));
    QCOMPARE(m_store->requests().at(0).headers.value("Content-Length"), QByteArray("0"));

    m_store->setPutBehaviour(answering(200, TestObjectStore::ETagMode::Missing));
    etag = m_uploader.uploadPart(file, ByteRange{0, 0}, url);
    QVERIFY(!etag);
    QCOMPARE(uploadStatus(etag.error()), -1);
}

void PresignedURLUploaderTests::rangeTheFileCannotFillSendsNothing_data()
{
    QTest::addColumn<qint64>("lower");
    QTest::addColumn<qint64>("upper");
    QTest::newRow("one byte past the end") << qint64(0) << qint64(1001);
    QTest::newRow("starts past the end") << qint64(2000) << qint64(3000);
    QTest::newRow("negative lower bound") << qint64(-10) << qint64(10);
    QTest::newRow("upper below lower") << qint64(10) << qint64(5);
}

void PresignedURLUploaderTests::rangeTheFileCannotFillSendsNothing()
{
    QFETCH(qint64, lower);
    QFETCH(qint64, upper);
    const QString file = writeSource(1000);
    Result<QString> etag = m_uploader.uploadPart(
        file, ByteRange{lower, upper}, m_store->presignedPutURL(QStringLiteral("part")));
    QVERIFY(!etag);
    QCOMPARE(uploadStatus(etag.error()), -1);
    QVERIFY(m_store->requests().isEmpty());
}

void PresignedURLUploaderTests::replyStatusAndETagDecideThePartOutcome_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<TestObjectStore::ETagMode>("etagMode");
    QTest::addColumn<int>("expectedFailure"); // 0: success
    using Mode = TestObjectStore::ETagMode;
    QTest::newRow("200 with ETag") << 200 << Mode::Quoted << 0;
    QTest::newRow("204 with ETag") << 204 << Mode::Quoted << 0;
    QTest::newRow("299 with ETag") << 299 << Mode::Quoted << 0;
    QTest::newRow("200 without ETag") << 200 << Mode::Missing << -1;
    QTest::newRow("200 with empty ETag") << 200 << Mode::Empty << -1;
    QTest::newRow("300") << 300 << Mode::Quoted << 300;
    QTest::newRow("403 expired URL") << 403 << Mode::Missing << 403;
    QTest::newRow("500") << 500 << Mode::Missing << 500;
}

void PresignedURLUploaderTests::replyStatusAndETagDecideThePartOutcome()
{
    QFETCH(int, status);
    QFETCH(TestObjectStore::ETagMode, etagMode);
    QFETCH(int, expectedFailure);
    m_store->setPutBehaviour(answering(status, etagMode));
    const QString file = writeSource(5000);

    Result<QString> etag = m_uploader.uploadPart(
        file, ByteRange{0, 5000}, m_store->presignedPutURL(QStringLiteral("part")));
    if (expectedFailure == 0) {
        QVERIFY2(etag, failureText(etag));
        QCOMPARE(*etag, *m_store->etag(QStringLiteral("part")));
    } else {
        QVERIFY(!etag);
        QCOMPARE(uploadStatus(etag.error()), expectedFailure);
    }
}

void PresignedURLUploaderTests::statusRulesAtTheBoundaries()
{
    // A 1xx reply never reaches us as final through curl, so the rule is checked directly.
    const QList<QString> one{QStringLiteral("\"a\"")};
    QCOMPARE(uploadStatus(presignedPartUploadResult(199, one).error()), 199);
    QCOMPARE(uploadStatus(presignedPartUploadResult(300, one).error()), 300);
    QCOMPARE(uploadStatus(presignedPartUploadResult(-1, one).error()), -1);
    QCOMPARE(presignedPartUploadResult(200, one).value(), QStringLiteral("\"a\""));
    QCOMPARE(presignedPartUploadResult(299, one).value(), QStringLiteral("\"a\""));
    // Two ETag fields name no single part.
    QCOMPARE(uploadStatus(
                 presignedPartUploadResult(200, {QStringLiteral("\"a\""), QStringLiteral("\"b\"")})
                     .error()),
             -1);
    QCOMPARE(uploadStatus(presignedFileUploadResult(199).error()), 199);
    QVERIFY(presignedFileUploadResult(204));
    QCOMPARE(PresignedURLUploadError{PresignedURLUploadError::UnexpectedStatus{404}},
             PresignedURLUploadError{PresignedURLUploadError::UnexpectedStatus{404}});
}

void PresignedURLUploaderTests::wholeFileIsStreamedAndNeedsNoETag()
{
    const QString file = writeSource(3 * mebibyte + 5, 11);
    m_store->setPutBehaviour(answering(200, TestObjectStore::ETagMode::Missing));

    Result<void> uploaded
        = m_uploader.uploadFile(file, m_store->presignedPutURL(QStringLiteral("preview.jpg")));
    QVERIFY2(uploaded, failureText(uploaded));
    QCOMPARE(m_store->object(QStringLiteral("preview.jpg")),
             std::optional(Test::patternBytes(3 * mebibyte + 5, 11)));

    m_store->setPutBehaviour(answering(300));
    uploaded = m_uploader.uploadFile(file, m_store->presignedPutURL(QStringLiteral("again")));
    QVERIFY(!uploaded);
    QCOMPARE(uploadStatus(uploaded.error()), 300);

    const QString missing = m_folder->filePath(QStringLiteral("missing.jpg"));
    uploaded = m_uploader.uploadFile(missing, m_store->presignedPutURL(QStringLiteral("x")));
    QVERIFY(!uploaded);
    QCOMPARE(uploaded.error().as<FileSystemError>()->code, ENOENT);
    QCOMPARE(m_store->requests().size(), 2);
}

void PresignedURLUploaderTests::progressIsCumulativeAndEndsAtTheLength()
{
    const qint64 length = 6 * mebibyte + 123;
    const QString file = writeSource(length + 10);
    QList<qint64> reports;
    const UploadProgress record = [&](qint64 sent) { reports.append(sent); };

    // Through the interface, as the importer calls it.
    const PresignedURLUploading &uploader = m_uploader;
    Result<QString> etag = uploader.uploadPart(
        file, ByteRange{10, 10 + length}, m_store->presignedPutURL(QStringLiteral("p")), record);
    QVERIFY(etag);
    QVERIFY(reports.size() > 1);
    QCOMPARE(reports.last(), length);
    for (qsizetype i = 1; i < reports.size(); ++i)
        QVERIFY(reports[i] > reports[i - 1]);
    QVERIFY(reports.first() > 0);

    reports.clear();
    QVERIFY(uploader.uploadFile(file, m_store->presignedPutURL(QStringLiteral("f")), record));
    QCOMPARE(reports.last(), length + 10);
}

void PresignedURLUploaderTests::fileFailingDuringTheUploadStopsIt()
{
    const QString file = writeSource(8 * mebibyte);
    const QString url = m_store->presignedPutURL(QStringLiteral("part"));

    // The file is cut short while its bytes are being sent.
    bool truncated = false;
    Result<QString> etag
        = m_uploader.uploadPart(file, ByteRange{0, 8 * mebibyte}, url, [&](qint64) {
              if (!truncated)
                  truncated = QFile::resize(file, 0);
          });
    QVERIFY(truncated);
    QVERIFY(!etag);
    QCOMPARE(uploadStatus(etag.error()), -1);
    QCOMPARE(m_store->object(QStringLiteral("part")), std::nullopt);

    // A read that fails part-way: the file system's error, nothing stored.
    writeSource(8 * mebibyte);
    auto files = std::make_shared<Test::FaultInjectingFileManager>();
    files->failOperation(Test::FileOperation::Read, EIO, QStringLiteral("IMG_0001"), 3);
    const CurlPresignedURLUploader uploader(files);
    etag = uploader.uploadPart(file, ByteRange{0, 8 * mebibyte}, url);
    QVERIFY(!etag);
    QCOMPARE(etag.error().as<FileSystemError>()->code, EIO);
    QCOMPARE(m_store->object(QStringLiteral("part")), std::nullopt);
}

void PresignedURLUploaderTests::resetConnectionIsATransportError()
{
    TestObjectStore::PutBehaviour reset;
    reset.resetAfterBytes = 256 * 1024;
    m_store->setPutBehaviour(reset);
    const QString file = writeSource(4 * mebibyte);

    Result<QString> etag = m_uploader.uploadPart(
        file, ByteRange{0, 4 * mebibyte}, m_store->presignedPutURL(QStringLiteral("part")));
    QVERIFY(!etag);
    QVERIFY2(etag.error().is<TransportError>(), qPrintable(describe(etag.error())));
    QCOMPARE(m_store->object(QStringLiteral("part")), std::nullopt);
}

void PresignedURLUploaderTests::stalledUploadEndsByCancellationOrIdleLimit()
{
    TestObjectStore::PutBehaviour stall;
    stall.stallAfterBytes = 64 * 1024;
    m_store->setPutBehaviour(stall);
    const QString file = writeSource(64 * mebibyte);
    const QString url = m_store->presignedPutURL(QStringLiteral("part"));

    std::stop_source stop;
    std::optional<Result<QString>> cancelled;
    std::thread worker([&] {
        cancelled.emplace(
            m_uploader.uploadPart(file, ByteRange{0, 64 * mebibyte}, url, stop.get_token()));
    });
    m_store->waitUntilStalled();
    stop.request_stop();
    worker.join();
    m_store->releaseStalls();
    QVERIFY(!*cancelled);
    const auto *transport = cancelled->error().as<TransportError>();
    QVERIFY2(transport, qPrintable(describe(cancelled->error())));
    QVERIFY(transport->cancelled);

    const CurlPresignedURLUploader impatient(std::make_shared<LocalFileManager>(),
                                             std::chrono::seconds(1));
    Result<QString> timedOut = impatient.uploadPart(file, ByteRange{0, 64 * mebibyte}, url);
    m_store->releaseStalls();
    QVERIFY(!timedOut);
    QVERIFY(timedOut.error().as<TransportError>()->timedOut);
    QCOMPARE(m_store->object(QStringLiteral("part")), std::nullopt);
}

void PresignedURLUploaderTests::onlyHttpTargetsAreUsed_data()
{
    QTest::addColumn<QString>("url"); // %1: a file beside the source; %2: the store's port
    QTest::newRow("file") << QStringLiteral("file://%1");
    QTest::newRow("ftp to a listening port") << QStringLiteral("ftp://127.0.0.1:%2/x");
    QTest::newRow("no scheme") << QStringLiteral("127.0.0.1:%2/objects/x");
    QTest::newRow("scheme-relative") << QStringLiteral("//127.0.0.1:%2/objects/x");
    QTest::newRow("empty") << QString();
}

void PresignedURLUploaderTests::onlyHttpTargetsAreUsed()
{
    QFETCH(QString, url);
    const QString file = writeSource(10);
    const QString other = m_folder->filePath(QStringLiteral("other"));
    url.replace(QStringLiteral("%1"), other)
        .replace(QStringLiteral("%2"), QString::number(m_store->port()));
    // Refused before the file is even opened.
    auto files = std::make_shared<Test::FaultInjectingFileManager>();
    files->failOperation(Test::FileOperation::OpenForReading, EIO, QStringLiteral("IMG_0001"));
    const CurlPresignedURLUploader uploader(files);

    Result<QString> etag = uploader.uploadPart(file, ByteRange{0, 10}, url);
    QVERIFY(!etag);
    QCOMPARE(uploadStatus(etag.error()), -1);
    Result<void> whole = uploader.uploadFile(file, url);
    QVERIFY(!whole);
    QCOMPARE(uploadStatus(whole.error()), -1);
    QVERIFY(!QFile::exists(other));
    QVERIFY(m_store->requests().isEmpty());

    // An http target that cannot be reached is a transport failure.
    etag = m_uploader.uploadPart(file, ByteRange{0, 10}, QStringLiteral("http://127.0.0.1:1/x"));
    QVERIFY2(!etag && etag.error().is<TransportError>(), failureText(etag));
}

void PresignedURLUploaderTests::redirectsKeepThePut_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("location");    // empty: the store's presigned URL
    QTest::addColumn<int>("expectedFailure"); // 0: success
    QTest::newRow("307 to the store") << 307 << QString() << 0;
    QTest::newRow("308 to the store") << 308 << QString() << 0;
    QTest::newRow("302 is not followed") << 302 << QString() << 302;
    QTest::newRow("307 to ftp") << 307 << QStringLiteral("ftp://127.0.0.1/x") << -1;
    QTest::newRow("308 to a file") << 308 << QStringLiteral("file:///tmp/x") << -1;
}

void PresignedURLUploaderTests::redirectsKeepThePut()
{
    QFETCH(int, status);
    QFETCH(QString, location);
    QFETCH(int, expectedFailure);
    const qint64 length = 3 * mebibyte + 17;
    const QString file = writeSource(length + 100);
    const QString stored = m_store->presignedPutURL(QStringLiteral("upload-1/part-1"));
    Test::TestBackend redirecting;
    redirecting.injectFault("PUT",
                            "/moved",
                            Test::TestBackend::Fault::reply(status).withHeader(
                                "Location", (location.isEmpty() ? stored : location).toUtf8()));
    QList<qint64> reports;

    Result<QString> etag = m_uploader.uploadPart(file,
                                                 ByteRange{100, 100 + length},
                                                 redirecting.url(QStringLiteral("/moved")),
                                                 [&](qint64 sent) { reports.append(sent); });
    QCOMPARE(redirecting.requests().size(), 1);
    QCOMPARE(redirecting.requests()[0].body.size(), length);
    if (expectedFailure != 0) {
        QVERIFY(!etag);
        QCOMPARE(uploadStatus(etag.error()), expectedFailure);
        QVERIFY(m_store->requests().isEmpty());
        return;
    }
    QVERIFY2(etag, failureText(etag));
    QCOMPARE(*etag, *m_store->etag(QStringLiteral("upload-1/part-1")));
    QCOMPARE(m_store->object(QStringLiteral("upload-1/part-1")),
             std::optional(Test::patternBytes(length + 100, 7).mid(100)));
    QCOMPARE(m_store->requests().at(0).method, QByteArray("PUT"));
    // The part went twice, but progress never went backwards.
    QCOMPARE(reports.last(), length);
    for (qsizetype i = 1; i < reports.size(); ++i)
        QVERIFY(reports[i] > reports[i - 1]);
}

void PresignedURLUploaderTests::uploaderWithoutProgressReportsOnceAfterSuccess()
{
    const QString file = writeSource(777);
    RecordingUploader recording;
    const PresignedURLUploading &uploader = recording;
    QList<qint64> reports;
    const UploadProgress record = [&](qint64 sent) { reports.append(sent); };

    QCOMPARE(uploader.uploadPart(file, ByteRange{100, 350}, QStringLiteral("u"), record).value(),
             QStringLiteral("\"etag\""));
    QVERIFY(uploader.uploadFile(file, QStringLiteral("u"), record));
    QCOMPARE(reports, (QList<qint64>{250, 777}));

    recording.failWith = Error(TransportError{7, false, false, QStringLiteral("refused")});
    QVERIFY(!uploader.uploadPart(file, ByteRange{0, 10}, QStringLiteral("u"), record));
    QVERIFY(!uploader.uploadFile(file, QStringLiteral("u"), record));
    QCOMPARE(reports.size(), 2);

    // The upload went through, but the size to report cannot be read.
    recording.failWith.reset();
    recording.removeFileWhileUploading = true;
    Result<void> uploaded = uploader.uploadFile(file, QStringLiteral("u"), record);
    QVERIFY(!uploaded);
    QCOMPARE(uploaded.error().as<FileSystemError>()->code, ENOENT);
    QCOMPARE(recording.calls, 5);
    QCOMPARE(reports.size(), 2);
}

QTEST_GUILESS_MAIN(PresignedURLUploaderTests)
#include "PresignedURLUploaderTests.moc"
