#pragma once

#include <PellwickCore/Library/LocalLibraryItem.h>

#include <optional>

namespace Pellwick::LibraryRecordDecoder {

/// Extra readable bytes the decoder may look at after an element.
qsizetype padding();

/// Decodes one record quickly when it has the plain shape this store writes (no escaped code
/// points, no duplicate keys, absolute clean "file:///" URLs, whole integers). Gives nothing for
/// anything else, valid or not: the caller then decodes the element with the reference reader,
/// which decides and reports exactly. So this decoder may only ever succeed where the reference
/// reader succeeds, with an equal record. `data` must be followed by `padding()` readable bytes.
/// Fills `item`, a default-constructed record; after a false return it holds what was read so far.
/// `backslashes` false: the caller knows that `data` holds none.
bool decode(const char *data, qsizetype size, LocalLibraryItem &item, bool backslashes = true);

} // namespace Pellwick::LibraryRecordDecoder
