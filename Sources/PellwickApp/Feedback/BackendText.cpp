#include "BackendText.h"

namespace Pellwick {

QString shownBackendText(const QString &text)
{
    QString shown = text.left(maximumShownBackendTextLength);
    // A cut between the two halves of a surrogate pair would leave half a character.
    if (text.size() > maximumShownBackendTextLength && shown.back().isHighSurrogate())
        shown.chop(1);
    for (QChar &c : shown) {
        if (c.category() == QChar::Other_Control)
            c = u' ';
    }
    if (text.size() > maximumShownBackendTextLength)
        shown += QChar(0x2026);
    return shown;
}

} // namespace Pellwick
