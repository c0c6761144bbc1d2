#include <PellwickCore/Backend/CurlFetch.h>
#include <PellwickCore/Backend/LibrarySessionClient.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <thread>

#include <Support/ScriptedFetch.h>
#include <Support/TestBackend/TestBackend.h>
#include <Support/TestFiles.h>
#include <Support/TestObjectStore.h>

using namespace Pellwick;
using E = LibrarySessionClientError;

class RestoreDownloadsTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void expiryDates_data();
    void expiryDates();
    void missingExpiriesAreTheDistantPast();
    void sidecarsAreOptionalButComplete();
    void emptyDownloadsKeepTheRequest();
    void bothFormsAgree();
    void bothFormsSendTheSameRequest();
    void invalidURLsFailTheReply_data();
    void invalidURLsFailTheReply();
    void capabilitiesThroughCurl();
    void missingExpiriesThroughCurl();
    void rangedGetsReturnExactlyTheRange_data();
    void rangedGetsReturnExactlyTheRange();
    void objectStoreFaultsAreObservable();
    void stalledGetCanBeCancelled();
    void expiredOrAlteredURLsAreRefused();
};

namespace {

const QString token = QStringLiteral("session-token");
const QUrl baseURL(QStringLiteral("https://backend.example"));

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QJsonObject readyRequestJson(qint64 id = 12)
{
    return {{QStringLiteral("id"), id},
            {QStringLiteral("status"), QStringLiteral("ready")},
            {QStringLiteral("byte_count"), 3000},
            {QStringLiteral("items"), QJsonArray()}};
}

QJsonObject downloadJson(qint64 libraryItemID)
{
    return {{QStringLiteral("library_item_id"), libraryItemID},
            {QStringLiteral("canonical_filename"), QStringLiteral("IMG_%1.CR3").arg(libraryItemID)},
            {QStringLiteral("byte_count"), 1000 + libraryItemID},
            {QStringLiteral("download_url"),
             QStringLiteral("https://objects.example/raw/%1?X-Sig=a%2Fb&X-Expires=60")
                 .arg(libraryItemID)}};
}

QJsonObject sidecarJson()
{
    return {{QStringLiteral("canonical_filename"), QStringLiteral("IMG_1.xmp")},
            {QStringLiteral("byte_count"), 512},
            {QStringLiteral("content_hash"), QStringLiteral("ab12")},
            {QStringLiteral("download_url"), QStringLiteral("https://objects.example/xmp/1")}};
}

QByteArray reply(const QJsonArray &downloads)
{
    return json({{QStringLiteral("restore_request"), readyRequestJson()},
                 {QStringLiteral("downloads"), downloads}});
}

Date utc(const QString &isoText)
{
    return Date::fromDateTime(QDateTime::fromString(isoText, Qt::ISODateWithMs));
}

template<typename T>
const DecodingError *decodingError(const Result<T> &result)
{
    return result ? nullptr : result.error().template as<DecodingError>();
}

} // namespace

void RestoreDownloadsTests::initTestCase()
{
    CurlFetch::initializeGlobally();
}

void RestoreDownloadsTests::expiryDates_data()
{
    QTest::addColumn<QJsonValue>("written");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<Date>("expected");
    QTest::addColumn<DecodingError::Kind>("kind");
    const auto ok = DecodingError::Kind::DataCorrupted; // unused for accepted rows

    QTest::newRow("fractional") << QJsonValue(QStringLiteral("2025-03-01T12:00:00.250Z")) << true
                                << utc(QStringLiteral("2025-03-01T12:00:00.250Z")) << ok;
    QTest::newRow("whole seconds") << QJsonValue(QStringLiteral("2025-03-01T12:00:00Z")) << true
                                   << utc(QStringLiteral("2025-03-01T12:00:00Z")) << ok;
    QTest::newRow("offset") << QJsonValue(QStringLiteral("2025-03-01T12:00:00+02:00")) << true
                            << utc(QStringLiteral("2025-03-01T10:00:00Z")) << ok;
    QTest::newRow("date without time") << QJsonValue(QStringLiteral("2025-03-01")) << false
                                       << Date{} << DecodingError::Kind::DataCorrupted;
    QTest::newRow("blank separator, no zone")
        << QJsonValue(QStringLiteral("2025-03-01 12:00:00")) << false << Date{}
        << DecodingError::Kind::DataCorrupted;
    QTest::newRow("number") << QJsonValue(1740830400) << false << Date{}
                            << DecodingError::Kind::TypeMismatch;
}

