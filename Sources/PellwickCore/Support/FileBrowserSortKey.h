#pragma once

#include <QString>

namespace Pellwick {

/// A key whose plain code-unit order is the file-browser order of names and paths:
/// case-insensitive, runs of ASCII digits compared by numeric value (fewer leading zeros first
/// among equal values), and independent of the process locale ("IMG1" < "img2" < "img10"). Equal
/// keys mean texts that tie. Thread-safe. Sorting many texts, compute each key once, not per
/// comparison.
QString fileBrowserSortKey(QStringView text);

} // namespace Pellwick
