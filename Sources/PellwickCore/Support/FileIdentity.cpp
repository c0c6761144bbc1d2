#include "FileIdentity.h"

#include <QDir>

#include <cerrno>

namespace Pellwick {

std::optional<FileIdentity> FileIdentity::of(const FileAttributes &attributes)
{
    if (attributes.inode == 0)
        return std::nullopt;
    return FileIdentity{attributes.device, attributes.inode};
}

Result<FileIdentity> fileIdentity(const FileManager &fileManager, const QString &path)
{
    PELLWICK_TRY_ASSIGN(const FileAttributes attributes,
                        fileManager.attributesOfItem(resolvingSymlinksInPath(fileManager, path)));
    if (const std::optional<FileIdentity> identity = FileIdentity::of(attributes))
        return *identity;
    return failure(FileSystemError{QStringLiteral("stat"), path, EINVAL});
}

bool leadsNowhere(const Error &error)
{
    const FileSystemError *failure = error.as<FileSystemError>();
    return failure && (failure->code == ENOENT || failure->code == ENOTDIR);
}

Result<std::optional<FileAttributes>> presentAttributes(const FileManager &fileManager,
                                                        const QString &path)
{
    Result<FileAttributes> attributes = fileManager.attributesOfItem(path);
    if (attributes)
        return std::optional(*attributes);
    if (leadsNowhere(attributes.error()))
        return std::optional<FileAttributes>();
    return tl::unexpected<Error>(std::move(attributes).error());
}

Result<std::optional<FileIdentity>> presentFileIdentity(const FileManager &fileManager,
                                                        const QString &path)
{
    PELLWICK_TRY_ASSIGN(const std::optional<FileAttributes> attributes,
                        presentAttributes(fileManager, path));
    if (!attributes)
        return std::optional<FileIdentity>();
    if (attributes->type != FileAttributes::Type::SymbolicLink)
        return FileIdentity::of(*attributes);
    Result<FileIdentity> identity = fileIdentity(fileManager, path);
    if (identity)
        return std::optional(*identity);
    if (leadsNowhere(identity.error()))
        return std::optional<FileIdentity>();
    return tl::unexpected<Error>(std::move(identity).error());
}

std::optional<int>
sameOrInsideDepth(const FileManager &fileManager, const QString &path, const QString &folder)
{
    if (folder.isEmpty() || path.isEmpty())
        return std::nullopt;
    const QString resolvedPath = resolvingSymlinksInPath(fileManager, path);
    const QString resolvedFolder = resolvingSymlinksInPath(fileManager, folder);
    std::optional<int> byText;
    if (isSameOrInside(resolvedPath, resolvedFolder)) {
        const auto components = [](const QString &text) {
            return text.split(QLatin1Char('/'), Qt::SkipEmptyParts).size();
        };
        byText = static_cast<int>(components(resolvedPath) - components(resolvedFolder));
    }
    const Result<FileAttributes> folderAttributes = fileManager.attributesOfItem(resolvedFolder);
    const std::optional<FileIdentity> folderIdentity
        = folderAttributes ? FileIdentity::of(*folderAttributes) : std::nullopt;
    if (!folderIdentity)
        return byText;

    // Only the ancestors below the one the text already found can say something nearer.
    QString current = resolvedPath;
    for (int depth = 0; !byText || depth < *byText; ++depth) {
        if (const Result<FileAttributes> attributes = fileManager.attributesOfItem(current);
            attributes && FileIdentity::of(*attributes) == folderIdentity)
            return depth;
        const QString parent = parentPath(current);
        if (parent == current || parent == QLatin1String("."))
            break;
        current = parent;
    }
    return byText;
}

bool isSameOrInsideByIdentity(const FileManager &fileManager,
                              const QString &path,
                              const QString &folder)
{
    return sameOrInsideDepth(fileManager, path, folder).has_value();
}

bool overlapByIdentity(const FileManager &fileManager, const QString &a, const QString &b)
{
    return isSameOrInsideByIdentity(fileManager, a, b)
           || isSameOrInsideByIdentity(fileManager, b, a);
}

} // namespace Pellwick
