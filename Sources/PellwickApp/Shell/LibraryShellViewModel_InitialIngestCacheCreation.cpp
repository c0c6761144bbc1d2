#include "LibraryShellViewModel_p.h"

#include <QPointer>

#include <cerrno>

namespace Pellwick {

namespace {

const QString writeProbePrefix = QStringLiteral(".pellwick-write-probe-");

/// Succeeds when an empty file can be created in `folder` and removed again. A file manager that
/// cannot create it reports no reason: the failure is EACCES.
Result<void> verifyWritableIngestCacheLocation(const FileManager &files, const QString &folder)
{
    const QString probe = folder + QLatin1Char('/') + writeProbePrefix
                          + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    if (!files.createFile(probe))
        return failure(FileSystemError{QStringLiteral("create"), probe, EACCES});
    return files.removeItem(probe);
}

/// Whether anything exists at `path`, asked on the user-initiated pool.
QFuture<Result<bool>> itemExists(std::shared_ptr<const FileManager> files, QString path)
{
    return Workflow::run(WorkflowPools::userInitiated(),
                         [files = std::move(files), path = std::move(path)] {
                             return Result<bool>(files->fileExists(path));
                         });
}

} // namespace

QCoro::Task<bool> LibraryShellViewModel::requestInitialIngestCacheCreationIfNeeded()
{
    const QPointer<LibraryShellViewModel> self(this);
    const QString root = m_d->services.ingestCache.rootURL();
    const std::optional<Result<bool>> exists
        = co_await Workflow::resumeIn(self, {}, itemExists(m_d->services.fileManager, root));
    if (!exists)
        co_return true;
    if (**exists)
        co_return false;
    if (m_d->services.ingestCacheLocationStore->hasSavedLocation()) {
        m_importState->setImportErrorMessage(
            QStringLiteral("Ingest Cache is unavailable. Reconnect it or choose a new location."));
        co_return true;
    }
    m_importState->setInitialIngestCacheCreation(InitialIngestCacheCreation{root});
    co_return true;
}

QCoro::Task<> LibraryShellViewModel::createInitialIngestCache(QString path)
{
    const QPointer<LibraryShellViewModel> self(this);
    QFuture<Result<void>> job
        = Workflow::run(WorkflowPools::userInitiated(),
                        [files = m_d->services.fileManager, path]() -> Result<void> {
                            PELLWICK_TRY(files->createDirectory(path));
                            return verifyWritableIngestCacheLocation(*files, path);
                        });
    const std::optional<Result<void>> created = co_await Workflow::resumeIn(self, {}, job);
    if (!created)
        co_return;
    if (!*created || !m_d->services.ingestCacheLocationStore->save(path)) {
        m_importState->setImportErrorMessage(
            QStringLiteral("Ingest Cache location needs attention."));
        co_return;
    }
    m_importState->setInitialIngestCacheCreation(std::nullopt);
    co_await addReviewToIngestCache();
}

QCoro::Task<> LibraryShellViewModel::chooseInitialIngestCache(QString path)
{
    const QPointer<LibraryShellViewModel> self(this);
    enum class Check {
        NotAFolder,
        NotWritable,
        Usable
    };
    QFuture<Result<Check>> job = Workflow::run(
        WorkflowPools::userInitiated(),
        [files = m_d->services.fileManager, path]() -> Result<Check> {
            // Symbolic links are followed, as for any folder the user picks.
            const Result<QString> resolved = files->resolvingSymlinks(path);
            const Result<FileAttributes> attributes
                = resolved ? files->attributesOfItem(*resolved) : Result<FileAttributes>();
            if (!resolved || !attributes || attributes->type != FileAttributes::Type::Directory)
                return Check::NotAFolder;
            if (!verifyWritableIngestCacheLocation(*files, path))
                return Check::NotWritable;
            return Check::Usable;
        });
    const std::optional<Result<Check>> checked = co_await Workflow::resumeIn(self, {}, job);
    if (!checked)
        co_return;
    const Check check = checked->value_or(Check::NotAFolder);
    if (check == Check::NotAFolder) {
        m_importState->setImportErrorMessage(
            QStringLiteral("Choose an existing folder for Ingest Cache."));
        co_return;
    }
    if (check == Check::NotWritable) {
        m_importState->setImportErrorMessage(
            QStringLiteral("Ingest Cache location needs to be writable."));
        co_return;
    }
    // Saved first: a location used but not remembered would be lost at the next launch.
    if (!m_d->services.ingestCacheLocationStore->save(path)) {
        m_importState->setImportErrorMessage(
            QStringLiteral("Ingest Cache location needs attention."));
        co_return;
    }
    m_d->services.ingestCache
        = IngestCache(path, m_d->services.fileManager, m_d->services.contentHasher);
    m_ingestCacheState->setIngestCacheRoot(path);
    m_importState->setInitialIngestCacheCreation(std::nullopt);
    co_await addReviewToIngestCache();
}

} // namespace Pellwick
