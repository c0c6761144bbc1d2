#pragma once

#include <PellwickCore/Support/Result.h>

#include <QJsonObject>
#include <QString>

#include <variant>

namespace Pellwick {

/// An item's preview: a JPEG at a path relative to the library root ("previews/<name>.jpg"), or
/// no usable preview with a short reason shown to the user.
struct LocalPreviewState
{
    struct Available
    {
        QString relativePath;
        bool operator==(const Available &) const = default;
    };

    struct Failed
    {
        QString reason;
        bool operator==(const Failed &) const = default;
    };

    std::variant<Available, Failed> value = Failed{};

    static LocalPreviewState available(QString relativePath)
    {
        return {Available{std::move(relativePath)}};
    }

    static LocalPreviewState failed(QString reason) { return {Failed{std::move(reason)}}; }

    /// The preview of a record that reconciliation made for a package it found in the Ingest
    /// Cache: failed, "Discovered in Ingest Cache".
    static LocalPreviewState discoveredInIngestCache()
    {
        return failed(QStringLiteral("Discovered in Ingest Cache"));
    }

    /// The relative path when the preview is available.
    const QString *availablePath() const
    {
        const auto *available = std::get_if<Available>(&value);
        return available ? &available->relativePath : nullptr;
    }

    bool operator==(const LocalPreviewState &) const = default;

    /// {"available":{"relativePath":...}} or {"failed":{"reason":...}}.
    QJsonObject toJson() const;
    /// Exactly one of the two case keys must be present (others are ignored); otherwise a type
    /// mismatch "Invalid number of keys found, expected one." at `path`.
    [[nodiscard]] static Result<LocalPreviewState> fromJson(const QJsonValue &json,
                                                            const QString &path = {});
};

} // namespace Pellwick
