#include "CurlPresignedURLUploader.h"

#include "CurlTransfer_p.h"
#include "PresignedURLUploadReply_p.h"

#include <PellwickCore/Backend/CurlFetch.h>
#include <PellwickCore/Backend/PresignedURLUploadError.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

namespace Pellwick {

namespace {

tl::unexpected<Error> unexpectedStatus(int status)
{
    return failure(PresignedURLUploadError{PresignedURLUploadError::UnexpectedStatus{status}});
}

/// The request body: bytes [next, end) of an open file, read when curl asks for them. A read
/// failure or a file that ends early stops the transfer and is kept for the caller.
struct BodySource
{
    FileHandle *file = nullptr;
    qint64 start = 0;
    qint64 next = 0;
    qint64 end = 0;
    std::optional<Error> failure;

    static size_t read(char *buffer, size_t size, size_t count, void *context)
    {
        auto *self = static_cast<BodySource *>(context);
        const qint64 wanted = std::min(static_cast<qint64>(size * count), self->end - self->next);
        if (wanted <= 0)
            return 0;
        Result<qint64> n = self->file->readAt(buffer, wanted, self->next);
        if (!n) {
            self->failure = std::move(n).error();
            return CURL_READFUNC_ABORT;
        }
        if (*n == 0) {
            // The file became shorter than the range while it was being sent.
            self->failure = unexpectedStatus(-1).value();
            return CURL_READFUNC_ABORT;
        }
        self->next += *n;
        return static_cast<size_t>(*n);
    }

    /// Lets curl send the body again from an offset, e.g. after a "100-continue" refusal.
    static int seek(void *context, curl_off_t offset, int origin)
    {
        auto *self = static_cast<BodySource *>(context);
        if (origin != SEEK_SET || offset < 0 || offset > self->end - self->start)
            return CURL_SEEKFUNC_CANTSEEK;
        self->next = self->start + offset;
        return CURL_SEEKFUNC_OK;
    }
};

/// Reports the body bytes sent, never going backwards, and stops the transfer as its watch says.
struct ProgressState
{
    const UploadProgress *progress = nullptr;
    CurlTransfer::Watch watch;
    qint64 reported = 0;

    void report(qint64 sent)
    {
        if (sent > reported) {
            reported = sent;
            if (progress && *progress)
                (*progress)(sent);
        }
    }

    static int
    update(void *context, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded)
    {
        auto *self = static_cast<ProgressState *>(context);
        if (!self->watch.proceed(downloaded, uploaded))
            return 1;
        self->report(static_cast<qint64>(uploaded));
        return 0;
    }
};

size_t discardResponseBody(char *, size_t size, size_t count, void *)
{
    return size * count;
}

/// A field value without the surrounding whitespace of the HTTP syntax. curl leaves the line's
/// carriage return on an empty value.
QString fieldValue(const char *raw)
{
    QByteArrayView value(raw);
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!value.isEmpty() && isSpace(value.front()))
        value = value.sliced(1);
    while (!value.isEmpty() && isSpace(value.back()))
        value.chop(1);
    return QString::fromUtf8(value);
}

struct Reply
{
    int status = -1;
    QList<QString> etags;
};

/// PUTs bytes [range) of `file` to `url` and returns the final reply's status and ETag fields.
Result<Reply> put(FileHandle &file,
                  ByteRange range,
                  const QString &url,
                  std::chrono::seconds idleLimit,
                  const UploadProgress *progress,
                  std::stop_token stopToken)
{
    CurlFetch::initializeGlobally();
    CurlTransfer::EasyHandle handle(curl_easy_init());
    if (!handle)
        return CurlTransfer::transportFailure(
            CURLE_FAILED_INIT, false, QStringLiteral("No curl handle."));
    CURL *curl = handle.get();

    BodySource body{&file, range.lowerBound, range.lowerBound, range.upperBound, std::nullopt};
    ProgressState state{progress, {std::move(stopToken), idleLimit}};
    char errorBuffer[CURL_ERROR_SIZE] = {};
    const QByteArray target = url.toUtf8();
    const long idleSeconds = static_cast<long>(idleLimit.count());

    // curl announces large bodies with "Expect: 100-continue"; an empty value removes the field,
    // so the request carries no field beyond what HTTP itself needs.
    CurlTransfer::HeaderList fields(curl_slist_append(nullptr, "Expect:"));
    if (!fields)
        return CurlTransfer::transportFailure(
            CURLE_OUT_OF_MEMORY, false, QStringLiteral("Out of memory."));

    curl_easy_setopt(curl, CURLOPT_URL, target.constData());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, fields.get());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, idleSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, idleSeconds);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(range.length()));
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, &BodySource::read);
    curl_easy_setopt(curl, CURLOPT_READDATA, &body);
    curl_easy_setopt(curl, CURLOPT_SEEKFUNCTION, &BodySource::seek);
    curl_easy_setopt(curl, CURLOPT_SEEKDATA, &body);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &ProgressState::update);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &state);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &discardResponseBody);

    const CURLcode code = curl_easy_perform(curl);
    if (body.failure)
        return tl::unexpected<Error>(std::move(*body.failure));
    if (code != CURLE_OK)
        return CurlTransfer::transferFailure(code, state.watch, errorBuffer);

    curl_off_t sent = 0;
    if (curl_easy_getinfo(curl, CURLINFO_SIZE_UPLOAD_T, &sent) == CURLE_OK)
        state.report(static_cast<qint64>(sent));

    Reply reply;
    long status = 0;
    if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status > 0)
        reply.status = static_cast<int>(status);
    // Fields of the final reply only, names matched without regard to letter case.
    curl_header *field = nullptr;
    size_t index = 0;
    size_t amount = 1;
    while (index < amount
           && curl_easy_header(curl, "ETag", index, CURLH_HEADER, -1, &field) == CURLHE_OK) {
        amount = field->amount;
        reply.etags.append(fieldValue(field->value));
        ++index;
    }
    return reply;
}

} // namespace

