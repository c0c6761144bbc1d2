#pragma once

#include <PellwickCore/Ingest/ImportSourceIdentity.h>
#include <PellwickCore/Support/Result.h>

#include <QByteArray>
#include <QString>

#include <optional>

namespace Pellwick {

/// The copy-in marker: a hidden file in a batch folder that exists while the batch's copy-in
/// has not finished, naming the scan source being copied so that the next copy-in of that
/// source resumes into the same folder.
///
/// JSON: {"sourceIdentity": <ImportSourceIdentity>, "sourceURL": "file:///..."}, both optional.
struct IncompleteCopyMarker
{
    std::optional<ImportSourceIdentity> sourceIdentity;
    /// The scan source's root (a local path; stored as a file URL).
    std::optional<QString> sourceURL;

    /// More than any marker this system writes; a larger file is not read as one.
    static constexpr qint64 maximumByteCount = qint64{64} * 1024;

    bool operator==(const IncompleteCopyMarker &) const = default;

    /// Compact JSON of the keys that are present.
    [[nodiscard]] Result<QByteArray> toJson() const;
    /// Fails with a `DecodingError` for data that is not a JSON object, a key of the wrong type
    /// or a "sourceURL" that is not a file URL; absent and null keys give no value.
    [[nodiscard]] static Result<IncompleteCopyMarker> fromJson(const QByteArray &data);
};

} // namespace Pellwick