void RestoreDownloadsTests::expiryDates()
{
    QFETCH(QJsonValue, written);
    QFETCH(bool, accepted);
    QFETCH(Date, expected);
    QFETCH(DecodingError::Kind, kind);

    // The bad date sits in the second entry's sidecar: it must fail the whole reply.
    QJsonObject sidecar = sidecarJson();
    sidecar.insert(QStringLiteral("capability_expires_at"), written);
    QJsonObject second = downloadJson(2);
    second.insert(QStringLiteral("sidecar"), sidecar);
    const QByteArray body = reply({downloadJson(1), second});
    Test::ScriptedFetch fetch;
    fetch.reply(200, body).reply(200, body);
    const LibrarySessionClient client(baseURL, fetch.function());

    Result<RestoreTransferCapabilities> capabilities
        = client.restoreTransferCapabilities(token, 12);
    Result<RestoreDownloads> downloads = client.restoreDownloads(token, 12);
    QCOMPARE(bool(capabilities), accepted);
    QCOMPARE(bool(downloads), accepted);
    if (accepted) {
        QCOMPARE(capabilities->transfers.at(1).sidecar->expiresAt.secondsSinceReferenceDate,
                 expected.secondsSinceReferenceDate);
        return;
    }
    for (const DecodingError *error : {decodingError(capabilities), decodingError(downloads)}) {
        QVERIFY(error);
        QCOMPARE(error->kind, kind);
        QCOMPARE(error->keyPath, QStringLiteral("downloads[1].sidecar.capability_expires_at"));
        if (kind == DecodingError::Kind::DataCorrupted)
            QCOMPARE(error->description, QStringLiteral("Expected ISO 8601 date string"));
    }
}

void RestoreDownloadsTests::missingExpiriesAreTheDistantPast()
{
    const QString rawExpiry = QStringLiteral("2030-01-01T00:00:00Z");
    const QString sidecarExpiry = QStringLiteral("2031-01-01T00:00:00Z");
    QJsonObject rawOnly = downloadJson(1);
    rawOnly.insert(QStringLiteral("capability_expires_at"), rawExpiry);
    rawOnly.insert(QStringLiteral("sidecar"), sidecarJson());
    QJsonObject sidecarOnly = downloadJson(2);
    sidecarOnly.insert(QStringLiteral("capability_expires_at"), QJsonValue::Null);
    QJsonObject sidecar = sidecarJson();
    sidecar.insert(QStringLiteral("capability_expires_at"), sidecarExpiry);
    sidecarOnly.insert(QStringLiteral("sidecar"), sidecar);
    QJsonObject neither = downloadJson(3);
    QJsonObject nullSidecarExpiry = sidecarJson();
    nullSidecarExpiry.insert(QStringLiteral("capability_expires_at"), QJsonValue::Null);
    neither.insert(QStringLiteral("sidecar"), nullSidecarExpiry);

    Test::ScriptedFetch fetch;
    fetch.reply(200, reply({rawOnly, sidecarOnly, neither}));
    const LibrarySessionClient client(baseURL, fetch.function());
    Result<RestoreTransferCapabilities> capabilities
        = client.restoreTransferCapabilities(token, 12);
    QVERIFY2(capabilities, qPrintable(capabilities ? QString() : describe(capabilities.error())));
    const QList<RestoreTransferCapability> &transfers = capabilities->transfers;
    QCOMPARE(transfers.size(), 3);

    // Neither expiry falls back to the other.
    QCOMPARE(transfers.at(0).expiresAt, utc(rawExpiry));
    QCOMPARE(transfers.at(0).sidecar->expiresAt, Date::distantPast());
    QCOMPARE(transfers.at(1).expiresAt, Date::distantPast());
    QCOMPARE(transfers.at(1).sidecar->expiresAt, utc(sidecarExpiry));
    QCOMPARE(transfers.at(2).expiresAt, Date::distantPast());
    QCOMPARE(transfers.at(2).sidecar->expiresAt, Date::distantPast());
    // Earlier than any clock reading, also one read long ago.
    QVERIFY(Date::distantPast() < utc(QStringLiteral("1900-01-01T00:00:00Z")));
}

