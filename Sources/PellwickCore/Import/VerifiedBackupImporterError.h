#pragma once

#include <PellwickCore/Backend/StorageFullState.h>

#include <QString>

#include <variant>

namespace Pellwick {

/// The failures of the verified backup importer of its own, in this order.
struct VerifiedBackupImporterError
{
    /// The backend refused an upload authorization or a finalization because the account's
    /// storage is full.
    struct StorageFull
    {
        StorageFullState state;
        bool operator==(const StorageFull &) const = default;
    };

    /// A package cannot be carried on from what is stored or cached.
    struct UnrecoverableStagedImport
    {
        bool operator==(const UnrecoverableStagedImport &) const = default;
    };

    std::variant<StorageFull, UnrecoverableStagedImport> value;

    static VerifiedBackupImporterError storageFull(StorageFullState state)
    {
        return {StorageFull{std::move(state)}};
    }

    static VerifiedBackupImporterError unrecoverableStagedImport()
    {
        return {UnrecoverableStagedImport{}};
    }

    bool operator==(const VerifiedBackupImporterError &) const = default;
};

/// Text for logs and test failure messages; never shown to the user.
QString describe(const VerifiedBackupImporterError &error);

} // namespace Pellwick
