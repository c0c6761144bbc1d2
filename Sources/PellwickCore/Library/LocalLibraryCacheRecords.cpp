#include "LocalLibraryCacheRecords.h"

#include "LibrarySearchIndex_p.h"
#include "LocalLibrarySearchResult.h"

#include <PellwickCore/Support/Executor.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <mutex>
#include <numeric>
#include <unordered_map>

namespace Pellwick {

struct LocalLibraryCacheRecords::SearchSlot
{
    explicit SearchSlot(qsizetype indexedCount)
        : count(indexedCount)
    {}

    std::mutex mutex;
    qsizetype count;
    std::shared_ptr<const LibrarySearchIndex> index;
};

namespace {

/// Records appended after the indexes were built that a search examines one by one, before the
/// indexes are built anew.
constexpr qsizetype maximumUnindexedRecords = 4096;

bool sameSearchValues(const LocalLibraryItem &a, const LocalLibraryItem &b)
{
    return a.originalFilename == b.originalFilename && a.canonicalFilename == b.canonicalFilename
           && a.metadata.cameraModel.knownModel() == b.metadata.cameraModel.knownModel();
}

} // namespace

LocalLibraryCacheRecords::IdKey::IdKey(const QUuid &id)
    : high((quint64{id.data1} << 32) | (quint64{id.data2} << 16) | id.data3)
{
    std::memcpy(&low, id.data4, sizeof low);
}

size_t qHash(const LocalLibraryCacheRecords::IdKey &key, size_t seed) noexcept
{
    // splitmix64 finaliser over both halves
    quint64 x = key.high ^ (key.low * 0x9E3779B97F4A7C15ULL) ^ seed;
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBULL;
    x ^= x >> 31;
    return static_cast<size_t>(x);
}

/// Open addressing with linear probing over a power-of-two table at most half full. Each record
/// claims the first free slot from its id's hash (several threads claim at once, never reading a
/// key to do so); all slots of one id then lie in the run of taken slots that starts at its hash.
class LocalLibraryCacheRecords::IdIndex
{
public:
    explicit IdIndex(const LocalLibraryCacheRecords &records)
        : m_mask(std::bit_ceil(static_cast<quint64>(std::max<qsizetype>(8, 2 * records.size())))
                 - 1)
        , m_slots(std::make_unique<Slot[]>(m_mask + 1))
        , m_seed(QHashSeed::globalSeed())
    {
        const Groups &groups = *records.m_groups;
        const auto fill = [&](qsizetype g) {
            const Group &group = *groups[static_cast<size_t>(g)];
            for (size_t c = 0; c < group.size(); ++c) {
                const Chunk &chunk = group[c];
                const qsizetype first = g * groupSize + static_cast<qsizetype>(c) * chunkSize;
                for (qsizetype i = 0; i < chunk.count; ++i)
                    insert(IdKey(chunk[i].id), first + i);
            }
        };
        const auto groupCount = static_cast<qsizetype>(groups.size());
        if (records.size() <= 4 * groupSize) {
            for (qsizetype g = 0; g < groupCount; ++g)
                fill(g);
            return;
        }
        const std::shared_ptr<const Executor> executor = Executor::shared();
        executor->forEach(groupCount, std::min<qsizetype>(8, executor->maxConcurrentTasks()), fill);
    }

    QList<qsizetype> positions(const IdKey &key) const
    {
        QList<qsizetype> result;
        for (quint64 i = qHash(key, m_seed) & m_mask;; i = (i + 1) & m_mask) {
            const Slot &slot = m_slots[i];
            const qsizetype position = slot.position.load(std::memory_order_relaxed);
            if (position < 0)
                return result;
            if (slot.high == key.high && slot.low == key.low)
                result.append(position);
        }
    }

private:
    struct Slot
    {
        std::atomic<qsizetype> position{-1};
        quint64 high = 0;
        quint64 low = 0;
    };

    void insert(const IdKey &key, qsizetype position)
    {
        for (quint64 i = qHash(key, m_seed) & m_mask;; i = (i + 1) & m_mask) {
            qsizetype free = -1;
            if (m_slots[i].position.compare_exchange_strong(free, position)) {
                m_slots[i].high = key.high;
                m_slots[i].low = key.low;
                return;
            }
        }
    }

