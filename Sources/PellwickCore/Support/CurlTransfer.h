#pragma once

#include <PellwickCore/Support/ByteRange.h>
#include <PellwickCore/Support/HttpHeaders.h>
#include <PellwickCore/Support/Result.h>

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>
#include <stop_token>

namespace Pellwick {

class FileHandle;

/// One HTTP exchange over libcurl, with the rules every transfer of this program shares:
/// - only http and https are used, also when following redirects;
/// - TLS peer and host are verified;
/// - the time limit is an idle limit: connecting, or no byte moving in either direction, may take
///   at most `Request::idleLimit`; a long transfer that keeps moving is never cut off;
/// - `stop` is checked before anything is sent and throughout the exchange;
/// - header fields holding CR, LF or NUL are refused before any I/O;
/// - no field is added beyond what HTTP needs: no "Expect: 100-continue", no "Content-Type" the
///   request does not set.
///
/// Connections are kept between calls: each thread performs its transfers on one easy handle of
/// its own, so successive calls from a thread to one host share a connection (and its TLS
/// session). A kept connection that closes before any answer makes curl send the request again
/// on a fresh one; only GET, HEAD and PUT are sent again so: any other method fails with a
/// `TransportError` instead (the server may have carried it out). A handle is never used by two threads; a transfer started from inside another
/// transfer's callback on the same thread gets a fresh handle.
///
/// Failures: `TransportError` for connection failures, the idle limit (`timedOut`), cancellation
/// (`cancelled`), refused header fields and a body larger than the sink takes (curl code 63);
/// the file's own error when a file source cannot be read or a file sink cannot be written; the
/// source's `endedEarly` error when its file holds fewer bytes than its range.
class CurlTransfer
{
public:
    /// The request body; made by its factories. A source can be read again from its start, so
    /// the body is re-sent after a redirect, or when curl retries a GET, HEAD or PUT on a fresh
    /// connection.
    struct Source
    {
        enum class Kind {
            None,
            Memory,
            FileRange,
        };

        /// No body: nothing is sent, and POST, PUT and PATCH announce "Content-Length: 0".
        static Source none() { return Source(); }

        /// `bytes` as they stand.
        static Source memory(QByteArray bytes);
        /// Bytes [range) of `file`, read with positioned reads while they are sent, so a body of
        /// any size costs a small fixed buffer. `file` must outlive the transfer and be used by
        /// nothing else meanwhile. When the file ends before the range does, the transfer stops
        /// and fails with `endedEarly`.
        static Source fileRange(FileHandle &file, ByteRange range, Error endedEarly);

        /// The number of bytes sent.
        qint64 length() const;

        Kind kind = Kind::None;
        QByteArray bytes;
        FileHandle *file = nullptr;
        ByteRange range;
        std::optional<Error> endedEarly;
    };

    /// Where the reply body goes; made by its factories.
    struct Sink
    {
        enum class Kind {
            Memory,
            Discard,
            File,
        };

        /// Into `Reply::body`. A body longer than `cap` bytes stops the transfer with a
        /// `TransportError` of curl code 63, so a hostile server cannot exhaust memory.
        static Sink memory(qint64 cap);
        /// Nowhere; only its length is counted.
        static Sink discard();
        /// Written into `file` from `offset` on as it arrives, when the final reply's status is
        /// within 200 to 299. A body longer than `cap` stops the transfer with curl code 63
        /// after at most `cap` bytes were written. The body of any other reply is not written:
        /// its first 64 KiB are kept in `Reply::body` for the caller to read the server's words,
        /// and a longer one is not received further (the reply ends with `Reply::endedAtCap`).
        /// `file` must outlive the transfer and be used by nothing else meanwhile.
        static Sink toFile(FileHandle &file, qint64 offset, qint64 cap);

        /// This sink with its cap as the end of what is wanted: a longer body is cut off after its
        /// first `cap` bytes and the transfer succeeds with `Reply::endedAtCap` set, instead of
        /// failing (for a reply that may hold more than was asked for, like a whole object sent
        /// for a range).
        Sink endingAtCap() const
        {
            Sink sink = *this;
            sink.endsAtCap = true;
            return sink;
        }

        Kind kind = Kind::Discard;
        qint64 cap = 0;
        bool endsAtCap = false;
        FileHandle *file = nullptr;
        qint64 offset = 0;
    };

    /// How redirects are answered.
    enum class Redirects {
        /// Followed by curl's rules (a POST answered 301 to 303 continues as GET), at most 16
        /// hops; a redirect to any scheme but http or https fails as a `TransportError`.
        Follow,
        /// Only 307 and 308 are followed, keeping the method and re-sending the body from its
        /// start, at most `maximumMethodKeepingHops` hops. Any other reply is final. A 307 or 308
        /// whose target is not http or https is not followed: `Reply::refusedRedirect` names it.
        KeepMethod,
    };

    static constexpr int maximumMethodKeepingHops = 4;

    struct Request
    {
        /// The exact URL text, passed to curl unchanged.
        QString url;
        QByteArray method = QByteArrayLiteral("GET");
        HttpHeaders headers;
        Source body;
        Sink sink = Sink::discard();
        Redirects redirects = Redirects::Follow;
        std::chrono::milliseconds idleLimit = std::chrono::seconds(60);
        /// Called on the calling thread with the body bytes sent and received so far in the
        /// current request (both start again from 0 after a followed redirect).
        std::function<void(qint64 sent, qint64 received)> progress;
    };

    struct Reply
    {
        /// The final reply's status; no value when the reply was not HTTP.
        std::optional<int> status;
        /// The final reply's header fields, in the order received.
        HttpHeaders headers;
        /// The body of a memory sink, or the failure body of a file sink.
        QByteArray body;
        /// The body bytes the sink received of the final reply.
        qint64 bodyLength = 0;
        /// The body was cut off at the cap of a sink `endingAtCap`, or a file sink's failure body
        /// after its first 64 KiB.
        bool endedAtCap = false;
        /// The target of a 307 or 308 that was not followed because it is not http or https.
        std::optional<QString> refusedRedirect;
    };

    /// Performs `request` on the calling thread. A URL of any scheme but http or https answers a
    /// reply without status, without any I/O.
    [[nodiscard]] static Result<Reply> perform(const Request &request, const std::stop_token &stop);

    /// Initialises libcurl for the process; the first call does the work, later calls nothing.
    /// Call it once from `main` (and from each test program) before any other thread starts.
    static void initializeGlobally();
};

/// True when `url` names the http or https scheme (in any letter case): the only URLs used.
bool isHttpUrl(const QString &url);

} // namespace Pellwick
