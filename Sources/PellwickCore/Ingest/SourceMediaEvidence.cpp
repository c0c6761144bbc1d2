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

enum class FileState {
    Unchanged,
    Differs,
    /// Missing, or it cannot be hashed.
    Unreadable,
};

/// Whether the file at `path` exists and has the content hash `expected`.
FileState fileState(const QString &path,
                    const QString &expected,
                    const FileManager &fileManager,
                    const ContentHashing &contentHasher)
{
    if (!fileManager.fileExists(path))
        return FileState::Unreadable;
    const Result<QString> hash = contentHasher.contentHash(path);
    if (!hash)
        return FileState::Unreadable;
    return *hash == expected ? FileState::Unchanged : FileState::Differs;
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
    // A file that cannot be read counts as a change only while its source is still there: a
    // card ejected or a folder removed in the middle of a check is an unavailable source, not
    // a changed one (the change would be recorded for good).
    const auto changed = [&](FileState state) {
        return state == FileState::Differs
               || (state == FileState::Unreadable && fileManager.fileExists(*root));
    };
    const FileState raw = fileState(
        appendingRelativePath(*root, rawRelativePath), rawContentHash, fileManager, contentHasher);
    if (raw != FileState::Unchanged)
        return changed(raw);
    if (!sidecarRelativePath && !sidecarContentHash)
        return false;
    if (!sidecarRelativePath || !sidecarContentHash)
        return true;
    const FileState sidecar = fileState(appendingRelativePath(*root, *sidecarRelativePath),
                                        *sidecarContentHash,
                                        fileManager,
                                        contentHasher);
    return sidecar != FileState::Unchanged && changed(sidecar);
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
    PELLWICK_TRY_ASSIGN(QJsonObject object, Json::readObject(json, path));
    const Json::ObjectReader reader(object, path);

    SourceMediaEvidence evidence;
    PELLWICK_TRY_ASSIGN(QJsonValue rootValue, reader.value(sourceRootURLKey));
    PELLWICK_TRY_ASSIGN(evidence.sourceRootURL,
                        Json::readFileURL(rootValue, reader.keyPath(sourceRootURLKey)));

    PELLWICK_TRY_ASSIGN(QJsonValue identityValue, reader.value(sourceIdentityKey));
    PELLWICK_TRY_ASSIGN(
        evidence.sourceIdentity,
        ImportSourceIdentity::fromJson(identityValue, reader.keyPath(sourceIdentityKey)));

    const std::pair<QString, QString *> requiredTexts[] = {
        {rawRelativePathKey, &evidence.rawRelativePath},
        {rawContentHashKey, &evidence.rawContentHash},
    };
    for (const auto &[key, target] : requiredTexts) {
        PELLWICK_TRY_ASSIGN(*target, reader.string(key));
    }
    const std::pair<QString, std::optional<QString> *> optionalTexts[] = {
        {sidecarRelativePathKey, &evidence.sidecarRelativePath},
        {sidecarContentHashKey, &evidence.sidecarContentHash},
    };
    for (const auto &[key, target] : optionalTexts) {
        PELLWICK_TRY_ASSIGN(*target, reader.optionalString(key));
    }

    PELLWICK_TRY_ASSIGN(
        evidence.safety,
        Json::readRawValue(
            reader, safetyKey, QStringLiteral("SourceMediaSafety"), sourceMediaSafetyFromRaw));
    return evidence;
}

} // namespace Pellwick
