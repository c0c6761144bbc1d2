#pragma once

#include <PellwickCore/Library/LibraryJournal_p.h>
#include <PellwickCore/Library/LocalLibraryCacheRecords.h>
#include <PellwickCore/Support/FileManager.h>
#include <PellwickCore/Support/Result.h>

#include <QByteArray>
#include <QList>

#include <vector>

namespace Pellwick::LibraryFile {

// "library-items.json": a JSON array of records, pretty-printed with sorted keys.

struct Loaded
{
    /// The records in file order.
    LocalLibraryCacheRecords records;
    LibraryJournal::SnapshotName name;
};

/// The size of the pieces the reader hands to its threads.
inline constexpr qint64 defaultSegmentBytes = qint64{4} * 1024 * 1024;

/// Reads and decodes the library file at `path` on several threads, each decoding the records
/// of its own segments; decoding failures carry the file's name and the record's key path
/// ("library-items.json[3].preview") as a whole-file read would, and an empty file is "The
/// library file is empty". Anything but a regular file is refused unread (`requireRegularFile`).
/// The name it gives has the SHA-256 of the file only `withSha256`.
[[nodiscard]] Result<Loaded> read(const FileManager &fileManager,
                                  const QString &path,
                                  qint64 segmentBytes = defaultSegmentBytes,
                                  bool withSha256 = false);

/// The same through one whole-document parse: the reference the streaming reader must agree with.
[[nodiscard]] Result<QList<LocalLibraryItem>> decodeDocument(const QByteArray &bytes);

/// Writes `records` as a new file at `path` (which must not be in use), flushed to storage, and
/// returns the name of what it wrote. `lineBreakAtEnd` ends the file with one more line break:
/// other bytes for the same records.
[[nodiscard]] Result<LibraryJournal::SnapshotName> write(const FileManager &fileManager,
                                                         const QString &path,
                                                         const LocalLibraryCacheRecords &records,
                                                         bool lineBreakAtEnd = false);

} // namespace Pellwick::LibraryFile
