#pragma once

#include <QList>
#include <QString>

#include <vector>

namespace Pellwick {

/// A key whose plain code-unit order is the file-browser order of names and paths:
/// case-insensitive, runs of ASCII digits compared by numeric value (fewer leading zeros first
/// among equal values), and independent of the process locale ("IMG1" < "img2" < "img10"). Equal
/// keys mean texts that tie. Thread-safe. Sorting many texts, compute each key once, not per
/// comparison.
QString fileBrowserSortKey(QStringView text);

/// The positions of `keys` in the plain code-unit order of the keys, positions of equal keys in
/// ascending order: the order a stable sort by `operator<` gives, found with far fewer code-unit
/// reads when the keys share long beginnings, as the paths of one card do.
std::vector<qsizetype> orderOfSortKeys(const QList<QString> &keys);

/// `items` in the file-browser order of `textOf(item)`; items whose texts tie keep their order.
template<typename T, typename TextOf>
QList<T> sortedInFileBrowserOrder(QList<T> items, TextOf textOf)
{
    std::vector<qsizetype> order;
    {
        QList<QString> keys;
        keys.reserve(items.size());
        for (const T &item : std::as_const(items))
            keys.append(fileBrowserSortKey(textOf(item)));
        order = orderOfSortKeys(keys);
    }
    // Moved into place along the cycles of the order: a scan of 100,000 files holds one list of
    // its items, not two.
    items.detach();
    for (qsizetype start = 0; start < items.size(); ++start) {
        if (order[size_t(start)] == start)
            continue;
        T held = std::move(items[start]);
        qsizetype to = start;
        while (order[size_t(to)] != start) {
            const qsizetype from = order[size_t(to)];
            items[to] = std::move(items[from]);
            order[size_t(to)] = to;
            to = from;
        }
        items[to] = std::move(held);
        order[size_t(to)] = to;
    }
    return items;
}

} // namespace Pellwick
