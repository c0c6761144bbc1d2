#pragma once

#include <PellwickCore/Backend/RemoteLibraryItem.h>
#include <PellwickCore/Library/LocalLibraryItem.h>

#include <QString>

namespace Pellwick::Test {

/// A record with every optional field absent, its id and names derived from `n`.
LocalLibraryItem minimalLibraryItem(int n);

/// A deterministic record with every field filled realistically (about 1.9 KB of JSON), as a
/// library grown by imports from a few cards would hold. `n` picks the values; `cacheRoot` is the
/// Ingest Cache root its URLs lie in.
LocalLibraryItem filledLibraryItem(int n,
                                   const QString &cacheRoot
                                   = QStringLiteral("/home/ana/Pictures/Pellwick Ingest Cache"));

/// The backend's item of an archived `record` (which has a backend id), as the backend lists it.
RemoteLibraryItem backendItem(const LocalLibraryItem &record);

} // namespace Pellwick::Test
