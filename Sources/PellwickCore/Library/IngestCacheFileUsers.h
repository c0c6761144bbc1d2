#pragma once

#include <PellwickCore/Library/LocalLibraryCacheRecords.h>
#include <PellwickCore/Support/FileManager.h>

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QUuid>

#include <memory>

namespace Pellwick {

/// Which library records name a cached file, known by the file itself: records may spell the
/// Ingest Cache through a symbolic link or another mount of its folder, so paths of different text
/// can name one file. Built from the records' paths alone; files are examined only when asked
/// about, and then only those named under the same file name. Not thread-safe.
class IngestCacheFileUsers
{
public:
    IngestCacheFileUsers(const LocalLibraryCacheRecords &records,
                         std::shared_ptr<const FileManager> fileManager);

    /// The ids of the records whose RAW original or sidecar is the file at `path`: named by the
    /// same path, or by one that reaches the same file (device and inode). A named file that
    /// cannot be examined for another reason than its absence counts as the same, and so does
    /// every one named like it when the file at `path` cannot be examined so.
    QSet<QUuid> users(const QString &path) const;

private:
    struct Naming
    {
        QUuid id;
        QString path;
    };

    std::shared_ptr<const FileManager> m_fileManager;
    /// By file name.
    QHash<QString, QList<Naming>> m_namings;
};

} // namespace Pellwick
