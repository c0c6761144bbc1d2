#include "StagedImportPhase.h"

#include <array>

namespace Pellwick {

namespace {

constexpr std::array phases{
    StagedImportPhase::NotStarted,
    StagedImportPhase::Uploading,
    StagedImportPhase::Uploaded,
    StagedImportPhase::VerifiedBackup,
    StagedImportPhase::NeedsAttention,
    StagedImportPhase::Duplicate,
};

} // namespace

QString toRaw(StagedImportPhase phase)
{
    switch (phase) {
    case StagedImportPhase::NotStarted:
        return QStringLiteral("notStarted");
    case StagedImportPhase::Uploading:
        return QStringLiteral("uploading");
    case StagedImportPhase::Uploaded:
        return QStringLiteral("uploaded");
    case StagedImportPhase::VerifiedBackup:
        return QStringLiteral("verifiedBackup");
    case StagedImportPhase::NeedsAttention:
        return QStringLiteral("needsAttention");
    case StagedImportPhase::Duplicate:
        return QStringLiteral("duplicate");
    }
    return {};
}

std::optional<StagedImportPhase> stagedImportPhaseFromRaw(const QString &word)
{
    for (const StagedImportPhase phase : phases)
        if (toRaw(phase) == word)
            return phase;
    return std::nullopt;
}

} // namespace Pellwick
