#pragma once

#include <PellwickCore/Ingest/ContentHashing.h>

#include <QList>
#include <QMutex>
#include <QStringList>

#include <functional>
#include <thread>

namespace Pellwick::Test {

/// The real SHA-256 hasher that records every path it is asked for, in call order, and the
/// thread of each call. Declares concurrent calls allowed only when constructed so.
class CountingContentHasher final : public ContentHashing
{
public:
    explicit CountingContentHasher(bool allowsConcurrentCalls = false);

    Result<QString> contentHash(const QString &path, std::stop_token stop) const override;

    bool allowsConcurrentCalls() const override { return m_allowsConcurrentCalls; }

    QStringList hashedPaths() const;
    /// The thread of each call, in call order.
    QList<std::thread::id> callingThreads() const;

    qsizetype callCount() const { return hashedPaths().size(); }

private:
    bool m_allowsConcurrentCalls;
    mutable QMutex m_mutex;
    mutable QStringList m_paths;
    mutable QList<std::thread::id> m_threads;
};

/// Fails for every path containing `pathFragment` with `error` and hashes the others for real.
/// Records every path asked for, in call order.
class FailingContentHasher final : public ContentHashing
{
public:
    explicit FailingContentHasher(QString pathFragment, Error error);

    Result<QString> contentHash(const QString &path, std::stop_token stop) const override;

    QStringList hashedPaths() const;

private:
    QString m_pathFragment;
    Error m_error;
    mutable QMutex m_mutex;
    mutable QStringList m_paths;
};

/// Hashes for real, but answers the hash of no file's bytes for every path containing
/// `pathFragment`: a copy there reads back different from its source, every time.
class MismatchingContentHasher final : public ContentHashing
{
public:
    explicit MismatchingContentHasher(QString pathFragment);

    Result<QString> contentHash(const QString &path, std::stop_token stop) const override;

private:
    QString m_pathFragment;
};

/// Answers calls in order from a script of results; once the script is used up it hashes for
/// real. `beforeEachCall` runs first on every call (to change a file between two hashes, say).
class ScriptedContentHasher final : public ContentHashing
{
public:
    explicit ScriptedContentHasher(QList<Result<QString>> script = {});

    Result<QString> contentHash(const QString &path, std::stop_token stop) const override;

    void setBeforeEachCall(std::function<void(const QString &path)> hook);
    QStringList hashedPaths() const;

private:
    mutable QMutex m_mutex;
    mutable QList<Result<QString>> m_script;
    mutable QStringList m_paths;
    std::function<void(const QString &)> m_beforeEachCall;
};

} // namespace Pellwick::Test
