#include "DirectoryWalk.h"

#include <cerrno>

namespace Pellwick {

namespace {

/// One folder being walked: its entries and the next one to visit.
struct OpenFolder
{
    QString path;
    QList<DirectoryEntry> entries;
    qsizetype next = 0;
};

} // namespace

Result<void> walkDirectoryTree(const FileManager &fileManager,
                               const QString &root,
                               const DirectoryWalkOptions &options,
                               const DirectoryWalkVisitor &visit)
{
    // An explicit stack instead of recursion: the depth of a tree is for its owner to choose,
    // and a worker thread's stack is small.
    QList<OpenFolder> stack;
    const auto open = [&](const QString &folder, bool isRoot) -> Result<void> {
        Result<QList<DirectoryEntry>> entries = options.typesOnly
                                                    ? fileManager.typedEntriesOfDirectory(folder)
                                                    : fileManager.entriesOfDirectory(folder);
        if (!entries) {
            const bool passOver
                = isRoot ? options.passOverUnreadableRoot : options.passOverUnreadableSubfolders;
            if (passOver)
                return {};
            return tl::unexpected<Error>(std::move(entries).error());
        }
        stack.append(OpenFolder{folder, std::move(*entries)});
        return {};
    };

    PELLWICK_TRY(open(root, true));
    while (!stack.isEmpty()) {
        OpenFolder &top = stack.last();
        if (top.next == top.entries.size()) {
            stack.removeLast();
            continue;
        }
        const DirectoryEntry &entry = top.entries.at(top.next++);
        if (options.skipHiddenEntries && entry.name.startsWith(QLatin1Char('.')))
            continue;
        PELLWICK_TRY_ASSIGN(bool descend, visit(top.path, entry));
        if (!descend || entry.attributes.type != FileAttributes::Type::Directory)
            continue;
        const QString path = appendingPathComponent(top.path, entry.name);
        if (!entry.hasValidName) {
            if (options.passOverUnreadableSubfolders)
                continue;
            return fileSystemFailure(QStringLiteral("read name"), path, EILSEQ);
        }
        PELLWICK_TRY(open(path, false)); // `top` and `entry` are not used after this
    }
    return {};
}

QString appendingPathComponent(const QString &folder, const QString &name)
{
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

} // namespace Pellwick
