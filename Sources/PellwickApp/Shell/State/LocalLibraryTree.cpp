#include "LocalLibraryTree.h"

#include <PellwickCore/Ingest/CacheRelativePath.h>
#include <PellwickCore/Support/DirectoryWalk.h>
#include <PellwickCore/Support/Executor.h>
#include <PellwickCore/Support/FileBrowserSortKey.h>
#include <PellwickCore/Support/FileManager.h>

#include <QSet>

#include <algorithm>
#include <deque>
#include <numeric>
#include <optional>
#include <span>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace Pellwick {

namespace {

/// A fast hash of a text's code units: a tree of 100,000 records hashes many long texts. Not
/// `noexcept`, so that the standard containers keep each key's hash instead of computing it again
/// at every step of a lookup.
struct TextHash
{
    using is_transparent = void; // NOLINT(readability-identifier-naming): the standard name

    size_t operator()(QStringView text) const
    {
        return std::hash<std::u16string_view>()(
            std::u16string_view(text.utf16(), static_cast<size_t>(text.size())));
    }
};

/// Compares texts of any kind, so that a map keyed by `QString` is searched with a view.
struct TextEqual
{
    using is_transparent = void; // NOLINT(readability-identifier-naming): the standard name

    bool operator()(QStringView a, QStringView b) const { return a == b; }
};

/// The records of one photo at one file name: positions in the input, one per id, all of one
/// content. The positions and texts live as long as the builder.
struct Group
{
    std::span<const qsizetype> items;
    /// What tells the photo's row id from those of the other photos of its content, for the
    /// few contents that several photos share; null for every other group.
    const QString *idSuffix = nullptr;
};

struct File
{
    QList<Group> groups;
};

/// One name of a folder with its sort key, computed once per build.
template<typename Entry>
struct SortedName
{
    QString key;
    QString name;
    Entry *entry;
};

/// Folders live in the builder's arena, so pointers to them stay valid while it grows.
struct Folder
{
    std::unordered_map<QString, Folder *, TextHash, TextEqual> folders;
    std::unordered_map<QString, File, TextHash, TextEqual> files;
    std::optional<QList<QUuid>> eligibleActionItemIDs; ///< gathered once, on first need
    // Set on the folders whose rows are built, before their rows are made.
    QString path;
    std::vector<SortedName<Folder *>> shownFolders;
    QList<LocalLibraryTreeNode> rows;
};

template<typename Entry>
std::vector<SortedName<Entry>>
sortedNames(std::unordered_map<QString, Entry, TextHash, TextEqual> &entries, qsizetype shownCount)
{
    std::vector<SortedName<Entry>> names;
    names.reserve(entries.size());
    for (auto &[name, entry] : entries)
        names.push_back({fileBrowserSortKey(name), name, &entry});
    // Names of equal keys are ordered by their code units, so that every build of one input
    // gives the same rows.
    const auto before = [](const SortedName<Entry> &a, const SortedName<Entry> &b) {
        return std::tie(a.key, a.name) < std::tie(b.key, b.name);
    };
    if (shownCount >= qsizetype(names.size())) {
        std::sort(names.begin(), names.end(), before);
        return names;
    }
    const auto shownEnd = names.begin() + shownCount;
    std::partial_sort(names.begin(), shownEnd, names.end(), before);
    names.erase(shownEnd, names.end());
    return names;
}

/// Status ranks of the display order: the record the row shows is the one furthest from done.
int displayRank(LibraryItemImportStatus status)
{
    switch (status) {
    case LibraryItemImportStatus::LocalCacheReady:
        return 0;
    case LibraryItemImportStatus::Uploading:
    case LibraryItemImportStatus::Verifying:
        return 1;
    case LibraryItemImportStatus::VerifiedBackup:
        return 2;
    case LibraryItemImportStatus::CleanupPending:
    case LibraryItemImportStatus::NeedsAttention:
    case LibraryItemImportStatus::Duplicate:
        return 3;
    }
    return 3;
}

/// The order of the upper-case texts of two ids: their fields compared as unsigned numbers, as
/// the fixed-width hexadecimal text writes them.
bool idTextBefore(const QUuid &a, const QUuid &b)
{
    return std::tie(a.data1, a.data2, a.data3) < std::tie(b.data1, b.data2, b.data3)
           || (std::tie(a.data1, a.data2, a.data3) == std::tie(b.data1, b.data2, b.data3)
               && std::lexicographical_compare(
                   std::begin(a.data4), std::end(a.data4), std::begin(b.data4), std::end(b.data4)));
}

bool isActionable(const LocalLibraryItem &item)
{
    switch (item.importStatus) {
    case LibraryItemImportStatus::LocalCacheReady:
        return item.ingestCacheOriginalURL.has_value();
    case LibraryItemImportStatus::VerifiedBackup:
        return item.backendLibraryItemID.has_value() && item.archiveByteCount.has_value();
    case LibraryItemImportStatus::Uploading:
    case LibraryItemImportStatus::Verifying:
    case LibraryItemImportStatus::CleanupPending:
    case LibraryItemImportStatus::NeedsAttention:
    case LibraryItemImportStatus::Duplicate:
        return false;
    }
    return false;
}

/// Whether the record stands for its package in the archive, which names its sidecar: a Verified
/// Backup or a duplicate of one.
bool isArchived(const LocalLibraryItem &item)
{
    return item.importStatus == LibraryItemImportStatus::VerifiedBackup
           || item.importStatus == LibraryItemImportStatus::Duplicate;
}

QString joinedPath(const QString &folderPath, const QString &name)
{
    return folderPath.isEmpty() ? name : folderPath + QLatin1Char('/') + name;
}

/// A content group with the folder path and file name it is shown at.
struct PlacedGroup
{
    QStringView folderPath;
    QStringView name;
    const QString *nameText; ///< a record's text equal to `name`, shared by its row; or null
    Group group;
};

class Builder
{
public:
    Builder(const QList<LocalLibraryItem> &items, const QHash<QString, qint64> &visibleFolderCounts)
        : m_items(items)
        , m_visibleFolderCounts(visibleFolderCounts)
        , m_root(&m_arena.emplace_back())
    {}

