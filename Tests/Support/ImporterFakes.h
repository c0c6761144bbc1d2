#pragma once

#include <PellwickCore/Backend/PresignedURLUploading.h>
#include <PellwickCore/Import/VerifiedBackupAPI.h>
#include <PellwickCore/Ingest/PhotoMetadata.h>
#include <PellwickCore/Ingest/PreviewGenerating.h>
#include <PellwickCore/Library/ImportClock.h>

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QStringList>

#include <memory>
#include <optional>

namespace Pellwick::Test {

/// A preview generator that writes fixed bytes as the preview, refuses with a reason, or fails
/// with an error. Records the sources it was asked for.
class StubPreviewGenerator final : public PreviewGenerating
{
public:
    /// Writes `bytes` to the destination.
    static std::shared_ptr<StubPreviewGenerator> writing(QByteArray bytes);
    /// Answers a failure result with `reason`, writing nothing.
    static std::shared_ptr<StubPreviewGenerator> refusing(QString reason);
    /// Fails with `error`.
    static std::shared_ptr<StubPreviewGenerator> failing(Error error);

    Result<PreviewGenerationResult> generatePreview(const QString &source,
                                                    const QString &destination,
                                                    std::stop_token stop) const override;

    QStringList sources() const;

private:
    std::optional<QByteArray> m_bytes;
    std::optional<QString> m_reason;
    std::optional<Error> m_error;
    mutable QMutex m_mutex;
    mutable QStringList m_sources;
};

/// Answers every file with the same metadata, or fails.
class FixedMetadataExtractor final : public PhotoMetadataExtracting
{
public:
    explicit FixedMetadataExtractor(Result<PhotoMetadata> answer)
        : m_answer(std::move(answer))
    {}

    Result<PhotoMetadata> metadata(const QString &) const override { return m_answer; }

private:
    Result<PhotoMetadata> m_answer;
};

/// A clock that always tells the same date.
class FixedImportClock final : public ImportClock
{
public:
    explicit FixedImportClock(Date date)
        : m_date(date)
    {}

    Date now() const override { return m_date; }

private:
    Date m_date;
};

} // namespace Pellwick::Test

namespace Pellwick::Test {

/// One line per event of an import, shared by the fakes of one test to check the order of
/// backend calls, uploads, record writes, library writes and callbacks.
class EventLog
{
public:
    void add(QString event)
    {
        const QMutexLocker lock(&m_mutex);
        m_events.append(std::move(event));
    }

    QStringList events() const
    {
        const QMutexLocker lock(&m_mutex);
        return m_events;
    }

    /// The events that start with `prefix`.
    QStringList matching(const QString &prefix) const;

private:
    mutable QMutex m_mutex;
    QStringList m_events;
};

/// A verified backup API answering from scripts, one entry per call of each operation (the last
/// entry repeats), logging "request", "state <id>", "complete <id> <upload> <parts>",
/// "complete_sidecar ...", "finalize <id>", "library_items".
class ScriptedVerifiedBackupAPI final : public VerifiedBackupAPI
{
public:
    explicit ScriptedVerifiedBackupAPI(std::shared_ptr<EventLog> log)
        : m_log(std::move(log))
    {}

    QList<Result<VerifiedBackupUploadDecision>> decisions;
    QList<Result<VerifiedBackupUploadState>> states;
    QList<Result<void>> completions;
    QList<Result<VerifiedBackupFinalization>> finalizations;
    /// The answer to every library list request, or with `archives`, to the requests after
    /// those it answers in turn.
    Result<QList<RemoteLibraryItem>> archive = QList<RemoteLibraryItem>();
    QList<Result<QList<RemoteLibraryItem>>> archives;
    /// As a sane backend, answer states and finalizations for the item asked about, whatever id
    /// the script holds; false answers the scripted ids as they are.
    bool answersForAskedItem = true;

    Result<VerifiedBackupUploadDecision>
    requestVerifiedBackupUpload(const QString &token,
                                const VerifiedBackupUploadRequest &request,
                                std::stop_token stop = {}) const override;
    Result<VerifiedBackupUploadState> verifiedBackupUploadState(const QString &token,
                                                                qint64 libraryItemID,
                                                                std::stop_token stop
                                                                = {}) const override;
    Result<void> completeVerifiedBackupUpload(const QString &token,
                                              qint64 libraryItemID,
                                              const QString &uploadID,
                                              const QList<UploadedMultipartPart> &parts,
                                              std::stop_token stop = {}) const override;
    Result<void> completeVerifiedBackupSidecarUpload(const QString &token,
                                                     qint64 libraryItemID,
                                                     const QString &uploadID,
                                                     const QList<UploadedMultipartPart> &parts,
                                                     std::stop_token stop = {}) const override;
    Result<VerifiedBackupFinalization> finalizeVerifiedBackupUpload(const QString &token,
                                                                    qint64 libraryItemID,
                                                                    std::stop_token stop
                                                                    = {}) const override;

    Result<QList<RemoteLibraryItem>> libraryItems(const QString &token,
                                                  std::stop_token stop = {}) const override;

    QList<VerifiedBackupUploadRequest> requests() const;

private:
    template<typename T>
    static T next(const QList<T> &script, int &calls);

    std::shared_ptr<EventLog> m_log;
    mutable QMutex m_mutex;
    mutable int m_decisionCalls = 0;
    mutable int m_stateCalls = 0;
    mutable int m_completionCalls = 0;
    mutable int m_finalizationCalls = 0;
    mutable int m_listCalls = 0;
    mutable QList<VerifiedBackupUploadRequest> m_requests;
};

/// An uploader that reads the bytes it is asked to send and keeps them by URL, answering
/// "\"etag-<n>\"" for the n-th part it receives; logs "part <url> <lower>-<upper>" and
/// "file <url>". `failures` maps a URL fragment to the error of every upload to a matching URL.
class RecordingUploader final : public PresignedURLUploading
{
public:
    explicit RecordingUploader(std::shared_ptr<EventLog> log)
        : m_log(std::move(log))
    {}

    QList<std::pair<QString, Error>> failures;

    using PresignedURLUploading::uploadFile;
    using PresignedURLUploading::uploadPart;
    Result<void>
    uploadFile(const QString &file, const QString &url, std::stop_token stop = {}) const override;
    Result<QString> uploadPart(const QString &file,
                               ByteRange range,
                               const QString &url,
                               std::stop_token stop = {}) const override;

    /// The bytes received at `url`.
    QByteArray received(const QString &url) const;

private:
    std::optional<Error> failureFor(const QString &url) const;

    std::shared_ptr<EventLog> m_log;
    mutable QMutex m_mutex;
    mutable QHash<QString, QByteArray> m_received;
    mutable int m_parts = 0;
};

} // namespace Pellwick::Test