    quint64 m_mask;
    std::unique_ptr<Slot[]> m_slots;
    size_t m_seed;
};

LocalLibraryCacheRecords::Chunk LocalLibraryCacheRecords::Chunk::holding(
    std::shared_ptr<const std::vector<LocalLibraryItem>> records)
{
    const LocalLibraryItem *first = records->data();
    const auto count = static_cast<qsizetype>(records->size());
    return {std::shared_ptr<const LocalLibraryItem>(std::move(records), first), count};
}

/// The chunks of a library being changed. Groups stay shared with the library until one of their
/// chunks is replaced, so a change copies the group table and the groups it touches, not every
/// chunk.
class LocalLibraryCacheRecords::ChunkEditor
{
public:
    explicit ChunkEditor(const Groups &groups)
        : m_groups(groups)
        , m_owned(groups.size())
    {
        for (const std::shared_ptr<const Group> &group : groups)
            m_count += group->size();
    }

    size_t size() const { return m_count; }

    const Chunk &operator[](size_t c) const { return (*m_groups[c / perGroup])[c % perGroup]; }

    void set(size_t c, Chunk chunk) { owned(c / perGroup)[c % perGroup] = std::move(chunk); }

    /// Keeps the first `count` chunks.
    void truncate(size_t count)
    {
        Q_ASSERT(count <= m_count);
        const size_t groupCount = (count + perGroup - 1) / perGroup;
        m_groups.resize(groupCount);
        m_owned.resize(groupCount);
        if (count % perGroup != 0)
            owned(groupCount - 1).resize(count % perGroup);
        m_count = count;
    }

    void append(Chunk chunk)
    {
        if (m_count % perGroup == 0) {
            m_owned.push_back(std::make_shared<Group>());
            m_owned.back()->reserve(perGroup);
            m_groups.push_back(m_owned.back());
        }
        owned(m_groups.size() - 1).push_back(std::move(chunk));
        ++m_count;
    }

    std::shared_ptr<const Groups> finished() &&
    {
        return std::make_shared<const Groups>(std::move(m_groups));
    }

private:
    static constexpr auto perGroup = static_cast<size_t>(chunksPerGroup);

    Group &owned(size_t g)
    {
        if (!m_owned[g]) {
            m_owned[g] = std::make_shared<Group>(*m_groups[g]);
            m_groups[g] = m_owned[g];
        }
        return *m_owned[g];
    }

