// The library items endpoint.

#include "LibrarySessionClient.h"
#include "LibrarySessionClient_p.h"

namespace Pellwick {

namespace BackendWire {

std::optional<LibraryItemImportStatus> libraryItemStatusFromWord(const QString &word)
{
    if (word == QLatin1String("staging"))
        return LibraryItemImportStatus::LocalCacheReady;
    if (word == QLatin1String("uploading"))
        return LibraryItemImportStatus::Uploading;
    if (word == QLatin1String("verified_backup"))
        return LibraryItemImportStatus::VerifiedBackup;
    if (word == QLatin1String("needs_attention"))
        return LibraryItemImportStatus::NeedsAttention;
    return std::nullopt;
}

} // namespace BackendWire

namespace {

using Json::ObjectReader;

/// An optional string that is absent also when empty.
Result<std::optional<QString>> nonEmptyString(const ObjectReader &reader, const QString &key)
{
    Result<std::optional<QString>> text = reader.optionalString(key);
    PELLWICK_TRY(text);
    if (*text && (*text)->isEmpty())
        return std::optional<QString>();
    return *text;
}

Result<RemoteLibraryItem> decodeItem(const QJsonValue &value, const QString &path)
{
    Result<QJsonObject> object = Json::readObject(value, path);
    PELLWICK_TRY(object);
    const ObjectReader reader(*object, path);

    RemoteLibraryItem item;
    Result<qint64> id = reader.integer(QStringLiteral("id"));
    PELLWICK_TRY(id);
    item.id = *id;
    for (auto [key, field] :
         {std::pair{QStringLiteral("original_filename"), &item.originalFilename},
          std::pair{QStringLiteral("canonical_filename"), &item.canonicalFilename},
          std::pair{QStringLiteral("content_hash"), &item.contentHash}}) {
        Result<QString> text = reader.string(key);
        PELLWICK_TRY(text);
        *field = *text;
    }

    const QString sidecarKey = QStringLiteral("sidecar_byte_count");
    Result<std::optional<qint64>> byteCount
        = reader.optionalByteCount(QStringLiteral("byte_count"));
    PELLWICK_TRY(byteCount);
    Result<std::optional<qint64>> sidecarByteCount = reader.optionalByteCount(sidecarKey);
    PELLWICK_TRY(sidecarByteCount);
    if (__builtin_add_overflow(
            byteCount->value_or(0), sidecarByteCount->value_or(0), &item.archiveByteCount)) {
        return failure(Json::dataCorrupted(
            reader.keyPath(sidecarKey),
            QStringLiteral("byte_count and sidecar_byte_count together exceed 64 bits.")));
    }
    if (*sidecarByteCount > 0)
        item.archiveSidecarByteCount = *sidecarByteCount;

    Result<std::optional<QString>> sidecarFilename
        = reader.optionalString(QStringLiteral("sidecar_filename"));
    PELLWICK_TRY(sidecarFilename);
    item.archiveSidecarFilename = *sidecarFilename;
    Result<std::optional<QString>> sidecarHash
        = reader.optionalString(QStringLiteral("sidecar_content_hash"));
    PELLWICK_TRY(sidecarHash);
    item.archiveSidecarContentHash = *sidecarHash;

    Result<LibraryItemImportStatus> status
        = BackendWire::enumeration(reader,
                                   QStringLiteral("import_status"),
                                   "APIImportStatus",
                                   &BackendWire::libraryItemStatusFromWord);
    PELLWICK_TRY(status);
    item.importStatus = *status;

    // Seconds since 1970 as a plain number, fractions kept.
    Result<Date> importedAt = reader.unixDate(QStringLiteral("imported_at"));
    PELLWICK_TRY(importedAt);
    item.importedAt = *importedAt;

    Result<std::optional<QString>> sourceName
        = reader.optionalString(QStringLiteral("import_source_name"));
    PELLWICK_TRY(sourceName);
    item.importSourceName = sourceName->value_or(QStringLiteral("Unknown Import Source"));

    Result<std::optional<QString>> sourcePath
        = nonEmptyString(reader, QStringLiteral("source_relative_path"));
    PELLWICK_TRY(sourcePath);
    item.sourceRelativePath = *sourcePath;
    Result<std::optional<QString>> cachePath
        = nonEmptyString(reader, QStringLiteral("cache_relative_path"));
    PELLWICK_TRY(cachePath);
    item.cacheRelativePath = *cachePath;
    return item;
}

Result<QList<RemoteLibraryItem>> decodeLibraryItemsResponse(const QByteArray &body)
{
    return BackendWire::decodeObject(body, [](const ObjectReader &reader) {
        return reader.elements<RemoteLibraryItem>(QStringLiteral("library_items"), &decodeItem);
    });
}

} // namespace

Result<QList<RemoteLibraryItem>> LibrarySessionClient::libraryItems(const QString &token,
                                                                    std::stop_token stop) const
{
    const HttpRequest request
        = makeRequest(QStringLiteral("api/library/items"), QByteArrayLiteral("GET"), token);
    return send(
        request, {200}, &decodeLibraryItemsResponse, RestoreFailureHandling::Off, std::move(stop));
}

} // namespace Pellwick
