#pragma once

#include <PellwickCore/Ingest/ContentHashing.h>
#include <PellwickCore/Ingest/ImportScanVolume.h>
#include <PellwickCore/Ingest/ImportSourceIdentity.h>
#include <PellwickCore/Support/FileManager.h>
#include <PellwickCore/Support/Result.h>

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace Pellwick {

/// Whether the source media of an item has been seen to change since its copy. Raw values
/// "current" and "changed".
enum class SourceMediaSafety {
    Current,
    Changed,
};

QString toRaw(SourceMediaSafety safety);
/// Exact, case-sensitive match against the raw values.
std::optional<SourceMediaSafety> sourceMediaSafetyFromRaw(const QString &raw);

/// What the source held when a RAW original (and its sidecar) was copied into the Ingest Cache.
struct SourceMediaEvidence
{
    /// Root of the source at copy time (mount point or chosen folder), an absolute path.
    QString sourceRootURL;
    ImportSourceIdentity sourceIdentity;
    /// Path of the RAW original below the root, components joined by "/".
    QString rawRelativePath;
    /// SHA-256 of the RAW original, 64 lowercase hexadecimal characters.
    QString rawContentHash;
    /// The same for the paired sidecar; both absent when there is none.
    std::optional<QString> sidecarRelativePath;
    std::optional<QString> sidecarContentHash;
    SourceMediaSafety safety = SourceMediaSafety::Current;

    bool operator==(const SourceMediaEvidence &) const = default;

    /// True when the source is reachable and no longer holds the recorded files unchanged; never
    /// fails. Evidence already `Changed` is not examined again (false). A volume is looked up
    /// among `availableSources` by its UUID, wherever it is mounted; failing that, the recorded
    /// root is used if something exists there, except when an available source mounted at the
    /// recorded root carries another UUID (another card): then the source is unavailable and
    /// false is returned. An unavailable source gives false; a different hash, a sidecar path
    /// without hash (or the reverse), and a missing file or one that cannot be hashed give true,
    /// the last two only while something is still at the root (a source ejected or removed while
    /// it is read gives false). Hashes whole files; run it off the main thread.
    bool detectsChange(const QList<ImportScanVolume> &availableSources,
                       const FileManager &fileManager,
                       const ContentHashing &contentHasher) const;

    /// Keys "sourceRootURL" (a "file://" URL), "sourceIdentity", "rawRelativePath",
    /// "rawContentHash", "sidecarRelativePath" and "sidecarContentHash" (left out when absent)
    /// and "safety".
    QJsonObject toJson() const;
    /// Fails with a `DecodingError` for a missing or null required key, a value of the wrong
    /// type, a root that is not an absolute file URL or a safety text other than the raw values.
    /// A missing or null sidecar key reads as absent; unknown keys are ignored.
    [[nodiscard]] static Result<SourceMediaEvidence> fromJson(const QJsonValue &json,
                                                              const QString &path = {});

private:
    std::optional<QString> resolvedSourceRoot(const QList<ImportScanVolume> &availableSources,
                                              const FileManager &fileManager) const;
};

} // namespace Pellwick
