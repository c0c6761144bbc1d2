#include "LocalLibrarySearchQuery.h"

namespace Pellwick {

QString searchLowercased(const QString &text)
{
    return text.toLower();
}

bool LocalLibrarySearchQuery::hasNoFilters() const
{
    return !captureTime && !captureTimeKnown && !importDate && !importStatus && !ingestSourceName
           && !captureLocationKnown
           && duplicateVisibility == LocalLibraryDuplicateVisibility::Hidden;
}

std::optional<QString>
LocalLibrarySearchQuery::normalizedSearchText(const std::optional<QString> &text)
{
    if (!text)
        return std::nullopt;
    // QChar::isSpace is Unicode's White_Space: blanks, tabs, line breaks, U+0085, U+2028, ...
    const QString trimmed = text->trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    return searchLowercased(trimmed);
}

bool LocalLibrarySearchQuery::matchesCaptureTime(const std::optional<LocalLibraryDateRange> &range,
                                                 std::optional<bool> known,
                                                 const LocalLibraryItem &item)
{
    const std::optional<Date> captured = item.metadata.captureTime.knownDate();
    if (!captured)
        return known ? !*known : !range;
    if (known && !*known)
        return false;
    return !range || (range->first <= *captured && *captured <= range->second);
}

bool LocalLibrarySearchQuery::matchesFilters(const LocalLibraryItem &item) const
{
    if (!matchesCaptureTime(captureTime, captureTimeKnown, item))
        return false;
    if (importDate
        && !(importDate->first <= item.importDate && item.importDate <= importDate->second))
        return false;
    if (importStatus && item.importStatus != *importStatus)
        return false;
    if (ingestSourceName && item.ingestSourceName != ingestSourceName)
        return false;
    if (captureLocationKnown
        && item.metadata.captureLocation.knownLocation().has_value() != *captureLocationKnown) {
        return false;
    }
    if (importStatus == LibraryItemImportStatus::Duplicate)
        return true;
    const bool duplicate = item.importStatus == LibraryItemImportStatus::Duplicate;
    switch (duplicateVisibility) {
    case LocalLibraryDuplicateVisibility::Hidden:
        return !duplicate;
    case LocalLibraryDuplicateVisibility::Included:
        return true;
    case LocalLibraryDuplicateVisibility::Only:
        return duplicate;
    }
    return true;
}

} // namespace Pellwick