    Groups m_groups;
    std::vector<std::shared_ptr<Group>> m_owned;
    size_t m_count = 0;
};

std::shared_ptr<const LocalLibraryCacheRecords::Groups>
LocalLibraryCacheRecords::grouped(std::vector<Chunk> &&chunks)
{
    constexpr auto perGroup = static_cast<size_t>(chunksPerGroup);
    Groups groups;
    groups.reserve((chunks.size() + perGroup - 1) / perGroup);
    for (size_t start = 0; start < chunks.size(); start += perGroup) {
        const size_t end = std::min(chunks.size(), start + perGroup);
        groups.push_back(std::make_shared<const Group>(
            std::make_move_iterator(chunks.begin() + static_cast<std::ptrdiff_t>(start)),
            std::make_move_iterator(chunks.begin() + static_cast<std::ptrdiff_t>(end))));
    }
    chunks.clear();
    return std::make_shared<const Groups>(std::move(groups));
}

LocalLibraryCacheRecords::LocalLibraryCacheRecords()
    : m_search(std::make_shared<SearchSlot>(0))
    , m_groups(std::make_shared<const Groups>())
    , m_positionsByID(std::make_shared<const IdIndex>(*this))
{}

LocalLibraryCacheRecords::LocalLibraryCacheRecords(const QList<LocalLibraryItem> &items)
{
    std::vector<Chunk> chunks;
    for (qsizetype start = 0; start < items.size(); start += chunkSize) {
        const qsizetype end = std::min(items.size(), start + chunkSize);
        chunks.push_back(Chunk::holding(std::make_shared<const std::vector<LocalLibraryItem>>(
            items.cbegin() + start, items.cbegin() + end)));
    }
    m_size = items.size();
    m_groups = grouped(std::move(chunks));
    rebuildIDs();
    m_search = std::make_shared<SearchSlot>(m_size);
}

LocalLibraryCacheRecords::LocalLibraryCacheRecords(QList<LocalLibraryItem> &&items)
{
    std::vector<Chunk> chunks;
    for (qsizetype start = 0; start < items.size(); start += chunkSize) {
        const qsizetype end = std::min(items.size(), start + chunkSize);
        chunks.push_back(Chunk::holding(std::make_shared<const std::vector<LocalLibraryItem>>(
            std::make_move_iterator(items.begin() + start),
            std::make_move_iterator(items.begin() + end))));
    }
    m_size = items.size();
    items = {};
    m_groups = grouped(std::move(chunks));
    rebuildIDs();
    m_search = std::make_shared<SearchSlot>(m_size);
}

LocalLibraryCacheRecords::LocalLibraryCacheRecords(std::vector<QList<LocalLibraryItem>> &&batches)
{
    std::vector<Chunk> chunks;
    // Where each batch starts in the library.
    const size_t batchCount = batches.size();
    std::vector<qsizetype> starts(batchCount);
    for (size_t b = 0; b < batchCount; ++b) {
        starts[b] = m_size;
        m_size += batches[b].size();
    }
    const qsizetype chunkCount = (m_size + chunkSize - 1) / chunkSize;
    chunks.resize(static_cast<size_t>(chunkCount));
    const auto batchOf = [&](qsizetype position) {
        return static_cast<size_t>(std::upper_bound(starts.begin(), starts.end(), position)
                                   - starts.begin() - 1);
    };
    // A chunk across batches gets storage of its own; the batches then become the storage of
    // every other chunk, so that the records are neither copied nor moved.
    for (qsizetype c = 0; c < chunkCount; ++c) {
        const qsizetype begin = c * chunkSize;
        const qsizetype end = std::min(m_size, begin + chunkSize);
        size_t b = batchOf(begin);
        if (end <= starts[b] + batches[b].size())
            continue;
        auto records = std::make_shared<std::vector<LocalLibraryItem>>();
        records->reserve(static_cast<size_t>(end - begin));
        for (qsizetype p = begin; p < end; ++p) {
            while (p >= starts[b] + batches[b].size())
                ++b;
            records->push_back(std::move(batches[b][p - starts[b]]));
        }
        chunks[static_cast<size_t>(c)] = Chunk::holding(std::move(records));
    }
    std::vector<std::shared_ptr<const QList<LocalLibraryItem>>> blocks(batchCount);
    for (size_t b = 0; b < batchCount; ++b)
        blocks[b] = std::make_shared<const QList<LocalLibraryItem>>(std::move(batches[b]));
    batches.clear();
    for (qsizetype c = 0; c < chunkCount; ++c) {
        Chunk &chunk = chunks[static_cast<size_t>(c)];
        if (chunk.first)
            continue;
        const qsizetype begin = c * chunkSize;
        const size_t b = batchOf(begin);
        chunk = {std::shared_ptr<const LocalLibraryItem>(
                     blocks[b], blocks[b]->constData() + (begin - starts[b])),
                 std::min(m_size, begin + chunkSize) - begin};
    }
    m_groups = grouped(std::move(chunks));
    rebuildIDs();
    m_search = std::make_shared<SearchSlot>(m_size);
}

void LocalLibraryCacheRecords::rebuildIDs()
{
    m_positionsByID = std::make_shared<const IdIndex>(*this);
}

QList<LocalLibraryItem> LocalLibraryCacheRecords::items() const
{
    QList<LocalLibraryItem> result;
    result.reserve(m_size);
    forEach([&](const LocalLibraryItem &item) { result.append(item); });
    return result;
}

QSet<QString> LocalLibraryCacheRecords::canonicalFilenames() const
{
    QSet<QString> names;
    names.reserve(m_size);
    forEach([&names](const LocalLibraryItem &item) { names.insert(item.canonicalFilename); });
    return names;
}

QList<qsizetype> LocalLibraryCacheRecords::positions(const QUuid &id) const
{
    QList<qsizetype> result = m_positionsByID->positions(IdKey(id));
    std::sort(result.begin(), result.end());
    // The map is rebuilt whenever a record's id or position changes.
    Q_ASSERT(std::all_of(result.cbegin(), result.cend(), [&](qsizetype p) {
        return p >= 0 && p < m_size && at(p).id == id;
    }));
    return result;
}

LocalLibraryCacheRecords LocalLibraryCacheRecords::changed(
    const QSet<QUuid> &removedIDs,
    const QList<std::pair<qsizetype, LocalLibraryItem>> &assignments) const
{
    LocalLibraryCacheRecords result = *this;
    ChunkEditor chunks(*m_groups);
    bool positionsMoved = false;
    if (!removedIDs.isEmpty()) {
        QList<qsizetype> removed;
        for (const QUuid &id : removedIDs)
            removed.append(positions(id));
        if (!removed.isEmpty()) {
            std::sort(removed.begin(), removed.end());
            // Chunks before the first removal stay shared; the rest are rebuilt.
            const qsizetype firstChunk = removed.first() / chunkSize;
            std::vector<LocalLibraryItem> tail;
            qsizetype next = 0;
            for (qsizetype p = firstChunk * chunkSize; p < m_size; ++p) {
                if (next < removed.size() && removed[next] == p) {
                    ++next;
                    continue;
                }
                tail.push_back(at(p));
            }
            // Every removed position lay in the rebuilt tail, each one once.
            Q_ASSERT(next == removed.size());
            chunks.truncate(static_cast<size_t>(firstChunk));
            for (size_t start = 0; start < tail.size(); start += static_cast<size_t>(chunkSize)) {
                const size_t end = std::min(tail.size(), start + static_cast<size_t>(chunkSize));
                chunks.append(Chunk::holding(std::make_shared<const std::vector<LocalLibraryItem>>(
                    std::make_move_iterator(tail.begin() + static_cast<std::ptrdiff_t>(start)),
                    std::make_move_iterator(tail.begin() + static_cast<std::ptrdiff_t>(end)))));
            }
            result.m_size = m_size - removed.size();
            positionsMoved = true;
        }
    }

    // Copy each touched chunk once, then assign into the copies.
    std::unordered_map<size_t, std::shared_ptr<std::vector<LocalLibraryItem>>> copies;
    const auto copyOf = [&](size_t chunkIndex) -> std::vector<LocalLibraryItem> & {
        std::shared_ptr<std::vector<LocalLibraryItem>> &copy = copies[chunkIndex];
        if (!copy) {
            const Chunk &chunk = chunks[chunkIndex];
            copy = std::make_shared<std::vector<LocalLibraryItem>>();
            copy->reserve(chunkSize);
            copy->assign(chunk.begin(), chunk.end());
        }
        return *copy;
    };
    bool idsChanged = positionsMoved;
    bool searchValuesMoved = positionsMoved;
    for (const auto &[position, item] : assignments) {
        Q_ASSERT(position >= 0 && position <= result.m_size);
        const auto chunkIndex = static_cast<size_t>(position / chunkSize);
        if (position == result.m_size) {
            if (chunkIndex == chunks.size())
                chunks.append({});
            copyOf(chunkIndex).push_back(item);
            ++result.m_size;
            idsChanged = true;
            continue;
        }
        LocalLibraryItem &slot = copyOf(chunkIndex)[static_cast<size_t>(position % chunkSize)];
        idsChanged = idsChanged || slot.id != item.id;
        searchValuesMoved = searchValuesMoved || !sameSearchValues(slot, item);
        slot = item;
    }
    for (auto &[chunkIndex, copy] : copies)
        chunks.set(chunkIndex, Chunk::holding(std::move(copy)));
    result.m_groups = std::move(chunks).finished();
    Q_ASSERT(std::accumulate(result.m_groups->cbegin(),
                             result.m_groups->cend(),
                             qsizetype{0},
                             [](qsizetype sum, const std::shared_ptr<const Group> &group) {
                                 return std::accumulate(group->cbegin(),
                                                        group->cend(),
                                                        sum,
                                                        [](qsizetype n, const Chunk &chunk) {
                                                            return n + chunk.count;
                                                        });
                             })
             == result.m_size);
    if (idsChanged)
        result.rebuildIDs();
    if (searchValuesMoved || result.m_size - m_search->count > maximumUnindexedRecords)
        result.m_search = std::make_shared<SearchSlot>(result.m_size);
    return result;
}

LocalLibrarySearchResult
LocalLibraryCacheRecords::search(const LocalLibrarySearchQuery &query) const
{
    std::shared_ptr<const LibrarySearchIndex> index;
    {
        const std::lock_guard lock(m_search->mutex);
        if (!m_search->index)
            m_search->index = std::make_shared<const LibrarySearchIndex>(*this, m_search->count);
        index = m_search->index;
    }
    const qsizetype indexed = index->count();
    std::vector<LibrarySearchKeys> tail;
    for (qsizetype p = indexed; p < m_size; ++p)
        tail.push_back(LibrarySearchKeys::of(at(p)));

    const std::optional<QString> text = LocalLibrarySearchQuery::normalizedSearchText(query.text);
    const QByteArray needle = text ? text->toUtf8() : QByteArray();
    std::vector<quint32> result;
    const auto addUnlessDuplicate = [&](qsizetype p) {
        if (at(p).importStatus != LibraryItemImportStatus::Duplicate)
            result.push_back(static_cast<quint32>(p));
    };
    const auto finished = [&] { return LocalLibrarySearchResult(*this, std::move(result)); };
    const auto containing = [&] {
        std::vector<quint32> positions = index->containing(needle);
        for (size_t i = 0; i < tail.size(); ++i) {
            if (tail[i].text.contains(needle))
                positions.push_back(static_cast<quint32>(indexed + static_cast<qsizetype>(i)));
        }
        return positions;
    };

    if (query.hasNoFilters()) {
        if (!text) {
            for (qsizetype p = 0; p < m_size; ++p)
                addUnlessDuplicate(p);
            return finished();
        }
        // An exact key, then a filename prefix, ends the search, even with nothing to show.
        for (const bool exact : {true, false}) {
            const std::optional<std::span<const quint32>> hits
                = exact ? index->exact(needle) : index->prefix(needle);
            bool found = hits.has_value();
            if (hits) {
                for (const quint32 p : *hits)
                    addUnlessDuplicate(p);
            }
            for (size_t i = 0; i < tail.size(); ++i) {
                if ((exact ? tail[i].exactKeys : tail[i].prefixKeys).contains(needle)) {
                    found = true;
                    addUnlessDuplicate(indexed + static_cast<qsizetype>(i));
                }
            }
            if (found)
                return finished();
        }
        for (const quint32 p : containing())
            addUnlessDuplicate(p);
        return finished();
    }

    const auto addIfMatching = [&](qsizetype p) {
        if (query.matchesFilters(at(p)))
            result.push_back(static_cast<quint32>(p));
    };
    if (text) {
        for (const quint32 p : containing())
            addIfMatching(p);
    } else {
        for (qsizetype p = 0; p < m_size; ++p)
            addIfMatching(p);
    }
    return finished();
}

bool LocalLibraryCacheRecords::operator==(const LocalLibraryCacheRecords &other) const
{
    if (m_size != other.m_size)
        return false;
    for (qsizetype p = 0; p < m_size; ++p) {
        if (!(at(p) == other.at(p)))
            return false;
    }
    return true;
}

QList<LocalLibraryItem> LocalLibrarySearchResult::items() const
{
    QList<LocalLibraryItem> result;
    result.reserve(size());
    for (const LocalLibraryItem &item : *this)
        result.append(item);
    return result;
}

bool LocalLibrarySearchResult::operator==(const LocalLibrarySearchResult &other) const
{
    return size() == other.size() && std::equal(begin(), end(), other.begin());
}

} // namespace Pellwick
