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
        const std::vector<Chunk> &chunks = *records.m_chunks;
        const auto fill = [&](qsizetype first, qsizetype end) {
            for (qsizetype c = first; c < end; ++c) {
                const Chunk &chunk = chunks[static_cast<size_t>(c)];
                for (qsizetype i = 0; i < chunk.count; ++i)
                    insert(IdKey(chunk[i].id), c * chunkSize + i);
            }
        };
        const auto chunkCount = static_cast<qsizetype>(chunks.size());
        constexpr qsizetype chunksPerTask = 64;
        if (chunkCount <= chunksPerTask) {
            fill(0, chunkCount);
            return;
        }
        const std::shared_ptr<const Executor> executor = Executor::shared();
        executor->forEach((chunkCount + chunksPerTask - 1) / chunksPerTask,
                          std::min<qsizetype>(8, executor->maxConcurrentTasks()),
                          [&](qsizetype task) {
                              fill(task * chunksPerTask,
                                   std::min(chunkCount, (task + 1) * chunksPerTask));
                          });
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

LocalLibraryCacheRecords::LocalLibraryCacheRecords()
    : m_search(std::make_shared<SearchSlot>(0))
    , m_chunks(std::make_shared<const std::vector<Chunk>>())
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
    m_chunks = std::make_shared<const std::vector<Chunk>>(std::move(chunks));
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
    m_chunks = std::make_shared<const std::vector<Chunk>>(std::move(chunks));
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
    m_chunks = std::make_shared<const std::vector<Chunk>>(std::move(chunks));
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
    std::vector<Chunk> chunks = *m_chunks;
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
            chunks.resize(static_cast<size_t>(firstChunk));
            for (size_t start = 0; start < tail.size(); start += static_cast<size_t>(chunkSize)) {
                const size_t end = std::min(tail.size(), start + static_cast<size_t>(chunkSize));
                chunks.push_back(
                    Chunk::holding(std::make_shared<const std::vector<LocalLibraryItem>>(
                        std::make_move_iterator(tail.begin() + static_cast<std::ptrdiff_t>(start)),
                        std::make_move_iterator(tail.begin() + static_cast<std::ptrdiff_t>(end)))));
            }
            result.m_size = m_size - removed.size();
            positionsMoved = true;
        }
    }

    // Copy each touched chunk once, then assign into the copies.
    std::vector<std::shared_ptr<std::vector<LocalLibraryItem>>> copies(chunks.size() + 1);
    const auto copyOf = [&](size_t chunkIndex) -> std::vector<LocalLibraryItem> & {
        if (!copies[chunkIndex]) {
            const Chunk &chunk = chunks[chunkIndex];
            copies[chunkIndex] = std::make_shared<std::vector<LocalLibraryItem>>();
            copies[chunkIndex]->reserve(chunkSize);
            copies[chunkIndex]->assign(chunk.begin(), chunk.end());
        }
        return *copies[chunkIndex];
    };
    bool idsChanged = positionsMoved;
    bool searchValuesMoved = positionsMoved;
    for (const auto &[position, item] : assignments) {
        Q_ASSERT(position >= 0 && position <= result.m_size);
        const auto chunkIndex = static_cast<size_t>(position / chunkSize);
        if (position == result.m_size) {
            if (chunkIndex == chunks.size()) {
                chunks.emplace_back();
                copies.resize(chunks.size() + 1);
            }
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
    for (size_t c = 0; c < chunks.size(); ++c) {
        if (copies[c])
            chunks[c] = Chunk::holding(std::move(copies[c]));
    }
    Q_ASSERT(
        result.m_size
        == std::accumulate(
            chunks.cbegin(), chunks.cend(), qsizetype{0}, [](qsizetype sum, const Chunk &chunk) {
                return sum + chunk.count;
            }));
    result.m_chunks = std::make_shared<const std::vector<Chunk>>(std::move(chunks));
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
