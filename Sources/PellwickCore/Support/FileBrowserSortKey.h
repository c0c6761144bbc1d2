#pragma once

#include <QList>
#include <QString>

#include <algorithm>
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
        // Texts that begin alike up to a "/", as the paths of one folder tree do, keep their
        // order without that beginning: the keys of the rest are shorter to make and to hold.
        qsizetype shared = 0;
        if (!items.isEmpty()) {
            const QString first = textOf(items.constFirst());
            shared = first.size();
            for (const T &item : std::as_const(items)) {
                const QString text = textOf(item);
                shared = std::min(shared, text.size());
                qsizetype same = 0;
                while (same < shared && text.at(same) == first.at(same))
                    ++same;
                shared = same;
            }
            shared = QStringView(first).first(shared).lastIndexOf(QLatin1Char('/')) + 1;
        }
        QList<QString> keys;
        keys.reserve(items.size());
        for (const T &item : std::as_const(items))
            keys.append(fileBrowserSortKey(QStringView(textOf(item)).sliced(shared)));
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