Result<void> presignedFileUploadResult(int status)
{
    if (status < 200 || status > 299)
        return unexpectedStatus(status);
    return {};
}

Result<QString> presignedPartUploadResult(int status, const QList<QString> &etags)
{
    PELLWICK_TRY(presignedFileUploadResult(status));
    // Two ETag fields name no single part: refusing here beats completing with the wrong one.
    if (etags.size() != 1 || etags.front().isEmpty())
        return unexpectedStatus(-1);
    return etags.front();
}

CurlPresignedURLUploader::CurlPresignedURLUploader(std::shared_ptr<const FileManager> fileManager,
                                                   std::chrono::seconds idleLimit)
    : m_fileManager(std::move(fileManager))
    , m_idleLimit(idleLimit)
{}

Result<void> CurlPresignedURLUploader::uploadFile(const QString &file,
                                                  const QString &url,
                                                  std::stop_token stopToken) const
{
    return uploadFile(file, url, UploadProgress(), std::move(stopToken));
}

Result<QString> CurlPresignedURLUploader::uploadPart(const QString &file,
                                                     ByteRange range,
                                                     const QString &url,
                                                     std::stop_token stopToken) const
{
    return uploadPart(file, range, url, UploadProgress(), std::move(stopToken));
}

Result<void> CurlPresignedURLUploader::uploadFile(const QString &file,
                                                  const QString &url,
                                                  const UploadProgress &progress,
                                                  std::stop_token stopToken) const
{
    Result<std::unique_ptr<FileHandle>> handle = m_fileManager->openForReading(file);
    if (!handle)
        return tl::unexpected<Error>(std::move(handle).error());
    Result<QString> resolved = m_fileManager->resolvingSymlinks(file);
    if (!resolved)
        return tl::unexpected<Error>(std::move(resolved).error());
    Result<FileAttributes> attributes = m_fileManager->attributesOfItem(*resolved);
    if (!attributes)
        return tl::unexpected<Error>(std::move(attributes).error());

    Result<Reply> reply
        = put(**handle, ByteRange{0, attributes->size}, url, m_idleLimit, &progress, stopToken);
    (*handle)->close();
    if (!reply)
        return tl::unexpected<Error>(std::move(reply).error());
    return presignedFileUploadResult(reply->status);
}

Result<QString> CurlPresignedURLUploader::uploadPart(const QString &file,
                                                     ByteRange range,
                                                     const QString &url,
                                                     const UploadProgress &progress,
                                                     std::stop_token stopToken) const
{
    Result<std::unique_ptr<FileHandle>> handle = m_fileManager->openForReading(file);
    if (!handle)
        return tl::unexpected<Error>(std::move(handle).error());
    FileHandle &source = **handle;

    if (range.lowerBound < 0 || range.upperBound < range.lowerBound)
        return unexpectedStatus(-1);
    if (!range.isEmpty()) {
        // The range's last byte must exist, or the part would be short: nothing is sent.
        char last = 0;
        Result<qint64> n = source.readAt(&last, 1, range.upperBound - 1);
        if (!n)
            return tl::unexpected<Error>(std::move(n).error());
        if (*n != 1)
            return unexpectedStatus(-1);
    }

    Result<Reply> reply = put(source, range, url, m_idleLimit, &progress, std::move(stopToken));
    source.close();
    if (!reply)
        return tl::unexpected<Error>(std::move(reply).error());
    return presignedPartUploadResult(reply->status, reply->etags);
}

} // namespace Pellwick
