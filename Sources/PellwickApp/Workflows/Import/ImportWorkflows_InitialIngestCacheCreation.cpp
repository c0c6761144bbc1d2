#include "ImportWorkflows.h"

#include <PellwickApp/Feedback/IngestCacheFeedback.h>
#include <PellwickApp/Shell/State/ImportState.h>
#include <PellwickApp/Stores/IngestCacheLocationStoring.h>
#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>
#include <PellwickCore/Support/FileManager.h>

#include <QPointer>

namespace Pellwick {

namespace {

/// Whether anything exists at `path`, asked on the user-initiated pool.
QFuture<Result<bool>> itemExists(std::shared_ptr<const FileManager> files, QString path)
{
    return Workflow::run(WorkflowPools::userInitiated(),
                         [files = std::move(files), path = std::move(path)] {
                             return Result<bool>(files->fileExists(path));
                         });
}

} // namespace

QCoro::Task<bool> ImportWorkflows::requestInitialIngestCacheCreationIfNeeded()
{
    const QPointer<ImportWorkflows> self(this);
    const QString root = m_ingestCache.ingestCache().rootURL();
    const std::optional<Result<bool>> exists
        = co_await Workflow::resumeIn(self, {}, itemExists(m_services.fileManager, root));
    if (!exists)
        co_return true;
    if (**exists)
        co_return false;
    if (m_services.ingestCacheLocationStore->hasSavedLocation()) {
        m_state.setImportErrorMessage(IngestCacheFeedback::unavailableMessage());
        co_return true;
    }
    m_state.setInitialIngestCacheCreation(InitialIngestCacheCreation{root});
    co_return true;
}

QCoro::Task<> ImportWorkflows::createInitialIngestCache(QString path)
{
    const QPointer<ImportWorkflows> self(this);
    QFuture<Result<void>> job = Workflow::run(
        WorkflowPools::userInitiated(), [files = m_services.fileManager, path]() -> Result<void> {
            return checkFolderTakesFiles(*files, path);
        });
    const std::optional<Result<void>> created = co_await Workflow::resumeIn(self, {}, job);
    if (!created)
        co_return;
    if (!*created || !m_services.ingestCacheLocationStore->save(path)) {
        m_state.setImportErrorMessage(IngestCacheFeedback::locationNeedsAttentionMessage());
        co_return;
    }
    m_state.setInitialIngestCacheCreation(std::nullopt);
    co_await addReviewToIngestCache();
}

QCoro::Task<> ImportWorkflows::chooseInitialIngestCache(QString path)
{
    const QPointer<ImportWorkflows> self(this);
    enum class Check {
        NotAFolder,
        NotWritable,
        Usable
    };
    QFuture<Result<Check>> job = Workflow::run(
        WorkflowPools::userInitiated(), [files = m_services.fileManager, path]() -> Result<Check> {
            // Symbolic links are followed, as for any folder the user picks.
            const Result<QString> resolved = files->resolvingSymlinks(path);
            const Result<FileAttributes> attributes
                = resolved ? files->attributesOfItem(*resolved) : Result<FileAttributes>();
            if (!resolved || !attributes || attributes->type != FileAttributes::Type::Directory)
                return Check::NotAFolder;
            if (!checkFolderTakesFiles(*files, path))
                return Check::NotWritable;
            return Check::Usable;
        });
    const std::optional<Result<Check>> checked = co_await Workflow::resumeIn(self, {}, job);
    if (!checked)
        co_return;
    const Check check = checked->value_or(Check::NotAFolder);
    if (check == Check::NotAFolder) {
        m_state.setImportErrorMessage(IngestCacheFeedback::notAFolderMessage());
        co_return;
    }
    if (check == Check::NotWritable) {
        m_state.setImportErrorMessage(IngestCacheFeedback::notWritableMessage());
        co_return;
    }
    // Saved first: a location used but not remembered would be lost at the next launch.
    if (!m_services.ingestCacheLocationStore->save(path)) {
        m_state.setImportErrorMessage(IngestCacheFeedback::locationNeedsAttentionMessage());
        co_return;
    }
    m_ingestCache.useIngestCache(path);
    m_state.setInitialIngestCacheCreation(std::nullopt);
    co_await addReviewToIngestCache();
}

} // namespace Pellwick
