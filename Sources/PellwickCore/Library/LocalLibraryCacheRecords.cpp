#include "LocalLibraryCacheRecords.h"

#include "LibrarySearchIndex_p.h"
#include "LocalLibrarySearchResult.h"

#include <PellwickCore/Support/Executor.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

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

LocalLibraryCacheRecords::LocalLibraryCacheRecords()
    : m_search(std::make_shared<SearchSlot>(0))
    , m_positionsByID(std::make_shared<const QMultiHash<IdKey, qsizetype>>())
{}

LocalLibraryCacheRecords::LocalLibraryCacheRecords(const QList<LocalLibraryItem> &items)
{
    for (qsizetype start = 0; start < items.size(); start += chunkSize) {
        const qsizetype end = std::min(items.size(), start + chunkSize);
        m_chunks.push_back(
            std::make_shared<const Chunk>(items.cbegin() + start, items.cbegin() + end));
    }
    m_size = items.size();
    rebuildIDs();
    m_search = std::make_shared<SearchSlot>(m_size);
}

LocalLibraryCacheRecords::LocalLibraryCacheRecords(QList<LocalLibraryItem> &&items)
{
    for (qsizetype start = 0; start < items.size(); start += chunkSize) {
        const qsizetype end = std::min(items.size(), start + chunkSize);
        m_chunks.push_back(
            std::make_shared<const Chunk>(std::make_move_iterator(items.begin() + start),
                                          std::make_move_iterator(items.begin() + end)));
    }
    m_size = items.size();
    items = {};
    rebuildIDs();
    m_search = std::make_shared<SearchSlot>(m_size);
}

LocalLibraryCacheRecords::LocalLibraryCacheRecords(std::vector<QList<LocalLibraryItem>> &&batches)
{
    // Where each batch starts, and how many of its records are still to be moved.
    const size_t batchCount = batches.size();
    std::vector<qsizetype> starts(batchCount);
    std::vector<qsizetype> sizes(batchCount);
    std::vector<LocalLibraryItem *> records(batchCount);
    std::unique_ptr<std::atomic<qsizetype>[]> remaining(new std::atomic<qsizetype>[batchCount]);
    for (size_t b = 0; b < batchCount; ++b) {
        starts[b] = m_size;
        sizes[b] = batches[b].size();
        records[b] = batches[b].data();
        remaining[b] = sizes[b];
        m_size += sizes[b];
    }
    const qsizetype chunkCount = (m_size + chunkSize - 1) / chunkSize;
    m_chunks.resize(static_cast<size_t>(chunkCount));
    // The moves touch the whole library's memory, so several threads share them; each batch is
    // released once its last record has moved, which keeps the peak near one copy of the library.
    constexpr qsizetype chunksPerTask = 16;
    const std::shared_ptr<const Executor> executor = Executor::shared();
    executor->forEach((chunkCount + chunksPerTask - 1) / chunksPerTask,
                      std::min<qsizetype>(8, executor->maxConcurrentTasks()),
                      [&](qsizetype task) {
                          const qsizetype firstChunk = task * chunksPerTask;
                          const qsizetype endChunk
                              = std::min(chunkCount, firstChunk + chunksPerTask);
                          auto b = static_cast<size_t>(
                              std::upper_bound(starts.begin(), starts.end(), firstChunk * chunkSize)
                              - starts.begin() - 1);
                          for (qsizetype c = firstChunk; c < endChunk; ++c) {
                              const qsizetype end = std::min(m_size, (c + 1) * chunkSize);
                              auto chunk = std::make_shared<Chunk>();
                              chunk->reserve(static_cast<size_t>(end - c * chunkSize));
                              for (qsizetype p = c * chunkSize; p < end;) {
                                  while (p >= starts[b] + sizes[b])
                                      ++b;
                                  const qsizetype taken = std::min(end, starts[b] + sizes[b]) - p;
                                  LocalLibraryItem *from = records[b] + (p - starts[b]);
                                  chunk->insert(chunk->end(),
                                                std::make_move_iterator(from),
                                                std::make_move_iterator(from + taken));
                                  p += taken;
                                  if (remaining[b].fetch_sub(taken) == taken)
                                      batches[b] = {};
                              }
                              m_chunks[static_cast<size_t>(c)] = std::move(chunk);
                          }
                      });
    batches.clear();
    rebuildIDs();
    m_search = std::make_shared<SearchSlot>(m_size);
}

void LocalLibraryCacheRecords::rebuildIDs()
{
    auto ids = std::make_shared<QMultiHash<IdKey, qsizetype>>();
    ids->reserve(m_size);
    qsizetype position = 0;
    forEach([&](const LocalLibraryItem &item) { ids->insert(IdKey(item.id), position++); });
    m_positionsByID = std::move(ids);
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
    QList<qsizetype> result = m_positionsByID->values(IdKey(id));
    std::sort(result.begin(), result.end());
    return result;
}

LocalLibraryCacheRecords LocalLibraryCacheRecords::changed(
    const QSet<QUuid> &removedIDs,
    const QList<std::pair<qsizetype, LocalLibraryItem>> &assignments) const
{
    LocalLibraryCacheRecords result = *this;
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
            result.m_chunks.resize(static_cast<size_t>(firstChunk));
            for (size_t start = 0; start < tail.size(); start += static_cast<size_t>(chunkSize)) {
                const size_t end = std::min(tail.size(), start + static_cast<size_t>(chunkSize));
                result.m_chunks.push_back(std::make_shared<const Chunk>(
                    std::make_move_iterator(tail.begin() + static_cast<std::ptrdiff_t>(start)),
                    std::make_move_iterator(tail.begin() + static_cast<std::ptrdiff_t>(end))));
            }
            result.m_size = m_size - removed.size();
            positionsMoved = true;
        }
    }

    // Copy each touched chunk once, then assign into the copies.
    std::vector<std::shared_ptr<Chunk>> copies(result.m_chunks.size() + 1);
    bool idsChanged = positionsMoved;
    bool searchValuesMoved = positionsMoved;
    for (const auto &[position, item] : assignments) {
        Q_ASSERT(position >= 0 && position <= result.m_size);
        const auto chunkIndex = static_cast<size_t>(position / chunkSize);
        if (position == result.m_size) {
            if (chunkIndex == result.m_chunks.size()) {
                result.m_chunks.push_back(std::make_shared<const Chunk>());
                copies.resize(result.m_chunks.size() + 1);
            }
            if (!copies[chunkIndex]) {
                copies[chunkIndex] = std::make_shared<Chunk>(*result.m_chunks[chunkIndex]);
                copies[chunkIndex]->reserve(chunkSize);
                result.m_chunks[chunkIndex] = copies[chunkIndex];
            }
            copies[chunkIndex]->push_back(item);
            ++result.m_size;
            idsChanged = true;
            continue;
        }
        if (!copies[chunkIndex]) {
            copies[chunkIndex] = std::make_shared<Chunk>(*result.m_chunks[chunkIndex]);
            result.m_chunks[chunkIndex] = copies[chunkIndex];
        }
        LocalLibraryItem &slot = (*copies[chunkIndex])[static_cast<size_t>(position % chunkSize)];
        idsChanged = idsChanged || slot.id != item.id;
        searchValuesMoved = searchValuesMoved || !sameSearchValues(slot, item);
        slot = item;
    }
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