    void insertPhysicalEntries(const QString &cacheRoot, const FileManager &fileManager)
    {
        QHash<QString, Folder *> walkedFolders{{cacheRoot, m_root}};
        QString lastPath = cacheRoot; // the walk passes one folder's path as one shared text
        Folder *last = m_root;
        DirectoryWalkOptions options;
        options.skipHiddenEntries = true;
        options.passOverUnreadableRoot = true;
        options.passOverUnreadableSubfolders = true;
        options.typesOnly = true;
        // Every failure is passed over, and the visitor never fails.
        (void) walkDirectoryTree(
            fileManager,
            cacheRoot,
            options,
            [&](const QString &path, const DirectoryEntry &entry) -> Result<bool> {
                if (path.constData() != lastPath.constData()) {
                    last = walkedFolders.value(path);
                    lastPath = path;
                }
                if (!last)
                    return false;
                if (entry.attributes.type != FileAttributes::Type::Directory) {
                    last->files[entry.name]; // a file entry without records
                    return false;
                }
                Folder *child = childFolder(*last, entry.name);
                // A name that cannot reach its folder is shown, but not listed.
                if (entry.hasValidName)
                    walkedFolders.insert(appendingPathComponent(path, entry.name), child);
                return true;
            });
    }

    /// Groups the records by content and works out where each group goes. Touches no folder, so
    /// it may run beside the walk.
    void groupItems(const QString &cacheRoot)
    {
        // The members of every content group, in input order, side by side in one list: no list
        // of its own for each of a large library's groups.
        std::unordered_map<QStringView, qsizetype, TextHash> groupOfHash;
        groupOfHash.reserve(size_t(m_items.size()));
        std::vector<qsizetype> groupOfItem(size_t(m_items.size()));
        std::vector<qsizetype> groupEnds;
        for (qsizetype i = 0; i < m_items.size(); ++i) {
            const auto [it, added]
                = groupOfHash.try_emplace(m_items.at(i).contentHash, qsizetype(groupEnds.size()));
            if (added)
                groupEnds.push_back(0);
            groupOfItem[size_t(i)] = it->second;
            ++groupEnds[size_t(it->second)];
        }
        std::partial_sum(groupEnds.begin(), groupEnds.end(), groupEnds.begin());
        m_groupMembers.resize(size_t(m_items.size()));
        for (qsizetype i = m_items.size() - 1; i >= 0; --i)
            m_groupMembers[size_t(--groupEnds[size_t(groupOfItem[size_t(i)])])] = i;
        // groupEnds now holds where each group begins.
        m_placedGroups.reserve(groupEnds.size());
        for (size_t g = 0; g < groupEnds.size(); ++g) {
            const size_t end
                = g + 1 < groupEnds.size() ? size_t(groupEnds[g + 1]) : m_groupMembers.size();
            const std::span<qsizetype> content
                = uniqueItems(std::span(m_groupMembers)
                                  .subspan(size_t(groupEnds[g]), end - size_t(groupEnds[g])));
            if (content.size() == 1)
                placeGroup(content, nullptr, cacheRoot);
            else
                placePhotos(content, cacheRoot);
        }
    }

