#pragma once

#include <PellwickCore/Library/LocalLibraryItem.h>
#include <PellwickCore/Support/Date.h>

#include <QString>

#include <optional>
#include <utility>

namespace Pellwick {

/// Whether records with import status `duplicate` are shown.
enum class LocalLibraryDuplicateVisibility {
    Hidden,   ///< left out
    Included, ///< shown with the others
    Only,     ///< only they are shown
};

/// A closed range of dates: both ends included.
using LocalLibraryDateRange = std::pair<Date, Date>;

/// What the library page searches for: a text and filters. A copyable value; `matchesFilters` is
/// pure.
struct LocalLibrarySearchQuery
{
    std::optional<QString> text;
    std::optional<LocalLibraryDateRange> captureTime;
    std::optional<bool> captureTimeKnown;
    std::optional<LocalLibraryDateRange> importDate;
    std::optional<LibraryItemImportStatus> importStatus;
    std::optional<QString> ingestSourceName;
    std::optional<bool> captureLocationKnown;
    LocalLibraryDuplicateVisibility duplicateVisibility = LocalLibraryDuplicateVisibility::Hidden;

    bool operator==(const LocalLibrarySearchQuery &) const = default;

    /// True when only the text (if any) is asked for and duplicates are hidden: the case the
    /// search indexes answer.
    bool hasNoFilters() const;
    /// The filter tests after the text test, in order: capture time, import date, import status,
    /// source, location, duplicates.
    bool matchesFilters(const LocalLibraryItem &item) const;

    /// The text trimmed of white space and newlines and lowercased; none when nothing is left.
    static std::optional<QString> normalizedSearchText(const std::optional<QString> &text);
    /// The capture-time test: an unknown time matches only `known == false`, or no range when
    /// `known` is absent; a known time fails `known == false` and must lie in the range.
    static bool matchesCaptureTime(const std::optional<LocalLibraryDateRange> &range,
                                   std::optional<bool> known,
                                   const LocalLibraryItem &item);
};

/// The lowercasing used for search values and queries alike: the full, locale-independent
/// mapping.
QString searchLowercased(const QString &text);

} // namespace Pellwick
