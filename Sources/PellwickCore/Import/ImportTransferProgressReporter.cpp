#include "ImportTransferProgressReporter.h"

#include <algorithm>

namespace Pellwick {

ImportTransferProgressReporter::ImportTransferProgressReporter(QUuid transferID,
                                                               qint64 totalByteCount,
                                                               qint64 totalPackageCount,
                                                               TransferProgressSink report)
    : m_transferID(transferID)
    , m_totalByteCount(totalByteCount)
    , m_totalPackageCount(totalPackageCount)
    , m_report(std::move(report))
{}

void ImportTransferProgressReporter::stage(const QString &filename)
{
    const std::lock_guard lock(m_mutex);
    send(
        TransferProgressPhase::Staging, filename, std::nullopt, std::nullopt, m_completedByteCount);
}

void ImportTransferProgressReporter::upload(const QString &filename,
                                            qint64 completedBytes,
                                            qint64 totalBytes)
{
    const std::lock_guard lock(m_mutex);
    Position position{filename, completedBytes, totalBytes};
    if (m_lastUpload == position)
        return;
    m_lastUpload = std::move(position);
    send(TransferProgressPhase::Uploading,
         filename,
         completedBytes,
         totalBytes,
         m_completedByteCount + m_completedCurrentPackageByteCount + completedBytes);
}

void ImportTransferProgressReporter::uploadPreview(const QString &photoFilename,
                                                   qint64 completedBytes,
                                                   qint64 totalBytes)
{
    const std::lock_guard lock(m_mutex);
    send(TransferProgressPhase::Uploading,
         photoFilename,
         completedBytes,
         totalBytes,
         m_completedByteCount + m_completedCurrentPackageByteCount,
         true);
}

void ImportTransferProgressReporter::completeFile(qint64 byteCount)
{
    const std::lock_guard lock(m_mutex);
    m_completedCurrentPackageByteCount += byteCount;
    m_lastUpload.reset();
}

void ImportTransferProgressReporter::verify(const QString &filename)
{
    const std::lock_guard lock(m_mutex);
    send(TransferProgressPhase::Verifying,
         filename,
         std::nullopt,
         std::nullopt,
         m_completedByteCount);
}

void ImportTransferProgressReporter::finishPackage(qint64 byteCount)
{
    const std::lock_guard lock(m_mutex);
    m_completedByteCount += std::max(byteCount, m_completedCurrentPackageByteCount);
    m_completedCurrentPackageByteCount = 0;
    ++m_completedPackageCount;
    send(TransferProgressPhase::Verifying,
         std::nullopt,
         std::nullopt,
         std::nullopt,
         m_completedByteCount);
}

qint64 ImportTransferProgressReporter::completedByteCount() const
{
    const std::lock_guard lock(m_mutex);
    return m_completedByteCount;
}

qint64 ImportTransferProgressReporter::completedPackageCount() const
{
    const std::lock_guard lock(m_mutex);
    return m_completedPackageCount;
}

void ImportTransferProgressReporter::send(TransferProgressPhase phase,
                                          std::optional<QString> filename,
                                          std::optional<qint64> fileCompleted,
                                          std::optional<qint64> fileTotal,
                                          qint64 completed,
                                          bool preview) const
{
    if (!m_report)
        return;
    TransferProgress row;
    row.id = m_transferID;
    row.operationName = operationName();
    row.phase = phase;
    row.currentFilename = std::move(filename);
    row.currentFileCompletedByteCount = fileCompleted;
    row.currentFileTotalByteCount = fileTotal;
    row.completedByteCount = completed;
    row.totalByteCount = m_totalByteCount;
    row.completedPackageCount = m_completedPackageCount;
    row.totalPackageCount = m_totalPackageCount;
    row.currentFileIsPreview = preview;
    m_report(row);
}

} // namespace Pellwick
