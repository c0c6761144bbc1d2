// How the store's changes reach the disk: journal entries, folds into a new library file, and
// the first load of both files.

#include "LibraryFile_p.h"
#include "LibraryRecordEncoder_p.h"
#include "LocalLibraryCache.h"
#include "LocalLibraryCache_p.h"

#include <PellwickCore/Support/Json.h>
#include <PellwickCore/Support/UuidText.h>

#include <QDateTime>
#include <QUuid>

#include <cerrno>

namespace Pellwick {

namespace {

constexpr qint64 minimumFoldBytes = qint64{8} * 1024 * 1024;
/// Zero bytes written after an entry that extends the journal: later entries overwrite them,
/// and the flush of an overwrite need not record a new file size, which costs about as much
/// again on common file systems.
constexpr qint64 journalRoomBytes = qint64{256} * 1024;
/// Journals up to this size are read whatever the size of the library file.
constexpr qint64 maximumJournalBytes = qint64{64} * 1024 * 1024;
/// Hidden files of the store start with this; leftovers are removed by the next fold.
const QString temporaryPrefix = QStringLiteral(".library-items.");

const QString countKey = QStringLiteral("count");
const QString removedKey = QStringLiteral("removed");
const QString setKey = QStringLiteral("set");
const QString positionKey = QStringLiteral("position");
const QString recordKey = QStringLiteral("record");

/// The entry's JSON through the reference encoder, which names a number it cannot encode.
Result<QByteArray>
encodeChangeByReference(const QSet<QUuid> &removedIDs,
                        const QList<std::pair<qsizetype, LocalLibraryItem>> &assignments,
                        qsizetype count)
{
    QJsonArray removed;
    for (const QUuid &id : removedIDs)
        removed.append(uuidText(id));
    QJsonArray set;
    for (const auto &[position, item] : assignments)
        set.append(QJsonObject{{positionKey, position}, {recordKey, item.toJson()}});
    return Json::serialize(QJsonObject{{countKey, count}, {removedKey, removed}, {setKey, set}},
                           Json::Format::Compact);
}

/// {"count":N,"removed":[ids],"set":[{"position":P,"record":{...}}]}, compact, written directly
/// (building the objects cost most of a single-record change's time).
Result<QByteArray> encodeChange(const QSet<QUuid> &removedIDs,
                                const QList<std::pair<qsizetype, LocalLibraryItem>> &assignments,
                                qsizetype count)
{
    constexpr qsizetype typicalRecordBytes = 2048;
    QByteArray json;
    json.reserve(64 + removedIDs.size() * 40 + assignments.size() * typicalRecordBytes);
    json += "{\"count\":";
    json += QByteArray::number(count);
    json += ",\"removed\":[";
    const char *separator = "";
    for (const QUuid &id : removedIDs) {
        json += separator;
        LibraryRecordEncoder::appendString(json, uuidText(id));
        separator = ",";
    }
    json += "],\"set\":[";
    separator = "";
    for (const auto &[position, item] : assignments) {
        json += separator;
        json += "{\"position\":";
        json += QByteArray::number(position);
        json += ",\"record\":";
        if (!LibraryRecordEncoder::appendCompact(json, item))
            return encodeChangeByReference(removedIDs, assignments, count);
        json += '}';
        separator = ",";
    }
    json += "]}";
    return json;
}

/// Applies one journal entry; any fault is damage of the entry at `offset`.
Result<LocalLibraryCacheRecords> applyEntry(const LocalLibraryCacheRecords &records,
                                            const LibraryJournal::Entry &entry)
{
    const auto damaged = [&] {
        return failure(LibraryJournal::damaged(entry.offset, QStringLiteral("journal entry")));
    };
    Result<QJsonObject> object = Json::parseObject(entry.payload);
    if (!object)
        return damaged();
    const Json::ObjectReader reader(*object);
    Result<qint64> count = reader.integer(countKey);
    Result<QJsonArray> removed = reader.array(removedKey);
    Result<QJsonArray> set = reader.array(setKey);
    if (!count || !removed || !set)
        return damaged();
    QSet<QUuid> removedIDs;
    for (const QJsonValue id : std::as_const(*removed)) {
        const std::optional<QUuid> uuid = uuidFromText(id.toString());
        if (!uuid)
            return damaged();
        removedIDs.insert(*uuid);
    }
    QList<std::pair<qsizetype, LocalLibraryItem>> assignments;
    qsizetype size = records.size();
    for (const QUuid &id : std::as_const(removedIDs))
        size -= records.positions(id).size();
    for (const QJsonValue value : std::as_const(*set)) {
        const Json::ObjectReader assignment(value.toObject());
        Result<qint64> position = assignment.integer(positionKey);
        Result<QJsonValue> record = assignment.value(recordKey);
        if (!position || !record || *position < 0 || *position > size)
            return damaged();
        Result<LocalLibraryItem> item = LocalLibraryItem::fromJson(*record);
        if (!item)
            return damaged();
        if (*position == size)
            ++size;
        assignments.append({*position, std::move(*item)});
    }
    if (size != *count)
        return damaged();
    return records.changed(removedIDs, assignments);
}

/// True for the failures of `link` on a file system that has no hard links.
bool hardLinksUnsupported(int code)
{
    return code == EPERM || code == EOPNOTSUPP || code == ENOSYS;
}

/// The journal at `journal` may name `snapshot`.
bool journalMayName(const FileManager &fileManager,
                    const QString &journal,
                    const LibraryJournal::SnapshotName &snapshot)
{
    if (!fileManager.fileExists(journal))
        return false;
    // Unreadable now is not unreadable at the next load: then it may name anything.
    Result<std::unique_ptr<FileHandle>> file = fileManager.openForReading(journal);
    if (!file)
        return true;
    QByteArray header(LibraryJournal::headerSize, '\0');
    qint64 filled = 0;
    while (filled < header.size()) {
        const Result<qint64> n = (*file)->read(header.data() + filled, header.size() - filled);
        if (!n)
            return true;
        if (*n == 0)
            break;
        filled += *n;
    }
    header.truncate(filled);
    const Result<LibraryJournal::Contents> contents = LibraryJournal::parse(header);
    if (!contents)
        return false; // a damaged header fails every load
    // A journal of the first version names its file by a SHA-256 not computed here.
    return contents->version == 1 || contents->names(snapshot);
}

/// Whether a file is at `path`. A name that is there but leads to no file (a symbolic link whose
/// target is missing, perhaps on a disk that is not mounted) is not a missing file: opening it
/// fails, and that failure is returned.
Result<bool> fileIsThere(const FileManager &fileManager, const QString &path)
{
    if (fileManager.fileExists(path))
        return true;
    if (!fileManager.attributesOfItem(path))
        return false;
    PELLWICK_TRY(fileManager.openForReading(path));
    return true;
}

/// A file at `path` that the store may remove: never a folder someone put there under one of its
/// names, which would go with everything in it.
bool isRemovableFile(const FileManager &fileManager, const QString &path)
{
    const Result<FileAttributes> attributes = fileManager.attributesOfItem(path);
    return attributes && attributes->type != FileAttributes::Type::Directory;
}

} // namespace

bool LocalLibraryCache::filesAreOurs() const
{
    const Detail::LibraryDiskState &disk = *m_storage->disk;
    if (!disk.snapshotIsOurs)
        return false;
    const Result<FileAttributes> snapshot
        = m_fileManager->attributesOfItem(path(libraryFileName()));
    if (!snapshot || Detail::FileStamp::of(*snapshot) != disk.snapshotStamp)
        return false;
    if (!disk.journalIsOurs)
        return true;
    const Result<FileAttributes> journal = m_fileManager->attributesOfItem(path(journalFileName()));
    return journal && Detail::FileStamp::of(*journal) == disk.journalStamp;
}

Result<void> LocalLibraryCache::commit(const LocalLibraryCacheRecords &current,
                                       const Change &change) const
{
    Detail::LibraryDiskState &disk = *m_storage->disk;
    if (!filesAreOurs())
        return replaceAll(current.changed(change.removedIDs, change.assignments));
    if (change.isEmpty())
        return {};
    const LocalLibraryCacheRecords next = current.changed(change.removedIDs, change.assignments);
    const qsizetype changedCount = change.removedIDs.size() + change.assignments.size();
    if (next.size() >= 1024 && changedCount * 4 > next.size())
        return replaceAll(next);

    PELLWICK_TRY_ASSIGN(QByteArray payload,
                        encodeChange(change.removedIDs, change.assignments, next.size()));
    const QByteArray entry = LibraryJournal::entry(payload);
    const qint64 bound = m_options.journalFoldBytes > 0
                             ? m_options.journalFoldBytes
                             : std::max(minimumFoldBytes, disk.snapshotName.length / 4);
    const qint64 journalAfter
        = (disk.journalIsOurs ? disk.journalLength : LibraryJournal::headerSize) + entry.size();
    if (journalAfter > bound)
        return replaceAll(next);
    PELLWICK_TRY(makeLoadedFilesDurable());
    PELLWICK_TRY(disk.journalIsOurs ? appendToJournal(entry) : createJournal(entry));
    publish(next);
    return {};
}

Result<void> LocalLibraryCache::makeLoadedFilesDurable() const
{
    // An entry read back from the page cache may be one a killed process wrote but never
    // flushed, and a journal its rename put in place may not be in the folder yet: the next
    // entry, once flushed, would outlive them at a power cut and leave a journal that no longer
    // loads, or entries behind the old one.
    const std::lock_guard guard(m_storage->mutationLock);
    Detail::LibraryDiskState &disk = *m_storage->disk;
    if (disk.loadedFilesAreDurable)
        return {};
    if (disk.journalIsOurs) {
        PELLWICK_TRY_ASSIGN(std::unique_ptr<FileHandle> file,
                            m_fileManager->openForWriting(path(journalFileName())));
        PELLWICK_TRY(file->synchronizeData());
    }
    PELLWICK_TRY(m_fileManager->synchronizeDirectory(m_rootURL));
    disk.loadedFilesAreDurable = true;
    return {};
}

Result<void> LocalLibraryCache::replaceAll(const LocalLibraryCacheRecords &records) const
{
    std::unique_lock guard(m_storage->lock);
    if (m_storage->records) {
        // Loaded records are never dropped, so no load runs again: the files and their state
        // belong to the mutation lock, which the caller holds.
        guard.unlock();
        PELLWICK_TRY(writeSnapshot(records));
        publish(records);
        return {};
    }
    // Nothing loaded yet (a first write, or the files could not be read): a first load, which
    // holds only `lock`, would read the files while they are replaced and record their state
    // beside this write. Holding `lock` keeps loads out until the new records are in place;
    // readers wait for them rather than read a library that is neither the old nor the new.
    PELLWICK_TRY(keepUnreadableFiles());
    PELLWICK_TRY(writeSnapshot(records));
    m_storage->records = records;
    return {};
}

Result<void> LocalLibraryCache::keepUnreadableFiles() const
{
    const QString snapshot = path(libraryFileName());
    if (!m_fileManager->attributesOfItem(snapshot) || load())
        return {};
    // Files that do not load may still hold the user's library, perhaps all but one record: they
    // keep second names, under which nothing of the store's ever touches them.
    const QString suffix
        = QStringLiteral(".damaged-")
          + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss.zzz'Z'"));
    for (const QString &name : {libraryFileName(), journalFileName()}) {
        const QString file = path(name);
        if (!isRemovableFile(*m_fileManager, file))
            continue; // missing, or a folder the store never replaces
        const QString kept = file + suffix;
        if (Result<void> linked = m_fileManager->linkItem(file, kept); !linked) {
            const FileSystemError *error = linked.error().as<FileSystemError>();
            if (!error || !hardLinksUnsupported(error->code))
                return linked;
            PELLWICK_TRY(m_fileManager->moveItem(file, kept));
        }
    }
    return m_fileManager->synchronizeDirectory(m_rootURL);
}

Result<void> LocalLibraryCache::appendToJournal(const QByteArray &entry) const
{
    Detail::LibraryDiskState &disk = *m_storage->disk;
    const QString journal = path(journalFileName());
    PELLWICK_TRY_ASSIGN(std::unique_ptr<FileHandle> file, m_fileManager->openForWriting(journal));
    Result<void> written = [&]() -> Result<void> {
        qint64 fileSize = disk.journalStamp.size;
        if (!disk.journalTailIsClear && fileSize != disk.journalLength) {
            PELLWICK_TRY(file->truncate(disk.journalLength)); // a torn tail
            fileSize = disk.journalLength;
        }
        PELLWICK_TRY(file->seek(disk.journalLength));
        if (disk.journalLength + entry.size() <= fileSize) {
            PELLWICK_TRY(file->write(entry.constData(), entry.size()));
        } else {
            const QByteArray extended = entry + QByteArray(journalRoomBytes, '\0');
            PELLWICK_TRY(file->write(extended.constData(), extended.size()));
        }
        return file->synchronizeData();
    }();
    if (!written) {
        // Take back what may have reached the file, so that it loads to the previous library.
        if (!file->truncate(disk.journalLength) || !file->synchronizeData()) {
            disk.snapshotIsOurs = false; // unsure: the next change writes everything
        } else {
            disk.journalStamp.size = disk.journalLength;
            disk.journalTailIsClear = true;
        }
        const Result<FileAttributes> attributes = m_fileManager->attributesOfItem(journal);
        if (attributes)
            disk.journalStamp = Detail::FileStamp::of(*attributes);
        return written;
    }
    file->close();
    disk.journalLength += entry.size();
    disk.journalTailIsClear = true;
    const Result<FileAttributes> attributes = m_fileManager->attributesOfItem(journal);
    if (!attributes) {
        // The journal holds acknowledged entries but can no longer be recognised: the next
        // change writes everything rather than start a journal without them.
        disk.snapshotIsOurs = false;
        return {};
    }
    disk.journalStamp = Detail::FileStamp::of(*attributes);
    return {};
}

Result<void> LocalLibraryCache::createJournal(const QByteArray &entry) const
{
    Detail::LibraryDiskState &disk = *m_storage->disk;
    const QString temporary = path(temporaryPrefix + QStringLiteral("journal.")
                                   + uuidText(QUuid::createUuid()) + QStringLiteral(".tmp"));
    const QByteArray contents = LibraryJournal::header(disk.snapshotName) + entry;
    const QByteArray withRoom = contents + QByteArray(journalRoomBytes, '\0');
    Result<void> written = [&]() -> Result<void> {
        PELLWICK_TRY(m_fileManager->createFile(temporary));
        PELLWICK_TRY_ASSIGN(std::unique_ptr<FileHandle> file,
                            m_fileManager->openForWriting(temporary));
        PELLWICK_TRY(file->write(withRoom.constData(), withRoom.size()));
        PELLWICK_TRY(file->synchronize());
        file->close();
        return replaceCommitting(temporary, path(journalFileName()));
    }();
    if (!written) {
        (void) m_fileManager->removeItem(temporary);
        return written;
    }
    const Result<FileAttributes> attributes
        = m_fileManager->attributesOfItem(path(journalFileName()));
    disk.journalIsOurs = attributes.has_value();
    if (attributes)
        disk.journalStamp = Detail::FileStamp::of(*attributes);
    else
        disk.snapshotIsOurs = false; // as in `appendToJournal`: the entry must not be dropped
    disk.journalLength = contents.size();
    disk.journalTailIsClear = true;
    return {};
}

Result<void> LocalLibraryCache::replaceCommitting(const QString &temporary,
                                                  const QString &target) const
{
    // The rename is the commit point. Should the folder flush after it fail, the old file comes
    // back from a second name it got beforehand, so that the files still load to the previous
    // library.
    const QString backup
        = path(temporaryPrefix + lastPathComponent(target) + QStringLiteral(".previous"));
    const bool hadTarget = m_fileManager->fileExists(target);
    bool keptPrevious = hadTarget;
    if (hadTarget) {
        if (m_fileManager->fileExists(backup))
            PELLWICK_TRY(m_fileManager->removeItem(backup));
        if (Result<void> linked = m_fileManager->linkItem(target, backup); !linked) {
            // A file system without hard links (FAT, exFAT, some network shares) cannot keep
            // the old file under a second name: the rename still commits, only a failed folder
            // flush then leaves the new file in place (reported, and replaced by the next write).
            const FileSystemError *error = linked.error().as<FileSystemError>();
            if (!error || !hardLinksUnsupported(error->code))
                return linked;
            keptPrevious = false;
        }
    }
    PELLWICK_TRY(m_fileManager->replaceItem(temporary, target));
    Result<void> flushed = m_fileManager->synchronizeDirectory(m_rootURL);
    if (!flushed) {
        if (keptPrevious)
            (void) m_fileManager->replaceItem(backup, target);
        else if (!hadTarget)
            (void) m_fileManager->removeItem(target);
        (void) m_fileManager->synchronizeDirectory(m_rootURL);
        return flushed;
    }
    if (keptPrevious)
        (void) m_fileManager->removeItem(backup);
    return {};
}

Result<void> LocalLibraryCache::writeSnapshot(const LocalLibraryCacheRecords &records) const
{
    Detail::LibraryDiskState &disk = *m_storage->disk;
    PELLWICK_TRY(m_fileManager->createDirectory(m_rootURL));
    if (Result<QStringList> names = m_fileManager->contentsOfDirectory(m_rootURL)) {
        for (const QString &name : *names) {
            if (name.startsWith(temporaryPrefix) && isRemovableFile(*m_fileManager, path(name)))
                (void) m_fileManager->removeItem(path(name));
        }
    }

    const QString id = uuidText(QUuid::createUuid());
    const QString snapshotTemporary
        = path(temporaryPrefix + QStringLiteral("json.") + id + QStringLiteral(".tmp"));
    const QString journalTemporary
        = path(temporaryPrefix + QStringLiteral("journal.") + id + QStringLiteral(".tmp"));
    const QString snapshot = path(libraryFileName());
    const QString journal = path(journalFileName());
    const auto cleanUp = [&] {
        (void) m_fileManager->removeItem(snapshotTemporary);
        (void) m_fileManager->removeItem(journalTemporary);
    };

    Result<LibraryJournal::SnapshotName> name
        = LibraryFile::write(*m_fileManager, snapshotTemporary, records);
    // A journal the store does not know may name these very bytes (it outlived the file it
    // named, which was then changed from outside); between the new file's rename and the fresh
    // journal's, or should the latter fail, its entries would apply to them. Other bytes for the
    // same records are then written.
    const bool ours = filesAreOurs();
    if (name && !ours && journalMayName(*m_fileManager, journal, *name)) {
        (void) m_fileManager->removeItem(snapshotTemporary);
        name = LibraryFile::write(*m_fileManager, snapshotTemporary, records, true);
    }
    if (!name) {
        cleanUp();
        return tl::unexpected<Error>(std::move(name).error());
    }
    const QByteArray header = LibraryJournal::header(*name);
    Result<void> journalWritten = [&]() -> Result<void> {
        PELLWICK_TRY(m_fileManager->createFile(journalTemporary));
        PELLWICK_TRY_ASSIGN(std::unique_ptr<FileHandle> file,
                            m_fileManager->openForWriting(journalTemporary));
        PELLWICK_TRY(file->write(header.constData(), header.size()));
        return file->synchronize();
    }();
    if (!journalWritten) {
        cleanUp();
        return journalWritten;
    }

    // A new file with the very bytes of the current one would let the old journal apply to it
    // again: then the fresh journal itself is the commit.
    const bool sameBytes = ours && name->isSameFile(disk.snapshotName);
    if (sameBytes) {
        (void) m_fileManager->removeItem(snapshotTemporary);
        Result<void> committed = replaceCommitting(journalTemporary, journal);
        if (!committed) {
            cleanUp();
            return committed;
        }
    } else {
        // A journal that is not the store's own names an older file and holds nothing the
        // library needs; were the new file to have that older file's very bytes, its entries
        // would apply again should the fresh journal not take its place.
        if (ours && !disk.journalIsOurs && isRemovableFile(*m_fileManager, journal)) {
            Result<void> retired = m_fileManager->removeItem(journal);
            if (retired)
                retired = m_fileManager->synchronizeDirectory(m_rootURL);
            if (!retired) {
                cleanUp();
                return retired;
            }
        }
        Result<void> committed = replaceCommitting(snapshotTemporary, snapshot);
        if (!committed) {
            cleanUp();
            return committed;
        }
        // The old journal names the old file, so it no longer applies; a fresh one is only
        // needed for the next entry, which creates it should this fail. The old one then goes:
        // the new file holds everything, and a journal damaged from outside would fail every
        // load.
        disk.journalIsOurs = m_fileManager->replaceItem(journalTemporary, journal)
                             && m_fileManager->synchronizeDirectory(m_rootURL);
        if (!disk.journalIsOurs && isRemovableFile(*m_fileManager, journal)
            && m_fileManager->removeItem(journal))
            (void) m_fileManager->synchronizeDirectory(m_rootURL);
    }
    if (sameBytes)
        disk.journalIsOurs = true;
    cleanUp();

    disk.snapshotName = *name;
    disk.loadedFilesAreDurable = true; // both replaced, and the folder flushed
    const Result<FileAttributes> snapshotAttributes = m_fileManager->attributesOfItem(snapshot);
    disk.snapshotIsOurs = snapshotAttributes.has_value();
    if (snapshotAttributes)
        disk.snapshotStamp = Detail::FileStamp::of(*snapshotAttributes);
    if (disk.journalIsOurs) {
        const Result<FileAttributes> journalAttributes = m_fileManager->attributesOfItem(journal);
        disk.journalIsOurs = journalAttributes.has_value();
        if (journalAttributes)
            disk.journalStamp = Detail::FileStamp::of(*journalAttributes);
        disk.journalLength = LibraryJournal::headerSize;
        disk.journalTailIsClear = true;
    }
    return {};
}

Result<LocalLibraryCacheRecords> LocalLibraryCache::load() const
{
    Detail::LibraryDiskState disk;
    const QString snapshot = path(libraryFileName());
    const QString journal = path(journalFileName());
    PELLWICK_TRY_ASSIGN(const bool snapshotExists, fileIsThere(*m_fileManager, snapshot));
    if (!snapshotExists) {
        *m_storage->disk = disk;
        return LocalLibraryCacheRecords();
    }
    PELLWICK_TRY_ASSIGN(FileAttributes snapshotAttributes,
                        m_fileManager->attributesOfItem(snapshot));
    disk.loadedFilesAreDurable = false;
    // The journal is read first: one of the first version names the file by its SHA-256, which
    // the reader then computes as well.
    PELLWICK_TRY_ASSIGN(const bool journalExists, fileIsThere(*m_fileManager, journal));
    QByteArray journalBytes;
    std::optional<FileAttributes> journalAttributes;
    if (journalExists) {
        PELLWICK_TRY_ASSIGN(FileAttributes attributes, m_fileManager->attributesOfItem(journal));
        // A folder in its place holds no entries; the store never removes it.
        if (attributes.type != FileAttributes::Type::Directory) {
            journalAttributes = attributes;
            // The store folds a journal long before it is this large: a larger one is not its
            // own (perhaps a device that never ends) and is refused unread.
            const qint64 bound = std::max({maximumJournalBytes,
                                           m_options.journalFoldBytes * 2,
                                           snapshotAttributes.size})
                                 + journalRoomBytes;
            PELLWICK_TRY_ASSIGN(journalBytes,
                                readRegularFileContents(*m_fileManager, journal, bound));
        }
    }
    PELLWICK_TRY_ASSIGN(LibraryFile::Loaded loaded,
                        LibraryFile::read(*m_fileManager,
                                          snapshot,
                                          LibraryFile::defaultSegmentBytes,
                                          LibraryJournal::namesSnapshotBySha256(journalBytes)));
    LocalLibraryCacheRecords records = std::move(loaded.records);
    // Through a symbolic link the stamps would be the link's, blind to edits of its target: the
    // first change then writes a file of the store's own in its place.
    disk.snapshotIsOurs = snapshotAttributes.type == FileAttributes::Type::Regular;
    disk.snapshotStamp = Detail::FileStamp::of(snapshotAttributes);
    disk.snapshotName = loaded.name;

    if (journalAttributes) {
        PELLWICK_TRY_ASSIGN(LibraryJournal::Contents contents, LibraryJournal::parse(journalBytes));
        if (contents.names(disk.snapshotName)) {
            for (const LibraryJournal::Entry &entry : contents.entries) {
                PELLWICK_TRY_ASSIGN(records, applyEntry(records, entry));
            }
            disk.journalIsOurs = true;
            if (journalAttributes->type != FileAttributes::Type::Regular)
                disk.snapshotIsOurs = false; // as above; the entries go into the next file
            disk.journalStamp = Detail::FileStamp::of(*journalAttributes);
            disk.journalLength = contents.validLength;
            disk.journalTailIsClear = contents.tailIsClear;
        }
    }
    *m_storage->disk = disk;
    return records;
}

} // namespace Pellwick
