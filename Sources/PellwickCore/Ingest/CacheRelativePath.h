#pragma once

#include <QString>

#include <optional>

namespace Pellwick {

/// A file's path relative to a root folder.
struct CacheRelativePath
{
    /// The path of `file` below `root`, components joined by "/", or nothing when `file` is
    /// absent, is the root itself or lies outside it. Both paths are cleaned of "." and ".."
    /// components first (symbolic links are not resolved), so "/card/../other/x" is not under
    /// "/card".
    static std::optional<QString> value(const std::optional<QString> &file, const QString &root);
};

} // namespace Pellwick
