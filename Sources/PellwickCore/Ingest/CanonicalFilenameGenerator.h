#pragma once

#include <PellwickCore/Ingest/PhotoMetadata.h>

#include <QSet>
#include <QString>

namespace Pellwick {

/// Names archived RAW originals: "<capture time>_<camera>_<name stem>_<short hash>.<extension>",
/// unique within a set of names already in use.
struct CanonicalFilenameGenerator
{
    /// How many leading characters of a content hash a name takes.
    static constexpr qsizetype shortContentHashLength = 12;

    /// The canonical filename for a RAW original, which is inserted into `usedFilenames`.
    ///
    /// The capture time is written "yyyyMMdd-HHmmss" in UTC ("unknown-date" when unknown); the
    /// camera model ("unknown-camera" when unknown) and the name stem are lower-cased and
    /// sanitised: letters, marks, numbers of any script, "-" and "_" stay, every other character
    /// becomes "-", runs of "-" collapse and "-" at either end goes; an empty result is
    /// "unknown". A camera component longer than 64 UTF-8 bytes, and a name stem that would make
    /// everything before the extension longer than 160, are cut between two characters, so that
    /// the name and the names derived from it fit a file system's 255 bytes. The short hash is
    /// kept unchanged and the extension is lower-cased. When the
    /// name is already used (exact, case-sensitive comparison), "-2", "-3", … is added before the
    /// extension. Pure apart from `usedFilenames`, which callers must not share between threads.
    static QString canonicalFilename(const QString &originalFilename,
                                     const PhotoMetadata &metadata,
                                     const QString &shortContentHash,
                                     QSet<QString> &usedFilenames);
};

} // namespace Pellwick
