#include "RestoreTransferManifest.h"

#include <PellwickCore/Support/Json.h>

#include <QUrl>

namespace Pellwick {

namespace {

QJsonObject identifierObject(const RestoreTransferIdentifier &id)
{
    return QJsonObject{
        {QStringLiteral("artifact"), toRaw(id.artifact)},
        {QStringLiteral("libraryItemID"), id.libraryItemID},
        {QStringLiteral("restoreRequestID"), id.restoreRequestID},
    };
}

Result<RestoreTransferIdentifier> readIdentifier(const Json::ObjectReader &reader)
{
    RestoreTransferIdentifier id;
    Result<qint64> request = reader.integer(QStringLiteral("restoreRequestID"));
    if (!request)
        return tl::unexpected<Error>(std::move(request).error());
    Result<qint64> item = reader.integer(QStringLiteral("libraryItemID"));
    if (!item)
        return tl::unexpected<Error>(std::move(item).error());
    id.restoreRequestID = *request;
    id.libraryItemID = *item;
    if (reader.has(QStringLiteral("artifact"))) {
        Result<RestoreTransferArtifact> artifact
            = Json::readRawValue(reader,
                                 QStringLiteral("artifact"),
                                 QStringLiteral("RestoreTransferArtifact"),
                                 restoreTransferArtifactFromRaw);
        if (!artifact)
            return tl::unexpected<Error>(std::move(artifact).error());
        id.artifact = *artifact;
    }
    return id;
}

Result<RestoreByteRange> readRange(const QJsonValue &value, const QString &path)
{
    Result<QJsonObject> object = Json::readObject(value, path);
    if (!object)
        return tl::unexpected<Error>(std::move(object).error());
    const Json::ObjectReader reader(*object, path);
    Result<qint64> start = reader.integer(QStringLiteral("start"));
    if (!start)
        return tl::unexpected<Error>(std::move(start).error());
    Result<qint64> end = reader.integer(QStringLiteral("endInclusive"));
    if (!end)
        return tl::unexpected<Error>(std::move(end).error());
    return RestoreByteRange{*start, *end};
}

/// The local path of a file URL's text; anything else cannot name a destination.
Result<QString> readFileURL(const Json::ObjectReader &reader, const QString &key)
{
    Result<QString> text = reader.string(key);
    if (!text)
        return tl::unexpected<Error>(std::move(text).error());
    const QUrl url(*text, QUrl::StrictMode);
    if (!url.isValid() || !url.isLocalFile() || url.toLocalFile().isEmpty())
        return failure(
            Json::dataCorrupted(reader.keyPath(key), QStringLiteral("Invalid file URL string.")));
    return url.toLocalFile();
}

} // namespace

qint64 RestoreTransferManifest::completedByteCount() const
{
    qint64 sum = 0;
    for (const RestoreByteRange &range : completedRanges)
        sum = saturatingByteSum(sum, range.byteCount());
    return sum;
}

Result<QByteArray> RestoreTransferManifest::encoded() const
{
    QJsonArray ranges;
    for (const RestoreByteRange &range : completedRanges) {
        ranges.append(QJsonObject{
            {QStringLiteral("endInclusive"), range.endInclusive},
            {QStringLiteral("start"), range.start},
        });
    }
    const QJsonObject object{
        {QStringLiteral("canonicalFilename"), canonicalFilename},
        {QStringLiteral("capabilityExpiresAt"), capabilityExpiresAt.secondsSinceReferenceDate},
        {QStringLiteral("completedRanges"), ranges},
        {QStringLiteral("destinationURL"),
         QUrl::fromLocalFile(destinationPath).toString(QUrl::FullyEncoded)},
        {QStringLiteral("expectedByteCount"), expectedByteCount},
        {QStringLiteral("expectedContentHash"), expectedContentHash},
        {QStringLiteral("id"), identifierObject(id)},
        {QStringLiteral("isComplete"), isComplete},
        {QStringLiteral("transferURL"), transferURL},
    };
    return Json::serialize(object, Json::Format::Pretty);
}

Result<RestoreTransferManifest> RestoreTransferManifest::decode(const QByteArray &data)
{
    Result<QJsonObject> object = Json::parseObject(data);
    if (!object)
        return tl::unexpected<Error>(std::move(object).error());
    const Json::ObjectReader reader(*object);
    RestoreTransferManifest manifest;

    Result<QString> filename = reader.string(QStringLiteral("canonicalFilename"));
    if (!filename)
        return tl::unexpected<Error>(std::move(filename).error());
    Result<double> expiry = reader.number(QStringLiteral("capabilityExpiresAt"));
    if (!expiry)
        return tl::unexpected<Error>(std::move(expiry).error());
    Result<QList<RestoreByteRange>> ranges
        = reader.elements<RestoreByteRange>(QStringLiteral("completedRanges"), readRange);
    if (!ranges)
        return tl::unexpected<Error>(std::move(ranges).error());
    Result<QString> destination = readFileURL(reader, QStringLiteral("destinationURL"));
    if (!destination)
        return tl::unexpected<Error>(std::move(destination).error());
    Result<qint64> byteCount = reader.integer(QStringLiteral("expectedByteCount"));
    if (!byteCount)
        return tl::unexpected<Error>(std::move(byteCount).error());
    Result<QString> hash = reader.string(QStringLiteral("expectedContentHash"));
    if (!hash)
        return tl::unexpected<Error>(std::move(hash).error());
    Result<Json::ObjectReader> idReader = reader.object(QStringLiteral("id"));
    if (!idReader)
        return tl::unexpected<Error>(std::move(idReader).error());
    Result<RestoreTransferIdentifier> id = readIdentifier(*idReader);
    if (!id)
        return tl::unexpected<Error>(std::move(id).error());
    Result<bool> complete = reader.boolean(QStringLiteral("isComplete"));
    if (!complete)
        return tl::unexpected<Error>(std::move(complete).error());
    Result<QString> transferURL = reader.string(QStringLiteral("transferURL"));
    if (!transferURL)
        return tl::unexpected<Error>(std::move(transferURL).error());
    if (transferURL->isEmpty())
        return failure(Json::dataCorrupted(reader.keyPath(QStringLiteral("transferURL")),
                                           QStringLiteral("Invalid URL string.")));

    manifest.id = *id;
    manifest.canonicalFilename = *filename;
    manifest.destinationPath = *destination;
    manifest.expectedByteCount = *byteCount;
    manifest.expectedContentHash = *hash;
    manifest.transferURL = *transferURL;
    manifest.capabilityExpiresAt = Date{*expiry};
    manifest.completedRanges = *ranges;
    manifest.isComplete = *complete;
    return manifest;
}

} // namespace Pellwick
