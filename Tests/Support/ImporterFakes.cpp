#include "ImporterFakes.h"

#include <QFile>

#include <Support/TestFiles.h>

namespace Pellwick::Test {

std::shared_ptr<StubPreviewGenerator> StubPreviewGenerator::writing(QByteArray bytes)
{
    auto generator = std::make_shared<StubPreviewGenerator>();
    generator->m_bytes = std::move(bytes);
    return generator;
}

std::shared_ptr<StubPreviewGenerator> StubPreviewGenerator::refusing(QString reason)
{
    auto generator = std::make_shared<StubPreviewGenerator>();
    generator->m_reason = std::move(reason);
    return generator;
}

std::shared_ptr<StubPreviewGenerator> StubPreviewGenerator::failing(Error error)
{
    auto generator = std::make_shared<StubPreviewGenerator>();
    generator->m_error = std::move(error);
    return generator;
}

Result<PreviewGenerationResult> StubPreviewGenerator::generatePreview(const QString &source,
                                                                      const QString &destination,
                                                                      std::stop_token) const
{
    {
        const QMutexLocker lock(&m_mutex);
        m_sources.append(source);
    }
    if (m_error)
        return tl::unexpected<Error>(*m_error);
    if (m_reason)
        return PreviewGenerationResult::failure(*m_reason);
    writeFile(destination, m_bytes.value_or(QByteArray()));
    return PreviewGenerationResult::success();
}

QStringList StubPreviewGenerator::sources() const
{
    const QMutexLocker lock(&m_mutex);
    return m_sources;
}

QStringList EventLog::matching(const QString &prefix) const
{
    QStringList out;
    for (const QString &event : events())
        if (event.startsWith(prefix))
            out.append(event);
    return out;
}

template<typename T>
T ScriptedVerifiedBackupAPI::next(const QList<T> &script, int &calls)
{
    Q_ASSERT(!script.isEmpty());
    const qsizetype index = std::min<qsizetype>(calls++, script.size() - 1);
    return script.at(index);
}

Result<VerifiedBackupUploadDecision> ScriptedVerifiedBackupAPI::requestVerifiedBackupUpload(
    const QString &, const VerifiedBackupUploadRequest &request, std::stop_token) const
{
    m_log->add(QStringLiteral("request"));
    const QMutexLocker lock(&m_mutex);
    m_requests.append(request);
    return next(decisions, m_decisionCalls);
}

Result<VerifiedBackupUploadState> ScriptedVerifiedBackupAPI::verifiedBackupUploadState(
    const QString &, qint64 libraryItemID, std::stop_token) const
{
    m_log->add(QStringLiteral("state %1").arg(libraryItemID));
    const QMutexLocker lock(&m_mutex);
    Result<VerifiedBackupUploadState> state = next(states, m_stateCalls);
    if (state && answersForAskedItem)
        state->libraryItemID = libraryItemID;
    return state;
}

namespace {

QString partList(const QList<UploadedMultipartPart> &parts)
{
    QStringList out;
    for (const UploadedMultipartPart &part : parts)
        out.append(QString::number(part.partNumber) + QLatin1Char(':') + part.etag);
    return out.join(QLatin1Char(','));
}

} // namespace

Result<void>
ScriptedVerifiedBackupAPI::completeVerifiedBackupUpload(const QString &,
                                                        qint64 libraryItemID,
                                                        const QString &uploadID,
                                                        const QList<UploadedMultipartPart> &parts,
                                                        std::stop_token) const
{
    m_log->add(QStringLiteral("complete ") + QString::number(libraryItemID) + QLatin1Char(' ')
               + uploadID + QLatin1Char(' ') + partList(parts));
    const QMutexLocker lock(&m_mutex);
    return next(completions, m_completionCalls);
}

Result<void> ScriptedVerifiedBackupAPI::completeVerifiedBackupSidecarUpload(
    const QString &,
    qint64 libraryItemID,
    const QString &uploadID,
    const QList<UploadedMultipartPart> &parts,
    std::stop_token) const
{
    m_log->add(QStringLiteral("complete_sidecar ") + QString::number(libraryItemID)
               + QLatin1Char(' ') + uploadID + QLatin1Char(' ') + partList(parts));
    const QMutexLocker lock(&m_mutex);
    return next(completions, m_completionCalls);
}

Result<VerifiedBackupFinalization> ScriptedVerifiedBackupAPI::finalizeVerifiedBackupUpload(
    const QString &, qint64 libraryItemID, std::stop_token) const
{
    m_log->add(QStringLiteral("finalize %1").arg(libraryItemID));
    const QMutexLocker lock(&m_mutex);
    Result<VerifiedBackupFinalization> finalization = next(finalizations, m_finalizationCalls);
    if (finalization && answersForAskedItem)
        finalization->libraryItemID = libraryItemID;
    return finalization;
}

Result<QList<RemoteLibraryItem>> ScriptedVerifiedBackupAPI::libraryItems(const QString &,
                                                                         std::stop_token) const
{
    m_log->add(QStringLiteral("library_items"));
    const QMutexLocker lock(&m_mutex);
    return m_listCalls < archives.size() ? archives.at(m_listCalls++) : archive;
}

QList<VerifiedBackupUploadRequest> ScriptedVerifiedBackupAPI::requests() const
{
    const QMutexLocker lock(&m_mutex);
    return m_requests;
}

std::optional<Error> RecordingUploader::failureFor(const QString &url) const
{
    for (const auto &[fragment, error] : failures)
        if (url.contains(fragment))
            return error;
    return std::nullopt;
}

Result<void>
RecordingUploader::uploadFile(const QString &file, const QString &url, std::stop_token) const
{
    m_log->add(QStringLiteral("file ") + url);
    if (std::optional<Error> error = failureFor(url))
        return tl::unexpected<Error>(*error);
    QFile source(file);
    if (!source.open(QIODevice::ReadOnly))
        return failure(FileSystemError{QStringLiteral("open"), file, ENOENT});
    const QMutexLocker lock(&m_mutex);
    m_received.insert(url, source.readAll());
    return {};
}

Result<QString> RecordingUploader::uploadPart(const QString &file,
                                              ByteRange range,
                                              const QString &url,
                                              std::stop_token) const
{
    m_log->add(QStringLiteral("part ") + url + QLatin1Char(' ') + QString::number(range.lowerBound)
               + QLatin1Char('-') + QString::number(range.upperBound));
    if (std::optional<Error> error = failureFor(url))
        return tl::unexpected<Error>(*error);
    QFile source(file);
    if (!source.open(QIODevice::ReadOnly) || !source.seek(range.lowerBound))
        return failure(FileSystemError{QStringLiteral("open"), file, ENOENT});
    const QByteArray bytes = source.read(range.length());
    if (bytes.size() != range.length())
        return failure(PresignedURLUploadError{PresignedURLUploadError::UnexpectedStatus{-1}});
    const QMutexLocker lock(&m_mutex);
    m_received.insert(url, bytes);
    return QStringLiteral("\"etag-%1\"").arg(++m_parts);
}

QByteArray RecordingUploader::received(const QString &url) const
{
    const QMutexLocker lock(&m_mutex);
    return m_received.value(url);
}

} // namespace Pellwick::Test
