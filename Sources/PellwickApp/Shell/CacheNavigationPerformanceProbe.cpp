#include "CacheNavigationPerformanceProbe.h"

#include <QByteArray>
#include <QString>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

namespace Pellwick {

namespace {

constexpr const char *metricsFileVariable = "PELL_WICK_PERFORMANCE_METRICS_FILE";

std::optional<std::int64_t> &navigationStartedAt()
{
    static std::optional<std::int64_t> instant;
    return instant;
}

std::int64_t bootTimeNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void writeFully(int descriptor, const QByteArray &bytes)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t count
            = ::write(descriptor, bytes.constData() + written, size_t(bytes.size() - written));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return;
        written += count;
    }
}

} // namespace

void CacheNavigationPerformanceProbe::startNavigation()
{
    if (std::getenv(metricsFileVariable) == nullptr)
        return;
    navigationStartedAt() = bootTimeNanoseconds();
}

void CacheNavigationPerformanceProbe::recordUsability()
{
    const char *path = std::getenv(metricsFileVariable);
    if (path == nullptr || !navigationStartedAt())
        return;
    const std::int64_t milliseconds = (bootTimeNanoseconds() - *navigationStartedAt()) / 1'000'000;
    const QByteArray line
        = QByteArrayLiteral("cache-usability-ms=") + QByteArray::number(milliseconds) + '\n';
    // Never O_CREAT: the harness that reads the file creates it.
    const int descriptor = ::open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
    if (descriptor < 0)
        return;
    writeFully(descriptor, line);
    ::close(descriptor);
}

} // namespace Pellwick
