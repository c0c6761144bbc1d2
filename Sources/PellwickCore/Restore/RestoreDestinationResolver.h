#pragma once

#include <PellwickCore/Ingest/ContentHashing.h>
#include <PellwickCore/Support/FileManager.h>

#include <QSet>
#include <QString>

#include <tl/expected.hpp>

#include <functional>
#include <memory>
#include <optional>

namespace Pellwick {

/// A proposed destination is taken: claimed earlier in the same run, present on disk, or (for a
/// name that is not one safe path component) unusable. `url` is the taken path, always inside the
/// destination folder.
struct RestoreDestinationResolverError
{
    struct Conflict
    {
        QString url;
        bool operator==(const Conflict &) const = default;
    };

    std::variant<Conflict> value;

    bool operator==(const RestoreDestinationResolverError &) const = default;
};

/// Decides whether a destination name in the restore folder is free and proposes free
/// "-restored" names. A plain value; thread-safe as its file manager is. Paths are absolute.
class RestoreDestinationResolver
{
public:
    /// True when something is present at the path.
    using FileExists = std::function<bool(const QString &path)>;

    /// A file name split at its extension's dot.
    struct FilenameParts
    {
        QString stem;
        QString extension; ///< empty when the name has none
        bool operator==(const FilenameParts &) const = default;
    };

    /// `fileExists` defaults to `fileManager`'s existence test, which follows symbolic links, or
    /// an entry of any kind (a folder, or a link to anything or to nothing, counts as taken).
    /// `fileManager` also resolves the links of folders compared by the transfer builder, and
    /// `contentHasher` (SHA-256 by default) tells it whether a file already at a destination is
    /// the restored content.
    explicit RestoreDestinationResolver(std::shared_ptr<const FileManager> fileManager
                                        = std::make_shared<LocalFileManager>(),
                                        FileExists fileExists = {},
                                        std::shared_ptr<const ContentHashing> contentHasher = {});

    const std::shared_ptr<const FileManager> &fileManager() const { return m_fileManager; }

    const std::shared_ptr<const ContentHashing> &contentHasher() const { return m_contentHasher; }

    /// `directory` + `filename` when that path is neither in `reserved` (consulted first, so the
    /// disk is not touched for a name already claimed) nor present on disk. A `filename` that is
    /// not one safe path component is taken too: its conflict names the path of
    /// `usableFilename(filename)`, so that nothing outside `directory` is ever named.
    [[nodiscard]] tl::expected<QString, RestoreDestinationResolverError>
    resolve(const QString &filename, const QString &directory, const QSet<QString> &reserved) const;

    /// The RAW filename's stem, then "." and the sidecar's extension; the stem alone when the
    /// sidecar name has no extension (IMG_0001-restored.CR3 + IMG_0001.xmp -> IMG_0001-restored.xmp).
    static QString pairedSidecarFilename(const QString &rawFilename,
                                         const QString &canonicalSidecarFilename);

    /// The first of stem-restored.ext, stem-restored-2.ext, stem-restored-3.ext, ... whose path in
    /// `directory` is free, together with its paired sidecar name when `canonicalSidecarFilename`
    /// is given (free: neither reserved nor on disk). `filename` is made usable first
    /// (`usableFilename`). A stem too long for the file system's 255-byte names beside the ending
    /// is cut short at a character boundary. Has no upper bound: it ends because `reserved` and
    /// the folder are finite.
    QString suggestedFilename(const QString &filename,
                              const std::optional<QString> &canonicalSidecarFilename,
                              const QString &directory,
                              const QSet<QString> &reserved) const;

    /// Splits a file name at the last dot that is neither its first nor its last character: "a.b.CR3"
    /// -> ("a.b", "CR3"); ".hidden" -> (".hidden", ""); "name." -> ("name.", ""); "SCAN" ->
    /// ("SCAN", ""). Only the text after the last "/" can hold the extension.
    static FilenameParts splitFilename(const QString &filename);

    /// `filename` when it is one safe path component; otherwise a usable name made from it: "/"
    /// and NUL become "_", and an empty name, "." or ".." becomes "file".
    static QString usableFilename(const QString &filename);

    /// `directory` + "/" + `filename`, without doubling a trailing slash of `directory`.
    static QString destinationPath(const QString &directory, const QString &filename);

private:
    bool isTaken(const QString &path, const QSet<QString> &reserved) const;

    std::shared_ptr<const FileManager> m_fileManager;
    FileExists m_fileExists;
    std::shared_ptr<const ContentHashing> m_contentHasher;
};

} // namespace Pellwick
