#include "FileBrowserSortKey.h"

#include <algorithm>

namespace Pellwick {

QString fileBrowserSortKey(QStringView text)
{
    const QString folded = text.toString().toCaseFolded();
    QString key;
    key.reserve(folded.size() + 8);
    const auto isDigit = [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); };
    for (qsizetype i = 0; i < folded.size();) {
        if (!isDigit(folded.at(i))) {
            key.append(folded.at(i++));
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
        key.append(QLatin1Char('0'));
        key.append(QChar(static_cast<char16_t>(std::min<qsizetype>(end - significant, 0xffff))));
        key.append(QStringView(folded).sliced(significant, end - significant));
        key.append(QChar(static_cast<char16_t>(std::min<qsizetype>(significant - i, 0xffff))));
        i = end;
    }
    return key;
}

} // namespace Pellwick
