#include "ImportReviewBuilder.h"

#include <PellwickCore/Support/DirectoryWalk.h>
#include <PellwickCore/Support/FileBrowserSortKey.h>

#include <QDir>
#include <QHash>

#include <algorithm>
#include <array>
#include <cerrno>
#include <deque>

namespace Pellwick {

namespace {

constexpr QLatin1String sidecarExtension("xmp");

enum class FileKind {
    Raw,
    Excluded,
    Sidecar,
};

/// What pairs a RAW original with its sidecar: the folder (by its standardized path, lowercased)
/// and the lowercased name without extension. The folder is numbered, not spelled out in every
/// file's key: a scan of 100,000 files holds all keys at once.
struct PairingKey
{
    qsizetype folder = -1;
    QString stem;

    bool operator==(const PairingKey &) const = default;
};

size_t qHash(const PairingKey &key, size_t seed = 0)
{
    return qHashMulti(seed, key.folder, key.stem);
}

/// A regular file of a source whose extension makes it part of the review.
struct ListedFile
{
    QString url;
    QString filename;
    qint64 byteCount = 0;
    FileKind kind = FileKind::Raw;
    PairingKey pairingKey; ///< RAW originals and sidecars only
    QString sourceRelativePath;
};

bool isAscii(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

QChar lowercasedAscii(QChar c)
{
    return c >= QLatin1Char('A') && c <= QLatin1Char('Z') ? QChar(c.unicode() + 32) : c;
}

/// `text` lowercased after `prefix`, in one allocation; names on cards are nearly always ASCII,
/// which needs no Unicode tables.
QString appendingLowercased(const QString &prefix, QStringView text)
{
    if (!isAscii(text))
        return prefix + text.toString().toLower();
    QString result(prefix.size() + text.size(), Qt::Uninitialized);
    QChar *out = std::copy(prefix.cbegin(), prefix.cend(), result.data());
    std::transform(text.begin(), text.end(), out, lowercasedAscii);
    return result;
}

std::optional<FileKind> kindOf(const QString &filename)
{
    const qsizetype dot = filename.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return std::nullopt;
    // Lowered into a buffer of its own: no allocation for the name of every file.
    const QStringView original = QStringView(filename).sliced(dot + 1);
    std::array<QChar, 8> buffer;
    const bool fitsBuffer = original.size() <= qsizetype(buffer.size()) && isAscii(original);
    if (fitsBuffer)
        std::transform(original.begin(), original.end(), buffer.begin(), lowercasedAscii);
    const QString extension = fitsBuffer ? QString::fromRawData(buffer.data(), original.size())
                                         : original.toString().toLower();
    if (extension == sidecarExtension)
        return FileKind::Sidecar;
    if (ImportReviewBuilder::supportedRawExtensions().contains(extension))
        return FileKind::Raw;
    if (ImportReviewBuilder::excludedBackupTargetExtensions().contains(extension))
        return FileKind::Excluded;
    return std::nullopt;
}

QStringList pathComponents(const QString &standardizedPath)
{
    QStringList components;
    if (standardizedPath.startsWith(QLatin1Char('/')))
        components.append(QStringLiteral("/"));
    components += standardizedPath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    return components;
}

/// What the listing of one source needs to know of the folder being read; worked out once per
/// folder, not per file.
struct FolderContext
{
    QString folder;
    qsizetype pairingFolder = -1; ///< the number of the standardized folder path, lowercased
    QString relativePathPrefix;   ///< folder path below the source root, with "/" unless empty
};

class SourceLister
{
public:
    SourceLister(const FileManager &fileManager,
                 const QString &root,
                 const std::stop_token &stop,
                 const QSet<QString> &skippedFolders)
        : m_fileManager(fileManager)
        , m_root(root)
        , m_stop(stop)
        , m_skippedFolders(skippedFolders)
        , m_rootComponentCount(pathComponents(QDir::cleanPath(root)).size())
    {}

    Result<std::deque<ListedFile>> list()
    {
        const DirectoryWalkOptions options{.skipHiddenEntries = true,
                                           .passOverUnreadableRoot = true,
                                           .passOverUnreadableSubfolders = false};
        PELLWICK_TRY(walkDirectoryTree(m_fileManager,
                                       m_root,
                                       options,
                                       [this](const QString &folder, const DirectoryEntry &entry)
                                           -> Result<bool> { return visit(folder, entry); }));
        return std::move(m_files);
    }

private:
    Result<bool> visit(const QString &folder, const DirectoryEntry &entry)
    {
        if (m_stop.stop_requested())
            return failure(CancellationError{});
        if (entry.attributes.type == FileAttributes::Type::Directory) {
            // Every ext4 volume has one, readable only by the administrator.
            const bool isLostAndFound
                = entry.name == QLatin1String("lost+found") && folder == m_root;
            return !isLostAndFound
                   && (m_skippedFolders.isEmpty()
                       || !m_skippedFolders.contains(
                           QDir::cleanPath(appendingPathComponent(folder, entry.name))));
        }
        if (entry.attributes.type != FileAttributes::Type::Regular)
            return false;
        const std::optional<FileKind> kind = kindOf(entry.name);
        if (!kind)
            return false;
        if (!entry.hasValidName) {
            // Such a name cannot be stored in the library or used to reach the file again.
            return fileSystemFailure(
                QStringLiteral("read name"), appendingPathComponent(folder, entry.name), EILSEQ);
        }
        const FolderContext &context = contextFor(folder);
        ListedFile file;
        file.url = appendingPathComponent(folder, entry.name);
        file.filename = entry.name;
        file.byteCount = entry.attributes.size;
        file.kind = *kind;
        if (*kind != FileKind::Excluded) {
            const qsizetype dot = entry.name.lastIndexOf(QLatin1Char('.'));
            file.pairingKey = {context.pairingFolder,
                               appendingLowercased(QString(), QStringView(entry.name).left(dot))};
        }
        file.sourceRelativePath = context.relativePathPrefix + entry.name;
        m_files.push_back(std::move(file));
        return false;
    }

    const FolderContext &contextFor(const QString &folder)
    {
        if (m_context && m_context->folder == folder)
            return *m_context;
        const QString standardized = QDir::cleanPath(folder);
        QString relative
            = pathComponents(standardized).mid(m_rootComponentCount).join(QLatin1Char('/'));
        if (!relative.isEmpty())
            relative.append(QLatin1Char('/'));
        const QString pairingPath = standardized.toLower();
        auto numbered = m_pairingFolders.constFind(pairingPath);
        if (numbered == m_pairingFolders.cend())
            numbered = m_pairingFolders.insert(pairingPath, m_pairingFolders.size());
        const qsizetype pairingFolder = *numbered;
        m_context = FolderContext{folder, pairingFolder, std::move(relative)};
        return *m_context;
    }

    const FileManager &m_fileManager;
    const QString &m_root;
    const std::stop_token &m_stop;
    const QSet<QString> &m_skippedFolders;
    const qsizetype m_rootComponentCount;
    std::optional<FolderContext> m_context;
    QHash<QString, qsizetype> m_pairingFolders;
    /// Grows without moving what it holds: a scan lists tens of thousands of files.
    std::deque<ListedFile> m_files;
};

/// Adds the items of the listed files of `source` to `items`, letting go of each listed file as
/// it is used: a scan of 100,000 files does not hold the listing and all of its items at once.
void appendItems(const ImportScanVolume &source,
                 std::deque<ListedFile> &&files,
                 QList<ImportReviewItem> &items)
{
    QHash<PairingKey, ImportReviewSidecar> sidecars;
    QSet<PairingKey> rawKeys;
    // Sized once: a card holds tens of thousands of files.
    const auto sidecarCount = std::count_if(files.begin(), files.end(), [](const ListedFile &file) {
        return file.kind == FileKind::Sidecar;
    });
    sidecars.reserve(sidecarCount);
    rawKeys.reserve(qsizetype(files.size()) - sidecarCount);
    for (const ListedFile &file : files) {
        if (file.kind == FileKind::Sidecar)
            sidecars.insert(file.pairingKey,
                            ImportReviewSidecar{file.url, file.filename, file.byteCount});
        else if (file.kind == FileKind::Raw)
            rawKeys.insert(file.pairingKey);
    }
    const auto unpairedCount
        = std::count_if(files.begin(), files.end(), [&](const ListedFile &file) {
              return file.kind == FileKind::Sidecar && !rawKeys.contains(file.pairingKey);
          });
    items.reserve(items.size() + qsizetype(files.size()) - sidecarCount + unpairedCount);

    // RAW originals and excluded files in listing order, then the unpaired sidecars.
    std::deque<ListedFile> unpaired;
    for (; !files.empty(); files.pop_front()) {
        ListedFile &file = files.front();
        if (file.kind == FileKind::Sidecar) {
            if (!rawKeys.contains(file.pairingKey))
                unpaired.push_back(std::move(file));
            continue;
        }
        std::optional<ImportReviewSidecar> sidecar;
        ImportReviewItemStatus status = ImportReviewItemStatus::supported();
        if (file.kind == FileKind::Raw) {
            const auto found = sidecars.constFind(file.pairingKey);
            if (found != sidecars.cend())
                sidecar = *found;
        } else {
            status = ImportReviewItemStatus::unsupported(
                ImportReviewUnsupportedReason::ExcludedBackupTarget);
        }
        items.append(ImportReviewItem(source.name,
                                      std::move(file.url),
                                      std::move(file.filename),
                                      file.byteCount,
                                      status,
                                      std::move(sidecar),
                                      std::move(file.sourceRelativePath)));
    }
    for (ListedFile &file : unpaired) {
        items.append(ImportReviewItem(
            source.name,
            std::move(file.url),
            std::move(file.filename),
            file.byteCount,
            ImportReviewItemStatus::unsupported(ImportReviewUnsupportedReason::UnpairedSidecar),
            std::nullopt,
            std::nullopt));
    }
}

} // namespace

ImportReviewBuilder::ImportReviewBuilder(std::shared_ptr<const FileManager> fileManager)
    : m_fileManager(std::move(fileManager))
{}

const QSet<QString> &ImportReviewBuilder::supportedRawExtensions()
{
    static const QSet<QString> extensions{QStringLiteral("cr2"),
                                          QStringLiteral("cr3"),
                                          QStringLiteral("nef"),
                                          QStringLiteral("arw"),
                                          QStringLiteral("raf"),
                                          QStringLiteral("orf"),
                                          QStringLiteral("rw2"),
                                          QStringLiteral("dng")};
    return extensions;
}

const QSet<QString> &ImportReviewBuilder::excludedBackupTargetExtensions()
{
    static const QSet<QString> extensions{
        QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("heic")};
    return extensions;
}

Result<ImportReview> ImportReviewBuilder::buildReview(const QList<ImportScanVolume> &sources,
                                                      const std::stop_token &stop,
                                                      const QStringList &skippedFolders) const
{
    QSet<QString> skipped;
    for (const QString &folder : skippedFolders)
        skipped.insert(QDir::cleanPath(folder));
    const auto isSkipped = [&skipped](const QString &root) {
        for (QString folder = QDir::cleanPath(root);;) {
            if (skipped.contains(folder))
                return true;
            const qsizetype slash = folder.lastIndexOf(QLatin1Char('/'));
            if (slash <= 0)
                return folder != QLatin1String("/") && skipped.contains(QStringLiteral("/"));
            folder.truncate(slash);
        }
    };
    QList<ImportReviewItem> items;
    for (const ImportScanVolume &source : sources) {
        if (stop.stop_requested())
            return failure(CancellationError{});
        if (!source.hasValidURL) // its files could not be reached, nor the volume shown empty
            return fileSystemFailure(QStringLiteral("read name"), source.url, EILSEQ);
        if (!skipped.isEmpty() && isSkipped(source.url))
            continue;
        PELLWICK_TRY_ASSIGN(std::deque<ListedFile> files,
                            SourceLister(*m_fileManager, source.url, stop, skipped).list());
        appendItems(source, std::move(files), items);
    }
    return ImportReview{
        sources, sortedInFileBrowserOrder(std::move(items), [](const ImportReviewItem &item) {
            return item.url;
        })};
}

} // namespace Pellwick
