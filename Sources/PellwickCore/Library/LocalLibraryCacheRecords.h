#pragma once

#include <PellwickCore/Library/LocalLibraryItem.h>
#include <PellwickCore/Library/LocalLibrarySearchQuery.h>

#include <QHash>
#include <QList>
#include <QSet>
#include <QUuid>

#include <memory>
#include <vector>

namespace Pellwick {

class LocalLibrarySearchResult;

/// The library's records in stored order: an immutable value that is cheap to copy. The records
/// are held in shared chunks, so a changed copy shares every chunk it did not change, and a
/// reader keeps the library it was handed however the store changes afterwards.
class LocalLibraryCacheRecords
{
public:
    LocalLibraryCacheRecords();
    explicit LocalLibraryCacheRecords(const QList<LocalLibraryItem> &items);
    explicit LocalLibraryCacheRecords(QList<LocalLibraryItem> &&items);
    /// The records of consecutive batches, moved in and each released once moved (keeps a
    /// loader's peak memory near one copy of the library).
    explicit LocalLibraryCacheRecords(std::vector<QList<LocalLibraryItem>> &&batches);

    qsizetype size() const { return m_size; }

    bool isEmpty() const { return m_size == 0; }

    const LocalLibraryItem &at(qsizetype position) const
    {
        Q_ASSERT(position >= 0 && position < m_size);
        const Group &group = *(*m_groups)[static_cast<size_t>(position / groupSize)];
        return group[static_cast<size_t>((position % groupSize) / chunkSize)][position % chunkSize];
    }

    /// Every record in stored order (a copy of the list).
    QList<LocalLibraryItem> items() const;
    /// The positions of the records with `id`, ascending (more than one only when an id was
    /// stored twice).
    QList<qsizetype> positions(const QUuid &id) const;

    /// Calls `visit(item)` for every record in stored order.
    template<typename F>
    void forEach(F &&visit) const
    {
        for (const std::shared_ptr<const Group> &group : *m_groups) {
            for (const Chunk &chunk : *group) {
                for (const LocalLibraryItem &item : chunk)
                    visit(item);
            }
        }
    }

    /// The canonical filenames in use: one per record.
    QSet<QString> canonicalFilenames() const;

    /// A copy in which the records with ids in `removedIDs` are left out, then each
    /// (position, record) is assigned in order: a position below the size replaces that record,
    /// the size itself appends.
    LocalLibraryCacheRecords
    changed(const QSet<QUuid> &removedIDs,
            const QList<std::pair<qsizetype, LocalLibraryItem>> &assignments) const;

    /// The records matching `query`, in stored order. The search indexes are built at the first
    /// search of a library and kept while changes leave the records' search values in place;
    /// records appended since are searched directly. Thread-safe.
    LocalLibrarySearchResult search(const LocalLibrarySearchQuery &query) const;

    /// Equal when both hold equal records in the same order.
    bool operator==(const LocalLibraryCacheRecords &other) const;

    /// True when both are copies of one library (they share its records), so they hold the same
    /// records; false says nothing about equality. Costs one pointer comparison.
    bool sharesRecordsWith(const LocalLibraryCacheRecords &other) const
    {
        return m_size == other.m_size && m_groups == other.m_groups;
    }

    /// Records per chunk, the unit a change copies.
    static constexpr qsizetype chunkSize = 16;
    /// Chunks per group: a change copies the group table and one group besides its chunk.
    static constexpr qsizetype chunksPerGroup = 64;
    static constexpr qsizetype groupSize = chunkSize * chunksPerGroup;

private:
    /// Up to `chunkSize` consecutive records, in storage of their own or inside a loader's larger
    /// block, which they keep alive.
    struct Chunk
    {
        std::shared_ptr<const LocalLibraryItem> first;
        qsizetype count = 0;

        const LocalLibraryItem *begin() const { return first.get(); }

        const LocalLibraryItem *end() const { return first.get() + count; }

        const LocalLibraryItem &operator[](qsizetype index) const
        {
            Q_ASSERT(index >= 0 && index < count);
            return first.get()[index];
        }

        /// A chunk holding `records` in storage of its own.
        static Chunk holding(std::shared_ptr<const std::vector<LocalLibraryItem>> records);
    };

    /// Consecutive chunks; every group but the last holds `chunksPerGroup` chunks, and every chunk
    /// but the last holds `chunkSize` records.
    using Group = std::vector<Chunk>;
    using Groups = std::vector<std::shared_ptr<const Group>>;
    class ChunkEditor;
    /// Groups `chunks` (every one but the last holding `chunkSize` records).
    static std::shared_ptr<const Groups> grouped(std::vector<Chunk> &&chunks);

    /// An id as a key with a well-mixed hash: the platform's hash of a UUID folds its halves
    /// together, so some sets of ids (crafted or sequential) would all collide.
    struct IdKey
    {
        quint64 high = 0;
        quint64 low = 0;

        explicit IdKey(const QUuid &id);
        bool operator==(const IdKey &) const = default;
    };

    friend size_t qHash(const IdKey &key, size_t seed) noexcept;

    /// The positions of every id: a table filled by several threads at once.
    class IdIndex;

    void rebuildIDs();

    /// The search indexes of the first `count` records, shared by every library that holds the
    /// same search values there; built on first use.
    struct SearchSlot;
    std::shared_ptr<SearchSlot> m_search;

    /// Shared by copies, which so cost a few reference counts however large the library.
    std::shared_ptr<const Groups> m_groups;
    qsizetype m_size = 0;
    std::shared_ptr<const IdIndex> m_positionsByID;
};

} // namespace Pellwick
