#pragma once

#include <PellwickCore/Support/Result.h>

#include <QByteArray>
#include <QList>

namespace Pellwick::LibraryJournal {

// The journal beside "library-items.json" makes single changes durable without rewriting the
// whole file. Layout (integers little-endian):
//   header: "PWLJRNL1", snapshot length (u64), snapshot SHA-256 (32 bytes), SHA-256 of the
//           preceding 48 bytes (32 bytes)
//   entry:  "PWJE", payload length (u32), payload (compact JSON), SHA-256 of the preceding bytes
//           of the entry (32 bytes)
// The header names the snapshot the entries extend; a journal naming another snapshot is
// ignored. The payload never holds the entry magic: JSON escapes control characters.

inline constexpr qsizetype headerSize = 80;
inline constexpr qsizetype entryOverhead = 40;

/// The identity of one "library-items.json": its length and SHA-256.
struct SnapshotName
{
    qint64 length = 0;
    QByteArray sha256;

    bool operator==(const SnapshotName &) const = default;
};

QByteArray header(const SnapshotName &snapshot);
QByteArray entry(const QByteArray &payload);

struct Entry
{
    qint64 offset = 0;
    QByteArray payload;
};

struct Contents
{
    SnapshotName snapshot;
    QList<Entry> entries;
    /// Bytes up to the end of the last whole entry; a torn tail beyond it is to be cut off.
    qint64 validLength = 0;
};

/// Reads a journal. A damaged header, or a damaged entry followed by a sound one, is a
/// `DecodingError` naming the journal and the byte offset; a damaged or cut last entry is a torn
/// tail, left out of `entries`.
[[nodiscard]] Result<Contents> parse(const QByteArray &journal);

/// The failure for damage at `offset` of the journal.
DecodingError damaged(qint64 offset, const QString &what);

} // namespace Pellwick::LibraryJournal
