#pragma once

#include <PellwickCore/Library/LocalLibraryCacheRecords.h>
#include <PellwickCore/Library/LocalLibraryItem.h>

#include <QList>

#include <iterator>
#include <vector>

namespace Pellwick {

/// The records a search found, in stored order: positions into the library it searched, which
/// it keeps, so a search that finds most of a large library copies no record. An immutable value.
class LocalLibrarySearchResult
{
public:
    LocalLibrarySearchResult() = default;

    LocalLibrarySearchResult(LocalLibraryCacheRecords records, std::vector<quint32> positions)
        : m_records(std::move(records))
        , m_positions(std::move(positions))
    {}

    qsizetype size() const { return static_cast<qsizetype>(m_positions.size()); }

    bool isEmpty() const { return m_positions.empty(); }

    const LocalLibraryItem &at(qsizetype index) const
    {
        return m_records.at(m_positions[static_cast<size_t>(index)]);
    }

    /// Copies of the records found.
    QList<LocalLibraryItem> items() const;

    /// Whether both searches ran over one unchanged library and found the same records; cheap,
    /// and false whenever the library changed in between.
    bool holdsSameRecordsAs(const LocalLibrarySearchResult &other) const
    {
        return m_records.sharesRecordsWith(other.m_records) && m_positions == other.m_positions;
    }

    // NOLINTBEGIN(readability-identifier-naming): the names the standard library looks up.
    class const_iterator
    {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = LocalLibraryItem;
        using difference_type = std::ptrdiff_t;
        using pointer = const LocalLibraryItem *;
        using reference = const LocalLibraryItem &;

        const_iterator() = default;

        reference operator*() const { return m_result->at(m_index); }

        pointer operator->() const { return &m_result->at(m_index); }

        const_iterator &operator++()
        {
            ++m_index;
            return *this;
        }

        const_iterator operator++(int)
        {
            const_iterator before = *this;
            ++m_index;
            return before;
        }

        bool operator==(const const_iterator &other) const { return m_index == other.m_index; }

    private:
        friend class LocalLibrarySearchResult;

        const_iterator(const LocalLibrarySearchResult *result, qsizetype index)
            : m_result(result)
            , m_index(index)
        {}

        const LocalLibrarySearchResult *m_result = nullptr;
        qsizetype m_index = 0;
    };

    // NOLINTEND(readability-identifier-naming)

    const_iterator begin() const { return {this, 0}; }

    const_iterator end() const { return {this, size()}; }

    /// Equal when both found equal records in the same order.
    bool operator==(const LocalLibrarySearchResult &other) const;

private:
    LocalLibraryCacheRecords m_records;
    std::vector<quint32> m_positions;
};

} // namespace Pellwick
