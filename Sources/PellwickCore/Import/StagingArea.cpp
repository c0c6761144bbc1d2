#include "StagingArea.h"

#include <PellwickCore/Ingest/VerifiedFileCopy.h>
#include <PellwickCore/Support/AtomicFile.h>
#include <PellwickCore/Support/Json.h>
#include <PellwickCore/Support/UuidText.h>

#include <QDir>
#include <QSet>

#include <cerrno>
#include <mutex>

namespace Pellwick {

namespace {

const QString stateFileName = QStringLiteral("import-state.json");
/// A record of even the most parts is far smaller; anything larger is damaged.
constexpr qint64 maximumRecordBytes = qint64{8} * 1024 * 1024;

/// True when `relativePath` is "<folder>/<name>" with a name usable as one path component.
bool isInFolder(const QString &relativePath, const QString &folder)
{
    const QString prefix = folder + QLatin1Char('/');
    return relativePath.startsWith(prefix) && isSafePathComponent(relativePath.mid(prefix.size()));
}

/// The package folder named by a staged path "<folder>/<name>", or nothing for any other form.
std::optional<QString> packageFolderOf(const QString &relativePath)
{
    const qsizetype slash = relativePath.indexOf(QLatin1Char('/'));
    if (slash < 0)
        return std::nullopt;
    const QString folder = relativePath.left(slash);
    if (!isSafePathComponent(folder) || !isInFolder(relativePath, folder))
        return std::nullopt;
    return folder;
}

/// True when every path of the record stays inside `folder` (the preview's inside its own
/// folder of the library).
bool staysInFolder(const StagedImportRecord &record, const QString &folder)
{
    return isInFolder(record.stagedOriginalRelativePath, folder)
           && (!record.stagedSidecarRelativePath
               || isInFolder(*record.stagedSidecarRelativePath, folder))
           && (!record.previewRelativePath || isSafePathComponent(*record.previewRelativePath));
}

tl::unexpected<Error> invalidName(const QString &name)
{
    return failure(FileSystemError{QStringLiteral("stage"), name, EINVAL});
}

/// The package folders (full paths) that a staging of this process has made and whose first
/// record is not written yet. A folder leaves the set only once its record is in place, so a
/// folder found neither here nor with a record is nobody's.
class FoldersBeingFilled
{
public:
    static FoldersBeingFilled &shared()
    {
        static FoldersBeingFilled folders;
        return folders;
    }

    void insert(const QString &folder)
    {
        const std::lock_guard lock(m_mutex);
        m_folders.insert(folder);
    }

    void remove(const QString &folder)
    {
        const std::lock_guard lock(m_mutex);
        m_folders.remove(folder);
    }

