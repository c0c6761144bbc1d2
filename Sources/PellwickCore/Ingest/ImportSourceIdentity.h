#pragma once

#include <PellwickCore/Support/Result.h>

#include <QJsonObject>
#include <QString>

#include <variant>

namespace Pellwick {

/// The identity of a scan source: a volume by its UUID, whatever it holds, or a chosen folder by
/// its symlink-resolved path and a hash over the names and contents of its supported files, so a
/// folder whose files change gets a new identity.
///
/// JSON: {"volume":{"uuid":"..."}} or {"folder":{"canonicalPath":"...","manifestHash":"..."}}.
struct ImportSourceIdentity
{
    struct Volume
    {
        QString uuid;
        bool operator==(const Volume &) const = default;
    };

    struct Folder
    {
        QString canonicalPath;
        QString manifestHash; ///< 64 lowercase hexadecimal characters
        bool operator==(const Folder &) const = default;
    };

    std::variant<Volume, Folder> value;

    static ImportSourceIdentity volume(QString uuid) { return {Volume{std::move(uuid)}}; }

    static ImportSourceIdentity folder(QString canonicalPath, QString manifestHash)
    {
        return {Folder{std::move(canonicalPath), std::move(manifestHash)}};
    }

    bool isVolume() const { return std::holds_alternative<Volume>(value); }

    bool operator==(const ImportSourceIdentity &) const = default;

    QJsonObject toJson() const;
    /// Fails with a `DecodingError` at `path`: a type mismatch "Invalid number of keys found,
    /// expected one." unless exactly one of "volume" and "folder" is present, or the payload's
    /// own failure (missing key, null, wrong type).
    [[nodiscard]] static Result<ImportSourceIdentity> fromJson(const QJsonValue &json,
                                                               const QString &path = {});
};

} // namespace Pellwick
