#pragma once

#include <PellwickCore/Support/Date.h>
#include <PellwickCore/Support/Result.h>

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include <Support/TestBackend/TestBackend.h>

namespace httplib {
class Server;
struct Request;
struct Response;
class ContentReader;
} // namespace httplib

namespace Pellwick::Test {

/// An in-memory object store on its own loopback HTTP server (127.0.0.1, ephemeral port), reached
/// through presigned-style URLs. A PUT to a URL made by `presignedPutURL` stores its body under
/// the key and answers 200 with a quoted ETag (the MD5 of the body in hex, as object stores do).
/// A URL whose query does not arrive byte for byte as it was handed out is refused with 403, so a
/// client that re-encodes presigned URLs fails here as it would against real storage.
/// A GET of a URL made by `presignedGetURL` answers the object, or exactly one byte range of it:
/// 206 with "Content-Range: bytes first-last/size", or 416 with "Content-Range: bytes */size"
/// when the range starts at or past the end; past its expiry the URL is refused with 403.
/// Every request is recorded (with its body only when bodies are kept). Fault switches change
/// every following PUT or GET until they are changed again. Thread-safe.
class TestObjectStore
{
public:
    enum class BodyStorage {
        Keep,    ///< bodies are kept and can be read back with `object`
        Discard, ///< only sizes are recorded, for large transfers
    };

    enum class ETagMode {
        Quoted,  ///< "\"<md5 hex>\""
        Missing, ///< no ETag field
        Empty,   ///< an ETag field with an empty value
    };

    /// How the store answers PUTs.
    struct PutBehaviour
    {
        int status = 200; ///< any status; the body is stored only for 2xx
        ETagMode etag = ETagMode::Quoted;
        std::optional<qint64> stallAfterBytes
            = std::nullopt; ///< read this much, then stop reading until released
        std::optional<qint64> resetAfterBytes
            = std::nullopt; ///< read this much, then reset the connection
    };

    /// How the store misanswers GETs.
    enum class GetFault {
        None,
        IgnoreRange,    ///< 200 with the whole object, as a server that does not serve ranges
        ShortBody,      ///< the right headers, then half the bytes and a closed connection
        WrongBytes,     ///< the right headers and length, every byte inverted
        Stall,          ///< the right headers and half the bytes, then silence until released
        Expired,        ///< 403 as for an expired URL, whatever its expiry says
        OtherRange,     ///< 206 with the bytes from one further on, announced as such
        NoContentRange, ///< 206 with the right bytes but no "Content-Range"
        UnderAnnounced, ///< 206 with the right bytes, its "Content-Range" naming only half of them
    };

    explicit TestObjectStore(BodyStorage storage = BodyStorage::Keep);
    ~TestObjectStore();
    TestObjectStore(const TestObjectStore &) = delete;
    TestObjectStore &operator=(const TestObjectStore &) = delete;

    /// "http://127.0.0.1:<port>"
    QString baseURL() const;

    quint16 port() const { return m_port; }

    /// A presigned-style PUT URL for `key` (a path below the store, e.g. "upload-1/part-2").
    QString presignedPutURL(const QString &key) const;

    void setPutBehaviour(const PutBehaviour &behaviour);

    /// Stores `body` under `key` as a completed upload would.
    void putObject(const QString &key, const QByteArray &body);
    /// Serves the file at `path` under `key`, read with `pread` per request, so a large object
    /// is never held in memory. The file must stay unchanged while it is served.
    void putObjectFile(const QString &key, const QString &path);
    /// A presigned-style GET URL for `key`, valid until `expiresAt`.
    QString presignedGetURL(const QString &key, Date expiresAt) const;
    void setGetFault(GetFault fault);
    /// Every following GET waits this long before it answers, as a slow server would.
    void setGetDelay(std::chrono::milliseconds delay);

    /// Keeps every stored object also as a file in `directory` (created when missing), one file
    /// per key named by the percent-encoded key (never a path of several components, never "."
    /// or ".."), written atomically; folder and files are for their owner only. The objects already there are loaded first. A stored object
    /// that cannot be written is not stored: its PUT answers 500. Fails naming the file that
    /// cannot be read.
    [[nodiscard]] Result<void> keepObjectsIn(const QString &directory);
    /// Stops (false) or resumes keeping a record of each request, which a long-running store
    /// would otherwise grow without end.
    void setRecordsRequests(bool records);

    /// The stored body of `key`, if a PUT stored one (read from its file for objects kept as
    /// files).
    std::optional<QByteArray> object(const QString &key) const;
    /// How many bytes were stored under `key` (also when bodies are discarded).
    std::optional<qint64> byteCount(const QString &key) const;
    /// The ETag the store answered for `key`'s stored body.
    std::optional<QString> etag(const QString &key) const;
    QList<RecordedRequest> requests() const;

    /// Blocks until a PUT has stopped reading because of `stallAfterBytes`, or a GET has stopped
    /// sending because of `GetFault::Stall`.
    void waitUntilStalled();
    /// Lets every stalled PUT go on reading; stalled GETs close their connection.
    void releaseStalls();

private:
    struct StoredObject
    {
        QByteArray body;
        qint64 byteCount = 0;
        QString etag;
        QString filePath; ///< served from this file instead of `body` when set
    };

    void handlePut(const httplib::Request &request,
                   httplib::Response &response,
                   const httplib::ContentReader &reader);
    void handleGet(const httplib::Request &request, httplib::Response &response);
    /// Waits while stalled; true when the store is stopping.
    bool stallUntilReleased();
    QByteArray signature(const QByteArray &path) const;
    /// Stores `object` under `key`, writing its file first when objects are kept as files.
    /// Called with the mutex held; false when the file could not be written.
    bool storeLocked(const QString &key, StoredObject object);

    BodyStorage m_storage;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    quint16 m_port = 0;

    mutable std::mutex m_mutex;
    std::condition_variable m_stallChanged;
    PutBehaviour m_behaviour;
    GetFault m_getFault = GetFault::None;
    std::chrono::milliseconds m_getDelay{0};
    std::map<QString, StoredObject> m_objects;
    QList<RecordedRequest> m_requests;
    int m_stalledCount = 0;
    quint64 m_stallGeneration = 0;
    bool m_stopping = false;
    bool m_recordsRequests = true;
    std::optional<QString> m_directory;
};

} // namespace Pellwick::Test
