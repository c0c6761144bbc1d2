#include "MigrationTransferProgressReporter.h"

namespace Pellwick {

MigrationTransferProgressReporter::MigrationTransferProgressReporter(
    QUuid id, const QList<File> &files, std::function<void(const TransferProgress &)> report)
    : m_id(id)
    , m_report(std::move(report))
{
    for (const File &file : files)
        m_totalBytes += file.byteCount;
    send(TransferProgressPhase::Preparing, std::nullopt, std::nullopt, std::nullopt, 0);
}

void MigrationTransferProgressReporter::retrying(const QString &path)
{
    send(TransferProgressPhase::Preparing,
         QStringLiteral("Retrying ") + path,
         std::nullopt,
         std::nullopt,
         m_completedBytes);
}

void MigrationTransferProgressReporter::completed(const QString &path, qint64 byteCount)
{
    if (!m_completedPaths.contains(path)) {
        m_completedPaths.insert(path);
        m_completedBytes += byteCount;
    }
    send(TransferProgressPhase::Copying, path, byteCount, byteCount, m_completedBytes);
}

void MigrationTransferProgressReporter::copying(const QString &path,
                                                qint64 completedFileBytes,
                                                qint64 fileByteCount)
{
    send(TransferProgressPhase::Copying,
         path,
         completedFileBytes,
         fileByteCount,
         m_completedBytes + completedFileBytes);
}

void MigrationTransferProgressReporter::verifying(const QString &path, qint64 fileByteCount)
{
    // The file's bytes are in place while they are checked: the bar does not step back.
    const qint64 pending = m_completedPaths.contains(path) ? 0 : fileByteCount;
    send(TransferProgressPhase::Verifying,
         path,
         std::nullopt,
         std::nullopt,
         m_completedBytes + pending);
}

void MigrationTransferProgressReporter::send(TransferProgressPhase phase,
                                             std::optional<QString> currentFilename,
                                             std::optional<qint64> currentFileCompleted,
                                             std::optional<qint64> currentFileTotal,
                                             qint64 completedByteCount) const
{
    if (!m_report)
        return;
    m_report(TransferProgress{m_id,
                              QStringLiteral("Move Ingest Cache"),
                              phase,
                              std::nullopt,
                              std::move(currentFilename),
                              currentFileCompleted,
                              currentFileTotal,
                              completedByteCount,
                              m_totalBytes,
                              0,
                              0});
}

} // namespace Pellwick
