#include "FileBrowserSortKey.h"

#include <algorithm>
#include <array>
#include <span>
#include <string_view>

namespace Pellwick {

namespace {

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

/// Walks the key of `folded`, handing each of its characters to `put`: a first pass counts them,
/// a second writes them, so the key is allocated once.
template<typename Put>
void forEachKeyCharacter(QStringView folded, bool foldsAscii, Put &&put)
{
    for (qsizetype i = 0; i < folded.size();) {
        const QChar c = folded.at(i);
        if (!isDigit(c)) {
            put(foldsAscii && c >= QLatin1Char('A') && c <= QLatin1Char('Z')
                    ? QChar(c.unicode() + 32)
                    : c);
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < folded.size() && isDigit(folded.at(end)))
            ++end;
        qsizetype significant = i;
        while (significant < end - 1 && folded.at(significant) == QLatin1Char('0'))
            ++significant;
        // A digit marker keeps digits where they sort among other characters; then the number's
        // length decides, then its digits, then the count of leading zeros.
        put(QLatin1Char('0'));
        put(QChar(static_cast<char16_t>(std::min<qsizetype>(end - significant, 0xffff))));
        for (qsizetype d = significant; d < end; ++d)
            put(folded.at(d));
        put(QChar(static_cast<char16_t>(std::min<qsizetype>(significant - i, 0xffff))));
        i = end;
    }
}

/// Sorts positions of keys by a three-way radix quicksort: each step partitions a range by a few
/// code units, so the shared beginning of many keys is read once per key, not once per comparison.
class KeySorter
{
public:
    /// A position with its key's code units at the depth of the range it is in.
    struct Entry
    {
        qint64 chunk;
        qsizetype index;
    };

    explicit KeySorter(const QList<QString> &keys)
    {
        m_keys.reserve(size_t(keys.size()));
        for (const QString &key : keys)
            m_keys.emplace_back(reinterpret_cast<const char16_t *>(key.utf16()),
                                size_t(key.size()));
    }

    std::vector<qsizetype> order() const
    {
        std::vector<Entry> entries(m_keys.size());
        for (size_t i = 0; i < entries.size(); ++i)
            entries[i] = Entry{chunkAt(qsizetype(i), 0), qsizetype(i)};
        sort(entries, 0);
        std::vector<qsizetype> order(entries.size());
        std::transform(entries.begin(), entries.end(), order.begin(), [](const Entry &entry) {
            return entry.index;
        });
        return order;
    }

private:
    struct Part
    {
        std::span<Entry> range;
        size_t depth;
    };

    static constexpr size_t insertionSortLimit = 12;
    static constexpr size_t unitsPerChunk = 3;
    static constexpr int unitBits = 17;
    static constexpr qint64 unitMask = (qint64(1) << unitBits) - 1;

    /// Sorts `range`, whose keys share their first `depth` code units and whose chunks are
    /// those at `depth`.
    void sort(std::span<Entry> range, size_t depth) const
    {
        // The two smaller parts are sorted by a call, the largest by the next turn: a call's
        // range is at most half its caller's, which bounds the depth of calls.
        while (range.size() > insertionSortLimit) {
            const qint64 pivot = medianChunk(range);
            size_t less = 0;
            size_t next = 0;
            size_t greater = range.size();
            while (next < greater) {
                const qint64 chunk = range[next].chunk;
                if (chunk < pivot)
                    std::swap(range[less++], range[next++]);
                else if (chunk > pivot)
                    std::swap(range[next], range[--greater]);
                else
                    ++next;
            }
            std::array<Part, 3> parts{
                Part{range.first(less), depth},
                Part{range.subspan(less, greater - less), depth + unitsPerChunk},
                Part{range.subspan(greater), depth}};
            if ((pivot & unitMask) == 0) {
                // Keys that ended here are equal: their positions decide.
                std::sort(parts[1].range.begin(),
                          parts[1].range.end(),
                          [](const Entry &a, const Entry &b) { return a.index < b.index; });
                parts[1].range = {};
            } else {
                // Paths of one folder share much more: skip what all share at once.
                parts[1].depth += sharedLength(parts[1].range, parts[1].depth);
                for (Entry &entry : parts[1].range)
                    entry.chunk = chunkAt(entry.index, parts[1].depth);
            }
            std::sort(parts.begin(), parts.end(), [](const Part &a, const Part &b) {
                return a.range.size() < b.range.size();
            });
            sort(parts[0].range, parts[0].depth);
            sort(parts[1].range, parts[1].depth);
            range = parts[2].range;
            depth = parts[2].depth;
        }
        insertionSort(range, depth);
    }

    /// The code units from `depth` on, each one more than its value and 0 past the end (which
    /// orders a key before its extensions), in one number of the same order.
    qint64 chunkAt(qsizetype index, size_t depth) const
    {
        const std::u16string_view key = m_keys[size_t(index)];
        qint64 chunk = 0;
        for (size_t i = depth; i < depth + unitsPerChunk; ++i)
            chunk = (chunk << unitBits) | (i < key.size() ? qint64(key[i]) + 1 : 0);
        return chunk;
    }

    /// How many code units from `depth` on the keys of `range` share.
    size_t sharedLength(std::span<const Entry> range, size_t depth) const
    {
        const std::u16string_view first = m_keys[size_t(range.front().index)].substr(depth);
        size_t shared = first.size();
        for (const Entry &entry : range.subspan(1)) {
            const std::u16string_view key = m_keys[size_t(entry.index)].substr(depth);
            const size_t length = std::min(shared, key.size());
            shared = size_t(std::mismatch(first.begin(), first.begin() + length, key.begin()).first
                            - first.begin());
            if (shared == 0)
                break;
        }
        return shared;
    }

    static qint64 medianChunk(std::span<const Entry> range)
    {
        std::array<qint64, 3> chunks{
            range.front().chunk, range[range.size() / 2].chunk, range.back().chunk};
        std::sort(chunks.begin(), chunks.end());
        return chunks[1];
    }

    void insertionSort(std::span<Entry> range, size_t depth) const
    {
        const auto before = [this, depth](qsizetype a, qsizetype b) {
            const int order
                = m_keys[size_t(a)].substr(depth).compare(m_keys[size_t(b)].substr(depth));
            return order != 0 ? order < 0 : a < b;
        };
        for (size_t i = 1; i < range.size(); ++i) {
            const Entry entry = range[i];
            size_t j = i;
            for (; j > 0 && before(entry.index, range[j - 1].index); --j)
                range[j] = range[j - 1];
            range[j] = entry;
        }
    }

    std::vector<std::u16string_view> m_keys;
};

} // namespace

std::vector<qsizetype> orderOfSortKeys(const QList<QString> &keys)
{
    return KeySorter(keys).order();
}

QString fileBrowserSortKey(QStringView text)
{
    // Folding ASCII only lowers its capitals: most names need no folded copy.
    const bool isAscii
        = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
    const QString foldedCopy = isAscii ? QString() : text.toString().toCaseFolded();
    const QStringView folded = isAscii ? text : QStringView(foldedCopy);
    qsizetype length = 0;
    forEachKeyCharacter(folded, isAscii, [&length](QChar) { ++length; });
    QString key(length, Qt::Uninitialized);
    QChar *out = key.data();
    forEachKeyCharacter(folded, isAscii, [&out](QChar c) { *out++ = c; });
    return key;
}

} // namespace Pellwick
