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
    PELLWICK_TRY_ASSIGN(id.restoreRequestID, reader.integer(QStringLiteral("restoreRequestID")));
    PELLWICK_TRY_ASSIGN(id.libraryItemID, reader.integer(QStringLiteral("libraryItemID")));
    if (reader.has(QStringLiteral("artifact"))) {
        PELLWICK_TRY_ASSIGN(id.artifact,
                            Json::readRawValue(reader,
                                               QStringLiteral("artifact"),
                                               QStringLiteral("RestoreTransferArtifact"),
                                               restoreTransferArtifactFromRaw));
    }
    return id;
}

Result<RestoreByteRange> readRange(const QJsonValue &value, const QString &path)
{
    PELLWICK_TRY_ASSIGN(QJsonObject object, Json::readObject(value, path));
    const Json::ObjectReader reader(object, path);
    PELLWICK_TRY_ASSIGN(qint64 start, reader.integer(QStringLiteral("start")));
    PELLWICK_TRY_ASSIGN(qint64 end, reader.integer(QStringLiteral("endInclusive")));
    return RestoreByteRange{start, end};
}

/// The local path of a file URL's text; anything else cannot name a destination.
Result<QString>
fileURLPath(const Json::ObjectReader &reader, const QString &key, const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || !url.isLocalFile() || url.toLocalFile().isEmpty())
        return failure(
            Json::dataCorrupted(reader.keyPath(key), QStringLiteral("Invalid file URL string.")));
    return url.toLocalFile();
}

Result<QString> readFileURL(const Json::ObjectReader &reader, const QString &key)
{
    PELLWICK_TRY_ASSIGN(QString text, reader.string(key));
    return fileURLPath(reader, key, text);
}

QString fileURLText(const QString &path)
{
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
}

} // namespace

Result<bool>
RestoreTransferManifest::destinationHoldsExpectedContent(const FileManager &fileManager,
                                                         const ContentHashing &hasher) const
{
    const Result<FileAttributes> attributes = fileManager.attributesOfItem(destinationPath);
    if (!attributes || attributes->type != FileAttributes::Type::Regular
        || attributes->size != expectedByteCount)
        return false;
    PELLWICK_TRY_ASSIGN(QString hash, hasher.contentHash(destinationPath));
    return hash == expectedContentHash;
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
    QJsonObject object{
        {QStringLiteral("canonicalFilename"), canonicalFilename},
        {QStringLiteral("capabilityExpiresAt"), capabilityExpiresAt.secondsSinceReferenceDate},
        {QStringLiteral("completedRanges"), ranges},
        {QStringLiteral("destinationURL"), fileURLText(destinationPath)},
        {QStringLiteral("expectedByteCount"), expectedByteCount},
        {QStringLiteral("expectedContentHash"), expectedContentHash},
        {QStringLiteral("id"), identifierObject(id)},
        {QStringLiteral("isComplete"), isComplete},
        {QStringLiteral("transferURL"), transferURL},
    };
    if (!assemblyPath.isEmpty())
        object.insert(QStringLiteral("assemblyURL"), fileURLText(assemblyPath));
    return Json::serialize(object, Json::Format::Pretty);
}

Result<RestoreTransferManifest> RestoreTransferManifest::decode(const QByteArray &data)
{
    PELLWICK_TRY_ASSIGN(QJsonObject object, Json::parseObject(data));
    const Json::ObjectReader reader(object);
    RestoreTransferManifest manifest;

    PELLWICK_TRY_ASSIGN(QString filename, reader.string(QStringLiteral("canonicalFilename")));
    PELLWICK_TRY_ASSIGN(double expiry, reader.number(QStringLiteral("capabilityExpiresAt")));
    PELLWICK_TRY_ASSIGN(
        QList<RestoreByteRange> ranges,
        reader.elements<RestoreByteRange>(QStringLiteral("completedRanges"), readRange));
    PELLWICK_TRY_ASSIGN(QString destination, readFileURL(reader, QStringLiteral("destinationURL")));
    PELLWICK_TRY_ASSIGN(qint64 byteCount, reader.integer(QStringLiteral("expectedByteCount")));
    PELLWICK_TRY_ASSIGN(QString hash, reader.string(QStringLiteral("expectedContentHash")));
    PELLWICK_TRY_ASSIGN(Json::ObjectReader idReader, reader.object(QStringLiteral("id")));
    PELLWICK_TRY_ASSIGN(RestoreTransferIdentifier id, readIdentifier(idReader));
    PELLWICK_TRY_ASSIGN(bool complete, reader.boolean(QStringLiteral("isComplete")));
    PELLWICK_TRY_ASSIGN(QString transferURL, reader.string(QStringLiteral("transferURL")));
    if (transferURL.isEmpty())
        return failure(Json::dataCorrupted(reader.keyPath(QStringLiteral("transferURL")),
                                           QStringLiteral("Invalid URL string.")));

    PELLWICK_TRY_ASSIGN(std::optional<QString> assemblyText,
                        reader.optionalString(QStringLiteral("assemblyURL")));
    if (assemblyText) {
        PELLWICK_TRY_ASSIGN(manifest.assemblyPath,
                            fileURLPath(reader, QStringLiteral("assemblyURL"), *assemblyText));
    }

    manifest.id = id;
    manifest.canonicalFilename = filename;
    manifest.destinationPath = destination;
    manifest.expectedByteCount = byteCount;
    manifest.expectedContentHash = hash;
    manifest.transferURL = transferURL;
    manifest.capabilityExpiresAt = Date{expiry};
    manifest.completedRanges = ranges;
    manifest.isComplete = complete;
    return manifest;
}

} // namespace Pellwick
