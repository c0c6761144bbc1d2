#pragma once

#include <PellwickCore/Library/LocalLibraryItem.h>

#include <QByteArray>

namespace Pellwick::LibraryRecordEncoder {

/// Appends the record's JSON in compact form to `out`: the bytes the reference encoder gives for
/// `item.toJson()` (keys sorted, no spaces), written directly, without building the object.
/// False, with `out` unspecified, when the record holds a number that is not finite (the
/// reference encoder names it).
bool appendCompact(QByteArray &out, const LocalLibraryItem &item);

/// Appends `text` as a JSON string, escaped as the reference encoder does.
void appendString(QByteArray &out, const QString &text);

} // namespace Pellwick::LibraryRecordEncoder
