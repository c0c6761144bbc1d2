#pragma once

#include <PellwickCore/Support/Result.h>
#include <PellwickCore/Support/Sha256.h>

#include <QByteArray>
#include <QList>

#include <memory>

namespace Pellwick::LibraryJournal {

// The journal beside "library-items.json" makes single changes durable without rewriting the
// whole file. Layout (integers little-endian):
//   header: "PWLJRNL2", snapshot length (u64), snapshot block digest (32 bytes), SHA-256 of the
//           preceding 48 bytes (32 bytes). Journals written before the block digest start with
//           "PWLJRNL1" and name the snapshot by the SHA-256 of its bytes; they are still read and
//           appended to.
//   entry:  "PWJE", payload length (u32), payload (compact JSON), SHA-256 of the preceding bytes
//           of the entry (32 bytes)
//   then zero bytes: room reserved for later entries, so that most entries overwrite the file
//           rather than extend it, and a flush need not record a new file size.
// The header names the snapshot the entries extend; a journal naming another snapshot is
// ignored. The payload never holds the entry magic: JSON escapes control characters.

inline constexpr qsizetype headerSize = 80;
inline constexpr qsizetype entryOverhead = 40;
/// The blocks of the snapshot whose digests make its block digest.
inline constexpr qint64 digestBlockSize = qint64{4} * 1024 * 1024;

/// The identity of one "library-items.json": its length and block digest (SHA-256 of the
/// 128-bit XXH3 digests of its `digestBlockSize` blocks in order, the last one shorter, each
/// in canonical byte order), and its SHA-256 where a journal of the first version asked for it.
struct SnapshotName
{
    qint64 length = 0;
    QByteArray blockDigest;
    QByteArray sha256;

    /// Both name the same bytes.
    bool isSameFile(const SnapshotName &other) const
    {
        return length == other.length && !blockDigest.isEmpty() && blockDigest == other.blockDigest;
    }
};

/// The block digest of bytes that arrive in order, in pieces of any size.
class BlockDigest
{
public:
    BlockDigest();
    BlockDigest(BlockDigest &&) noexcept;
    BlockDigest &operator=(BlockDigest &&) noexcept;
    ~BlockDigest();

    void addData(const char *data, qint64 size);

    /// The digest of one whole block (or the last, shorter one), hashed elsewhere.
    void addBlockDigest(const QByteArray &digest) { m_digests.addData(digest); }

    QByteArray result();

    /// The digest of one block.
    static QByteArray ofBlock(const char *data, qint64 size);

private:
    struct BlockState;
    std::unique_ptr<BlockState> m_block;
    qint64 m_inBlock = 0;
    Sha256 m_digests;
};

/// The header of a new journal, which names `snapshot` by its block digest.
QByteArray header(const SnapshotName &snapshot);
QByteArray entry(const QByteArray &payload);

/// True when the journal's header names the snapshot by its SHA-256 (the first version), which
/// the reader of the snapshot must then compute.
bool namesSnapshotBySha256(const QByteArray &journal);

struct Entry
{
    qint64 offset = 0;
    QByteArray payload;
};

struct Contents
{
    int version = 2;
    /// As the header names it: the block digest, or for the first version the SHA-256.
    SnapshotName snapshot;
    QList<Entry> entries;
    /// Bytes up to the end of the last whole entry.
    qint64 validLength = 0;
    /// Only zero bytes follow `validLength` (room for entries); otherwise a torn tail there is to
    /// be cut off.
    bool tailIsClear = true;

    /// The header names `loaded`.
    bool names(const SnapshotName &loaded) const;
};

/// Reads a journal. A damaged header, or a damaged entry followed by a sound one, is a
/// `DecodingError` naming the journal and the byte offset; a damaged or cut last entry is a torn
/// tail, left out of `entries`.
[[nodiscard]] Result<Contents> parse(const QByteArray &journal);

/// The failure for damage at `offset` of the journal.
DecodingError damaged(qint64 offset, const QString &what);

} // namespace Pellwick::LibraryJournal
