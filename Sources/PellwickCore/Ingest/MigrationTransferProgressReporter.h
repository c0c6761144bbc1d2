#pragma once

#include <PellwickCore/Ingest/TransferProgress.h>

#include <QList>
#include <QSet>
#include <QString>
#include <QUuid>

#include <functional>

namespace Pellwick {

/// Builds the "Move Ingest Cache" progress records of one move and counts each file once, however
/// often it is copied. Used only by the thread running the move; records are sent synchronously.
/// Without a callback no record is built, but the counts are still kept.
class MigrationTransferProgressReporter
{
public:
    struct File
    {
        QString path; ///< relative to the cache root
        qint64 byteCount = 0;
    };

    /// Sends the first record: phase preparing, nothing completed.
    MigrationTransferProgressReporter(QUuid id,
                                      const QList<File> &files,
                                      std::function<void(const TransferProgress &)> report);
    MigrationTransferProgressReporter(const MigrationTransferProgressReporter &) = delete;
    MigrationTransferProgressReporter &operator=(const MigrationTransferProgressReporter &)
        = delete;

    /// A try to copy `path` failed and another follows (or the move gives up).
    void retrying(const QString &path);
    /// `path` is copied and verified; its bytes count towards the total only the first time.
    void completed(const QString &path, qint64 byteCount);
    /// `completedFileBytes` of the `fileByteCount` bytes of `path` are copied.
    void copying(const QString &path, qint64 completedFileBytes, qint64 fileByteCount);
    /// `path`, of `fileByteCount` bytes, is being checked against its copy.
    void verifying(const QString &path, qint64 fileByteCount);

    const QUuid &id() const { return m_id; }

    qint64 totalBytes() const { return m_totalBytes; }

    qint64 completedBytes() const { return m_completedBytes; }

    const QSet<QString> &completedPaths() const { return m_completedPaths; }

private:
    void send(TransferProgressPhase phase,
              std::optional<QString> currentFilename,
              std::optional<qint64> currentFileCompleted,
              std::optional<qint64> currentFileTotal,
              qint64 completedByteCount) const;

    QUuid m_id;
    qint64 m_totalBytes = 0;
    std::function<void(const TransferProgress &)> m_report;
    QSet<QString> m_completedPaths;
    qint64 m_completedBytes = 0;
};

} // namespace Pellwick