    /// Adds the grouped records to the file entries of their folders.
    void insertGroups()
    {
        for (const PlacedGroup &placed : m_placedGroups) {
            Folder *folder = folderAt(placed.folderPath);
            auto file = folder->files.find(placed.name);
            if (file == folder->files.end()) {
                file = folder->files
                           .try_emplace(placed.nameText ? *placed.nameText : placed.name.toString())
                           .first;
            }
            file->second.groups.append(placed.group);
        }
    }

    /// The root folder's rows. Releases the file entries of every folder whose rows it builds.
    QList<LocalLibraryTreeNode> rootNodes()
    {
        std::vector<Folder *> shown;
        placeFolders(*m_root, QString(), shown);
        // Folders make their rows independently; the file rows of a large library are many.
        constexpr qsizetype foldersPerTask = 8;
        const auto taskCount = (qsizetype(shown.size()) + foldersPerTask - 1) / foldersPerTask;
        Executor::shared()->forEach(taskCount, maxWorkers, [&](qsizetype task) {
            const auto end = std::min<size_t>(size_t((task + 1) * foldersPerTask), shown.size());
            for (auto i = size_t(task * foldersPerTask); i < end; ++i)
                makeRows(*shown[i]);
        });
        return takeRows(*m_root);
    }

private:
    /// The most threads that make the file rows of one build.
    static constexpr qsizetype maxWorkers = 8;

    /// Orders the child folders `folder` shows, gathers the eligible ids of each and adds the
    /// folder and the shown ones beneath it to `shown`.
    void placeFolders(Folder &folder, QString path, std::vector<Folder *> &shown)
    {
        const qsizetype visibleCount
            = std::max<qint64>(0,
                               m_visibleFolderCounts.value(QStringLiteral("folder:") + path,
                                                           LocalLibraryTree::folderPageSize));
        folder.path = std::move(path);
        folder.shownFolders = sortedNames(folder.folders, visibleCount);
        shown.push_back(&folder);
        for (const SortedName<Folder *> &name : folder.shownFolders) {
            // Gathered before any rows are made, which releases file entries.
            eligibleActionItemIDs(**name.entry);
            placeFolders(**name.entry, joinedPath(folder.path, name.name), shown);
        }
    }

    /// Makes the folder's rows, without its child folders' rows, and releases its file entries.
    /// Touches nothing but the folder and the records, so folders may make theirs at once.
    void makeRows(Folder &folder) const
    {
        const QString id = QStringLiteral("folder:") + folder.path;
        const auto childCount = qsizetype(folder.folders.size());
        const auto visibleCount = qsizetype(folder.shownFolders.size());
        const std::vector<SortedName<File>> files
            = sortedNames(folder.files, qsizetype(folder.files.size()));
        QList<LocalLibraryTreeNode> &rows = folder.rows;
        rows.reserve(visibleCount + 1 + qsizetype(files.size()));
        for (const SortedName<Folder *> &name : folder.shownFolders) {
            const Folder &child = **name.entry;
            LocalLibraryTreeNode row;
            row.id = QStringLiteral("folder:") + child.path;
            row.name = name.name;
            row.eligibleDescendantActionItemIDs = *child.eligibleActionItemIDs;
            row.children.emplace(); // filled by `takeRows`
            row.isDirectory = true;
            rows.append(std::move(row));
        }
        if (visibleCount < childCount) {
            LocalLibraryTreeNode row;
            row.id = QStringLiteral("show-more-folders:") + id;
            row.name = QStringLiteral("Show more folders");
            row.folderPage = LocalLibraryFolderPage{
                id,
                int(visibleCount),
                int(std::min<qsizetype>(childCount - visibleCount,
                                        LocalLibraryTree::folderPageSize))};
            rows.append(std::move(row));
        }
        for (const SortedName<File> &name : files)
            appendFileRows(rows, name, folder.path);
        // The rows hold what they need: the entries go now, not with the whole tree, so that a
        // large library's build does not hold both at once.
        folder.files.clear();
    }

