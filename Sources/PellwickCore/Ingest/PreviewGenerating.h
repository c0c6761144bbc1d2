#pragma once

#include <PellwickCore/Support/Result.h>

#include <QString>

#include <optional>
#include <stop_token>
#include <variant>

namespace Pellwick {

/// The outcome of making one preview that is not an error of the file system: the preview is in
/// place, or it could not be made, with the reason text to record beside the item.
struct PreviewGenerationResult
{
    struct Success
    {
        bool operator==(const Success &) const = default;
    };

    struct Failure
    {
        QString reason;
        bool operator==(const Failure &) const = default;
    };

    std::variant<Success, Failure> value;

    static PreviewGenerationResult success() { return {Success{}}; }

    static PreviewGenerationResult failure(QString reason) { return {Failure{std::move(reason)}}; }

    bool isSuccess() const { return std::holds_alternative<Success>(value); }

    /// The reason text of a failure; no value for a success.
    std::optional<QString> failureReason() const
    {
        if (const auto *failed = std::get_if<Failure>(&value))
            return failed->reason;
        return std::nullopt;
    }

    bool operator==(const PreviewGenerationResult &) const = default;
};

/// Makes the small JPEG preview of a RAW original.
class PreviewGenerating
{
public:
    PreviewGenerating() = default;
    PreviewGenerating(const PreviewGenerating &) = delete;
    PreviewGenerating &operator=(const PreviewGenerating &) = delete;
    virtual ~PreviewGenerating() = default;

    /// Writes the preview of `source` to `destination`, creating its folder. After a success the
    /// destination is the preview; after a failure result the reason says why there is none.
    /// File-system errors (folder creation, putting the file in place) are returned as errors.
    /// A request on `stop` ends the work soon with `CancellationError`, the destination left as
    /// it was. Thread-safe; concurrent calls must use different destinations.
    [[nodiscard]] virtual Result<PreviewGenerationResult> generatePreview(
        const QString &source, const QString &destination, std::stop_token stop = {}) const = 0;
};

} // namespace Pellwick
