#pragma once

#include <QString>
#include <QUuid>

#include <functional>
#include <optional>

namespace Pellwick {

/// What a long operation is doing now. The raw values are the case names.
enum class TransferProgressPhase {
    Preparing,
    Staging,
    Copying,
    Uploading,
    Downloading,
    Assembling,
    Verifying,
};

QString toRaw(TransferProgressPhase phase);
/// Exact, case-sensitive match against the raw values.
std::optional<TransferProgressPhase> transferProgressPhaseFromRaw(const QString &raw);
/// Phases shown without a filled fraction: preparing, staging, assembling, verifying.
bool isIndeterminate(TransferProgressPhase phase);

/// One progress row of a long operation. All records of one operation share `id`; callers keep
/// one row per id and replace it when a new record arrives. No validation: a completed count may
/// exceed its total.
struct TransferProgress
{
    QUuid id;
    QString operationName;
    TransferProgressPhase phase = TransferProgressPhase::Preparing;
    std::optional<QString> detail;
    std::optional<QString> currentFilename;
    std::optional<qint64> currentFileCompletedByteCount;
    std::optional<qint64> currentFileTotalByteCount;
    qint64 completedByteCount = 0;
    qint64 totalByteCount = 0;
    qint64 completedPackageCount = 0;
    qint64 totalPackageCount = 0;
    /// The file being sent is the preview of the photo `currentFilename` names, not the photo.
    bool currentFileIsPreview = false;

    bool operator==(const TransferProgress &) const = default;
};

/// Receives the progress rows of a long operation on its working thread. Must be thread-safe.
using TransferProgressSink = std::function<void(const TransferProgress &)>;

} // namespace Pellwick