    /// The folder's rows with those of its shown child folders beneath them.
    static QList<LocalLibraryTreeNode> takeRows(Folder &folder)
    {
        QList<LocalLibraryTreeNode> rows = std::move(folder.rows);
        for (size_t i = 0; i < folder.shownFolders.size(); ++i)
            rows[qsizetype(i)].children = takeRows(**folder.shownFolders[i].entry);
        return rows;
    }

    Folder *childFolder(Folder &folder, const QString &name)
    {
        Folder *&child = folder.folders[name];
        if (!child)
            child = &m_arena.emplace_back();
        return child;
    }

    /// The folder named by the components of `path`, made where missing. `path` must stay
    /// valid while the builder lives: found folders are remembered by their path text.
    Folder *folderAt(QStringView path)
    {
        // Records of one folder mostly come together.
        if (m_lastFolder && path == m_lastFolderPath)
            return m_lastFolder;
        m_lastFolderPath = path;
        Folder *&found = m_folderOfPath[path];
        if (!found) {
            found = m_root;
            for (QStringView component : path.tokenize(QLatin1Char('/'), Qt::SkipEmptyParts))
                found = childFolder(*found, component.toString());
        }
        m_lastFolder = found;
        return found;
    }

    /// Whether the record at `a` is shown before the one at `b`: the status furthest from done,
    /// then the id.
    bool displayBefore(qsizetype a, qsizetype b) const
    {
        const LocalLibraryItem &x = m_items.at(a);
        const LocalLibraryItem &y = m_items.at(b);
        const int rankX = displayRank(x.importStatus);
        const int rankY = displayRank(y.importStatus);
        return rankX != rankY ? rankX < rankY : idTextBefore(x.id, y.id);
    }

    qsizetype displayItem(std::span<const qsizetype> group) const
    {
        return *std::min_element(group.begin(), group.end(), [this](qsizetype a, qsizetype b) {
            return displayBefore(a, b);
        });
    }

    /// One record per id, the first met winning, in input order: the group's first positions.
    std::span<qsizetype> uniqueItems(std::span<qsizetype> group) const
    {
        if (group.size() < 2)
            return group;
        QSet<QUuid> seen;
        seen.reserve(qsizetype(group.size()));
        const auto end = std::remove_if(group.begin(), group.end(), [&](qsizetype i) {
            const QUuid &id = m_items.at(i).id;
            if (seen.contains(id))
                return true;
            seen.insert(id);
            return false;
        });
        return group.first(size_t(end - group.begin()));
    }

