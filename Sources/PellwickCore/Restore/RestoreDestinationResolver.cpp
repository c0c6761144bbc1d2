#include "RestoreDestinationResolver.h"

#include <algorithm>

namespace Pellwick {

RestoreDestinationResolver::RestoreDestinationResolver(
    std::shared_ptr<const FileManager> fileManager,
    FileExists fileExists,
    std::shared_ptr<const ContentHashing> contentHasher)
    : m_fileManager(std::move(fileManager))
    , m_fileExists(std::move(fileExists))
    , m_contentHasher(contentHasher ? std::move(contentHasher)
                                    : std::make_shared<SHA256ContentHasher>())
{
    if (!m_fileExists) {
        // A link is taken also when its target is gone: the name cannot be installed to.
        m_fileExists = [fileManager = m_fileManager](const QString &path) {
            return fileManager->fileExists(path) || fileManager->attributesOfItem(path).has_value();
        };
    }
}

tl::expected<QString, RestoreDestinationResolverError> RestoreDestinationResolver::resolve(
    const QString &filename, const QString &directory, const QSet<QString> &reserved) const
{
    if (!isSafePathComponent(filename)) {
        return tl::unexpected(
            RestoreDestinationResolverError{RestoreDestinationResolverError::Conflict{
                destinationPath(directory, usableFilename(filename))}});
    }
    const QString path = destinationPath(directory, filename);
    if (isTaken(path, reserved))
        return tl::unexpected(
            RestoreDestinationResolverError{RestoreDestinationResolverError::Conflict{path}});
    return path;
}

QString RestoreDestinationResolver::pairedSidecarFilename(const QString &rawFilename,
                                                          const QString &canonicalSidecarFilename)
{
    const QString extension = splitFilename(canonicalSidecarFilename).extension;
    const QString stem = splitFilename(rawFilename).stem;
    return extension.isEmpty() ? stem : stem + QLatin1Char('.') + extension;
}

QString RestoreDestinationResolver::suggestedFilename(
    const QString &filename,
    const std::optional<QString> &canonicalSidecarFilename,
    const QString &directory,
    const QSet<QString> &reserved) const
{
    const FilenameParts parts = splitFilename(usableFilename(filename));
    const std::optional<QString> sidecar
        = canonicalSidecarFilename ? std::optional(usableFilename(*canonicalSidecarFilename))
                                   : std::nullopt;
    for (qint64 n = 1;; ++n) {
        QString marker = QStringLiteral("-restored");
        if (n >= 2)
            marker += QLatin1Char('-') + QString::number(n);
        const QString extension
            = parts.extension.isEmpty() ? QString() : QLatin1Char('.') + parts.extension;
        // A name near the file system's limit gives up the end of its stem, so that the
        // suggestion and its paired sidecar name can be created.
        qsizetype longestEnding = (marker + extension).toUtf8().size();
        if (sidecar) {
            const QString sidecarExtension = splitFilename(*sidecar).extension;
            if (!sidecarExtension.isEmpty())
                longestEnding = std::max(
                    longestEnding, (marker + QLatin1Char('.') + sidecarExtension).toUtf8().size());
        }
        QString stem = parts.stem;
        if (longestEnding < maximumNameBytes)
            stem = leadingUtf8Bytes(stem, maximumNameBytes - longestEnding);
        QString candidate = stem + marker + extension;
        if (isTaken(destinationPath(directory, candidate), reserved))
            continue;
        if (sidecar
            && isTaken(destinationPath(directory, pairedSidecarFilename(candidate, *sidecar)),
                       reserved))
            continue;
        return candidate;
    }
}

RestoreDestinationResolver::FilenameParts
RestoreDestinationResolver::splitFilename(const QString &filename)
{
    const qsizetype nameStart = filename.lastIndexOf(QLatin1Char('/')) + 1;
    const qsizetype dot = filename.lastIndexOf(QLatin1Char('.'));
    if (dot <= nameStart || dot == filename.size() - 1)
        return {filename, {}};
    return {filename.left(dot), filename.mid(dot + 1)};
}

QString RestoreDestinationResolver::usableFilename(const QString &filename)
{
    if (isSafePathComponent(filename))
        return filename;
    if (filename.isEmpty() || filename == QLatin1String(".") || filename == QLatin1String(".."))
        return QStringLiteral("file");
    QString usable = filename;
    usable.replace(QLatin1Char('/'), QLatin1Char('_'));
    usable.replace(QChar(u'\0'), QLatin1Char('_'));
    return usable;
}

QString RestoreDestinationResolver::destinationPath(const QString &directory,
                                                    const QString &filename)
{
    QString folder = directory;
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    if (folder.endsWith(QLatin1Char('/')))
        return folder + filename;
    return folder + QLatin1Char('/') + filename;
}

bool RestoreDestinationResolver::isTaken(const QString &path, const QSet<QString> &reserved) const
{
    return reserved.contains(path) || m_fileExists(path);
}

} // namespace Pellwick
