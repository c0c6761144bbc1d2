// Package checks and removal of the Ingest Cache.
#include "IngestCache.h"

#include <PellwickCore/Support/FileRemoval.h>

#include <QDir>

#include <cerrno>

namespace Pellwick {

namespace {

QStringList packageFiles(const QString &rawURL, const std::optional<QString> &sidecarURL)
{
    QStringList files{rawURL};
    if (sidecarURL)
        files.append(*sidecarURL);
    return files;
}

/// The folder with a trailing "/", so that "/cache-old" does not count as under "/cache".
QString folderPrefix(const QString &folder)
{
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

/// Whether something is at `path` (a symbolic link that leads nowhere counts as nothing). Only a
/// path known to lead nowhere is absent: a folder that cannot be searched or a failing drive says
/// nothing about the file, and fails.
Result<bool> isPresent(const FileManager &fileManager, const QString &path)
{
    if (fileManager.fileExists(path))
        return true;
    Result<FileAttributes> attributes = fileManager.attributesOfItem(path);
    if (attributes || leadsNowhere(attributes.error()))
        return false;
    return tl::unexpected<Error>(std::move(attributes).error());
}

} // namespace

bool IngestCache::isInsideActiveRoot(const QString &path) const
{
    if (m_rootURL.isEmpty())
        return false; // no root configured: "/" would make everything count as inside
    const QString root = resolvingSymlinksInPath(*m_fileManager, m_rootURL);
    const QString resolved = resolvingSymlinksInPath(*m_fileManager, path);
    if (resolved.startsWith(folderPrefix(root)))
        return true;
    // The root under another name that no link leads from (a bind mount): one of the path's
    // folders is the root's folder itself.
    const Result<std::optional<FileIdentity>> rootIdentity
        = presentFileIdentity(*m_fileManager, root);
    if (!rootIdentity || !*rootIdentity)
        return false;
    for (QString folder = parentPath(resolved); folder != parentPath(folder);
         folder = parentPath(folder)) {
        const Result<std::optional<FileIdentity>> identity
            = presentFileIdentity(*m_fileManager, folder);
        if (identity && *identity == *rootIdentity)
            return true;
    }
    return false;
}

bool IngestCache::matchesArchivedPackage(const QString &rawURL,
                                         const std::optional<QString> &sidecarURL,
                                         const QString &contentHash,
                                         const std::optional<QString> &sidecarContentHash) const
{
    return checkArchivedPackage(rawURL, sidecarURL, contentHash, sidecarContentHash).has_value();
}

std::optional<CheckedCachePackage>
IngestCache::checkArchivedPackage(const QString &rawURL,
                                  const std::optional<QString> &sidecarURL,
                                  const QString &contentHash,
                                  const std::optional<QString> &sidecarContentHash) const
{
    if (!isInsideActiveRoot(rawURL) || (sidecarURL && !isInsideActiveRoot(*sidecarURL)))
        return std::nullopt;

    CheckedCachePackage package;
    // The file as it was from before its bytes were read until after: only that file is known
    // to hold them.
    const auto holds = [&](const QString &path, const QString &expected) {
        const Result<FileAttributes> before = m_fileManager->attributesOfItem(path);
        if (!before)
            return false;
        const Result<QString> hash = m_contentHasher->contentHash(path);
        if (!hash || *hash != expected)
            return false;
        const Result<FileAttributes> after = m_fileManager->attributesOfItem(path);
        if (!after || *after != *before)
            return false;
        package.files.append(CheckedCacheFile{path, *before});
        return true;
    };
    const auto absent = [&](const QString &path) {
        package.files.append(CheckedCacheFile{path, std::nullopt});
        return true;
    };
    const auto sidecarMatches = [&](bool missingIsAcceptable) {
        if (!sidecarURL && !sidecarContentHash)
            return true;
        if (!sidecarURL || !sidecarContentHash)
            return false;
        const Result<bool> present = isPresent(*m_fileManager, *sidecarURL);
        if (!present)
            return false;
        if (!*present)
            return missingIsAcceptable && absent(*sidecarURL);
        return holds(*sidecarURL, *sidecarContentHash);
    };

    const Result<bool> rawPresent = isPresent(*m_fileManager, rawURL);
    if (!rawPresent)
        return std::nullopt;
    const bool matches = *rawPresent ? holds(rawURL, contentHash) && sidecarMatches(false)
                                     : absent(rawURL) && sidecarMatches(true);
    if (!matches)
        return std::nullopt;
    return package;
}

Result<bool> IngestCache::removeCheckedPackage(const CheckedCachePackage &package) const
{
    for (const CheckedCacheFile &file : package.files) {
        if (!isInsideActiveRoot(file.url))
            return false;
    }
    // Every file first: a package one of whose files was saved anew since the check keeps all.
    for (const CheckedCacheFile &file : package.files) {
        if (!file.attributes) {
            PELLWICK_TRY_ASSIGN(const bool present, isPresent(*m_fileManager, file.url));
            if (present)
                return false;
            continue;
        }
        const Result<FileAttributes> current = m_fileManager->attributesOfItem(file.url);
        if (current && *current != *file.attributes)
            return false;
    }
    for (const CheckedCacheFile &file : package.files) {
        if (!file.attributes)
            continue;
        PELLWICK_TRY_ASSIGN(const bool removed,
                            removeFileIfStill(*m_fileManager, file.url, *file.attributes));
        if (!removed)
            return false;
        // The removal lasts only once the folder that lost an entry (the file's, or the highest
        // emptied one's parent) is flushed.
        PELLWICK_TRY_ASSIGN(const QString left,
                            removeEmptyFolders(parentPath(QDir::cleanPath(file.url))));
        PELLWICK_TRY(m_fileManager->synchronizeDirectory(left));
    }
    return true;
}

Result<void> IngestCache::removeArchivedPackage(const QString &rawURL,
                                                const std::optional<QString> &sidecarURL) const
{
    const QStringList files = packageFiles(rawURL, sidecarURL);
    for (const QString &file : files) {
        if (!isInsideActiveRoot(file))
            return {};
    }
    return removePackageFiles(files);
}

Result<void> IngestCache::removeUnarchivedPackage(const QString &rawURL,
                                                  const std::optional<QString> &sidecarURL) const
{
    const QStringList files = packageFiles(rawURL, sidecarURL);
    for (const QString &file : files) {
        if (!isInsideActiveRoot(file))
            return failure(IngestCacheError{IngestCacheError::PackageOutsideActiveRoot{}});
    }
    return removePackageFiles(files);
}

Result<void> IngestCache::removePackageFiles(const QStringList &files) const
{
    // Each removal is flushed before the call reports it done: a record letting go of files that
    // a power cut then brings back would leave them to be found as a photo of no record's.
    QStringList changed;
    const auto flushChanged = [&]() -> Result<void> {
        for (const QString &folder : std::as_const(changed)) {
            Result<void> flushed = m_fileManager->synchronizeDirectory(folder);
            if (!flushed && !leadsNowhere(flushed.error())) // gone since: its parent was flushed
                return flushed;
        }
        return {};
    };
    const auto removeFile = [&](const QString &file) -> Result<void> {
        PELLWICK_TRY_ASSIGN(const bool present, isPresent(*m_fileManager, file));
        if (!present)
            return {};
        // A package names files; a record pointing at a folder must not empty a whole batch.
        PELLWICK_TRY_ASSIGN(FileAttributes attributes, m_fileManager->attributesOfItem(file));
        if (attributes.type == FileAttributes::Type::Directory)
            return fileSystemFailure(QStringLiteral("remove"), file, EISDIR);
        PELLWICK_TRY(m_fileManager->removeItem(file));
        const QString folder = parentPath(QDir::cleanPath(file));
        if (!changed.contains(folder))
            changed.append(folder);
        PELLWICK_TRY_ASSIGN(const QString left, removeEmptyFolders(folder));
        // The folders removed on the way up are gone; the one the climb stopped at changed.
        changed.removeIf([&](const QString &each) {
            return each != left && isSameOrInside(folder, each) && isSameOrInside(each, left);
        });
        if (!changed.contains(left))
            changed.append(left);
        return {};
    };
    for (const QString &file : files) {
        if (Result<void> removed = removeFile(file); !removed) {
            (void) flushChanged();
            return removed;
        }
    }
    return flushChanged();
}

Result<void> IngestCache::removeEmptyParentFolders(const QString &folder) const
{
    PELLWICK_TRY(removeEmptyFolders(folder));
    return {};
}

Result<QString> IngestCache::removeEmptyFolders(const QString &folder) const
{
    QString current = QDir::cleanPath(folder);
    if (m_rootURL.isEmpty())
        return current;
    const QString root = QDir::cleanPath(m_rootURL);
    const QString rootPrefix = folderPrefix(root);
    // Climb only inside the root: a sibling such as "<root>-old" is never touched.
    while (current.startsWith(rootPrefix)) {
        PELLWICK_TRY_ASSIGN(QStringList entries, m_fileManager->contentsOfDirectory(current));
        if (!entries.isEmpty())
            return current;
        // Only while still empty, never with everything in it: a copy-in may have started a batch
        // here since the listing. A link that merely leads to an empty folder is left too.
        if (Result<void> removed = m_fileManager->removeDirectory(current); !removed) {
            const FileSystemError *error = removed.error().as<FileSystemError>();
            if (error
                && (error->code == ENOTEMPTY || error->code == EEXIST || error->code == ENOTDIR))
                return current;
            return tl::unexpected<Error>(std::move(removed).error());
        }
        current = parentPath(current);
    }
    return current;
}

} // namespace Pellwick
