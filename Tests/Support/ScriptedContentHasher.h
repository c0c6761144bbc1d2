#pragma once

#include <PellwickCore/Ingest/ContentHashing.h>

#include <QHash>
#include <QMutex>
#include <QStringList>

#include <functional>

namespace Pellwick::Test {

/// A content hasher that computes SHA-256 like the production one but, being another type, is
/// called strictly in the order the code under test names. It records every call and can change
/// files just before chosen calls, as a writer working beside the code under test would, or fail
/// them. Thread-safe.
class ScriptedContentHasher final : public ContentHashing
{
public:
    /// Runs `action` with the call's number among the calls for exactly `path` (from 1) before
    /// each call for `path`.
    void beforeHashing(const QString &path, std::function<void(int occurrence)> action);
    /// Fails the `occurrence`-th call for exactly `path` (0: every call) with errno `code`.
    void failHashing(const QString &path, int code, int occurrence = 0);

    /// The paths of all calls so far, in order.
    QStringList calls() const;
    int callCount(const QString &path) const;

    Result<QString> contentHash(const QString &path) const override;

private:
    struct Failure
    {
        int code = 0;
        int occurrence = 0;
    };

    mutable QMutex m_mutex;
    QHash<QString, std::function<void(int)>> m_actions;
    QHash<QString, Failure> m_failures;
    mutable QStringList m_calls;
    mutable QHash<QString, int> m_counts;
    SHA256ContentHasher m_hasher;
};

} // namespace Pellwick::Test
