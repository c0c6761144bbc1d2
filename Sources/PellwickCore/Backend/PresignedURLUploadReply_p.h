#pragma once

#include <PellwickCore/Support/Result.h>

#include <QString>

#include <optional>

namespace Pellwick {

/// The outcome of a whole-file PUT answered with `status` (-1: the reply was not HTTP).
[[nodiscard]] Result<void> presignedFileUploadResult(int status);

/// The outcome of a part PUT answered with `status` and the reply's "ETag" values (every field
/// of that name, in order): the one non-empty value verbatim, or -1 when there is none.
[[nodiscard]] Result<QString> presignedPartUploadResult(int status, const QList<QString> &etags);

} // namespace Pellwick
