#include "TransferProgress.h"

#include <array>
#include <utility>

namespace Pellwick {

namespace {

constexpr std::array<std::pair<TransferProgressPhase, const char *>, 7> phaseNames{{
    {TransferProgressPhase::Preparing, "preparing"},
    {TransferProgressPhase::Staging, "staging"},
    {TransferProgressPhase::Copying, "copying"},
    {TransferProgressPhase::Uploading, "uploading"},
    {TransferProgressPhase::Downloading, "downloading"},
    {TransferProgressPhase::Assembling, "assembling"},
    {TransferProgressPhase::Verifying, "verifying"},
}};

} // namespace

QString toRaw(TransferProgressPhase phase)
{
    for (const auto &[candidate, name] : phaseNames) {
        if (candidate == phase)
            return QString::fromLatin1(name);
    }
    return {};
}

std::optional<TransferProgressPhase> transferProgressPhaseFromRaw(const QString &raw)
{
    for (const auto &[phase, name] : phaseNames) {
        if (raw == QLatin1String(name))
            return phase;
    }
    return std::nullopt;
}

bool isIndeterminate(TransferProgressPhase phase)
{
    switch (phase) {
    case TransferProgressPhase::Preparing:
    case TransferProgressPhase::Staging:
    case TransferProgressPhase::Assembling:
    case TransferProgressPhase::Verifying:
        return true;
    case TransferProgressPhase::Copying:
    case TransferProgressPhase::Uploading:
    case TransferProgressPhase::Downloading:
        return false;
    }
    return false;
}

} // namespace Pellwick
