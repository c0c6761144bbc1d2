#pragma once

#include <PellwickCore/Ingest/ContentHashing.h>
#include <PellwickCore/Support/Result.h>

#include <QString>
#include <QStringList>

#include <functional>
#include <utility>

namespace Pellwick {

/// True when hashes may be taken on several threads at once without changing what a caller can
/// observe: only the production hasher, whose calls have no effect but their result. Any other
/// hasher (a test's, which may count calls or change files on chosen ones) is called in the
/// order the algorithm names.
bool hashesConcurrently(const ContentHashing &hasher);

/// Runs `body(i)` for every `i` below `count` on at most as many threads as the machine has
/// cores; returns when all have finished.
void forEachConcurrently(qsizetype count, const std::function<void(qsizetype)> &body);

/// The content hash of each path, in list order. The first failure in list order is returned; a
/// hasher that must be called in order is called one path after the other and not again after
/// a failure.
[[nodiscard]] Result<QStringList> contentHashes(const ContentHashing &hasher,
                                                const QStringList &paths);

/// The hashes of `first` and `second`, taken at the same time where the hasher allows it;
/// otherwise `first`, then `second`. A failure of `first` is reported before one of `second`.
[[nodiscard]] Result<std::pair<QString, QString>>
contentHashPair(const ContentHashing &hasher, const QString &first, const QString &second);

} // namespace Pellwick
