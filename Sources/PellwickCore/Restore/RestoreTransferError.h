#pragma once

#include <QString>

#include <variant>

namespace Pellwick {

/// The failures of restore transfers, in this order. Manifest decoding, file-system and transport
/// failures are not among them: they reach the caller as their own kinds.
struct RestoreTransferError
{
    /// A fetched range's body length differs from the range's byte count.
    struct InvalidRangeData
    {
        qint64 expected = 0;
        qint64 actual = 0;
        bool operator==(const InvalidRangeData &) const = default;
    };

    /// The assembled file has the wrong size (-1 when its size could not be read).
    struct ByteCountMismatch
    {
        qint64 expected = 0;
        qint64 actual = 0;
        bool operator==(const ByteCountMismatch &) const = default;
    };

    /// The assembled file has the wrong content hash.
    struct ContentHashMismatch
    {
        QString expected;
        QString actual;
        bool operator==(const ContentHashMismatch &) const = default;
    };

    /// A transfer capability names an item the Local Library Cache does not hold.
    struct MissingLocalLibraryItem
    {
        qint64 libraryItemID = 0;
        bool operator==(const MissingLocalLibraryItem &) const = default;
    };

    /// A file already exists at the destination (an absolute path); it is never overwritten.
    struct DestinationAlreadyExists
    {
        QString destinationPath;
        bool operator==(const DestinationAlreadyExists &) const = default;
    };

    /// The transfer stopped because it was paused.
    struct Paused
    {
        bool operator==(const Paused &) const = default;
    };

    /// The transfer stopped because it was cancelled.
    struct Cancelled
    {
        bool operator==(const Cancelled &) const = default;
    };

    /// A ranged GET did not answer with an HTTP status from 200 to 299, or was not HTTP at all.
    struct UnexpectedRangeResponse
    {
        bool operator==(const UnexpectedRangeResponse &) const = default;
    };

    /// A refreshed capability no longer carries the sidecar being downloaded.
    struct MissingSidecarCapability
    {
        bool operator==(const MissingSidecarCapability &) const = default;
    };

    std::variant<InvalidRangeData,
                 ByteCountMismatch,
                 ContentHashMismatch,
                 MissingLocalLibraryItem,
                 DestinationAlreadyExists,
                 Paused,
                 Cancelled,
                 UnexpectedRangeResponse,
                 MissingSidecarCapability>
        value;

    bool operator==(const RestoreTransferError &) const = default;
};

/// Text for logs and test failure messages; never shown to the user.
QString describe(const RestoreTransferError &error);

} // namespace Pellwick