void RestoreDownloadsTests::sidecarsAreOptionalButComplete()
{
    QJsonObject nullSidecar = downloadJson(1);
    nullSidecar.insert(QStringLiteral("sidecar"), QJsonValue::Null);
    QJsonObject withSidecar = downloadJson(2);
    withSidecar.insert(QStringLiteral("sidecar"), sidecarJson());
    QJsonObject incomplete = sidecarJson();
    incomplete.remove(QStringLiteral("content_hash"));
    QJsonObject withIncomplete = downloadJson(3);
    withIncomplete.insert(QStringLiteral("sidecar"), incomplete);

    Test::ScriptedFetch fetch;
    fetch.reply(200, reply({nullSidecar, withSidecar, downloadJson(4)}))
        .reply(200, reply({withSidecar, withIncomplete}));
    const LibrarySessionClient client(baseURL, fetch.function());

    Result<RestoreTransferCapabilities> capabilities
        = client.restoreTransferCapabilities(token, 12);
    QVERIFY(capabilities);
    QCOMPARE(capabilities->transfers.at(0).sidecar, std::nullopt);
    QCOMPARE(capabilities->transfers.at(2).sidecar, std::nullopt);
    const RestoreTransferCapabilityFile expected{QStringLiteral("IMG_1.xmp"),
                                                 512,
                                                 QStringLiteral("ab12"),
                                                 QStringLiteral("https://objects.example/xmp/1"),
                                                 Date::distantPast()};
    QCOMPARE(capabilities->transfers.at(1).sidecar, std::optional(expected));

    Result<RestoreTransferCapabilities> failed = client.restoreTransferCapabilities(token, 12);
    QVERIFY(decodingError(failed));
    QCOMPARE(decodingError(failed)->kind, DecodingError::Kind::KeyNotFound);
    QCOMPARE(decodingError(failed)->keyPath, QStringLiteral("downloads[1].sidecar.content_hash"));
}

void RestoreDownloadsTests::emptyDownloadsKeepTheRequest()
{
    Test::ScriptedFetch fetch;
    fetch.reply(200, reply({})).reply(200, reply({}));
    const LibrarySessionClient client(baseURL, fetch.function());

    Result<RestoreDownloads> downloads = client.restoreDownloads(token, 12);
    Result<RestoreTransferCapabilities> capabilities
        = client.restoreTransferCapabilities(token, 12);
    QVERIFY(downloads && capabilities);
    QVERIFY(downloads->downloads.isEmpty());
    QVERIFY(capabilities->transfers.isEmpty());
    const RestoreRequest expected{12, RestoreRequestStatus::Ready, 3000, {}, {}, {}};
    QCOMPARE(downloads->restoreRequest, expected);
    QCOMPARE(capabilities->restoreRequest, expected);
}

void RestoreDownloadsTests::bothFormsAgree()
{
    QJsonObject first = downloadJson(8);
    first.insert(QStringLiteral("capability_expires_at"), QStringLiteral("2030-01-01T00:00:00Z"));
    first.insert(QStringLiteral("sidecar"), sidecarJson());
    const QByteArray body = reply({first, downloadJson(5), downloadJson(8)});
    Test::ScriptedFetch fetch;
    fetch.reply(200, body).reply(200, body);
    const LibrarySessionClient client(baseURL, fetch.function());

    Result<RestoreDownloads> downloads = client.restoreDownloads(token, 12);
    Result<RestoreTransferCapabilities> capabilities
        = client.restoreTransferCapabilities(token, 12);
    QVERIFY(downloads && capabilities);
    QCOMPARE(downloads->restoreRequest, capabilities->restoreRequest);
    QCOMPARE(downloads->downloads.size(), 3);
    QCOMPARE(capabilities->transfers.size(), 3);
    for (qsizetype i = 0; i < 3; ++i) {
        const RestoreDownload &download = downloads->downloads.at(i);
        const RestoreTransferCapability &transfer = capabilities->transfers.at(i);
        QCOMPARE(download.libraryItemID, transfer.libraryItemID);
        QCOMPARE(download.canonicalFilename, transfer.canonicalFilename);
        QCOMPARE(download.byteCount, transfer.byteCount);
        QCOMPARE(download.downloadURL, transfer.transferURL);
    }
    // The presigned URL is kept exactly as sent, escapes included.
    QCOMPARE(downloads->downloads.at(1).downloadURL,
             QStringLiteral("https://objects.example/raw/5?X-Sig=a%2Fb&X-Expires=60"));
    QCOMPARE(downloads->downloads.at(0).libraryItemID, 8);
    QCOMPARE(downloads->downloads.at(1).libraryItemID, 5);
}

