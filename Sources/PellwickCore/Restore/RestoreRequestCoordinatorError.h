#pragma once

#include <PellwickCore/Restore/RestoreRequest.h>
#include <PellwickCore/Support/ErrorCause.h>

#include <QString>

#include <variant>

namespace Pellwick {

/// The failures of the restore request coordinator of its own, in this order.
struct RestoreRequestCoordinatorError
{
    /// A planned destination is taken (it exists, another file of the same run claimed it, or
    /// the name is not usable as a file name). Carries the backend item id, the taken path (always
    /// inside the destination folder) and a free RAW filename to offer instead.
    struct DestinationFilenameConflict
    {
        qint64 libraryItemID = 0;
        QString existingURL;
        QString suggestedFilename;
        bool operator==(const DestinationFilenameConflict &) const = default;
    };

    /// The selection holds no Verified Backup with a backend id.
    struct NoRestorableItems
    {
        bool operator==(const NoRestorableItems &) const = default;
    };

    /// Two different local records carry the same backend library item id (a duplicate sharing
    /// its archived record's id is none).
    struct LocalLibraryCacheConflict
    {
        bool operator==(const LocalLibraryCacheConflict &) const = default;
    };

    /// The backend's request, or its transfer capabilities, list one library item id more than
    /// once.
    struct RestoreRequestItemConflict
    {
        bool operator==(const RestoreRequestItemConflict &) const = default;
    };

    /// The backend made its change, but the Local Library Cache could not take the statuses of
    /// the request it returned. Carries that request (with the outcomes saved here before, where
    /// it is ready) and the failure of the write: the change stands on the backend.
    struct LocalStatusNotSaved
    {
        RestoreRequest restoreRequest;
        ErrorCause cause;
        bool operator==(const LocalStatusNotSaved &) const = default;
    };

    std::variant<DestinationFilenameConflict,
                 NoRestorableItems,
                 LocalLibraryCacheConflict,
                 RestoreRequestItemConflict,
                 LocalStatusNotSaved>
        value;

    bool operator==(const RestoreRequestCoordinatorError &) const = default;
};

/// Text for logs and test failure messages; never shown to the user.
QString describe(const RestoreRequestCoordinatorError &error);

} // namespace Pellwick
