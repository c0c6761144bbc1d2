#pragma once

#include <PellwickCore/Support/Date.h>
#include <PellwickCore/Support/Result.h>

#include <QJsonObject>
#include <QString>

#include <optional>
#include <variant>

namespace Pellwick {

// The three facts of `PhotoMetadata` are each known or explicitly unknown. In JSON each is an
// object with exactly one key naming the case: {"known":{"_0":<payload>}} or {"unknown":{}}.
// Reading fails with a type mismatch "Invalid number of keys found, expected one." when neither
// or both keys are present; other keys are ignored.

/// When the photograph was taken: the camera's wall-clock time read as UTC.
struct CaptureTimeMetadata
{
    struct Known
    {
        Date date;
        bool operator==(const Known &) const = default;
    };

    struct Unknown
    {
        bool operator==(const Unknown &) const = default;
    };

    std::variant<Known, Unknown> value = Unknown{};

    static CaptureTimeMetadata known(Date date) { return {Known{date}}; }

    static CaptureTimeMetadata unknown() { return {Unknown{}}; }

    std::optional<Date> knownDate() const;

    bool operator==(const CaptureTimeMetadata &) const = default;

    /// The date is written as seconds since 2001-01-01 00:00:00 UTC.
    QJsonObject toJson() const;
    [[nodiscard]] static Result<CaptureTimeMetadata> fromJson(const QJsonValue &json,
                                                              const QString &path = {});
};

/// A GPS position in decimal degrees: north and east positive. No range is enforced.
struct CaptureLocation
{
    double latitude = 0;
    double longitude = 0;

    /// Floating-point equality: a NaN equals nothing, 0 equals -0.
    bool operator==(const CaptureLocation &) const = default;

    /// {"latitude":number,"longitude":number}; both keys are required when reading.
    QJsonObject toJson() const;
    [[nodiscard]] static Result<CaptureLocation> fromJson(const QJsonValue &json,
                                                          const QString &path = {});
};

struct CaptureLocationMetadata
{
    struct Known
    {
        CaptureLocation location;
        bool operator==(const Known &) const = default;
    };

    struct Unknown
    {
        bool operator==(const Unknown &) const = default;
    };

    std::variant<Known, Unknown> value = Unknown{};

    static CaptureLocationMetadata known(CaptureLocation location) { return {Known{location}}; }

    static CaptureLocationMetadata unknown() { return {Unknown{}}; }

    std::optional<CaptureLocation> knownLocation() const;

    bool operator==(const CaptureLocationMetadata &) const = default;

    QJsonObject toJson() const;
    [[nodiscard]] static Result<CaptureLocationMetadata> fromJson(const QJsonValue &json,
                                                                  const QString &path = {});
};

/// The camera's model text exactly as the file stores it (never empty or all white space when
/// extracted; not checked when read from JSON).
struct CameraModelMetadata
{
    struct Known
    {
        QString model;
        /// Unicode canonical equivalence: texts equal in Normalization Form C are equal.
        bool operator==(const Known &other) const;
    };

    struct Unknown
    {
        bool operator==(const Unknown &) const = default;
    };

    std::variant<Known, Unknown> value = Unknown{};

    static CameraModelMetadata known(QString model) { return {Known{std::move(model)}}; }

    static CameraModelMetadata unknown() { return {Unknown{}}; }

    std::optional<QString> knownModel() const;

    bool operator==(const CameraModelMetadata &) const = default;

    QJsonObject toJson() const;
    [[nodiscard]] static Result<CameraModelMetadata> fromJson(const QJsonValue &json,
                                                              const QString &path = {});
};

/// What is known about the capture of one RAW original.
struct PhotoMetadata
{
    CaptureTimeMetadata captureTime;
    CaptureLocationMetadata captureLocation;
    CameraModelMetadata cameraModel;

    /// All three facts unknown.
    static PhotoMetadata unknown() { return {}; }

    bool operator==(const PhotoMetadata &) const = default;

    /// {"captureTime":...,"captureLocation":...,"cameraModel":...}; all three keys are required
    /// when reading and other keys are ignored.
    QJsonObject toJson() const;
    [[nodiscard]] static Result<PhotoMetadata> fromJson(const QJsonValue &json,
                                                        const QString &path = {});
};

/// Reads the capture metadata of an image file.
class PhotoMetadataExtracting
{
public:
    PhotoMetadataExtracting() = default;
    PhotoMetadataExtracting(const PhotoMetadataExtracting &) = delete;
    PhotoMetadataExtracting &operator=(const PhotoMetadataExtracting &) = delete;
    virtual ~PhotoMetadataExtracting() = default;

    /// The metadata of the file at `path`; anything unreadable is `unknown`. Thread-safe.
    [[nodiscard]] virtual Result<PhotoMetadata> metadata(const QString &path) const = 0;
};

} // namespace Pellwick
