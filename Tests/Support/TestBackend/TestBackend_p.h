#pragma once

// Internals of the test backend shared by its endpoint units.

#include "TestBackend.h"
#include "TestBackend_Restore_p.h"

#include <QHash>
#include <QJsonObject>

#include <condition_variable>
#include <mutex>
#include <thread>

#include <Support/TestObjectStore.h>
#include <httplib.h>

namespace Pellwick::Test {

struct TestBackend::Private
{
    using Handler = std::function<void(const httplib::Request &, httplib::Response &)>;

    /// Serves `handler` for `method` on the prefix followed by `pattern` (a regular expression),
    /// after recording the request and applying any matching fault.
    void route(const char *method, const std::string &pattern, Handler handler);
    /// The same with a pattern for the whole path, prefix not applied.
    void addRoute(const char *method, const std::string &fullPattern, Handler handler);
    /// Records the request and answers it with a matching fault; false when none matched.
    bool recordAndApplyFault(const httplib::Request &request, httplib::Response &response);
    /// Blocks until stalls are released or the backend stops; true when stopping.
    bool waitWhileStalled(std::optional<std::chrono::milliseconds> limit = std::nullopt);

    /// Replaces the account's given password with its hash. Takes no lock: hashing is slow, and
    /// is kept out of the lock every request waits for.
    void hashPassword(Account &account) const;
    /// The password hash of the account of `email`, taken under the lock; none without one.
    std::optional<PasswordHash> passwordHashOf(const QString &email);

    // Everything below is guarded by `mutex`.

    /// The account of the request's bearer token, or null after answering 401.
    Account *authorizedAccount(const httplib::Request &request, httplib::Response &response);
    Account *findAccount(const QString &email);
    QString newToken(const QString &email);

    httplib::Server server;
    std::thread thread;
    int port = 0;
    QByteArray prefix;
    /// Set once before serving, so read without the lock.
    int passwordHashIterations = 0;

    mutable std::mutex mutex;
    std::condition_variable stallChanged;
    bool stopping = false;
    quint64 stallGeneration = 0;

    struct FaultRule
    {
        QByteArray method;
        QByteArray path;
        Fault fault;
        int remaining = 0; ///< 0: unlimited
    };

    QList<FaultRule> faults;
    QList<RecordedRequest> requests;
    bool recordsRequests = true;

    QList<Account> accounts;
    QHash<QString, QString> sessions; ///< token -> e-mail
    qint64 nextId = 1;
    quint64 nextToken = 1;
    QStringList passwordResetEmails;

    // Verified backup state.

    /// A multipart upload opened for a library item.
    struct MultipartUpload
    {
        QString uploadID;
        qint64 partCount = 0;
        bool complete = false;
        qint64 partSize = 0;
        /// The size of the object completion assembled.
        qint64 assembledByteCount = 0;
    };

    struct StoredItem
    {
        QString email;
        LibraryItem item;
        std::optional<MultipartUpload> rawUpload;
        std::optional<MultipartUpload> sidecarUpload;
        QString previewKey;
        /// The bytes a finalization added to the account's used storage.
        qint64 countedBytes = 0;
    };

    struct Reservation
    {
        QString id;
        QString email;
        qint64 byteCount = 0;
    };

    /// The account's item with `id`, or null.
    StoredItem *findItem(const QString &email, qint64 id);

    std::unique_ptr<TestObjectStore> objectStore;
    qint64 partSizeBytes = 0;
    bool discardUploads = false;
    TestBackend::RequestHook requestHook;
    TestBackend::Reauthorization reauthorization = TestBackend::Reauthorization::SameUpload;
    qint64 reauthorizationPartSize = 0;
    QList<StoredItem> items;
    QList<Reservation> reservations;
    quint64 nextUpload = 1;
    QHash<QString, int> resentVerifications;
    quint64 nextBillingSession = 1;
    RestoreRequestStore restore;
};

/// The object a completed multipart upload assembled from its parts.
inline QString assembledObjectKey(const TestBackend::Private::MultipartUpload &upload)
{
    return upload.uploadID + QStringLiteral("/assembled");
}

// Endpoint families.
void registerAccountRoutes(TestBackend::Private &backend);
void registerLibraryRoutes(TestBackend::Private &backend);
void registerHealthRoutes(TestBackend::Private &backend);
void registerRestoreRoutes(TestBackend::Private &backend);
void registerVerifiedBackupRoutes(TestBackend::Private &backend);

/// The account's storage in use: the plan's entitlement when paid, the trial quota otherwise.
inline std::pair<qint64 &, qint64> activeStorage(TestBackend::Account &account)
{
    UserLibrary &library = account.library;
    if (library.paidPlan.status == PaidPlanStatus::Paid)
        return {library.paidPlan.storageEntitlement.usedBytes,
                library.paidPlan.storageEntitlement.limitBytes};
    return {library.trialQuota.usedBytes, library.trialQuota.limitBytes};
}

// Reply helpers.
void replyJson(httplib::Response &response, int status, const QJsonObject &body);
void replyError(httplib::Response &response, int status, const QString &error);
/// The request body as a JSON object, or no value after answering 400.
std::optional<QJsonObject> requestObject(const httplib::Request &request,
                                         httplib::Response &response);

QJsonObject userJson(const TestBackend::Account &account);
QJsonObject libraryJson(const UserLibrary &library);
QJsonObject paidPlanJson(const PaidPlanState &plan);

} // namespace Pellwick::Test
