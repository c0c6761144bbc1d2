#pragma once

#include <PellwickCore/Library/LocalLibraryItem.h>

namespace Pellwick {

/// Lets the equal texts of one record share their storage (a content hash and a relative path are
/// often stored two or three times), which keeps a large library small in memory.
void shareEqualTexts(LocalLibraryItem &item);

} // namespace Pellwick
