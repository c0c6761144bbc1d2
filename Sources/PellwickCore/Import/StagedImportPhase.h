#pragma once

#include <QString>

#include <optional>

namespace Pellwick {

/// Where one staged package stands on its way to a Verified Backup. Stored as its case name.
enum class StagedImportPhase {
    NotStarted,
    Uploading,
    Uploaded,
    VerifiedBackup,
    NeedsAttention,
    Duplicate,
};

/// The stored word: the case name, e.g. "notStarted".
QString toRaw(StagedImportPhase phase);
/// The phase named by `word`; nothing for any other text.
std::optional<StagedImportPhase> stagedImportPhaseFromRaw(const QString &word);

} // namespace Pellwick