    /// Runs `body` unless `folder` is being filled, with no staging able to start or finish
    /// its first record meanwhile.
    template<typename Body>
    void unlessFilling(const QString &folder, Body body)
    {
        const std::lock_guard lock(m_mutex);
        if (!m_folders.contains(folder))
            body();
    }

private:
    std::mutex m_mutex;
    QSet<QString> m_folders;
};

/// True for the names staging gives package folders.
bool isPackageFolderName(const QString &name)
{
    const std::optional<QUuid> id = uuidFromText(name);
    return id && uuidText(*id) == name;
}

} // namespace

StagingArea::StagingArea(QString rootURL,
                         std::shared_ptr<const FileManager> fileManager,
                         std::shared_ptr<const ContentHashing> contentHasher)
    : m_rootURL(std::move(rootURL))
    , m_fileManager(std::move(fileManager))
    , m_contentHasher(std::move(contentHasher))
{}

Result<StagedRawOriginal> StagingArea::stage(const ImportReviewItem &item) const
{
    if (!isSafePathComponent(item.filename))
        return invalidName(item.filename);
    if (item.sidecar && !isSafePathComponent(item.sidecar->filename))
        return invalidName(item.sidecar->filename);

    const QString folderName = uuidText(QUuid::createUuid());
    const QString folder = m_rootURL + QLatin1Char('/') + folderName;
    FoldersBeingFilled::shared().insert(folder);
    if (Result<void> created = m_fileManager->createPrivateDirectory(folder); !created) {
        FoldersBeingFilled::shared().remove(folder);
        return tl::unexpected<Error>(created.error());
    }

    const bool productionHasher = m_contentHasher->hashIsSha256OfContent();
    auto copy = [&](const QString &source,
                    const QString &destination,
                    std::optional<QString> &verifiedHash) -> Result<void> {
        QString hash;
        PELLWICK_TRY(VerifiedFileCopy::copy(
            source, destination, *m_fileManager, *m_contentHasher, {}, {}, &hash));
        if (productionHasher)
            verifiedHash = hash;
        return {};
    };

    // Nothing refers to the new folder yet, so a failure takes it away again.
    auto staged = [&]() -> Result<StagedRawOriginal> {
        StagedRawOriginal out;
        out.url = folder + QLatin1Char('/') + item.filename;
        PELLWICK_TRY(copy(item.url, out.url, out.verifiedContentHash));
        Result<FileAttributes> rawAttributes = m_fileManager->attributesOfItem(out.url);
        PELLWICK_TRY(rawAttributes);
        out.byteCount = rawAttributes->size;
        out.relativePath = folderName + QLatin1Char('/') + item.filename;
        // The names were checked above: what a record will hold stays in the package's folder.
        Q_ASSERT(packageFolderOf(out.relativePath) == folderName);
        out.stateURL = folder + QLatin1Char('/') + stateFileName;
        if (item.sidecar) {
            const QString sidecar = folder + QLatin1Char('/') + item.sidecar->filename;
            PELLWICK_TRY(copy(item.sidecar->url, sidecar, out.verifiedSidecarContentHash));
            Result<FileAttributes> sidecarAttributes = m_fileManager->attributesOfItem(sidecar);
            PELLWICK_TRY(sidecarAttributes);
            out.sidecarURL = sidecar;
            out.sidecarByteCount = sidecarAttributes->size;
            out.sidecarRelativePath = folderName + QLatin1Char('/') + item.sidecar->filename;
            Q_ASSERT(isInFolder(*out.sidecarRelativePath, folderName));
        }
        return out;
    }();
    if (!staged) {
        (void) m_fileManager->removeItem(folder);
        FoldersBeingFilled::shared().remove(folder);
    }
    return staged;
}

QString StagingArea::resolved(const QString &relativePath) const
{
    return m_rootURL + QLatin1Char('/') + relativePath;
}

QString StagingArea::recordURL(const StagedImportRecord &record) const
{
    return parentPath(resolved(record.stagedOriginalRelativePath)) + QLatin1Char('/')
           + stateFileName;
}

QString StagingArea::stagedOriginalURL(const StagedImportRecord &record) const
{
    return resolved(record.stagedOriginalRelativePath);
}

std::optional<QString> StagingArea::stagedSidecarURL(const StagedImportRecord &record) const
{
    if (!record.stagedSidecarRelativePath)
        return std::nullopt;
    return resolved(*record.stagedSidecarRelativePath);
}

Result<void> StagingArea::writeRecord(const StagedImportRecord &record) const
{
    const std::optional<QString> folderName = packageFolderOf(record.stagedOriginalRelativePath);
    if (!folderName || !staysInFolder(record, *folderName))
        return failure(
            FileSystemError{QStringLiteral("write"), record.stagedOriginalRelativePath, EINVAL});
    const QString folder = m_rootURL + QLatin1Char('/') + *folderName;
    PELLWICK_TRY(m_fileManager->createPrivateDirectory(folder));
    Result<QByteArray> bytes = Json::serialize(toJson(record), Json::Format::Pretty);
    PELLWICK_TRY(bytes);
    PELLWICK_TRY(writeFileAtomically(
        *m_fileManager, folder + QLatin1Char('/') + stateFileName, *bytes, FileAccess::OwnerOnly));
    // The record now keeps the folder.
    FoldersBeingFilled::shared().remove(folder);
    return {};
}

Result<void> StagingArea::discardStaged(const StagedRawOriginal &staged) const
{
    const QString folder = parentPath(staged.url);
    Result<void> removed;
    if (!m_fileManager->fileExists(folder + QLatin1Char('/') + stateFileName))
        removed = m_fileManager->removeItem(folder);
    FoldersBeingFilled::shared().remove(folder);
    return removed;
}

Result<qsizetype> StagingArea::removeAbandonedPackages() const
{
    Result<QStringList> folders = packageFolders();
    PELLWICK_TRY(folders);
    qsizetype removed = 0;
    for (const QString &name : *folders) {
        if (!isPackageFolderName(name))
            continue;
        const QString folder = m_rootURL + QLatin1Char('/') + name;
        // Checked under the lock: a staging of this process either still holds the folder or
        // has already put its record in place.
        FoldersBeingFilled::shared().unlessFilling(folder, [&] {
            Result<QStringList> names = m_fileManager->contentsOfDirectory(folder);
            if (!names || names->contains(stateFileName))
                return;
            if (m_fileManager->removeItem(folder))
                ++removed;
        });
    }
    return removed;
}

Result<QStringList> StagingArea::packageFolders() const
{
    if (!m_fileManager->fileExists(m_rootURL))
        return QStringList();
    Result<QList<DirectoryEntry>> entries = m_fileManager->entriesOfDirectory(m_rootURL);
    PELLWICK_TRY(entries);
    QStringList folders;
    for (const DirectoryEntry &entry : *entries)
        if (entry.hasValidName && entry.attributes.type == FileAttributes::Type::Directory)
            folders.append(entry.name);
    return folders;
}

Result<StagingRecoveryReport> StagingArea::readRecoverableRecords() const
{
    Result<QStringList> folders = packageFolders();
    PELLWICK_TRY(folders);
    StagingRecoveryReport report;
    for (const QString &folder : *folders) {
        const QString state
            = m_rootURL + QLatin1Char('/') + folder + QLatin1Char('/') + stateFileName;
        if (!m_fileManager->fileExists(state))
            continue;
        Result<QByteArray> bytes
            = readRegularFileContents(*m_fileManager, state, maximumRecordBytes);
        if (!bytes) {
            report.issues.append(StagingRecoveryIssue{state, std::nullopt});
            continue;
        }
        Result<QJsonObject> object = Json::parseObject(*bytes);
        Result<StagedImportRecord> record
            = object ? stagedImportRecordFromJson(*object)
                     : Result<StagedImportRecord>(tl::unexpected<Error>(std::move(object).error()));
        if (record && staysInFolder(*record, folder))
            report.records.append(*record);
        else
            report.issues.append(StagingRecoveryIssue{state, localLibraryItemID(*bytes)});
    }
    return report;
}

Result<void> StagingArea::removeRecord(const QUuid &localLibraryItemID) const
{
    return removeRecordFolders(localLibraryItemID, false);
}

Result<void> StagingArea::removeRecords(const QUuid &localLibraryItemID) const
{
    return removeRecordFolders(localLibraryItemID, true);
}

Result<void> StagingArea::removeRecordFolders(const QUuid &localLibraryItemID, bool all) const
{
    Result<QStringList> folders = packageFolders();
    PELLWICK_TRY(folders);
    for (const QString &folder : *folders) {
        const QString path = m_rootURL + QLatin1Char('/') + folder;
        Result<QByteArray> bytes = readRegularFileContents(
            *m_fileManager, path + QLatin1Char('/') + stateFileName, maximumRecordBytes);
        if (!bytes || StagingArea::localLibraryItemID(*bytes) != localLibraryItemID)
            continue;
        PELLWICK_TRY(removePackageFolder(path));
        if (!all)
            return {};
    }
    return {};
}

Result<void> StagingArea::removePackage(const StagedImportRecord &record) const
{
    const QString state = recordURL(record);
    const QString folder = parentPath(state);
    if (QDir::cleanPath(parentPath(folder)) != QDir::cleanPath(m_rootURL))
        return {};
    Result<QByteArray> bytes = readRegularFileContents(*m_fileManager, state, maximumRecordBytes);
    if (!bytes || StagingArea::localLibraryItemID(*bytes) != record.localLibraryItemID)
        return {};
    return removePackageFolder(folder);
}

Result<void> StagingArea::removePackageFolder(const QString &folder) const
{
    Result<QStringList> names = m_fileManager->contentsOfDirectory(folder);
    PELLWICK_TRY(names);
    for (const QString &name : *names)
        if (name != stateFileName)
            PELLWICK_TRY(m_fileManager->removeItem(folder + QLatin1Char('/') + name));
    PELLWICK_TRY(m_fileManager->removeItem(folder + QLatin1Char('/') + stateFileName));
    PELLWICK_TRY(m_fileManager->removeDirectory(folder));
    // Done only once durable: a record that a power cut brought back would resume an import
    // that was cancelled or is settled.
    return m_fileManager->synchronizeDirectory(parentPath(folder));
}

std::optional<QUuid> StagingArea::localLibraryItemID(const QByteArray &data)
{
    Result<QJsonObject> object = Json::parseObject(data);
    if (!object)
        return std::nullopt;
    const QJsonValue value = object->value(QStringLiteral("localLibraryItemID"));
    if (!value.isString())
        return std::nullopt;
    return uuidFromText(value.toString());
}

} // namespace Pellwick