    /// Places the photos of a content that several records carry, a group each. The records of
    /// one photo are those that take one copy of it in the store: of one sidecar content (none
    /// counting as one) and, while they wait, of one sidecar name. The archived ones, a Verified
    /// Backup and its duplicates, go with the waiting photo of their shown record's sidecar
    /// name, or else make one photo.
    void placePhotos(std::span<qsizetype> content, const QString &cacheRoot)
    {
        struct Member
        {
            QString sidecarHash;
            QString sidecarName;
            bool archived;
            qsizetype item;
        };

        std::vector<Member> members;
        members.reserve(content.size());
        for (qsizetype i : content) {
            const LocalLibraryItem &item = m_items.at(i);
            PackageSidecar sidecar = item.ownSidecar().value_or(PackageSidecar());
            members.push_back({std::move(sidecar.contentHash).value_or(QString()),
                               std::move(sidecar.filename).value_or(QString()),
                               isArchived(item),
                               i});
        }
        const auto sameSidecar
            = [](const Member &a, const Member &b) { return a.sidecarHash == b.sidecarHash; };
        const auto samePhoto = [](const Member &a, const Member &b) {
            return a.sidecarHash == b.sidecarHash && a.archived == b.archived
                   && (a.archived || a.sidecarName == b.sidecarName);
        };
        // By sidecar content, then the waiting records by sidecar name before the archived ones;
        // in input order within a photo.
        const auto sortByPhoto = [&members] {
            std::sort(members.begin(), members.end(), [](const Member &a, const Member &b) {
                return std::tie(a.sidecarHash, a.archived, a.sidecarName, a.item)
                       < std::tie(b.sidecarHash, b.archived, b.sidecarName, b.item);
            });
        };
        sortByPhoto();
        for (auto first = members.begin(); first != members.end();) {
            const auto last = std::find_if_not(
                first, members.end(), [&](const Member &m) { return sameSidecar(m, *first); });
            const auto archived
                = std::find_if(first, last, [](const Member &m) { return m.archived; });
            if (archived != last) {
                const auto shown
                    = std::min_element(archived, last, [this](const Member &a, const Member &b) {
                          return displayBefore(a.item, b.item);
                      });
                const QString name = shown->sidecarName;
                const bool joins = std::any_of(
                    first, archived, [&](const Member &m) { return m.sidecarName == name; });
                for (auto m = archived; m != last; ++m) {
                    m->sidecarName = name;
                    m->archived = !joins;
                }
            }
            first = last;
        }
        sortByPhoto();
        for (size_t k = 0; k < members.size(); ++k)
            content[k] = members[k].item;
        const bool severalPhotos = !samePhoto(members.front(), members.back());
        for (size_t first = 0; first < members.size();) {
            size_t last = first + 1;
            while (last < members.size() && samePhoto(members[first], members[last]))
                ++last;
            const Member &photo = members[first];
            QString suffix;
            if (severalPhotos && !photo.sidecarHash.isEmpty())
                suffix = QLatin1Char('+') + photo.sidecarHash;
            // Photos of one sidecar content are told apart by their sidecar's name.
            if ((first > 0 && sameSidecar(members[first - 1], photo))
                || (last < members.size() && sameSidecar(members[last], photo)))
                suffix += QLatin1Char('/') + photo.sidecarName;
            placeGroup(content.subspan(first, last - first),
                       suffix.isEmpty() ? nullptr : &m_idSuffixes.emplace_back(std::move(suffix)),
                       cacheRoot);
            first = last;
        }
    }

    void placeGroup(std::span<qsizetype> group, const QString *idSuffix, const QString &cacheRoot)
    {
        const LocalLibraryItem &display = m_items.at(displayItem(group));
        // Texts of the records live as long as the builder; a computed one is kept with it.
        QStringView pathText;
        if (display.cacheRelativePath && !display.cacheRelativePath->isEmpty()) {
            pathText = *display.cacheRelativePath;
        } else if (std::optional<QString> relative
                   = CacheRelativePath::value(display.ingestCacheOriginalURL, cacheRoot)) {
            pathText = m_computedPaths.emplace_back(std::move(*relative));
        } else {
            pathText = display.originalFilename;
        }
        qsizetype end = pathText.size();
        while (end > 0 && pathText.at(end - 1) == QLatin1Char('/'))
            --end;
        if (end == 0)
            return; // no components: left out of the tree
        const qsizetype slash = pathText.lastIndexOf(QLatin1Char('/'), end - 1);
        const QStringView name = pathText.sliced(slash + 1, end - slash - 1);
        m_placedGroups.push_back(
            PlacedGroup{pathText.first(std::max<qsizetype>(slash, 0)),
                        name,
                        name == display.originalFilename ? &display.originalFilename : nullptr,
                        Group{group, idSuffix}});
    }

