#pragma once

#include <PellwickCore/Backend/EntitlementState.h>
#include <PellwickCore/Backend/HttpFetch.h>
#include <PellwickCore/Restore/RestoreRequest.h>
#include <PellwickCore/Support/Result.h>

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace Pellwick::Test {

class TestObjectStore;

/// One request as the test backend received it.
struct RecordedRequest
{
    QByteArray method;
    QByteArray path;        ///< decoded path, without the query
    QByteArray target;      ///< the request target exactly as sent
    quint16 clientPort = 0; ///< the client's port: one per connection
    HttpHeaders headers;
    QByteArray body;
};

/// An in-process HTTP server on 127.0.0.1 (an ephemeral port, its own threads) that implements the
/// backend's JSON endpoints with in-memory accounts and libraries. Every request is recorded;
/// faults (any reply, stalls, dropped connections, slow bodies) can be injected per method and
/// path, also on paths no endpoint serves. Stops when destroyed.
class TestBackend
{
public:
    /// A password as the backend keeps it: a PBKDF2-HMAC-SHA256 hash with a random salt.
    struct PasswordHash
    {
        QByteArray salt;
        int iterations = 0;
        QByteArray hash;

        /// The hash of `password` with a fresh salt.
        static PasswordHash of(const QString &password, int iterations);
        /// Whether `password` is the hashed one (compared in constant time).
        bool matches(const QString &password) const;

        bool operator==(const PasswordHash &) const = default;
    };

    /// An account with its user and library state. Ids of 0 are assigned when added.
    struct Account
    {
        qint64 userId = 0;
        QString email;
        /// The password `addAccount` and `updateAccount` take: kept only as `passwordHash`, and
        /// empty in the accounts `account` gives.
        QString password;
        std::optional<QString> displayName;
        bool emailVerified = true;
        UserLibrary library = defaultLibrary();
        PasswordHash passwordHash = {};
    };

    /// A canned misbehaviour that replaces the endpoint's own reply.
    struct Fault
    {
        enum class Kind {
            Reply,             ///< `status` with `body` and `headers`
            Stall,             ///< no reply until `releaseStalls()` or the backend stops
            CloseConnection,   ///< headers announcing more bytes than `body`, then a closed socket
            Trickle,           ///< `body` in `chunkSize` pieces, `interval` apart
            StallAfterHeaders, ///< headers and `body`, then silence until released or stopped
            CloseBeforeReply,  ///< the request is read and recorded, then the socket closes
        };

        Kind kind = Kind::Reply;
        int status = 200;
        QByteArray body;
        HttpHeaders headers;
        qint64 chunkSize = 0;
        std::chrono::milliseconds interval{0};

        /// Any status with any body (malformed JSON, wrong types, an empty body, ...).
        static Fault reply(int status,
                           QByteArray body = {},
                           QByteArray contentType = QByteArrayLiteral("application/json"));
        static Fault stall();
        static Fault closeConnection(int status = 200, QByteArray partialBody = {});
        static Fault trickle(QByteArray body, qint64 chunkSize, std::chrono::milliseconds interval);
        static Fault stallAfterHeaders(int status, QByteArray firstBytes, qint64 announcedLength);
        static Fault closeBeforeReply();

        Fault withHeader(const QByteArray &name, const QByteArray &value) const;
    };

    /// A library item as the backend keeps it: wire words and numbers.
    struct LibraryItem
    {
        qint64 id = 0; ///< assigned when added with 0
        QString originalFilename;
        QString canonicalFilename;
        QString contentHash;
        std::optional<qint64> byteCount;
        std::optional<QString> sidecarFilename;
        std::optional<qint64> sidecarByteCount;
        std::optional<QString> sidecarContentHash;
        QString importStatus = QStringLiteral("verified_backup");
        double importedAt = 0; ///< seconds since 1970
        std::optional<QString> importSourceName;
        std::optional<QString> sourceRelativePath;
        std::optional<QString> cacheRelativePath;
    };

    struct Options
    {
        /// A path in front of every endpoint, e.g. "/v1", as served under a base URL with a path.
        QByteArray pathPrefix;
        /// The part size of the multipart uploads the verified backup endpoints open.
        qint64 partSizeBytes = qint64(5) * 1024 * 1024;
        /// The port on 127.0.0.1; 0 picks a free one.
        quint16 port = 0;
        /// For benchmarks: the object store counts uploaded bytes and keeps none, an upload
        /// request is never answered as a duplicate, and finalize checks sizes only.
        bool discardUploads = false;
        /// The PBKDF2 iterations of the hashes of passwords set from now on; a kept hash keeps
        /// its own.
        int passwordHashIterations = 1000;
    };

    /// A file of an archived item, as restores read it back.
    struct ArchivedFile
    {
        QString canonicalFilename;
        QByteArray content;
    };

    TestBackend();
    explicit TestBackend(Options options);
    ~TestBackend();

    TestBackend(const TestBackend &) = delete;
    TestBackend &operator=(const TestBackend &) = delete;

    int port() const;
    /// "http://127.0.0.1:<port>" followed by the path prefix.
    QUrl baseURL() const;
    /// The full URL of `path` (absolute, starting with "/") on this server, prefix not applied.
    QString url(const QString &path) const;

    static UserLibrary defaultLibrary();

    // In-memory state.

    /// Adds an account and returns it with its ids and password hash assigned.
    Account addAccount(Account account);
    std::optional<Account> account(const QString &email) const;
    void updateAccount(const QString &email, const std::function<void(Account &)> &change);
    /// A fresh session token for the account, as a sign-in would issue.
    QString issueToken(const QString &email);
    /// The e-mail addresses of every password-reset request, in order.
    QStringList passwordResetEmails() const;
    /// How many verification e-mails were re-sent to the address.
    int resentVerificationCount(const QString &email) const;

    /// Adds an item to the account's library and returns it with its id assigned.
    LibraryItem addLibraryItem(const QString &email, LibraryItem item);
    /// The account's library items, in the order they were added.
    QList<LibraryItem> libraryItems(const QString &email) const;
    /// The ids of the account's open import capacity reservations.
    QStringList reservationIDs(const QString &email) const;
    /// What an upload request for bytes with an open, unverified upload of the same account
    /// answers: always the same library item, with fresh part URLs for
    enum class Reauthorization {
        SameUpload,   ///< the same upload id and part size
        NewUploadID,  ///< a new upload (the parts sent before are forgotten)
        OtherPartSize ///< the same upload id cut at another part size
    };
    /// `partSize` is used by `OtherPartSize`.
    void setReauthorization(Reauthorization mode, qint64 partSize = 0);
    /// The bytes a completed multipart upload assembled from its parts, in part-number order;
    /// `sidecar` picks the item's sidecar upload.
    std::optional<QByteArray> assembledObject(qint64 libraryItemID, bool sidecar = false) const;

    /// The object store the verified backup endpoints hand out presigned URLs for; it runs on a
    /// port of its own, as object storage is a host of its own.
    TestObjectStore &objectStore() const;

    // Restore requests. Created requests start preparing; the test moves them on.

    /// Adds a verified backup to the account's library, its RAW original's bytes (and its
    /// sidecar's) in the object store, and returns it with its id assigned.
    LibraryItem addArchivedItem(const QString &email,
                                const ArchivedFile &raw,
                                const std::optional<ArchivedFile> &sidecar = std::nullopt);
    /// The Restore Request as the backend holds it.
    std::optional<RestoreRequest> restoreRequest(qint64 id) const;
    /// Moves a request and all its items to `status`, as preparation finishing or failing would.
    void setRestoreRequestStatus(qint64 id,
                                 RestoreRequestStatus status,
                                 const std::optional<QString> &attentionReason = std::nullopt);
    /// Moves one item of a request.
    void setRestoreItemStatus(qint64 id,
                              qint64 libraryItemID,
                              RestoreRequestStatus status,
                              const std::optional<QString> &attentionReason = std::nullopt);
    /// How long the download URLs handed out from now on stay valid (15 minutes unless set); no
    /// value: replies carry no "capability_expires_at" while the URLs still work for an hour. A
    /// lifetime of zero or less hands out URLs that have already expired.
    void setDownloadLifetime(std::optional<std::chrono::seconds> lifetime);
    /// What preparing requests say of their wait ("about 4 hours" unless set).
    void setPreparationEstimate(const QString &estimate);

    // Faults. `method` empty matches any method; `path` is the full request path.

    /// Applies `fault` to the next `times` matching requests (0: to every one until cleared).
    void injectFault(const QByteArray &method,
                     const QByteArray &path,
                     const Fault &fault,
                     int times = 0);
    void clearFaults();
    /// Lets every stalled reply go: a stall answers 503, a stall after headers closes the connection.
    void releaseStalls();

    /// Runs on the server's thread as each request to an endpoint arrives (`applied` false) and
    /// once it has been applied, before it is answered (`applied` true). Returning false before
    /// a request drops it unapplied with a 503 (crash tests end their client there).
    using RequestHook
        = std::function<bool(const QByteArray &method, const QByteArray &path, bool applied)>;
    void setRequestHook(RequestHook hook);

    QList<RecordedRequest> requests() const;
    /// How many recorded requests had exactly this method and path.
    int requestCount(const QByteArray &method, const QByteArray &path) const;
    void clearRequests();
    /// The requests recorded so far, which are forgotten: no request is returned twice or lost
    /// between two calls.
    QList<RecordedRequest> takeRequests();
    /// Stops (false) or resumes keeping a record of each request here and in the object store,
    /// which a long-running backend would otherwise grow without end.
    void setRecordsRequests(bool records);

    // Persistence.

    /// Everything the endpoints keep (accounts, sessions, library items with their uploads,
    /// reservations, restore requests and the id counters) as one JSON object. Faults, hooks,
    /// recorded requests and the objects themselves are not part of it.
    QJsonObject state() const;
    /// Replaces that state with one `state()` made. A damaged state changes nothing and fails
    /// with the `DecodingError` naming the key.
    [[nodiscard]] Result<void> restoreState(const QJsonObject &state);
    /// Every account's e-mail address, in the order the accounts were made.
    QStringList accountEmails() const;
    /// Every restore request's id, in the order the requests were made.
    QList<qint64> restoreRequestIDs() const;

    struct Private;

private:
    std::unique_ptr<Private> d;
};

} // namespace Pellwick::Test
