#pragma once

#include <QtGlobal>

#include <cstdio>

#include <sys/resource.h>

namespace Pellwick::Bench {

/// Prints "peak RSS: <N> MiB" to standard error when PELLWICK_BENCH_REPORT_RSS is set (read by
/// `bench_peak_rss` of Benchmarks/lib.sh).
inline void reportPeakRss()
{
    if (!qEnvironmentVariableIsSet("PELLWICK_BENCH_REPORT_RSS"))
        return;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::fprintf(stderr, "peak RSS: %ld MiB\n", usage.ru_maxrss / 1024);
}

} // namespace Pellwick::Bench