    const QList<QUuid> &eligibleActionItemIDs(Folder &folder)
    {
        if (!folder.eligibleActionItemIDs) {
            QList<QUuid> ids;
            for (const auto &[name, file] : folder.files) {
                for (const Group &group : file.groups) {
                    for (qsizetype i : group.items) {
                        if (isActionable(m_items.at(i)))
                            ids.append(m_items.at(i).id);
                    }
                }
            }
            for (const auto &[name, child] : folder.folders)
                ids.append(eligibleActionItemIDs(*child));
            folder.eligibleActionItemIDs = std::move(ids);
        }
        return *folder.eligibleActionItemIDs;
    }

    void appendFileRows(QList<LocalLibraryTreeNode> &rows,
                        const SortedName<File> &name,
                        const QString &path) const
    {
        if (name.entry->groups.isEmpty()) {
            LocalLibraryTreeNode row;
            row.id = QStringLiteral("file:") + joinedPath(path, name.name);
            row.name = name.name;
            rows.append(std::move(row));
            return;
        }
        QList<Group> groups = name.entry->groups;
        if (groups.size() > 1) {
            const auto key = [this](const Group &group) {
                return std::pair(group.items.empty()
                                     ? QStringView()
                                     : QStringView(m_items.at(group.items.front()).contentHash),
                                 group.idSuffix ? QStringView(*group.idSuffix) : QStringView());
            };
            std::sort(groups.begin(), groups.end(), [&key](const Group &a, const Group &b) {
                return key(a) < key(b);
            });
        }
        for (const Group &group : std::as_const(groups)) {
            if (group.items.empty())
                continue;
            const qsizetype display = displayItem(group.items);
            LocalLibraryTreeNode row;
            row.id = QStringLiteral("item:") + m_items.at(display).contentHash;
            if (group.idSuffix)
                row.id += *group.idSuffix;
            row.name = name.name;
            if (group.items.size() == 1) {
                // Nearly every group: the row shares the tree's list rather than copy its record.
                row.representedItems = LocalLibraryItemRun(m_items, display, 1);
                row.itemIndex = 0;
                rows.append(std::move(row));
                continue;
            }
            QList<LocalLibraryItem> represented;
            represented.reserve(qsizetype(group.items.size()));
            for (qsizetype i : group.items) {
                if (i == display)
                    row.itemIndex = represented.size();
                represented.append(m_items.at(i));
            }
            row.representedItems = std::move(represented);
            rows.append(std::move(row));
        }
    }

    const QList<LocalLibraryItem> &m_items;
    const QHash<QString, qint64> &m_visibleFolderCounts;
    std::deque<Folder> m_arena;
    Folder *m_root;
    std::unordered_map<QStringView, Folder *, TextHash> m_folderOfPath;
    QStringView m_lastFolderPath;
    Folder *m_lastFolder = nullptr;
    std::vector<qsizetype> m_groupMembers;
    std::vector<PlacedGroup> m_placedGroups;
    std::deque<QString> m_computedPaths;
    std::deque<QString> m_idSuffixes;
};

} // namespace

QList<LocalLibraryTreeNode>
LocalLibraryTree::build(const QList<LocalLibraryItem> &items,
                        const QString &cacheRoot,
                        bool includePhysicalEntries,
                        const QHash<QString, qint64> &visibleFolderCounts,
                        const FileManager &fileManager)
{
    Builder builder(items, visibleFolderCounts);
    {
        Executor::Task grouping
            = Executor::shared()->start([&builder, &cacheRoot] { builder.groupItems(cacheRoot); });
        if (includePhysicalEntries)
            builder.insertPhysicalEntries(cacheRoot, fileManager);
    }
    // The walk comes first, so that records land in the file entries it made.
    builder.insertGroups();
    return builder.rootNodes();
}

QList<LocalLibraryItem> LocalLibraryTree::actionableItems(const LocalLibraryItemRun &items)
{
    QList<LocalLibraryItem> actionable;
    for (const LocalLibraryItem &item : items) {
        if (isActionable(item))
            actionable.append(item);
    }
    std::sort(actionable.begin(),
              actionable.end(),
              [](const LocalLibraryItem &a, const LocalLibraryItem &b) {
                  return idTextBefore(a.id, b.id);
              });
    return actionable;
}

} // namespace Pellwick
