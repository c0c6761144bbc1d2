#pragma once

#include <PellwickCore/Support/Error.h>

#include <QString>

namespace Pellwick {

/// The user text of a library that could not be read or saved. Pure functions, callable from any thread.
class LibraryFeedback
{
public:
    LibraryFeedback() = delete;

    /// "The library could not be read: " + `path` + " (" + the reason + ")": the reason names
    /// the file that failed (the journal beside `path`, perhaps) and what is wrong with it.
    static QString readErrorMessage(const QString &path, const Error &error);
    /// "Pellwick could not save the library in " + `folder` + ": " + the reason + ".", the reason in
    /// a photographer's words ("no space left", "read-only") when the disk said no. Callers follow
    /// it with what was kept.
    static QString writeErrorMessage(const QString &folder, const Error &error);
};

} // namespace Pellwick
