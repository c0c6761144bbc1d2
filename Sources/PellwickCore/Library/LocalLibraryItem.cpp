#include "LocalLibraryItem.h"

#include "LocalLibraryItem_p.h"

#include <PellwickCore/Support/Json.h>
#include <PellwickCore/Support/UuidText.h>

#include <algorithm>

namespace Pellwick {

namespace {

const QString idKey = QStringLiteral("id");
const QString originalFilenameKey = QStringLiteral("originalFilename");
const QString canonicalFilenameKey = QStringLiteral("canonicalFilename");
const QString contentHashKey = QStringLiteral("contentHash");
const QString archiveByteCountKey = QStringLiteral("archiveByteCount");
const QString archiveSidecarFilenameKey = QStringLiteral("archiveSidecarFilename");
const QString archiveSidecarByteCountKey = QStringLiteral("archiveSidecarByteCount");
const QString archiveSidecarContentHashKey = QStringLiteral("archiveSidecarContentHash");
const QString importDateKey = QStringLiteral("importDate");
const QString importStatusKey = QStringLiteral("importStatus");
const QString backendLibraryItemIDKey = QStringLiteral("backendLibraryItemID");
const QString restoreStatusKey = QStringLiteral("restoreStatus");
const QString restoreAttentionReasonKey = QStringLiteral("restoreAttentionReason");
const QString ingestCacheOriginalURLKey = QStringLiteral("ingestCacheOriginalURL");
const QString ingestCacheSidecarURLKey = QStringLiteral("ingestCacheSidecarURL");
const QString ingestCacheSidecarContentHashKey = QStringLiteral("ingestCacheSidecarContentHash");
const QString ingestSourceNameKey = QStringLiteral("ingestSourceName");
const QString sourceRelativePathKey = QStringLiteral("sourceRelativePath");
const QString sourceMediaEvidenceKey = QStringLiteral("sourceMediaEvidence");
const QString cacheRelativePathKey = QStringLiteral("cacheRelativePath");
const QString metadataKey = QStringLiteral("metadata");
const QString previewKey = QStringLiteral("preview");
const QString availableKey = QStringLiteral("available");
const QString failedKey = QStringLiteral("failed");
const QString relativePathKey = QStringLiteral("relativePath");
const QString reasonKey = QStringLiteral("reason");

/// Reads an optional key with `read(value, keyPath)` into `target`; absent and null give none.
template<typename T, typename F>
Result<void> readOptional(const Json::ObjectReader &reader,
                          const QString &key,
                          std::optional<T> &target,
                          F &&read)
{
    if (!reader.has(key)) {
        target.reset();
        return {};
    }
    PELLWICK_TRY_ASSIGN(target, read(reader.jsonObject().value(key), reader.keyPath(key)));
    return {};
}

void share(std::optional<QString> &text, const std::optional<QString> &with)
{
    if (text && with && *text == *with)
        *text = *with;
}

} // namespace

QJsonObject LocalPreviewState::toJson() const
{
    QJsonObject json;
    if (const auto *available = std::get_if<Available>(&value))
        json.insert(availableKey, QJsonObject{{relativePathKey, available->relativePath}});
    else if (const auto *failed = std::get_if<Failed>(&value))
        json.insert(failedKey, QJsonObject{{reasonKey, failed->reason}});
    return json;
}

Result<LocalPreviewState> LocalPreviewState::fromJson(const QJsonValue &json, const QString &path)
{
    PELLWICK_TRY_ASSIGN(QJsonObject object, Json::readObject(json, path));
    PELLWICK_TRY_ASSIGN(QString caseKey,
                        Json::readCaseKey(object, {availableKey, failedKey}, path));
    const Json::ObjectReader reader(object, path);
    PELLWICK_TRY_ASSIGN(Json::ObjectReader payload, reader.object(caseKey));
    if (caseKey == availableKey)
        return payload.string(relativePathKey).map(&LocalPreviewState::available);
    return payload.string(reasonKey).map(&LocalPreviewState::failed);
}

void shareEqualTexts(LocalLibraryItem &item)
{
    share(item.archiveSidecarContentHash, item.ingestCacheSidecarContentHash);
    if (item.sourceMediaEvidence) {
        SourceMediaEvidence &evidence = *item.sourceMediaEvidence;
        if (evidence.rawContentHash == item.contentHash)
            evidence.rawContentHash = item.contentHash;
        if (item.sourceRelativePath && evidence.rawRelativePath == *item.sourceRelativePath)
            evidence.rawRelativePath = *item.sourceRelativePath;
        share(evidence.sidecarContentHash, item.ingestCacheSidecarContentHash);
    }
}

bool LocalLibraryItem::isSafeToEraseSourceMedia() const
{
    if (importStatus != LibraryItemImportStatus::VerifiedBackup)
        return false;
    if (!sourceMediaEvidence)
        return true;
    const SourceMediaEvidence &evidence = *sourceMediaEvidence;
    if (evidence.safety == SourceMediaSafety::Changed)
        return false;
    // The evidence vouches for the source only when what it saw there is what the archive holds:
    // a sidecar it saw must be the archived one, else erasing the source loses that sidecar.
    const auto sameHash
        = [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) == 0; };
    if (!sameHash(evidence.rawContentHash, contentHash))
        return false;
    if (!evidence.sidecarRelativePath && !evidence.sidecarContentHash)
        return true;
    return evidence.sidecarContentHash && archiveSidecarContentHash
           && sameHash(*evidence.sidecarContentHash, *archiveSidecarContentHash);
}

