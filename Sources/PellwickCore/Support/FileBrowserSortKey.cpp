#include "FileBrowserSortKey.h"

#include <algorithm>

namespace Pellwick {

QString fileBrowserSortKey(QStringView text)
{
    // Folding ASCII only lowers its capitals: most names need no folded copy.
    const bool isAscii
        = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
    const QString foldedCopy = isAscii ? QString() : text.toString().toCaseFolded();
    const QStringView folded = isAscii ? text : QStringView(foldedCopy);
    const auto fold = [isAscii](QChar c) {
        return isAscii && c >= QLatin1Char('A') && c <= QLatin1Char('Z') ? QChar(c.unicode() + 32)
                                                                         : c;
    };
    QString key;
    key.reserve(folded.size() + 8);
    const auto isDigit = [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); };
    for (qsizetype i = 0; i < folded.size();) {
        if (!isDigit(folded.at(i))) {
            key.append(fold(folded.at(i++)));
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
        key.append(folded.sliced(significant, end - significant));
        key.append(QChar(static_cast<char16_t>(std::min<qsizetype>(significant - i, 0xffff))));
        i = end;
    }
    return key;
}

} // namespace Pellwick
