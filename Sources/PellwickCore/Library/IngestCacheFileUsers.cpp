#include "IngestCacheFileUsers.h"

#include <PellwickCore/Support/FileIdentity.h>

#include <QDir>

#include <optional>

namespace Pellwick {

IngestCacheFileUsers::IngestCacheFileUsers(const LocalLibraryCacheRecords &records,
                                           std::shared_ptr<const FileManager> fileManager)
    : m_fileManager(std::move(fileManager))
{
    records.forEach([this](const LocalLibraryItem &item) {
        for (const auto &url : {item.ingestCacheOriginalURL, item.ingestCacheSidecarURL}) {
            if (!url)
                continue;
            const QString path = QDir::cleanPath(*url);
            m_namings[lastPathComponent(path)].append(Naming{item.id, path});
        }
    });
}

QSet<QUuid> IngestCacheFileUsers::users(const QString &path) const
{
    const QString cleaned = QDir::cleanPath(path);
    const QList<Naming> namings = m_namings.value(lastPathComponent(cleaned));
    QSet<QUuid> found;
    if (namings.isEmpty())
        return found;
    const Result<std::optional<FileAttributes>> file = presentAttributes(*m_fileManager, cleaned);
    for (const Naming &naming : namings) {
        if (naming.path == cleaned || !file) {
            found.insert(naming.id);
            continue;
        }
        if (!*file)
            continue; // nothing at `path`: only the same path names it
        const Result<std::optional<FileAttributes>> other
            = presentAttributes(*m_fileManager, naming.path);
        if (!other
            || (*other && (*other)->device == (*file)->device && (*other)->inode == (*file)->inode))
            found.insert(naming.id);
    }
    return found;
}

} // namespace Pellwick