bool LocalLibraryItem::awaitsVerifiedIngestCacheCopy() const
{
    return importStatus == LibraryItemImportStatus::NeedsAttention && !backendLibraryItemID
           && !archiveSidecarFilename && !archiveSidecarByteCount && !archiveSidecarContentHash
           && preview == LocalPreviewState::discoveredInIngestCache();
}

bool LocalLibraryItem::holdsVerifiedIngestCacheCopy() const
{
    return ingestCacheOriginalURL && sourceMediaEvidence
           && sourceMediaEvidence->rawContentHash == contentHash
           && sourceMediaEvidence->sidecarContentHash == ingestCacheSidecarContentHash;
}

std::optional<qint64> LocalLibraryItem::restoreLibraryItemID() const
{
    if (importStatus == LibraryItemImportStatus::Duplicate)
        return std::nullopt;
    return backendLibraryItemID;
}

QJsonObject LocalLibraryItem::toJson() const
{
    QJsonObject json;
    const auto insertText = [&](const QString &key, const std::optional<QString> &text) {
        if (text)
            json.insert(key, *text);
    };
    const auto insertInteger = [&](const QString &key, const std::optional<qint64> &number) {
        if (number)
            json.insert(key, *number);
    };
    const auto insertURL = [&](const QString &key, const std::optional<QString> &path) {
        if (path)
            json.insert(key, Json::fileURLText(*path));
    };

    json.insert(idKey, uuidText(id));
    json.insert(originalFilenameKey, originalFilename);
    json.insert(canonicalFilenameKey, canonicalFilename);
    json.insert(contentHashKey, contentHash);
    insertInteger(archiveByteCountKey, archiveByteCount);
    insertText(archiveSidecarFilenameKey, archiveSidecarFilename);
    insertInteger(archiveSidecarByteCountKey, archiveSidecarByteCount);
    insertText(archiveSidecarContentHashKey, archiveSidecarContentHash);
    json.insert(importDateKey, importDate.secondsSinceReferenceDate);
    json.insert(importStatusKey, toRaw(importStatus));
    insertInteger(backendLibraryItemIDKey, backendLibraryItemID);
    if (restoreStatus)
        json.insert(restoreStatusKey, toRaw(*restoreStatus));
    insertText(restoreAttentionReasonKey, restoreAttentionReason);
    insertURL(ingestCacheOriginalURLKey, ingestCacheOriginalURL);
    insertURL(ingestCacheSidecarURLKey, ingestCacheSidecarURL);
    insertText(ingestCacheSidecarContentHashKey, ingestCacheSidecarContentHash);
    insertText(ingestSourceNameKey, ingestSourceName);
    insertText(sourceRelativePathKey, sourceRelativePath);
    if (sourceMediaEvidence)
        json.insert(sourceMediaEvidenceKey, sourceMediaEvidence->toJson());
    insertText(cacheRelativePathKey, cacheRelativePath);
    json.insert(metadataKey, metadata.toJson());
    json.insert(previewKey, preview.toJson());
    return json;
}

