#include "PresignedURLUploadError.h"

#include <PellwickCore/Support/Overloaded.h>

namespace Pellwick {

QString describe(const PresignedURLUploadError &error)
{
    return std::visit(Overloaded{[](const PresignedURLUploadError::UnexpectedStatus &c) {
                          return QStringLiteral("upload_http_status=%1").arg(c.status);
                      }},
                      error.value);
}

} // namespace Pellwick
