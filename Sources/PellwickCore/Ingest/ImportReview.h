#pragma once

#include <PellwickCore/Ingest/ImportScanVolume.h>

#include <QList>
#include <QString>

#include <optional>
#include <variant>

namespace Pellwick {

/// Why a listed file is shown but never archived.
enum class ImportReviewUnsupportedReason {
    ExcludedBackupTarget, ///< a JPEG or HEIC image
    UnpairedSidecar,      ///< an XMP sidecar with no RAW original beside it
};

/// Whether a review item is archived.
struct ImportReviewItemStatus
{
    // No default member initializer: clang then finds the variant not default-constructible
    // inside this class. The variant value-initializes it to the first reason.
    struct Unsupported
    {
        ImportReviewUnsupportedReason reason;
        bool operator==(const Unsupported &) const = default;
    };

    struct Supported
    {
        bool operator==(const Supported &) const = default;
    };

    std::variant<Unsupported, Supported> value;

    static ImportReviewItemStatus supported() { return {Supported{}}; }

    static ImportReviewItemStatus unsupported(ImportReviewUnsupportedReason reason)
    {
        return {Unsupported{reason}};
    }

    bool isSupported() const { return std::holds_alternative<Supported>(value); }

    bool operator==(const ImportReviewItemStatus &) const = default;
};

/// The XMP sidecar paired with a RAW original.
struct ImportReviewSidecar
{
    QString url;
    QString filename;
    qint64 byteCount = 0;

    bool operator==(const ImportReviewSidecar &) const = default;
};

/// One file found by a scan.
struct ImportReviewItem
{
    ImportReviewItem() = default;
    /// Sets `id` to `url`.
    ImportReviewItem(QString volumeName,
                     QString url,
                     QString filename,
                     qint64 byteCount,
                     ImportReviewItemStatus status,
                     std::optional<ImportReviewSidecar> sidecar,
                     std::optional<QString> sourceRelativePath);

    QString id; ///< always equal to `url`
    /// The name of the scan source under which the file was found.
    QString volumeName;
    QString url;
    QString filename;
    qint64 byteCount = 0;
    ImportReviewItemStatus status;
    /// Present only on supported items that have one.
    std::optional<ImportReviewSidecar> sidecar;
    /// The path below the source root, components joined by "/"; absent on unpaired sidecars.
    std::optional<QString> sourceRelativePath;

    /// For a supported item its own and its sidecar's byte count; 0 for any other item.
    qint64 supportedByteCount() const;

    bool operator==(const ImportReviewItem &) const = default;
};

/// The result of a scan: the sources scanned and every file found, sorted by path.
struct ImportReview
{
    QList<ImportScanVolume> volumes;
    QList<ImportReviewItem> items;

    /// The number of supported items.
    qsizetype candidateCount() const;
    /// The sum of `supportedByteCount` over all items.
    qint64 totalSupportedBytes() const;

    bool operator==(const ImportReview &) const = default;
};

/// The shell's current review and whether the user confirmed it.
struct ImportReviewState
{
    std::optional<ImportReview> review;
    bool isConfirmed = false;

    /// Sets the review and clears any confirmation.
    void replaceReview(ImportReview newReview);
    void clearReview();
    /// Confirms the review; does nothing without one.
    void confirmReview();

    bool operator==(const ImportReviewState &) const = default;
};

} // namespace Pellwick
