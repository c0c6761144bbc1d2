#pragma once

#include <PellwickCore/Ingest/TransferProgress.h>

#include <QString>
#include <QUuid>

#include <mutex>
#include <optional>

namespace Pellwick {

/// Turns the steps of one import run into "Import to Archive" progress rows that always show the
/// progress of the whole run: the upload code reports positions inside one file, the reporter
/// adds the bytes of finished files and packages. Shared by the importer's thread and the
/// uploader's progress callback, so every operation takes the reporter's lock; `report` is
/// called inside it and must not block. Without a callback no row is built, but the counters
/// change all the same.
class ImportTransferProgressReporter
{
public:
    static QString operationName() { return QStringLiteral("Import to Archive"); }

    /// `totalByteCount` counts RAW originals and sidecars, never previews.
    ImportTransferProgressReporter(QUuid transferID,
                                   qint64 totalByteCount,
                                   qint64 totalPackageCount,
                                   TransferProgressSink report = {});
    ImportTransferProgressReporter(const ImportTransferProgressReporter &) = delete;
    ImportTransferProgressReporter &operator=(const ImportTransferProgressReporter &) = delete;

    /// The named package is being staged.
    void stage(const QString &filename);
    /// `completedBytes` of `totalBytes` of one file (RAW original or sidecar) are sent. A call
    /// repeating the last position taken gives no row.
    void upload(const QString &filename, qint64 completedBytes, qint64 totalBytes);
    /// A position inside the upload of the preview of the photo `photoFilename`; its bytes are
    /// not counted into the run.
    void uploadPreview(const QString &photoFilename, qint64 completedBytes, qint64 totalBytes);
    /// One file of the current package is completely uploaded. Reports nothing.
    void completeFile(qint64 byteCount);
    /// The named package is being finalized.
    void verify(const QString &filename);
    /// The current package is done; `byteCount` is its RAW plus sidecar byte count. Counts the
    /// larger of it and the bytes of the package's completed files.
    void finishPackage(qint64 byteCount);

    const QUuid &transferID() const { return m_transferID; }

    qint64 totalByteCount() const { return m_totalByteCount; }

    qint64 totalPackageCount() const { return m_totalPackageCount; }

    qint64 completedByteCount() const;
    qint64 completedPackageCount() const;

private:
    struct Position
    {
        QString filename;
        qint64 completedBytes = 0;
        qint64 totalBytes = 0;
        bool operator==(const Position &) const = default;
    };

    /// Builds and sends one row; the lock is held by the caller.
    void send(TransferProgressPhase phase,
              std::optional<QString> filename,
              std::optional<qint64> fileCompleted,
              std::optional<qint64> fileTotal,
              qint64 completed,
              bool preview = false) const;

    const QUuid m_transferID;
    const qint64 m_totalByteCount;
    const qint64 m_totalPackageCount;
    const TransferProgressSink m_report;

    mutable std::mutex m_mutex;
    qint64 m_completedByteCount = 0;
    qint64 m_completedPackageCount = 0;
    qint64 m_completedCurrentPackageByteCount = 0;
    std::optional<Position> m_lastUpload;
};

} // namespace Pellwick
