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
    QList<QString> keys;
    keys.reserve(items.size());
    for (const T &item : std::as_const(items))
        keys.append(fileBrowserSortKey(textOf(item)));
    QList<T> sorted;
    sorted.reserve(items.size());
    for (const qsizetype index : orderOfSortKeys(keys))
        sorted.append(std::move(items[index]));
    return sorted;
}

} // namespace Pellwick
