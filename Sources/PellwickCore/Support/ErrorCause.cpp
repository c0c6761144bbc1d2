#include "ErrorCause.h"

#include "Error.h"

namespace Pellwick {

ErrorCause::ErrorCause(Error error)
    : m_error(std::make_shared<const Error>(std::move(error)))
{}

} // namespace Pellwick
