#include "LibraryWorkflows.h"

#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickCore/Support/Date.h>

#include <utility>

namespace Pellwick {

namespace {

constexpr double captureTimeWindowSeconds = 2'592'000; // 30 days

} // namespace

LibraryWorkflows::LibraryWorkflows(LibraryState &state,
                                   LocalLibraryCache localLibraryCache,
                                   std::function<QString()> ingestCacheRoot,
                                   std::function<void()> scheduleSourceMediaSafetyRefresh,
                                   QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_localLibraryCache(std::move(localLibraryCache))
    , m_ingestCacheRoot(std::move(ingestCacheRoot))
    , m_scheduleSourceMediaSafetyRefresh(std::move(scheduleSourceMediaSafetyRefresh))
{
    // Initial values are assigned before the observers are connected: they do not run here.
    const Date now = Date::now();
    m_state.setLocalLibraryCaptureTimeEnd(now);
    m_state.setLocalLibraryCaptureTimeStart(
        Date{now.secondsSinceReferenceDate - captureTimeWindowSeconds});

    // Every filter refreshes the visible items; the search text only when it changed.
    connect(&m_state,
            &LibraryState::localLibrarySearchTextChanged,
            this,
            &LibraryWorkflows::refreshAfterSearchTextChange);
    for (const auto signal : {&LibraryState::localLibraryCaptureTimeFilterChanged,
                              &LibraryState::localLibraryCaptureTimeStartChanged,
                              &LibraryState::localLibraryCaptureTimeEndChanged,
                              &LibraryState::localLibraryCaptureLocationFilterChanged,
                              &LibraryState::localLibraryImportStatusFilterChanged,
                              &LibraryState::localLibraryIngestSourceFilterChanged,
                              &LibraryState::localLibraryDuplicateVisibilityChanged})
        connect(&m_state, signal, this, &LibraryWorkflows::refreshAfterFilterChange);
}

LibraryWorkflows::~LibraryWorkflows() = default;

void LibraryWorkflows::scheduleSourceMediaSafetyRefresh()
{
    m_scheduleSourceMediaSafetyRefresh();
}

} // namespace Pellwick
