#pragma once

#include <PellwickCore/Library/LocalLibraryCacheRecords.h>
#include <PellwickCore/Library/LocalLibraryItem.h>

#include <QList>
#include <QSet>
#include <QUuid>

#include <algorithm>
#include <optional>

namespace Pellwick {

/// A value derived from the records and `key`, kept until either changes: views ask for the
/// selections on every render, and a selection of many records is costly to gather. Holding the
/// records keeps their chunks alive, so a library that shares them is the same library.
template<typename Key, typename Value>
struct LibraryMemo
{
    LocalLibraryCacheRecords records;
    Key key;
    Value value;
};

namespace LibrarySelection {

/// The records of `records` in `selected` for which `keep(record)` holds, in stored order.
template<typename Predicate>
QList<LocalLibraryItem> selectedRecords(const LocalLibraryCacheRecords &records,
                                        const QSet<QUuid> &selected,
                                        Predicate keep)
{
    QList<LocalLibraryItem> result;
    // Records are large: growing the list by doubling would move them again and again.
    result.reserve(std::min(records.size(), selected.size()));
    records.forEach([&](const LocalLibraryItem &item) {
        if (selected.contains(item.id) && keep(item))
            result.append(item);
    });
    return result;
}

/// `memo`'s value while it was derived from `records` and an equal `key`; otherwise `derive()`,
/// remembered in `memo`.
template<typename Key, typename Value, typename Derive>
Value memoised(std::optional<LibraryMemo<Key, Value>> &memo,
               const LocalLibraryCacheRecords &records,
               const Key &key,
               Derive derive)
{
    // Both comparisons are cheap while nothing changed: the records by their shared chunks,
    // the sets and lists first by their shared data. An equal key of other data (an equal
    // selection set anew) is taken over, so that the next comparison is cheap again.
    if (memo && memo->records.sharesRecordsWith(records) && memo->key == key) {
        memo->key = key;
        return memo->value;
    }
    Value value = derive();
    memo = LibraryMemo<Key, Value>{records, key, value};
    return value;
}

} // namespace LibrarySelection

} // namespace Pellwick
