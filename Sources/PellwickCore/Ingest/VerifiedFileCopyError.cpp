#include "VerifiedFileCopyError.h"

#include <PellwickCore/Support/Overloaded.h>

namespace Pellwick {

QString describe(const VerifiedFileCopyError &error)
{
    return std::visit(
        Overloaded{[](const VerifiedFileCopyError::UnableToCreatePartial &c) {
                       return QStringLiteral("unable to create partial file %1").arg(c.partialPath);
                   },
                   [](const VerifiedFileCopyError::ContentHashMismatch &) {
                       return QStringLiteral("content hash mismatch");
                   }},
        error.value);
}

} // namespace Pellwick
