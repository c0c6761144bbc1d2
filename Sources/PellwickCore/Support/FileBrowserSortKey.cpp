#include "FileBrowserSortKey.h"

#include <algorithm>

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

} // namespace

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
