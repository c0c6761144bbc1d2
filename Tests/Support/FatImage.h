#pragma once

#include <QString>

namespace Pellwick::Test {

/// Writes an empty FAT16 file system of 16 MiB (two FATs, 512 root entries, 2 KiB clusters)
/// into the new file `path`, labelled `label` (at most 11 characters). False when the file
/// cannot be written.
bool writeFat16Image(const QString &path, const QByteArray &label);

} // namespace Pellwick::Test
