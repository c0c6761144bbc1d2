#include "LibraryShellViewModel.h"

#include <QDate>
#include <QDateTime>

#include <cmath>

namespace Pellwick {

namespace {

std::optional<bool> requiredKnown(LocalLibraryCaptureTimeFilter filter)
{
    switch (filter) {
    case LocalLibraryCaptureTimeFilter::Any:
        return std::nullopt;
    case LocalLibraryCaptureTimeFilter::DateRange:
        return true;
    case LocalLibraryCaptureTimeFilter::Unknown:
        return false;
    }
    return std::nullopt;
}

std::optional<bool> requiredKnown(LocalLibraryCaptureLocationFilter filter)
{
    switch (filter) {
    case LocalLibraryCaptureLocationFilter::Any:
        return std::nullopt;
    case LocalLibraryCaptureLocationFilter::Known:
        return true;
    case LocalLibraryCaptureLocationFilter::Unknown:
        return false;
    }
    return std::nullopt;
}

/// The local calendar day that contains `date`; none for a date no calendar can hold.
std::optional<QDate> localDay(Date date)
{
    const double unixMilliseconds = std::floor(date.unixSeconds() * 1000.0);
    // Beyond ±2^53 ms (about 285,000 years) the milliseconds are no longer exact.
    constexpr double limit = 9007199254740992.0;
    if (!std::isfinite(unixMilliseconds) || std::abs(unixMilliseconds) > limit)
        return std::nullopt;
    const QDateTime local
        = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(unixMilliseconds), Qt::LocalTime);
    if (!local.isValid())
        return std::nullopt;
    return local.date();
}

} // namespace

void LibraryShellViewModel::setLocalLibrarySearchText(QString value)
{
    const bool changed = value != m_localLibrarySearchText;
    m_localLibrarySearchText = std::move(value);
    Q_EMIT localLibrarySearchTextChanged();
    if (changed && !m_isResettingLocalLibraryFilters)
        refreshVisibleLocalLibraryItems(false);
}

void LibraryShellViewModel::setLocalLibraryCaptureTimeFilter(LocalLibraryCaptureTimeFilter value)
{
    m_localLibraryCaptureTimeFilter = value;
    Q_EMIT localLibraryCaptureTimeFilterChanged();
    refreshAfterFilterChange();
}

void LibraryShellViewModel::setLocalLibraryCaptureTimeStart(Date value)
{
    m_localLibraryCaptureTimeStart = value;
    Q_EMIT localLibraryCaptureTimeStartChanged();
    refreshAfterFilterChange();
}

void LibraryShellViewModel::setLocalLibraryCaptureTimeEnd(Date value)
{
    m_localLibraryCaptureTimeEnd = value;
    Q_EMIT localLibraryCaptureTimeEndChanged();
    refreshAfterFilterChange();
}

void LibraryShellViewModel::setLocalLibraryCaptureLocationFilter(
    LocalLibraryCaptureLocationFilter value)
{
    m_localLibraryCaptureLocationFilter = value;
    Q_EMIT localLibraryCaptureLocationFilterChanged();
    refreshAfterFilterChange();
}

void LibraryShellViewModel::setLocalLibraryImportStatusFilter(
    std::optional<LibraryItemImportStatus> value)
{
    m_localLibraryImportStatusFilter = value;
    Q_EMIT localLibraryImportStatusFilterChanged();
    refreshAfterFilterChange();
}

void LibraryShellViewModel::setLocalLibraryIngestSourceFilter(std::optional<QString> value)
{
    m_localLibraryIngestSourceFilter = std::move(value);
    Q_EMIT localLibraryIngestSourceFilterChanged();
    refreshAfterFilterChange();
}

void LibraryShellViewModel::setLocalLibraryDuplicateVisibility(
    LocalLibraryDuplicateVisibility value)
{
    m_localLibraryDuplicateVisibility = value;
    Q_EMIT localLibraryDuplicateVisibilityChanged();
    refreshAfterFilterChange();
}

void LibraryShellViewModel::refreshAfterFilterChange()
{
    if (!m_isResettingLocalLibraryFilters)
        refreshVisibleLocalLibraryItems(false);
}

bool LibraryShellViewModel::hasActiveLocalLibraryFilters() const
{
    return LocalLibrarySearchQuery::normalizedSearchText(m_localLibrarySearchText).has_value()
           || m_localLibraryCaptureTimeFilter != LocalLibraryCaptureTimeFilter::Any
           || m_localLibraryCaptureLocationFilter != LocalLibraryCaptureLocationFilter::Any
           || m_localLibraryImportStatusFilter.has_value()
           || m_localLibraryIngestSourceFilter.has_value()
           || m_localLibraryDuplicateVisibility != LocalLibraryDuplicateVisibility::Hidden;
}

void LibraryShellViewModel::resetLocalLibraryFilters()
{
    m_isResettingLocalLibraryFilters = true;
    setLocalLibrarySearchText(QString());
    setLocalLibraryCaptureTimeFilter(LocalLibraryCaptureTimeFilter::Any);
    setLocalLibraryCaptureLocationFilter(LocalLibraryCaptureLocationFilter::Any);
    setLocalLibraryImportStatusFilter(std::nullopt);
    setLocalLibraryIngestSourceFilter(std::nullopt);
    setLocalLibraryDuplicateVisibility(LocalLibraryDuplicateVisibility::Hidden);
    refreshVisibleLocalLibraryItems(false);
    m_isResettingLocalLibraryFilters = false;
}

LocalLibrarySearchQuery LibraryShellViewModel::localLibraryQuery() const
{
    LocalLibrarySearchQuery query;
    query.text = m_localLibrarySearchText;
    query.captureTime = localLibraryCaptureTimeRange();
    query.captureTimeKnown = requiredKnown(m_localLibraryCaptureTimeFilter);
    query.importDate = std::nullopt;
    query.importStatus = m_localLibraryImportStatusFilter;
    query.ingestSourceName = m_localLibraryIngestSourceFilter;
    query.captureLocationKnown = requiredKnown(m_localLibraryCaptureLocationFilter);
    query.duplicateVisibility = m_localLibraryDuplicateVisibility;
    return query;
}

std::optional<LocalLibraryDateRange> LibraryShellViewModel::localLibraryCaptureTimeRange() const
{
    if (m_localLibraryCaptureTimeFilter != LocalLibraryCaptureTimeFilter::DateRange)
        return std::nullopt;
    const Date earlier = std::min(m_localLibraryCaptureTimeStart, m_localLibraryCaptureTimeEnd);
    const Date later = std::max(m_localLibraryCaptureTimeStart, m_localLibraryCaptureTimeEnd);

    const std::optional<QDate> firstDay = localDay(earlier);
    const QDateTime lowerBound = firstDay ? firstDay->startOfDay() : QDateTime();
    if (!lowerBound.isValid())
        return std::nullopt;
    const Date lower = Date::fromDateTime(lowerBound);

    // The day after by the calendar, not 86,400 s later: days around clock changes differ.
    const std::optional<QDate> lastDay = localDay(later);
    const QDateTime nextDayStart = lastDay ? lastDay->addDays(1).startOfDay() : QDateTime();
    const Date upper = nextDayStart.isValid() ? Date::fromDateTime(nextDayStart.addMSecs(-1))
                                              : later.addingSeconds(-0.001);
    // Without a next day the end may fall before the start: no window rather than an
    // inverted one (written so that a date that is not a number gives none too).
    if (!(lower <= upper))
        return std::nullopt;
    return LocalLibraryDateRange{lower, upper};
}

} // namespace Pellwick
