#pragma once

#include <PellwickCore/Ingest/ImportScanVolume.h>
#include <PellwickCore/Restore/ManagedFolder.h>

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <array>
#include <optional>

namespace Pellwick {

/// Backend reachability shown in the toolbar.
enum class ShellStatus {
    Checking,
    Reachable,
    Unreachable,
};

/// "Checking backend", "Backend reachable" or "Backend unreachable".
QString toRaw(ShellStatus status);
/// Exact, case-sensitive match of the raw texts.
std::optional<ShellStatus> shellStatusFromRaw(const QString &raw);

/// What a confirmed Import would archive.
struct ImportSelectionConfirmation
{
    int packageCount = 0;
    qint64 byteCount = 0;
    qint64 remainingByteCount = 0;

    bool operator==(const ImportSelectionConfirmation &) const = default;
};

/// What a removal of cache packages would free.
struct IngestCacheRemovalConfirmation
{
    int packageCount = 0;
    qint64 byteCount = 0;
    /// The records the user was asked about: a removal acts on no others. Not shown, and not
    /// part of equality.
    QSet<QUuid> confirmedItemIDs;

    bool operator==(const IngestCacheRemovalConfirmation &other) const
    {
        return packageCount == other.packageCount && byteCount == other.byteCount;
    }
};

/// The proposed folder of a first Ingest Cache.
struct InitialIngestCacheCreation
{
    QString locationURL;

    bool operator==(const InitialIngestCacheCreation &) const = default;
};

/// Newly mounted media proposed for import.
struct MountProposal
{
    QList<ImportScanVolume> sources;

    bool operator==(const MountProposal &) const = default;
};

/// A restored file whose name is taken in the destination folder; identified by `libraryItemID`.
struct RestoreFilenameConflict
{
    qint64 libraryItemID = 0; ///< the backend's item id
    QString destinationDirectory;
    QString existingFilename;

    qint64 id() const { return libraryItemID; }

    bool operator==(const RestoreFilenameConflict &) const = default;
};

/// What a restore of the selected items would bring back.
struct RestoreSelectionSummary
{
    int itemCount = 0;
    qint64 byteCount = 0;
    QStringList filenames;

    bool operator==(const RestoreSelectionSummary &) const = default;
};

/// The library page's condition on capture time.
enum class LocalLibraryCaptureTimeFilter {
    Any,       ///< no condition
    DateRange, ///< capture time known and inside the capture-time window
    Unknown,   ///< capture time missing
};

/// Every case, in the order the filter bar lists them.
inline constexpr std::array allLocalLibraryCaptureTimeFilters{
    LocalLibraryCaptureTimeFilter::Any,
    LocalLibraryCaptureTimeFilter::DateRange,
    LocalLibraryCaptureTimeFilter::Unknown,
};

/// The library page's condition on the GPS capture location.
enum class LocalLibraryCaptureLocationFilter {
    Any,     ///< no condition
    Known,   ///< capture location known
    Unknown, ///< capture location missing
};

/// Every case, in the order the filter bar lists them.
inline constexpr std::array allLocalLibraryCaptureLocationFilters{
    LocalLibraryCaptureLocationFilter::Any,
    LocalLibraryCaptureLocationFilter::Known,
    LocalLibraryCaptureLocationFilter::Unknown,
};

} // namespace Pellwick
