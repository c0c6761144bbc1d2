#include "LibrarySearchIndex_p.h"
#include "LocalLibraryCacheRecords.h"
#include "LocalLibrarySearchQuery.h"

#include <QTextBoundaryFinder>

#include <algorithm>
#include <cstring>
#include <string_view>

namespace Pellwick {

namespace {

QString stemOf(const QString &lowercased)
{
    const qsizetype dot = lowercased.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? lowercased : lowercased.left(dot);
}

bool isPlainAscii(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x80 || c == QLatin1Char('\r'))
            return false;
    }
    return true;
}

/// The UTF-16 offsets that end a user-perceived character of `text`, ascending.
QList<qsizetype> graphemeEnds(const QString &text)
{
    QList<qsizetype> ends;
    if (isPlainAscii(text)) {
        for (qsizetype i = 1; i <= text.size(); ++i)
            ends.append(i);
        return ends;
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary())
        ends.append(at);
    return ends;
}

void appendOnce(QList<QByteArray> &keys, const QByteArray &key)
{
    if (!key.isEmpty() && !keys.contains(key))
        keys.append(key);
}

} // namespace

quint64 librarySearchKeyHash(QByteArrayView key)
{
    // FNV-1a, then mixed: cheap for the short keys here.
    quint64 hash = 0xcbf29ce484222325ULL;
    for (const char c : key) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    hash ^= hash >> 33;
    hash *= 0xff51afd7ed558ccdULL;
    hash ^= hash >> 33;
    return hash;
}

LibrarySearchKeys LibrarySearchKeys::of(const LocalLibraryItem &item)
{
    QList<QString> values{searchLowercased(item.originalFilename),
                          searchLowercased(item.canonicalFilename)};
    if (const std::optional<QString> model = item.metadata.cameraModel.knownModel())
        values.append(searchLowercased(*model));

    LibrarySearchKeys keys;
    QList<QByteArray> encoded;
    for (const QString &value : values)
        encoded.append(value.toUtf8());
    keys.text = encoded.join('\0');
    for (const QByteArray &value : encoded)
        appendOnce(keys.exactKeys, value);
    for (const QString &value : values)
        appendOnce(keys.exactKeys, stemOf(value).toUtf8());

    const QString stem = stemOf(values.first());
    const QList<qsizetype> ends = graphemeEnds(stem);
    for (qsizetype i = 1; i < ends.size(); ++i)
        keys.prefixKeys.append(stem.left(ends[i]).toUtf8());
    return keys;
}

void LibrarySearchIndex::KeyMap::build(std::vector<Entry> &entries, const QByteArray &keys)
{
    const auto keyOf = [&keys](const Entry &entry) {
        return std::string_view(keys.constData() + entry.keyOffset, entry.keyLength);
    };
    std::sort(entries.begin(), entries.end(), [&](const Entry &a, const Entry &b) {
        if (a.hash != b.hash)
            return a.hash < b.hash;
        const int order = keyOf(a).compare(keyOf(b));
        return order != 0 ? order < 0 : a.position < b.position;
    });
    m_keyOffsets.push_back(0);
    m_listOffsets.push_back(0);
    for (size_t i = 0; i < entries.size(); ++i) {
        const bool newKey = i == 0 || entries[i].hash != entries[i - 1].hash
                            || keyOf(entries[i]) != keyOf(entries[i - 1]);
        if (newKey) {
            if (i > 0) {
                m_keyOffsets.push_back(static_cast<quint32>(m_keys.size()));
                m_listOffsets.push_back(static_cast<quint32>(m_positions.size()));
            }
            m_hashes.push_back(entries[i].hash);
            const std::string_view key = keyOf(entries[i]);
            m_keys.append(key.data(), static_cast<qsizetype>(key.size()));
        }
        if (newKey || m_positions.back() != entries[i].position)
            m_positions.push_back(entries[i].position);
    }
    if (!entries.empty()) {
        m_keyOffsets.push_back(static_cast<quint32>(m_keys.size()));
        m_listOffsets.push_back(static_cast<quint32>(m_positions.size()));
    }
    m_keys.squeeze();
}

std::optional<std::span<const quint32>> LibrarySearchIndex::KeyMap::find(QByteArrayView key) const
{
    const quint64 hash = librarySearchKeyHash(key);
    auto it = std::lower_bound(m_hashes.begin(), m_hashes.end(), hash);
    for (; it != m_hashes.end() && *it == hash; ++it) {
        const auto k = static_cast<size_t>(it - m_hashes.begin());
        const QByteArrayView stored(m_keys.constData() + m_keyOffsets[k],
                                    m_keyOffsets[k + 1] - m_keyOffsets[k]);
        if (stored == key) {
            return std::span<const quint32>(m_positions.data() + m_listOffsets[k],
                                            m_listOffsets[k + 1] - m_listOffsets[k]);
        }
    }
    return std::nullopt;
}

LibrarySearchIndex::LibrarySearchIndex(const LocalLibraryCacheRecords &records, qsizetype count)
{
    std::vector<KeyMap::Entry> exact;
    std::vector<KeyMap::Entry> prefix;
    QByteArray keys;
    exact.reserve(static_cast<size_t>(count) * 5);
    prefix.reserve(static_cast<size_t>(count) * 8);
    m_textOffsets.reserve(static_cast<size_t>(count) + 1);
    m_textOffsets.push_back(0);
    const auto add
        = [&](std::vector<KeyMap::Entry> &to, const QByteArray &key, qsizetype position) {
              to.push_back({librarySearchKeyHash(key),
                            static_cast<quint32>(keys.size()),
                            static_cast<quint32>(key.size()),
                            static_cast<quint32>(position)});
              keys.append(key);
          };
    for (qsizetype p = 0; p < count; ++p) {
        const LibrarySearchKeys itemKeys = LibrarySearchKeys::of(records.at(p));
        m_indexedSearchText.append(itemKeys.text);
        m_textOffsets.push_back(static_cast<quint32>(m_indexedSearchText.size()));
        for (const QByteArray &key : itemKeys.exactKeys)
            add(exact, key, p);
        for (const QByteArray &key : itemKeys.prefixKeys)
            add(prefix, key, p);
    }
    m_indexedSearchText.squeeze();
    m_exactSearchIndexes.build(exact, keys);
    m_filenamePrefixSearchIndexes.build(prefix, keys);
}

std::vector<quint32> LibrarySearchIndex::containing(QByteArrayView needle) const
{
    std::vector<quint32> found;
    const std::string_view haystack(m_indexedSearchText.constData(),
                                    static_cast<size_t>(m_indexedSearchText.size()));
    const std::string_view wanted(needle.data(), static_cast<size_t>(needle.size()));
    size_t from = 0;
    while (from <= haystack.size()) {
        const size_t at = haystack.find(wanted, from);
        if (at == std::string_view::npos)
            break;
        // The record whose text holds the start; the match must end inside it too.
        const auto next = std::upper_bound(m_textOffsets.begin(), m_textOffsets.end(), at);
        const auto position = static_cast<quint32>(next - m_textOffsets.begin() - 1);
        if (at + wanted.size() <= *next) {
            if (found.empty() || found.back() != position)
                found.push_back(position);
            from = *next;
        } else {
            from = at + 1;
        }
        if (wanted.empty())
            break;
    }
    return found;
}

} // namespace Pellwick
