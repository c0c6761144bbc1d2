#include "DirectoryWalk.h"

#include <cerrno>

namespace Pellwick {

namespace {

class Walker
{
public:
    Walker(const FileManager &fileManager,
           const DirectoryWalkOptions &options,
           const DirectoryWalkVisitor &visit)
        : m_fileManager(fileManager)
        , m_options(options)
        , m_visit(visit)
    {}

    Result<void> walk(const QString &folder, bool isRoot)
    {
        Result<QList<DirectoryEntry>> entries = m_fileManager.entriesOfDirectory(folder);
        if (!entries) {
            const bool passOver = isRoot ? m_options.passOverUnreadableRoot
                                         : m_options.passOverUnreadableSubfolders;
            if (passOver)
                return {};
            return tl::unexpected<Error>(std::move(entries).error());
        }
        for (const DirectoryEntry &entry : *entries) {
            if (m_options.skipHiddenEntries && entry.name.startsWith(QLatin1Char('.')))
                continue;
            Result<bool> descend = m_visit(folder, entry);
            if (!descend)
                return tl::unexpected<Error>(std::move(descend).error());
            if (!*descend || entry.attributes.type != FileAttributes::Type::Directory)
                continue;
            const QString path = appendingPathComponent(folder, entry.name);
            if (!entry.hasValidName) {
                if (m_options.passOverUnreadableSubfolders)
                    continue;
                return fileSystemFailure(QStringLiteral("read name"), path, EILSEQ);
            }
            PELLWICK_TRY(walk(path, false));
        }
        return {};
    }

private:
    const FileManager &m_fileManager;
    const DirectoryWalkOptions &m_options;
    const DirectoryWalkVisitor &m_visit;
};

} // namespace

Result<void> walkDirectoryTree(const FileManager &fileManager,
                               const QString &root,
                               const DirectoryWalkOptions &options,
                               const DirectoryWalkVisitor &visit)
{
    return Walker(fileManager, options, visit).walk(root, true);
}

QString appendingPathComponent(const QString &folder, const QString &name)
{
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

} // namespace Pellwick