Result<LocalLibraryItem> LocalLibraryItem::fromJson(const QJsonValue &json, const QString &path)
{
    PELLWICK_TRY_ASSIGN(QJsonObject object, Json::readObject(json, path));
    const Json::ObjectReader reader(object, path);
    LocalLibraryItem item;

    PELLWICK_TRY_ASSIGN(QString idText, reader.string(idKey));
    const std::optional<QUuid> id = uuidFromText(idText);
    if (!id) {
        return failure(Json::dataCorrupted(
            reader.keyPath(idKey),
            QStringLiteral("Attempted to decode UUID from invalid UUID string.")));
    }
    item.id = *id;

    const std::pair<const QString *, QString *> requiredTexts[] = {
        {&originalFilenameKey, &item.originalFilename},
        {&canonicalFilenameKey, &item.canonicalFilename},
        {&contentHashKey, &item.contentHash},
    };
    for (const auto &[key, target] : requiredTexts) {
        PELLWICK_TRY_ASSIGN(*target, reader.string(*key));
    }

    PELLWICK_TRY_ASSIGN(double importDate, reader.number(importDateKey));
    item.importDate = Date{importDate};

    PELLWICK_TRY_ASSIGN(item.importStatus,
                        Json::readRawValue(reader,
                                           importStatusKey,
                                           QStringLiteral("LibraryItemImportStatus"),
                                           libraryItemImportStatusFromRaw));

    const std::pair<const QString *, std::optional<qint64> *> optionalIntegers[] = {
        {&archiveByteCountKey, &item.archiveByteCount},
        {&archiveSidecarByteCountKey, &item.archiveSidecarByteCount},
        {&backendLibraryItemIDKey, &item.backendLibraryItemID},
    };
    for (const auto &[key, target] : optionalIntegers)
        PELLWICK_TRY(readOptional(reader, *key, *target, Json::readInteger));

    const std::pair<const QString *, std::optional<QString> *> optionalTexts[] = {
        {&archiveSidecarFilenameKey, &item.archiveSidecarFilename},
        {&archiveSidecarContentHashKey, &item.archiveSidecarContentHash},
        {&restoreAttentionReasonKey, &item.restoreAttentionReason},
        {&ingestCacheSidecarContentHashKey, &item.ingestCacheSidecarContentHash},
        {&ingestSourceNameKey, &item.ingestSourceName},
        {&sourceRelativePathKey, &item.sourceRelativePath},
        {&cacheRelativePathKey, &item.cacheRelativePath},
    };
    for (const auto &[key, target] : optionalTexts)
        PELLWICK_TRY(readOptional(reader, *key, *target, Json::readString));

    PELLWICK_TRY(readOptional(
        reader, ingestCacheOriginalURLKey, item.ingestCacheOriginalURL, Json::readFileURL));
    PELLWICK_TRY(readOptional(
        reader, ingestCacheSidecarURLKey, item.ingestCacheSidecarURL, Json::readFileURL));

    if (reader.has(restoreStatusKey)) {
        PELLWICK_TRY_ASSIGN(item.restoreStatus,
                            Json::readRawValue(reader,
                                               restoreStatusKey,
                                               QStringLiteral("RestoreRequestStatus"),
                                               restoreRequestStatusFromRaw));
    }
    std::optional<SourceMediaEvidence> evidence;
    PELLWICK_TRY(readOptional(reader,
                              sourceMediaEvidenceKey,
                              evidence,
                              [](const QJsonValue &value, const QString &keyPath) {
                                  return SourceMediaEvidence::fromJson(value, keyPath);
                              }));
    item.sourceMediaEvidence = std::move(evidence);

    PELLWICK_TRY_ASSIGN(QJsonValue metadata, reader.value(metadataKey));
    PELLWICK_TRY_ASSIGN(item.metadata,
                        PhotoMetadata::fromJson(metadata, reader.keyPath(metadataKey)));

    PELLWICK_TRY_ASSIGN(QJsonValue preview, reader.value(previewKey));
    PELLWICK_TRY_ASSIGN(item.preview,
                        LocalPreviewState::fromJson(preview, reader.keyPath(previewKey)));

    shareEqualTexts(item);
    return item;
}

bool liesBelowAnyFolder(const QString &path, const QSet<QString> &folders)
{
    return std::any_of(folders.cbegin(), folders.cend(), [&](const QString &folder) {
        return path.startsWith(folder + QLatin1Char('/'));
    });
}

} // namespace Pellwick
