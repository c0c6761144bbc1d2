#include <PellwickCore/Backend/LibrarySessionClient.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <Support/ScriptedFetch.h>

using namespace Pellwick;
using E = LibrarySessionClientError;

class RestoreDownloadsTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void expiryDates_data();
    void expiryDates();
    void missingExpiriesAreTheDistantPast();
    void sidecarsAreOptionalButComplete();
    void emptyDownloadsKeepTheRequest();
    void bothFormsAgree();
    void bothFormsSendTheSameRequest();
    void invalidURLsFailTheReply_data();
    void invalidURLsFailTheReply();
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

QTEST_GUILESS_MAIN(RestoreDownloadsTests)
#include "RestoreDownloadsTests.moc"
