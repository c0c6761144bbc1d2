#pragma once

namespace Pellwick {

/// Opt-in measurement of how long the Local Library Cache page takes to become usable after the
/// user navigates to it. Off unless PELL_WICK_PERFORMANCE_METRICS_FILE is set (even to nothing);
/// then each measured navigation appends "cache-usability-ms=<whole milliseconds>\n" to that file,
/// which must already exist: it is never created. Every failure is silent. Off, each call costs
/// one environment lookup. The start instant is one for the whole process. Main thread only.
class CacheNavigationPerformanceProbe
{
public:
    CacheNavigationPerformanceProbe() = delete;

    /// Starts (or restarts) the measurement on the boot-time clock, which keeps counting while
    /// the machine sleeps.
    static void startNavigation();
    /// Appends the time since the last start; nothing before the first start.
    static void recordUsability();
};

} // namespace Pellwick
