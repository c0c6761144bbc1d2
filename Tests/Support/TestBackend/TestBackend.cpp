#include "TestBackend.h"

#include "TestBackend_p.h"

#include <QJsonDocument>

#include <algorithm>
#include <limits>
#include <regex>

#include <Support/LoopbackConnections.h>

namespace Pellwick::Test {

namespace {

QByteArray toBytes(const std::string &text)
{
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

std::string toStd(const QByteArray &bytes)
{
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

std::string escapeForPattern(const QByteArray &literal)
{
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(toStd(literal), special, R"(\$&)");
}

} // namespace

// --- Faults -------------------------------------------------------------------------------------

TestBackend::Fault TestBackend::Fault::reply(int status, QByteArray body, QByteArray contentType)
{
    Fault fault;
    fault.status = status;
    fault.body = std::move(body);
    if (!contentType.isEmpty())
        fault.headers.set(QByteArrayLiteral("Content-Type"), contentType);
    return fault;
}

TestBackend::Fault TestBackend::Fault::stall()
{
    Fault fault;
    fault.kind = Kind::Stall;
    return fault;
}

TestBackend::Fault TestBackend::Fault::closeBeforeReply()
{
    Fault fault;
    fault.kind = Kind::CloseBeforeReply;
    return fault;
}

TestBackend::Fault TestBackend::Fault::closeConnection(int status, QByteArray partialBody)
{
    Fault fault;
    fault.kind = Kind::CloseConnection;
    fault.status = status;
    fault.body = std::move(partialBody);
    return fault;
}

TestBackend::Fault
TestBackend::Fault::trickle(QByteArray body, qint64 chunkSize, std::chrono::milliseconds interval)
{
    Fault fault;
    fault.kind = Kind::Trickle;
    fault.body = std::move(body);
    fault.chunkSize = std::max<qint64>(1, chunkSize);
    fault.interval = interval;
    return fault;
}

TestBackend::Fault
TestBackend::Fault::stallAfterHeaders(int status, QByteArray firstBytes, qint64 announcedLength)
{
    Fault fault;
    fault.kind = Kind::StallAfterHeaders;
    fault.status = status;
    fault.body = std::move(firstBytes);
    fault.chunkSize = announcedLength;
    return fault;
}

TestBackend::Fault TestBackend::Fault::withHeader(const QByteArray &name,
                                                  const QByteArray &value) const
{
    Fault copy = *this;
    copy.headers.append(name, value);
    return copy;
}

// --- Server -------------------------------------------------------------------------------------

bool TestBackend::Private::waitWhileStalled(std::optional<std::chrono::milliseconds> limit)
{
    std::unique_lock lock(mutex);
    const quint64 generation = stallGeneration;
    auto released = [&] { return stopping || stallGeneration != generation; };
    if (limit)
        stallChanged.wait_for(lock, *limit, released);
    else
        stallChanged.wait(lock, released);
    return stopping;
}

bool TestBackend::Private::recordAndApplyFault(const httplib::Request &request,
                                               httplib::Response &response)
{
    std::optional<Fault> fault;
    {
        std::lock_guard lock(mutex);
        RecordedRequest recorded;
        recorded.method = toBytes(request.method);
        recorded.path = toBytes(request.path);
        recorded.target = toBytes(request.target);
        recorded.clientPort = static_cast<quint16>(request.remote_port);
        for (const auto &[name, value] : request.headers)
            recorded.headers.append(toBytes(name), toBytes(value));
        recorded.body = toBytes(request.body);
        if (recordsRequests)
            requests.append(recorded);

        for (qsizetype i = 0; i < faults.size(); ++i) {
            FaultRule &rule = faults[i];
            if ((!rule.method.isEmpty() && rule.method != recorded.method)
                || rule.path != recorded.path) {
                continue;
            }
            fault = rule.fault;
            if (rule.remaining > 0 && --rule.remaining == 0)
                faults.removeAt(i);
            break;
        }
    }
    if (!fault)
        return false;

    response.status = fault->status;
    for (const auto &[name, value] : fault->headers.fields()) {
        if (name.compare("Content-Type", Qt::CaseInsensitive) != 0)
            response.set_header(toStd(name), toStd(value));
    }
    const std::string contentType
        = toStd(fault->headers.value("Content-Type").value_or(QByteArrayLiteral("text/plain")));

    switch (fault->kind) {
    case Fault::Kind::Reply:
        response.set_content(toStd(fault->body), contentType);
        break;
    case Fault::Kind::Stall:
        waitWhileStalled();
        response.status = 503;
        break;
    case Fault::Kind::CloseBeforeReply:
        // Not a byte of the reply reaches the client; what the server writes later is lost.
        shutDownConnections(static_cast<quint16>(port), static_cast<quint16>(request.remote_port));
        response.status = 503;
        break;
    case Fault::Kind::CloseConnection: {
        const QByteArray partial = fault->body;
        response.set_content_provider(
            static_cast<size_t>(partial.size() + 1024),
            contentType,
            [partial](size_t offset, size_t, httplib::DataSink &sink) {
                if (offset == 0 && !partial.isEmpty())
                    return sink.write(partial.constData(), static_cast<size_t>(partial.size()));
                return false; // closes the connection short of the announced length
            });
        break;
    }
    case Fault::Kind::Trickle: {
        const QByteArray body = fault->body;
        const qint64 chunk = fault->chunkSize;
        const auto interval = fault->interval;
        response.set_content_provider(
            static_cast<size_t>(body.size()),
            contentType,
            [this, body, chunk, interval](size_t offset, size_t length, httplib::DataSink &sink) {
                if (offset > 0 && waitWhileStalled(interval))
                    return false;
                const qint64 size = std::min<qint64>(chunk, static_cast<qint64>(length));
                return sink.write(body.constData() + offset, static_cast<size_t>(size));
            });
        break;
    }
    case Fault::Kind::StallAfterHeaders: {
        const QByteArray first = fault->body;
        response.set_content_provider(
            static_cast<size_t>(std::max<qint64>(fault->chunkSize, first.size())),
            contentType,
            [this, first](size_t offset, size_t, httplib::DataSink &sink) {
                if (offset == 0 && !first.isEmpty())
                    return sink.write(first.constData(), static_cast<size_t>(first.size()));
                waitWhileStalled();
                return false;
            });
        break;
    }
    }
    return true;
}

void TestBackend::Private::route(const char *method, const std::string &pattern, Handler handler)
{
    addRoute(method, escapeForPattern(prefix) + pattern, std::move(handler));
}

void TestBackend::Private::addRoute(const char *method, const std::string &full, Handler handler)
{
    auto wrapped = [this, handler = std::move(handler)](const httplib::Request &request,
                                                        httplib::Response &response) {
        const QByteArray requestMethod = QByteArray::fromStdString(request.method);
        const QByteArray path = QByteArray::fromStdString(request.path);
        if (requestHook && !requestHook(requestMethod, path, false)) {
            response.status = 503;
            return;
        }
        if (!recordAndApplyFault(request, response))
            handler(request, response);
        if (requestHook)
            requestHook(requestMethod, path, true);
    };
    const std::string_view name(method);
    if (name == "GET")
        server.Get(full, wrapped);
    else if (name == "POST")
        server.Post(full, wrapped);
    else if (name == "PUT")
        server.Put(full, wrapped);
    else if (name == "PATCH")
        server.Patch(full, wrapped);
    else if (name == "DELETE")
        server.Delete(full, wrapped);
    else if (name == "OPTIONS")
        server.Options(full, wrapped);
}

void TestBackend::setRequestHook(RequestHook hook)
{
    d->requestHook = std::move(hook);
}

TestBackend::Account *TestBackend::Private::findAccount(const QString &email)
{
    for (Account &account : accounts) {
        if (account.email == email)
            return &account;
    }
    return nullptr;
}

QString TestBackend::Private::newToken(const QString &email)
{
    const QString token = QStringLiteral("session-%1").arg(nextToken++);
    sessions.insert(token, email);
    return token;
}

TestBackend::Account *TestBackend::Private::authorizedAccount(const httplib::Request &request,
                                                              httplib::Response &response)
{
    const std::string header = request.get_header_value("Authorization");
    const std::string scheme = "Bearer ";
    if (header.rfind(scheme, 0) == 0) {
        const QString token = QString::fromStdString(header.substr(scheme.size()));
        if (Account *account = findAccount(sessions.value(token)))
            return account;
    }
    replyError(response, 401, QStringLiteral("unauthorized"));
    return nullptr;
}

TestBackend::TestBackend()
    : TestBackend(Options{})
{}

TestBackend::TestBackend(Options options)
    : d(std::make_unique<Private>())
{
    d->prefix = options.pathPrefix;
    d->partSizeBytes = options.partSizeBytes;
    d->discardUploads = options.discardUploads;
    d->passwordHashIterations = options.passwordHashIterations;
    d->objectStore = std::make_unique<TestObjectStore>(options.discardUploads
                                                           ? TestObjectStore::BodyStorage::Discard
                                                           : TestObjectStore::BodyStorage::Keep);
    d->server.set_keep_alive_timeout(1);
    // Clients keep connections for reuse; the server never ends one after a number of requests.
    d->server.set_keep_alive_max_count(std::numeric_limits<int>::max());
    // Headers and body leave in separate writes; without this the body waits for the client's
    // delayed acknowledgement of the headers (some 40 ms on a reply late in a connection).
    d->server.set_tcp_nodelay(true);
    registerHealthRoutes(*d);
    registerAccountRoutes(*d);
    registerLibraryRoutes(*d);
    registerVerifiedBackupRoutes(*d);
    registerRestoreRoutes(*d);
    // Everything else is recorded, may carry a fault, and is otherwise not found.
    for (const char *method : {"GET", "POST", "PUT", "PATCH", "DELETE", "OPTIONS"}) {
        auto notFound = [](const httplib::Request &, httplib::Response &response) {
            replyError(response, 404, QStringLiteral("not_found"));
        };
        d->addRoute(method, ".*", notFound);
    }

    if (options.port == 0) {
        d->port = d->server.bind_to_any_port("127.0.0.1");
    } else {
        d->port = d->server.bind_to_port("127.0.0.1", options.port) ? options.port : -1;
    }
    if (d->port <= 0)
        qFatal("The test backend could not bind to 127.0.0.1.");
    d->thread = std::thread([this] { d->server.listen_after_bind(); });
    // stop() only takes effect once the server runs.
    while (!d->server.is_running())
        std::this_thread::yield();
}

TestBackend::~TestBackend()
{
    {
        std::lock_guard lock(d->mutex);
        d->stopping = true;
    }
    d->stallChanged.notify_all();
    d->server.stop();
    shutDownConnections(static_cast<quint16>(d->port));
    d->thread.join();
}

int TestBackend::port() const
{
    return d->port;
}

QUrl TestBackend::baseURL() const
{
    return QUrl(url(QString::fromLatin1(d->prefix)));
}

QString TestBackend::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(d->port).arg(path);
}

UserLibrary TestBackend::defaultLibrary()
{
    UserLibrary library;
    library.trialQuota = {0, 5'000'000'000};
    library.paidPlan.status = PaidPlanStatus::Trial;
    library.paidPlan.priceCents = 1200;
    library.paidPlan.storageEntitlement = {0, 1'000'000'000'000};
    library.paidPlan.restoreAllowance = {0, 100'000'000'000};
    return library;
}

TestBackend::Account TestBackend::addAccount(Account account)
{
    Account kept = account;
    if (kept.passwordHash.hash.isEmpty())
        d->hashPassword(kept);
    account.passwordHash = kept.passwordHash;
    std::lock_guard lock(d->mutex);
    if (account.userId == 0)
        account.userId = d->nextId++;
    if (account.library.id == 0)
        account.library.id = d->nextId++;
    kept.userId = account.userId;
    kept.library.id = account.library.id;
    d->accounts.append(kept);
    return account;
}

std::optional<TestBackend::Account> TestBackend::account(const QString &email) const
{
    std::lock_guard lock(d->mutex);
    if (const Account *found = d->findAccount(email))
        return *found;
    return std::nullopt;
}

void TestBackend::updateAccount(const QString &email, const std::function<void(Account &)> &change)
{
    std::lock_guard lock(d->mutex);
    Account *found = d->findAccount(email);
    if (!found)
        return;
    change(*found);
    if (!found->password.isEmpty())
        d->hashPassword(*found);
}

QString TestBackend::issueToken(const QString &email)
{
    std::lock_guard lock(d->mutex);
    return d->newToken(email);
}

QStringList TestBackend::passwordResetEmails() const
{
    std::lock_guard lock(d->mutex);
    return d->passwordResetEmails;
}

int TestBackend::resentVerificationCount(const QString &email) const
{
    std::lock_guard lock(d->mutex);
    return d->resentVerifications.value(email);
}

void TestBackend::injectFault(const QByteArray &method,
                              const QByteArray &path,
                              const Fault &fault,
                              int times)
{
    std::lock_guard lock(d->mutex);
    d->faults.append({method, path, fault, times});
}

void TestBackend::clearFaults()
{
    std::lock_guard lock(d->mutex);
    d->faults.clear();
}

void TestBackend::releaseStalls()
{
    {
        std::lock_guard lock(d->mutex);
        ++d->stallGeneration;
    }
    d->stallChanged.notify_all();
}

QList<RecordedRequest> TestBackend::requests() const
{
    std::lock_guard lock(d->mutex);
    return d->requests;
}

int TestBackend::requestCount(const QByteArray &method, const QByteArray &path) const
{
    const QList<RecordedRequest> recorded = requests();
    return int(std::count_if(recorded.cbegin(), recorded.cend(), [&](const RecordedRequest &r) {
        return r.method == method && r.path == path;
    }));
}

void TestBackend::clearRequests()
{
    std::lock_guard lock(d->mutex);
    d->requests.clear();
}

QList<RecordedRequest> TestBackend::takeRequests()
{
    std::lock_guard lock(d->mutex);
    return std::exchange(d->requests, {});
}

// --- Reply helpers ------------------------------------------------------------------------------

void replyJson(httplib::Response &response, int status, const QJsonObject &body)
{
    response.status = status;
    response.set_content(toStd(QJsonDocument(body).toJson(QJsonDocument::Compact)),
                         "application/json");
}

void replyError(httplib::Response &response, int status, const QString &error)
{
    replyJson(response, status, QJsonObject{{QStringLiteral("error"), error}});
}

std::optional<QJsonObject> requestObject(const httplib::Request &request,
                                         httplib::Response &response)
{
    // The media type, without parameters such as "; charset=utf-8", in any letter case.
    const QByteArray type = toBytes(request.get_header_value("Content-Type")).split(';').front();
    if (type.trimmed().compare("application/json", Qt::CaseInsensitive) != 0) {
        replyError(response, 415, QStringLiteral("unsupported_media_type"));
        return std::nullopt;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(toBytes(request.body), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        replyError(response, 400, QStringLiteral("malformed_json"));
        return std::nullopt;
    }
    return document.object();
}

QJsonObject userJson(const TestBackend::Account &account)
{
    return QJsonObject{
        {QStringLiteral("id"), account.userId},
        {QStringLiteral("email"), account.email},
        {QStringLiteral("display_name"),
         account.displayName ? QJsonValue(*account.displayName) : QJsonValue(QJsonValue::Null)},
    };
}

namespace {

QJsonObject usedAndLimit(qint64 used, qint64 limit)
{
    return QJsonObject{{QStringLiteral("used_bytes"), used},
                       {QStringLiteral("limit_bytes"), limit}};
}

} // namespace

QJsonObject paidPlanJson(const PaidPlanState &plan)
{
    // Written independently of the client's own words, so a wrong word there is caught.
    QString status;
    switch (plan.status) {
    case PaidPlanStatus::Trial:
        status = QStringLiteral("trial");
        break;
    case PaidPlanStatus::Paid:
        status = QStringLiteral("paid");
        break;
    case PaidPlanStatus::Expired:
        status = QStringLiteral("expired");
        break;
    case PaidPlanStatus::PaymentFailed:
        status = QStringLiteral("payment_failed");
        break;
    }
    QJsonObject period;
    if (plan.billingPeriod) {
        period.insert(QStringLiteral("starts_at"), plan.billingPeriod->startsAt);
        period.insert(QStringLiteral("ends_at"), plan.billingPeriod->endsAt);
    }
    return QJsonObject{
        {QStringLiteral("status"), status},
        {QStringLiteral("price_cents"), plan.priceCents},
        {QStringLiteral("storage_entitlement"),
         usedAndLimit(plan.storageEntitlement.usedBytes, plan.storageEntitlement.limitBytes)},
        {QStringLiteral("restore_allowance"),
         usedAndLimit(plan.restoreAllowance.usedBytes, plan.restoreAllowance.limitBytes)},
        {QStringLiteral("billing_period"), period},
    };
}

QJsonObject libraryJson(const UserLibrary &library)
{
    return QJsonObject{
        {QStringLiteral("id"), library.id},
        {QStringLiteral("trial_quota"),
         usedAndLimit(library.trialQuota.usedBytes, library.trialQuota.limitBytes)},
        {QStringLiteral("paid_plan"), paidPlanJson(library.paidPlan)},
    };
}

} // namespace Pellwick::Test
