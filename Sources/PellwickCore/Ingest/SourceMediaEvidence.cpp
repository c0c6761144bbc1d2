#include "SourceMediaEvidence.h"

#include <PellwickCore/Support/Json.h>

#include <QDir>
#include <QUrl>

namespace Pellwick {

namespace {

const QString sourceRootURLKey = QStringLiteral("sourceRootURL");
const QString sourceIdentityKey = QStringLiteral("sourceIdentity");
const QString rawRelativePathKey = QStringLiteral("rawRelativePath");
const QString rawContentHashKey = QStringLiteral("rawContentHash");
const QString sidecarRelativePathKey = QStringLiteral("sidecarRelativePath");
const QString sidecarContentHashKey = QStringLiteral("sidecarContentHash");
const QString safetyKey = QStringLiteral("safety");

QString appendingRelativePath(const QString &root, const QString &relativePath)
{
    if (root.endsWith(QLatin1Char('/')))
        return root + relativePath;
    return root + QLatin1Char('/') + relativePath;
}

/// True when the file at `path` exists and has the content hash `expected`.
bool holdsUnchanged(const QString &path,
                    const QString &expected,
                    const FileManager &fileManager,
                    const ContentHashing &contentHasher)
{
    if (!fileManager.fileExists(path))
        return false;
    const Result<QString> hash = contentHasher.contentHash(path);
    return hash && *hash == expected;
}

} // namespace

QString toRaw(SourceMediaSafety safety)
{
    switch (safety) {
    case SourceMediaSafety::Current:
        return QStringLiteral("current");
    case SourceMediaSafety::Changed:
        return QStringLiteral("changed");
    }
    return {};
}

std::optional<SourceMediaSafety> sourceMediaSafetyFromRaw(const QString &raw)
{
    for (const SourceMediaSafety safety :
         {SourceMediaSafety::Current, SourceMediaSafety::Changed}) {
        if (raw == toRaw(safety))
            return safety;
    }
    return std::nullopt;
}

std::optional<QString>
SourceMediaEvidence::resolvedSourceRoot(const QList<ImportScanVolume> &availableSources,
                                        const FileManager &fileManager) const
{
    if (const auto *volume = std::get_if<ImportSourceIdentity::Volume>(&sourceIdentity.value)) {
        for (const ImportScanVolume &source : availableSources) {
            if (source.volumeUUID && *source.volumeUUID == volume->uuid)
                return source.url;
        }
        // Another card mounted where this one was: its files say nothing about this card.
        const QString recordedRoot = QDir::cleanPath(sourceRootURL);
        for (const ImportScanVolume &source : availableSources) {
            if (source.volumeUUID && QDir::cleanPath(source.url) == recordedRoot)
                return std::nullopt;
        }
    }
    if (fileManager.fileExists(sourceRootURL))
        return sourceRootURL;
    return std::nullopt;
}

bool SourceMediaEvidence::detectsChange(const QList<ImportScanVolume> &availableSources,
                                        const FileManager &fileManager,
                                        const ContentHashing &contentHasher) const
{
    if (safety == SourceMediaSafety::Changed)
        return false;
    const std::optional<QString> root = resolvedSourceRoot(availableSources, fileManager);
    if (!root)
        return false;
    if (!holdsUnchanged(appendingRelativePath(*root, rawRelativePath),
                        rawContentHash,
                        fileManager,
                        contentHasher)) {
        return true;
    }
    if (!sidecarRelativePath && !sidecarContentHash)
        return false;
    if (!sidecarRelativePath || !sidecarContentHash)
        return true;
    return !holdsUnchanged(appendingRelativePath(*root, *sidecarRelativePath),
                           *sidecarContentHash,
                           fileManager,
                           contentHasher);
}

QJsonObject SourceMediaEvidence::toJson() const
{
    QJsonObject json{
        {sourceRootURLKey, Json::fileURLText(sourceRootURL)},
        {sourceIdentityKey, sourceIdentity.toJson()},
        {rawRelativePathKey, rawRelativePath},
        {rawContentHashKey, rawContentHash},
        {safetyKey, toRaw(safety)},
    };
    if (sidecarRelativePath)
        json.insert(sidecarRelativePathKey, *sidecarRelativePath);
    if (sidecarContentHash)
        json.insert(sidecarContentHashKey, *sidecarContentHash);
    return json;
}

Result<SourceMediaEvidence> SourceMediaEvidence::fromJson(const QJsonValue &json,
                                                          const QString &path)
{
    Result<QJsonObject> object = Json::readObject(json, path);
    if (!object)
        return tl::unexpected<Error>(std::move(object).error());
    const Json::ObjectReader reader(*object, path);

    SourceMediaEvidence evidence;
    Result<QJsonValue> rootValue = reader.value(sourceRootURLKey);
    if (!rootValue)
        return tl::unexpected<Error>(std::move(rootValue).error());
    Result<QString> root = Json::readFileURL(*rootValue, reader.keyPath(sourceRootURLKey));
    if (!root)
        return tl::unexpected<Error>(std::move(root).error());
    evidence.sourceRootURL = *root;

    Result<QJsonValue> identityValue = reader.value(sourceIdentityKey);
    if (!identityValue)
        return tl::unexpected<Error>(std::move(identityValue).error());
    Result<ImportSourceIdentity> identity
        = ImportSourceIdentity::fromJson(*identityValue, reader.keyPath(sourceIdentityKey));
    if (!identity)
        return tl::unexpected<Error>(std::move(identity).error());
    evidence.sourceIdentity = *identity;

    const std::pair<QString, QString *> requiredTexts[] = {
        {rawRelativePathKey, &evidence.rawRelativePath},
        {rawContentHashKey, &evidence.rawContentHash},
    };
    for (const auto &[key, target] : requiredTexts) {
        Result<QString> text = reader.string(key);
        if (!text)
            return tl::unexpected<Error>(std::move(text).error());
        *target = *text;
    }
    const std::pair<QString, std::optional<QString> *> optionalTexts[] = {
        {sidecarRelativePathKey, &evidence.sidecarRelativePath},
        {sidecarContentHashKey, &evidence.sidecarContentHash},
    };
    for (const auto &[key, target] : optionalTexts) {
        Result<std::optional<QString>> text = reader.optionalString(key);
        if (!text)
            return tl::unexpected<Error>(std::move(text).error());
        *target = *text;
    }

    Result<SourceMediaSafety> safety = Json::readRawValue(
        reader, safetyKey, QStringLiteral("SourceMediaSafety"), sourceMediaSafetyFromRaw);
    if (!safety)
        return tl::unexpected<Error>(std::move(safety).error());
    evidence.safety = *safety;
    return evidence;
}

} // namespace Pellwick
