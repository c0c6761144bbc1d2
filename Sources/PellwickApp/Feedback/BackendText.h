#pragma once

#include <QString>

namespace Pellwick {

/// The longest part of a text from the backend that a message shows, in UTF-16 code units.
inline constexpr qsizetype maximumShownBackendTextLength = 200;

/// A text from the backend (a reason word, a storage message) as a message shows it: every
/// control character, line breaks included, becomes a space, and a text longer than
/// `maximumShownBackendTextLength` is cut there and ends with an ellipsis, so that whatever the
/// backend sends stays one line of sensible length. Nothing else changes.
QString shownBackendText(const QString &text);

} // namespace Pellwick
