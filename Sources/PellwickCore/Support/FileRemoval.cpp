#include "FileRemoval.h"

#include <PellwickCore/Support/DirectoryWalk.h>
#include <PellwickCore/Support/FileIdentity.h>

#include <QUuid>

#include <cerrno>

namespace Pellwick {

namespace {

bool failedWith(const Result<void> &result, int code)
{
    const auto *error = result ? nullptr : result.error().as<FileSystemError>();
    return error && error->code == code;
}

/// A hidden name beside `path`, unique to this removal, that still shows which file it held.
QString removalName(const QString &path)
{
    const QString name = lastPathComponent(path);
    const QString suffix = QLatin1Char('.') + QUuid::createUuid().toString(QUuid::Id128).left(8)
                           + QStringLiteral(".pellwick-removing");
    const QString hidden = name.toUtf8().size() + 1 + suffix.size() <= maximumNameBytes
                               ? QLatin1Char('.') + name + suffix
                               : suffix;
    return appendingPathComponent(parentPath(path), hidden);
}

} // namespace

Result<bool> removeFileIfStill(const FileManager &fileManager,
                               const QString &path,
                               const FileAttributes &expected)
{
    const Result<FileAttributes> current = fileManager.attributesOfItem(path);
    if (!current) {
        if (leadsNowhere(current.error()))
            return true;
        return tl::unexpected<Error>(current.error());
    }
    if (*current != expected)
        return false;

    // A plain rename, atomic everywhere: the fallbacks of a rename that never replaces (a link
    // and an unlink of the old name) would leave a moment in which a version saved over `path`
    // is unlinked. Nothing is at the new, unique name to be replaced.
    const QString hidden = removalName(path);
    if (Result<void> moved = fileManager.replaceItem(path, hidden); !moved) {
        if (failedWith(moved, ENOENT))
            return true;
        return tl::unexpected<Error>(std::move(moved).error());
    }
    const Result<FileAttributes> taken = fileManager.attributesOfItem(hidden);
    if (taken && *taken == expected) {
        Result<void> removed = fileManager.removeItem(hidden);
        if (!removed && !failedWith(removed, ENOENT)) {
            (void) fileManager.moveItem(hidden, path); // kept under its own name
            return tl::unexpected<Error>(std::move(removed).error());
        }
        return true;
    }
    // Saved anew between the check and the rename: the new version goes back under its name,
    // unless a newer one took it meanwhile.
    if (Result<void> back = fileManager.moveItem(hidden, path); !back && !failedWith(back, EEXIST))
        return tl::unexpected<Error>(std::move(back).error());
    return false;
}

} // namespace Pellwick
