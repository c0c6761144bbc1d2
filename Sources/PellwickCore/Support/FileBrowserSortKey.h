#pragma once

#include <QList>
#include <QString>

#include <algorithm>
#include <numeric>
#include <vector>

namespace Pellwick {

/// A key whose plain code-unit order is the file-browser order of names and paths:
/// case-insensitive, runs of ASCII digits compared by numeric value (fewer leading zeros first
/// among equal values), and independent of the process locale ("IMG1" < "img2" < "img10"). Equal
/// keys mean texts that tie. Thread-safe. Sorting many texts, compute each key once, not per
/// comparison.
QString fileBrowserSortKey(QStringView text);

/// `items` in the file-browser order of `textOf(item)`; items whose texts tie keep their order.
template<typename T, typename TextOf>
QList<T> sortedInFileBrowserOrder(QList<T> items, TextOf textOf)
{
    QList<QString> keys;
    keys.reserve(items.size());
    for (const T &item : std::as_const(items))
        keys.append(fileBrowserSortKey(textOf(item)));
    std::vector<qsizetype> order(static_cast<size_t>(items.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&keys](qsizetype a, qsizetype b) {
        return keys.at(a) < keys.at(b);
    });
    QList<T> sorted;
    sorted.reserve(items.size());
    for (const qsizetype index : order)
        sorted.append(std::move(items[index]));
    return sorted;
}

} // namespace Pellwick
