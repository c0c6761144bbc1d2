#include "LibraryJournal_p.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

#include <xxhash.h>

namespace Pellwick::LibraryJournal {

namespace {

constexpr char headerMagic[] = "PWLJRNL2";
constexpr char firstHeaderMagic[] = "PWLJRNL1";
constexpr char entryMagic[] = "PWJE";
constexpr qsizetype magicSize = 4;
constexpr qsizetype digestSize = 32;

/// The payload length of a sound entry at `offset`, or nothing.
std::optional<qsizetype> soundEntryAt(const QByteArray &journal, qsizetype offset)
{
    const qsizetype available = journal.size() - offset;
    if (available < entryOverhead
        || std::memcmp(journal.constData() + offset, entryMagic, magicSize) != 0)
        return std::nullopt;
    const auto length = static_cast<qsizetype>(
        qFromLittleEndian<quint32>(journal.constData() + offset + magicSize));
    if (length > available - entryOverhead)
        return std::nullopt;
    const qsizetype checked = 8 + length;
    const QByteArray digest = Sha256::hash(journal.constData() + offset, checked);
    if (std::memcmp(digest.constData(), journal.constData() + offset + checked, digestSize) != 0)
        return std::nullopt;
    return length;
}

bool isZero(const char *data, qsizetype size)
{
    return std::all_of(data, data + size, [](char c) { return c == 0; });
}

} // namespace

struct BlockDigest::BlockState
{
    XXH3_state_t *state = XXH3_createState();

    BlockState() { XXH3_128bits_reset(state); }

    BlockState(const BlockState &) = delete;
    BlockState &operator=(const BlockState &) = delete;

    ~BlockState() { XXH3_freeState(state); }

    QByteArray result()
    {
        QByteArray digest = canonical(XXH3_128bits_digest(state));
        XXH3_128bits_reset(state);
        return digest;
    }

    static QByteArray canonical(XXH128_hash_t hash)
    {
        XXH128_canonical_t bytes;
        XXH128_canonicalFromHash(&bytes, hash);
        return {reinterpret_cast<const char *>(bytes.digest), sizeof bytes.digest};
    }
};

BlockDigest::BlockDigest()
    : m_block(std::make_unique<BlockState>())
{}

BlockDigest::BlockDigest(BlockDigest &&) noexcept = default;
BlockDigest &BlockDigest::operator=(BlockDigest &&) noexcept = default;
BlockDigest::~BlockDigest() = default;

void BlockDigest::addData(const char *data, qint64 size)
{
    while (size > 0) {
        const qint64 taken = std::min(size, digestBlockSize - m_inBlock);
        XXH3_128bits_update(m_block->state, data, static_cast<size_t>(taken));
        m_inBlock += taken;
        data += taken;
        size -= taken;
        if (m_inBlock == digestBlockSize) {
            m_digests.addData(m_block->result());
            m_inBlock = 0;
        }
    }
}

QByteArray BlockDigest::result()
{
    if (m_inBlock > 0)
        m_digests.addData(m_block->result());
    m_inBlock = 0;
    return m_digests.result();
}

QByteArray BlockDigest::ofBlock(const char *data, qint64 size)
{
    return BlockState::canonical(XXH3_128bits(data, static_cast<size_t>(size)));
}

bool Contents::names(const SnapshotName &loaded) const
{
    if (snapshot.length != loaded.length)
        return false;
    const QByteArray &named = version == 1 ? snapshot.sha256 : snapshot.blockDigest;
    const QByteArray &known = version == 1 ? loaded.sha256 : loaded.blockDigest;
    return !named.isEmpty() && named == known;
}

bool namesSnapshotBySha256(const QByteArray &journal)
{
    return journal.startsWith(firstHeaderMagic);
}

DecodingError damaged(qint64 offset, const QString &what)
{
    return DecodingError{DecodingError::Kind::DataCorrupted,
                         QStringLiteral("library-items.journal"),
                         QStringLiteral("Damaged %1 at byte offset %2 of library-items.journal.")
                             .arg(what)
                             .arg(offset)};
}

QByteArray header(const SnapshotName &snapshot)
{
    QByteArray bytes(headerMagic, 8);
    char length[8];
    qToLittleEndian<quint64>(static_cast<quint64>(snapshot.length), length);
    bytes.append(length, 8);
    bytes.append(snapshot.blockDigest);
    bytes.append(Sha256::hash(bytes.constData(), bytes.size()));
    return bytes;
}

QByteArray entry(const QByteArray &payload)
{
    QByteArray bytes;
    bytes.reserve(entryOverhead + payload.size());
    bytes.append(entryMagic, magicSize);
    char length[4];
    qToLittleEndian<quint32>(static_cast<quint32>(payload.size()), length);
    bytes.append(length, 4);
    bytes.append(payload);
    bytes.append(Sha256::hash(bytes.constData(), bytes.size()));
    return bytes;
}

Result<Contents> parse(const QByteArray &journal)
{
    const bool first = namesSnapshotBySha256(journal);
    if (journal.size() < headerSize
        || (!first && std::memcmp(journal.constData(), headerMagic, 8) != 0)
        || Sha256::hash(journal.constData(), 48) != journal.mid(48, digestSize)) {
        return failure(damaged(0, QStringLiteral("journal header")));
    }
    Contents contents;
    contents.version = first ? 1 : 2;
    contents.snapshot.length
        = static_cast<qint64>(qFromLittleEndian<quint64>(journal.constData() + 8));
    (first ? contents.snapshot.sha256 : contents.snapshot.blockDigest)
        = journal.mid(16, digestSize);

    qsizetype offset = headerSize;
    while (offset < journal.size()) {
        if (const std::optional<qsizetype> length = soundEntryAt(journal, offset)) {
            contents.entries.append({offset, journal.mid(offset + 8, *length)});
            offset += entryOverhead + *length;
            continue;
        }
        if (isZero(journal.constData() + offset, journal.size() - offset))
            break; // room for later entries
        contents.tailIsClear = false;
        // A damaged entry is a torn tail only when no sound entry follows it.
        for (qsizetype next = journal.indexOf(entryMagic, offset + 1); next >= 0;
             next = journal.indexOf(entryMagic, next + 1)) {
            if (soundEntryAt(journal, next))
                return failure(damaged(offset, QStringLiteral("journal entry")));
        }
        break;
    }
    contents.validLength = offset;
    return contents;
}

} // namespace Pellwick::LibraryJournal
