#pragma once

#include <PellwickCore/Support/Error.h>

#include <QString>

namespace Pellwick {

/// The user text and the log line of a confirmed Import that failed. Pure functions, callable from
/// any thread.
class ImportFeedback
{
public:
    ImportFeedback() = delete;

    /// The sentence the shell shows for `error`.
    static QString message(const Error &error);
    /// One key=value token that names the failure for the log, e.g. "library_http_status=503".
    static QString diagnostic(const Error &error);
    /// Writes "Confirmed Import failed: " + `diagnostic(error)` at critical level to the category
    /// "<application identifier>.import". The user text is never logged.
    static void log(const Error &error);
};

} // namespace Pellwick
