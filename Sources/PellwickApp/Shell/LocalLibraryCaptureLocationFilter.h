#pragma once

#include <array>

namespace Pellwick {

/// The library page's condition on the GPS capture location.
enum class LocalLibraryCaptureLocationFilter {
    Any,     ///< no condition
    Known,   ///< capture location known
    Unknown, ///< capture location missing
};

/// Every case, in the order the filter bar lists them.
inline constexpr std::array allLocalLibraryCaptureLocationFilters{
    LocalLibraryCaptureLocationFilter::Any,
    LocalLibraryCaptureLocationFilter::Known,
    LocalLibraryCaptureLocationFilter::Unknown,
};

} // namespace Pellwick
