#include "LibraryWorkflows.h"

#include <PellwickApp/Feedback/DiskFeedback.h>
#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickApp/Workflows/Workflow.h>
#include <PellwickCore/Support/Date.h>
#include <PellwickCore/Support/FileManager.h>

#include <utility>

namespace Pellwick {

namespace {

constexpr double captureTimeWindowSeconds = 2'592'000; // 30 days

} // namespace

LibraryWorkflows::LibraryWorkflows(LibraryState &state,
                                   LocalLibraryCache localLibraryCache,
                                   std::function<QString()> ingestCacheRoot,
                                   std::function<void()> scheduleSourceMediaSafetyRefresh,
                                   DataFolders dataFolders,
                                   QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_localLibraryCache(std::move(localLibraryCache))
    , m_ingestCacheRoot(std::move(ingestCacheRoot))
    , m_scheduleSourceMediaSafetyRefresh(std::move(scheduleSourceMediaSafetyRefresh))
    , m_dataFolders(std::move(dataFolders))
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

QCoro::Task<> LibraryWorkflows::checkDataFolders()
{
    const QPointer<LibraryWorkflows> self(this);
    const std::stop_token never;
    const quint64 check = ++m_dataFolderChecks;
    QList<std::pair<ManagedFolder, QString>> folders = m_dataFolders.folders;
    if (m_dataFolders.ingestCache)
        folders.append({ManagedFolder::IngestCache, m_dataFolders.ingestCache()});
    QFuture<Result<QString>> job
        = Workflow::run(WorkflowPools::utility(), [files = m_dataFolders.fileManager, folders] {
              // Every folder is named at once: one per check would have the user mend them one
              // Refresh at a time.
              QList<DiskFeedback::UnwritableDataFolder> failures;
              for (const auto &[kind, path] : folders) {
                  if (path.isEmpty())
                      continue;
                  if (Result<void> writable = checkFolderWouldTakeFiles(*files, path); !writable)
                      failures.append({kind, path, writable.error()});
              }
              return Result<QString>(DiskFeedback::dataFolderFailures(failures));
          });
    const std::optional<Result<QString>> outcome = co_await Workflow::resumeIn(self, never, job);
    if (!outcome || !*outcome || check != m_dataFolderChecks)
        co_return;
    if (m_state.dataFolderErrorMessage() != **outcome)
        m_state.setDataFolderErrorMessage(**outcome);
}

} // namespace Pellwick
