#pragma once

#include <PellwickCore/Ingest/IngestCacheError.h>
#include <PellwickCore/Support/Result.h>

#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

namespace Pellwick {

/// The path with "." and ".." components, repeated and trailing slashes removed; symbolic links
/// are not resolved.
QString standardizedPath(const QString &path);
/// Ascending string order of paths: by Unicode scalar values, case-sensitive (byte order of the
/// UTF-8 names).
bool pathLess(const QString &a, const QString &b);
void sortByPath(QStringList &paths);
/// The first path of the set in ascending order, if any.
std::optional<QString> firstPath(const QSet<QString> &paths);
/// The paths in exactly one of the two sets.
QSet<QString> symmetricDifference(const QSet<QString> &a, const QSet<QString> &b);

template<typename Case>
tl::unexpected<Error> ingestCacheFailure(Case &&error)
{
    return failure(IngestCacheError{std::forward<Case>(error)});
}

} // namespace Pellwick
