#include "LibraryShellViewModel_p.h"

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

void LibraryShellViewModel::refreshAfterSearchTextChange()
{
    const bool changed
        = m_libraryState->localLibrarySearchText() != m_d->library.observedSearchText;
    m_d->library.observedSearchText = m_libraryState->localLibrarySearchText();
    if (changed && !m_d->library.isResettingLocalLibraryFilters)
        publishVisibleLocalLibraryItems(false, true);
}

void LibraryShellViewModel::refreshAfterFilterChange()
{
    if (!m_d->library.isResettingLocalLibraryFilters)
        refreshVisibleLocalLibraryItems(false);
}

bool LibraryShellViewModel::hasActiveLocalLibraryFilters() const
{
    return LocalLibrarySearchQuery::normalizedSearchText(m_libraryState->localLibrarySearchText())
               .has_value()
           || m_libraryState->localLibraryCaptureTimeFilter() != LocalLibraryCaptureTimeFilter::Any
           || m_libraryState->localLibraryCaptureLocationFilter()
                  != LocalLibraryCaptureLocationFilter::Any
           || m_libraryState->localLibraryImportStatusFilter().has_value()
           || m_libraryState->localLibraryIngestSourceFilter().has_value()
           || m_libraryState->localLibraryDuplicateVisibility()
                  != LocalLibraryDuplicateVisibility::Hidden;
}

void LibraryShellViewModel::resetLocalLibraryFilters()
{
    m_d->library.isResettingLocalLibraryFilters = true;
    m_libraryState->setLocalLibrarySearchText(QString());
    m_libraryState->setLocalLibraryCaptureTimeFilter(LocalLibraryCaptureTimeFilter::Any);
    m_libraryState->setLocalLibraryCaptureLocationFilter(LocalLibraryCaptureLocationFilter::Any);
    m_libraryState->setLocalLibraryImportStatusFilter(std::nullopt);
    m_libraryState->setLocalLibraryIngestSourceFilter(std::nullopt);
    m_libraryState->setLocalLibraryDuplicateVisibility(LocalLibraryDuplicateVisibility::Hidden);
    refreshVisibleLocalLibraryItems(false);
    m_d->library.isResettingLocalLibraryFilters = false;
}

LocalLibrarySearchQuery LibraryShellViewModel::localLibraryQuery() const
{
    LocalLibrarySearchQuery query;
    query.text = m_libraryState->localLibrarySearchText();
    query.captureTime = localLibraryCaptureTimeRange();
    query.captureTimeKnown = requiredKnown(m_libraryState->localLibraryCaptureTimeFilter());
    query.importDate = std::nullopt;
    query.importStatus = m_libraryState->localLibraryImportStatusFilter();
    query.ingestSourceName = m_libraryState->localLibraryIngestSourceFilter();
    query.captureLocationKnown = requiredKnown(m_libraryState->localLibraryCaptureLocationFilter());
    query.duplicateVisibility = m_libraryState->localLibraryDuplicateVisibility();
    return query;
}

std::optional<LocalLibraryDateRange> LibraryShellViewModel::localLibraryCaptureTimeRange() const
{
    if (m_libraryState->localLibraryCaptureTimeFilter() != LocalLibraryCaptureTimeFilter::DateRange)
        return std::nullopt;
    const Date earlier = std::min(m_libraryState->localLibraryCaptureTimeStart(),
                                  m_libraryState->localLibraryCaptureTimeEnd());
    const Date later = std::max(m_libraryState->localLibraryCaptureTimeStart(),
                                m_libraryState->localLibraryCaptureTimeEnd());

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
