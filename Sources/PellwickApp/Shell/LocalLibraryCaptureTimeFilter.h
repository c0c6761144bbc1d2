#pragma once

#include <array>

namespace Pellwick {

/// The library page's condition on capture time.
enum class LocalLibraryCaptureTimeFilter {
    Any,       ///< no condition
    DateRange, ///< capture time known and inside the capture-time window
    Unknown,   ///< capture time missing
};

/// Every case, in the order the filter bar lists them.
inline constexpr std::array allLocalLibraryCaptureTimeFilters{
    LocalLibraryCaptureTimeFilter::Any,
    LocalLibraryCaptureTimeFilter::DateRange,
    LocalLibraryCaptureTimeFilter::Unknown,
};

} // namespace Pellwick