void RestoreDownloadsTests::bothFormsSendTheSameRequest()
{
    Test::ScriptedFetch fetch;
    fetch.reply(201, reply({})).reply(201, reply({}));
    const LibrarySessionClient client(baseURL, fetch.function());

    Result<RestoreDownloads> downloads = client.restoreDownloads(token, 12);
    Result<RestoreTransferCapabilities> capabilities
        = client.restoreTransferCapabilities(token, 12);
    // Only 200 is accepted; the 201 body is no restore failure body either.
    QVERIFY(!downloads && !capabilities);
    QCOMPARE(downloads.error(), Error(E{E::UnexpectedStatus{201}}));
    QCOMPARE(capabilities.error(), Error(E{E::UnexpectedStatus{201}}));

    const QList<HttpRequest> sent = fetch.requests();
    QCOMPARE(sent.size(), 2);
    QCOMPARE(sent.at(0), sent.at(1));
    QCOMPARE(sent.at(0).method, std::optional<QByteArray>("POST"));
    QCOMPARE(sent.at(0).url,
             QStringLiteral("https://backend.example/api/library/restore_requests/12/downloads"));
    QCOMPARE(sent.at(0).body, std::nullopt);
    QVERIFY(!sent.at(0).headers.contains("Content-Type"));
}

void RestoreDownloadsTests::invalidURLsFailTheReply_data()
{
    QTest::addColumn<QJsonValue>("url");
    QTest::addColumn<DecodingError::Kind>("kind");
    QTest::newRow("not a URL") << QJsonValue(QStringLiteral("http://exa mple.com/x"))
                               << DecodingError::Kind::DataCorrupted;
    QTest::newRow("empty") << QJsonValue(QString()) << DecodingError::Kind::DataCorrupted;
    QTest::newRow("number") << QJsonValue(5) << DecodingError::Kind::TypeMismatch;
    QTest::newRow("null") << QJsonValue(QJsonValue::Null) << DecodingError::Kind::ValueNotFound;
}

void RestoreDownloadsTests::invalidURLsFailTheReply()
{
    QFETCH(QJsonValue, url);
    QFETCH(DecodingError::Kind, kind);
    QJsonObject download = downloadJson(1);
    download.insert(QStringLiteral("download_url"), url);
    Test::ScriptedFetch fetch;
    fetch.reply(200, reply({downloadJson(2), download}));
    const LibrarySessionClient client(baseURL, fetch.function());

    Result<RestoreDownloads> downloads = client.restoreDownloads(token, 12);
    QVERIFY(decodingError(downloads));
    QCOMPARE(decodingError(downloads)->kind, kind);
    QCOMPARE(decodingError(downloads)->keyPath, QStringLiteral("downloads[1].download_url"));
}

namespace {

const QString email = QStringLiteral("ada@example.test");

/// An archived RAW original as the test put it into the backend.
struct Archived
{
    qint64 libraryItemID = 0;
    QString canonicalFilename;
    QByteArray content;
    std::optional<Test::TestBackend::ArchivedFile> sidecar;
};

/// A ready Restore Request of two archived RAW originals, the first with a sidecar, on a test
/// backend whose downloads point at its object store.
struct LiveRestore
{
    Test::TestBackend backend;
    Test::TestObjectStore &store = backend.objectStore();
    LibrarySessionClient client{backend.baseURL(), CurlFetch()};
    QString token;
    Archived withSidecar;
    Archived plain;
    qint64 requestID = 0;

