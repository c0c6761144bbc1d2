#pragma once

#include <PellwickCore/Support/FileManager.h>

#include <QHashFunctions>

#include <optional>

namespace Pellwick {

/// A file or folder as the file system knows it, whatever path reaches it: two paths name one
/// item when their identities are equal (a hard link, a bind mount, one share mounted twice).
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;

    /// The identity `attributes` carry; none when they carry no inode (nothing that can be
    /// compared).
    static std::optional<FileIdentity> of(const FileAttributes &attributes);

    bool operator==(const FileIdentity &) const = default;
};

inline size_t qHash(const FileIdentity &identity, size_t seed = 0) noexcept
{
    return qHashMulti(seed, identity.device, identity.inode);
}

/// The identity of what `path` reaches, symbolic links followed. Fails as
/// `FileManager::attributesOfItem` does; an item without an inode fails with EINVAL.
[[nodiscard]] Result<FileIdentity> fileIdentity(const FileManager &fileManager,
                                                const QString &path);

/// Whether `error` says nothing is at the path it names (no such file, a folder on the way is
/// none). A folder that cannot be searched or a failing drive says nothing about the file.
bool leadsNowhere(const Error &error);

/// The attributes of the item at `path` (a symbolic link itself); none when nothing is there.
/// Fails with the file system's error when that cannot be told.
[[nodiscard]] Result<std::optional<FileAttributes>>
presentAttributes(const FileManager &fileManager, const QString &path);

/// The identity of what `path` leads to, symbolic links followed (`fileIdentity`); none when
/// nothing is there (no such file, a symbolic link leading nowhere). Fails with the file system's
/// error when that cannot be told (a folder that cannot be searched, a failing drive). One status
/// call unless the path's last component is a symbolic link.
[[nodiscard]] Result<std::optional<FileIdentity>>
presentFileIdentity(const FileManager &fileManager, const QString &path);

/// How many folders up from `path` one meets `folder` (0: `path` is `folder`), or none when
/// `path` is not `folder` nor inside it. Judged by identity: `folder`'s device and inode against
/// those of `path` and of each of its ancestors, symbolic links resolved, so that a bind mount or
/// a second mount of the same share is found; parts of `path` that do not exist yet are passed
/// over. Also by the text of both paths with their links resolved, so that a `folder` that does
/// not exist still holds what is written inside it. An empty `folder` holds nothing. Reads the
/// file system; never fails.
std::optional<int>
sameOrInsideDepth(const FileManager &fileManager, const QString &path, const QString &folder);
/// `sameOrInsideDepth` has a value: `path` is `folder` or lies inside it, by identity or by text.
bool isSameOrInsideByIdentity(const FileManager &fileManager,
                              const QString &path,
                              const QString &folder);
/// `a` and `b` are one folder or one lies inside the other, as `isSameOrInsideByIdentity` judges.
bool overlapByIdentity(const FileManager &fileManager, const QString &a, const QString &b);

} // namespace Pellwick
