#pragma once

#include <QUrl>

#include <functional>

namespace Pellwick {

/// Opens a link in the user's browser; true when it was handed on.
using URLOpener = std::function<bool(const QUrl &)>;

} // namespace Pellwick