    LiveRestore()
    {
        Test::TestBackend::Account account;
        account.email = email;
        backend.addAccount(account);
        token = backend.issueToken(email);
        withSidecar = archive(QStringLiteral("2024-06-01_0001.NEF"),
                              Test::patternBytes(300'000, 1),
                              Test::TestBackend::ArchivedFile{QStringLiteral("2024-06-01_0001.xmp"),
                                                              Test::patternBytes(700, 2)});
        plain = archive(QStringLiteral("2024-06-01_0002.NEF"), Test::patternBytes(5000, 3));
        Result<RestoreRequest> created
            = client.createRestoreRequest(token, {withSidecar.libraryItemID, plain.libraryItemID});
        if (!created)
            qFatal("%s", qPrintable(describe(created.error())));
        requestID = created->id;
        backend.setRestoreRequestStatus(requestID, RestoreRequestStatus::Ready);
    }

    Archived archive(const QString &name,
                     const QByteArray &content,
                     const std::optional<Test::TestBackend::ArchivedFile> &sidecar = std::nullopt)
    {
        const Test::TestBackend::LibraryItem item
            = backend.addArchivedItem(email, {name, content}, sidecar);
        return Archived{item.id, name, content, sidecar};
    }

    RestoreTransferCapability capability()
    {
        Result<RestoreTransferCapabilities> capabilities
            = client.restoreTransferCapabilities(token, requestID);
        if (!capabilities)
            qFatal("%s", qPrintable(describe(capabilities.error())));
        return capabilities->transfers.first();
    }
};

Result<HttpResponse> get(const QString &url,
                         const std::optional<QByteArray> &range = std::nullopt,
                         std::stop_token stop = {})
{
    HttpRequest request;
    request.url = url;
    if (range)
        request.headers.set("Range", *range);
    return CurlFetch()(request, std::move(stop));
}

} // namespace

void RestoreDownloadsTests::capabilitiesThroughCurl()
{
    LiveRestore live;
    const Date before = Date::now();
    Result<RestoreTransferCapabilities> capabilities
        = live.client.restoreTransferCapabilities(live.token, live.requestID);
    const Date after = Date::now();
    QVERIFY2(capabilities, qPrintable(capabilities ? QString() : describe(capabilities.error())));
    QCOMPARE(capabilities->restoreRequest, *live.backend.restoreRequest(live.requestID));
    QCOMPARE(capabilities->transfers.size(), 2);

    const RestoreTransferCapability &first = capabilities->transfers.at(0);
    QCOMPARE(first.libraryItemID, live.withSidecar.libraryItemID);
    QCOMPARE(first.canonicalFilename, live.withSidecar.canonicalFilename);
    QCOMPARE(first.byteCount, live.withSidecar.content.size());
    // Fifteen minutes from the reply, written to the millisecond.
    QVERIFY(first.expiresAt >= before.addingSeconds(900 - 0.001));
    QVERIFY(first.expiresAt <= after.addingSeconds(900 + 0.001));
    QVERIFY(first.sidecar);
    QCOMPARE(first.sidecar->canonicalFilename, live.withSidecar.sidecar->canonicalFilename);
    QCOMPARE(first.sidecar->byteCount, 700);
    QCOMPARE(first.sidecar->contentHash, Test::referenceSha256(live.withSidecar.sidecar->content));
    QCOMPARE(first.sidecar->expiresAt, first.expiresAt);
    QCOMPARE(capabilities->transfers.at(1).sidecar, std::nullopt);

    // The URLs are used exactly as handed out; the store refuses any that were re-encoded.
    Result<HttpResponse> raw = get(first.transferURL);
    QVERIFY(raw);
    QCOMPARE(raw->statusCode, std::optional(200));
    QCOMPARE(raw->body, live.withSidecar.content);
    Result<HttpResponse> sidecar = get(first.sidecar->transferURL);
    QVERIFY(sidecar);
    QCOMPARE(sidecar->body, live.withSidecar.sidecar->content);

    Result<RestoreDownloads> downloads = live.client.restoreDownloads(live.token, live.requestID);
    QVERIFY(downloads);
    QCOMPARE(downloads->downloads.size(), 2);
    QCOMPARE(downloads->downloads.at(1).libraryItemID, live.plain.libraryItemID);
    QCOMPARE(downloads->downloads.at(1).byteCount, 5000);
    Result<HttpResponse> plain = get(downloads->downloads.at(1).downloadURL);
    QVERIFY(plain);
    QCOMPARE(plain->body, live.plain.content);
}

void RestoreDownloadsTests::missingExpiriesThroughCurl()
{
    LiveRestore live;
    live.backend.setDownloadLifetime(std::nullopt);
    const RestoreTransferCapability capability = live.capability();
    QCOMPARE(capability.expiresAt, Date::distantPast());
    QCOMPARE(capability.sidecar->expiresAt, Date::distantPast());
    Result<HttpResponse> raw = get(capability.transferURL, "bytes=0-0");
    QVERIFY(raw);
    QCOMPARE(raw->statusCode, std::optional(206));
}

void RestoreDownloadsTests::rangedGetsReturnExactlyTheRange_data()
{
    QTest::addColumn<QByteArray>("range");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("contentRange");
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<qint64>("length");
    const qint64 size = 300'000;
    QTest::newRow("first bytes") << QByteArray("bytes=0-9") << 206 << QByteArray("bytes 0-9/300000")
                                 << qint64(0) << qint64(10);
    QTest::newRow("middle") << QByteArray("bytes=65536-131071") << 206
                            << QByteArray("bytes 65536-131071/300000") << qint64(65536)
                            << qint64(65536);
    QTest::newRow("last byte") << QByteArray("bytes=299999-299999") << 206
                               << QByteArray("bytes 299999-299999/300000") << size - 1 << qint64(1);
    QTest::newRow("open end") << QByteArray("bytes=250000-") << 206
                              << QByteArray("bytes 250000-299999/300000") << qint64(250000)
                              << qint64(50000);
    QTest::newRow("suffix") << QByteArray("bytes=-100") << 206
                            << QByteArray("bytes 299900-299999/300000") << size - 100
                            << qint64(100);
    QTest::newRow("end past the size is cut")
        << QByteArray("bytes=299990-400000") << 206 << QByteArray("bytes 299990-299999/300000")
        << size - 10 << qint64(10);
    QTest::newRow("start at the size") << QByteArray("bytes=300000-300009") << 416
                                       << QByteArray("bytes */300000") << qint64(0) << qint64(0);
    QTest::newRow("start far past the end")
        << QByteArray("bytes=900000-") << 416 << QByteArray("bytes */300000") << qint64(0)
        << qint64(0);
    QTest::newRow("empty suffix") << QByteArray("bytes=-0") << 416 << QByteArray("bytes */300000")
                                  << qint64(0) << qint64(0);
    // The server library refuses a malformed range before the store sees it, without a
    // Content-Range.
    QTest::newRow("reversed") << QByteArray("bytes=20-10") << 416 << QByteArray() << qint64(0)
                              << qint64(0);
    QTest::newRow("several ranges") << QByteArray("bytes=0-1,5-6") << 416
                                    << QByteArray("bytes */300000") << qint64(0) << qint64(0);
}

void RestoreDownloadsTests::rangedGetsReturnExactlyTheRange()
{
    QFETCH(QByteArray, range);
    QFETCH(int, status);
    QFETCH(QByteArray, contentRange);
    QFETCH(qint64, offset);
    QFETCH(qint64, length);
    LiveRestore live;
    const RestoreTransferCapability capability = live.capability();

    Result<HttpResponse> reply = get(capability.transferURL, range);
    QVERIFY2(reply, qPrintable(reply ? QString() : describe(reply.error())));
    QCOMPARE(reply->statusCode, std::optional(status));
    QCOMPARE(reply->headers.value("Content-Range"),
             contentRange.isEmpty() ? std::nullopt : std::optional(contentRange));
    if (status == 206) {
        QCOMPARE(reply->headers.value("Content-Length"), std::optional(QByteArray::number(length)));
        QCOMPARE(reply->body, live.withSidecar.content.mid(offset, length));
    }
}

void RestoreDownloadsTests::objectStoreFaultsAreObservable()
{
    using Fault = Test::TestObjectStore::GetFault;
    LiveRestore live;
    const QString url = live.capability().transferURL;
    const QByteArray expected = live.withSidecar.content.mid(1000, 5000);

    live.store.setGetFault(Fault::IgnoreRange);
    Result<HttpResponse> whole = get(url, "bytes=1000-5999");
    QVERIFY(whole);
    QCOMPARE(whole->statusCode, std::optional(200));
    QVERIFY(!whole->headers.contains("Content-Range"));
    QCOMPARE(whole->body, live.withSidecar.content);

    live.store.setGetFault(Fault::WrongBytes);
    Result<HttpResponse> wrong = get(url, "bytes=1000-5999");
    QVERIFY(wrong);
    QCOMPARE(wrong->statusCode, std::optional(206));
    QCOMPARE(wrong->headers.value("Content-Range"),
             std::optional<QByteArray>("bytes 1000-5999/300000"));
    QCOMPARE(wrong->body.size(), expected.size());
    QVERIFY(wrong->body != expected);

    live.store.setGetFault(Fault::ShortBody);
    Result<HttpResponse> shortBody = get(url, "bytes=1000-5999");
    QVERIFY(!shortBody);
    QVERIFY(shortBody.error().is<TransportError>());
    QCOMPARE(shortBody.error().as<TransportError>()->curlCode, 18); // a partial transfer

    live.store.setGetFault(Fault::Expired);
    Result<HttpResponse> expired = get(url, "bytes=1000-5999");
    QVERIFY(expired);
    QCOMPARE(expired->statusCode, std::optional(403));

    live.store.setGetFault(Fault::None);
    Result<HttpResponse> healed = get(url, "bytes=1000-5999");
    QVERIFY(healed);
    QCOMPARE(healed->statusCode, std::optional(206));
    QCOMPARE(healed->body, expected);
}

void RestoreDownloadsTests::stalledGetCanBeCancelled()
{
    LiveRestore live;
    const QString url = live.capability().transferURL;
    live.store.setGetFault(Test::TestObjectStore::GetFault::Stall);

    std::stop_source stop;
    Result<HttpResponse> stalled = HttpResponse::notHttp();
    std::thread worker([&] { stalled = get(url, "bytes=0-99999", stop.get_token()); });
    live.store.waitUntilStalled();
    stop.request_stop();
    worker.join();
    live.store.releaseStalls();

    QVERIFY(!stalled);
    QVERIFY(stalled.error().is<TransportError>());
    QVERIFY(stalled.error().as<TransportError>()->cancelled);
}

void RestoreDownloadsTests::expiredOrAlteredURLsAreRefused()
{
    LiveRestore live;
    live.backend.setDownloadLifetime(std::chrono::seconds(-60));
    const RestoreTransferCapability capability = live.capability();
    QVERIFY(capability.expiresAt <= Date::now());
    Result<HttpResponse> expired = get(capability.transferURL, "bytes=0-9");
    QVERIFY(expired);
    QCOMPARE(expired->statusCode, std::optional(403));

    live.backend.setDownloadLifetime(std::chrono::minutes(5));
    const QString url = live.capability().transferURL;
    QVERIFY(url.contains(QStringLiteral("%2F")));
    QString reencoded = url;
    reencoded.replace(QStringLiteral("%2F"), QStringLiteral("/"));
    Result<HttpResponse> altered = get(reencoded, "bytes=0-9");
    QVERIFY(altered);
    QCOMPARE(altered->statusCode, std::optional(403));
    Result<HttpResponse> intact = get(url, "bytes=0-9");
    QVERIFY(intact);
    QCOMPARE(intact->statusCode, std::optional(206));
}

QTEST_GUILESS_MAIN(RestoreDownloadsTests)
#include "RestoreDownloadsTests.moc"
