#pragma once

#include <PellwickCore/Library/LocalLibraryItem.h>

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <span>
#include <vector>

namespace Pellwick {

class LocalLibraryCacheRecords;

/// The search values of one record, lowercased, in UTF-8.
struct LibrarySearchKeys
{
    /// The values joined with one NUL between them.
    QByteArray text;
    /// The values, then their stems (before the last "."), each once, empty ones left out.
    QList<QByteArray> exactKeys;
    /// Every prefix of two or more user-perceived characters of the original filename's stem.
    QList<QByteArray> prefixKeys;

    static LibrarySearchKeys of(const LocalLibraryItem &item);
};

/// The search indexes of the first `count` records of a library, built once and then only read
/// (by any thread). Texts live in one buffer and keys in sorted arrays, positions as 32 bits.
class LibrarySearchIndex
{
public:
    LibrarySearchIndex(const LocalLibraryCacheRecords &records, qsizetype count);

    qsizetype count() const { return static_cast<qsizetype>(m_textOffsets.size()) - 1; }

    /// The ascending positions of the records with the exact key, or nothing without the key.
    std::optional<std::span<const quint32>> exact(QByteArrayView key) const
    {
        return m_exactSearchIndexes.find(key);
    }

    std::optional<std::span<const quint32>> prefix(QByteArrayView key) const
    {
        return m_filenamePrefixSearchIndexes.find(key);
    }

    QByteArrayView text(qsizetype position) const
    {
        const auto p = static_cast<size_t>(position);
        return QByteArrayView(m_indexedSearchText.constData() + m_textOffsets[p],
                              m_textOffsets[p + 1] - m_textOffsets[p]);
    }

    /// The ascending positions whose text contains `needle`.
    std::vector<quint32> containing(QByteArrayView needle) const;

private:
    /// Keys to ascending position lists, sorted by hash, with the key texts kept to compare.
    class KeyMap
    {
    public:
        struct Entry
        {
            quint64 hash;
            quint32 keyOffset; ///< into the builder's key buffer
            quint32 keyLength;
            quint32 position;
        };

        void build(std::vector<Entry> &entries, const QByteArray &keys);
        std::optional<std::span<const quint32>> find(QByteArrayView key) const;

    private:
        std::vector<quint64> m_hashes;
        std::vector<quint32> m_keyOffsets;  ///< one more than keys
        std::vector<quint32> m_listOffsets; ///< one more than keys
        QByteArray m_keys;
        std::vector<quint32> m_positions;
    };

    QByteArray m_indexedSearchText;
    std::vector<quint32> m_textOffsets;
    KeyMap m_exactSearchIndexes;
    KeyMap m_filenamePrefixSearchIndexes;
};

/// The hash the key maps use.
quint64 librarySearchKeyHash(QByteArrayView key);

} // namespace Pellwick
