#include "LibraryWorkflows.h"

#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickCore/Support/Date.h>

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

void LibraryWorkflows::refreshAfterSearchTextChange()
{
    const bool changed = m_state.localLibrarySearchText() != m_observedSearchText;
    m_observedSearchText = m_state.localLibrarySearchText();
    if (changed && !m_isResettingFilters)
        publishVisibleLocalLibraryItems(false, true);
}

void LibraryWorkflows::refreshAfterFilterChange()
{
    if (!m_isResettingFilters)
        refreshVisibleLocalLibraryItems(false);
}

bool LibraryWorkflows::hasActiveLocalLibraryFilters() const
{
    return LocalLibrarySearchQuery::normalizedSearchText(m_state.localLibrarySearchText())
               .has_value()
           || m_state.localLibraryCaptureTimeFilter() != LocalLibraryCaptureTimeFilter::Any
           || m_state.localLibraryCaptureLocationFilter() != LocalLibraryCaptureLocationFilter::Any
           || m_state.localLibraryImportStatusFilter().has_value()
           || m_state.localLibraryIngestSourceFilter().has_value()
           || m_state.localLibraryDuplicateVisibility() != LocalLibraryDuplicateVisibility::Hidden;
}

void LibraryWorkflows::resetLocalLibraryFilters()
{
    m_isResettingFilters = true;
    m_state.setLocalLibrarySearchText(QString());
    m_state.setLocalLibraryCaptureTimeFilter(LocalLibraryCaptureTimeFilter::Any);
    m_state.setLocalLibraryCaptureLocationFilter(LocalLibraryCaptureLocationFilter::Any);
    m_state.setLocalLibraryImportStatusFilter(std::nullopt);
    m_state.setLocalLibraryIngestSourceFilter(std::nullopt);
    m_state.setLocalLibraryDuplicateVisibility(LocalLibraryDuplicateVisibility::Hidden);
    refreshVisibleLocalLibraryItems(false);
    m_isResettingFilters = false;
}

LocalLibrarySearchQuery LibraryWorkflows::localLibraryQuery() const
{
    LocalLibrarySearchQuery query;
    query.text = m_state.localLibrarySearchText();
    query.captureTime = localLibraryCaptureTimeRange();
    query.captureTimeKnown = requiredKnown(m_state.localLibraryCaptureTimeFilter());
    query.importDate = std::nullopt;
    query.importStatus = m_state.localLibraryImportStatusFilter();
    query.ingestSourceName = m_state.localLibraryIngestSourceFilter();
    query.captureLocationKnown = requiredKnown(m_state.localLibraryCaptureLocationFilter());
    query.duplicateVisibility = m_state.localLibraryDuplicateVisibility();
    return query;
}

std::optional<LocalLibraryDateRange> LibraryWorkflows::localLibraryCaptureTimeRange() const
{
    if (m_state.localLibraryCaptureTimeFilter() != LocalLibraryCaptureTimeFilter::DateRange)
        return std::nullopt;
    const Date earlier
        = std::min(m_state.localLibraryCaptureTimeStart(), m_state.localLibraryCaptureTimeEnd());
    const Date later
        = std::max(m_state.localLibraryCaptureTimeStart(), m_state.localLibraryCaptureTimeEnd());

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
