#include "TestObjectStore.h"

#include <QCryptographicHash>

#include <csignal>

#include <arpa/inet.h>
#include <dirent.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Pellwick::Test {

namespace {

const QByteArray objectPrefix = "/objects/";
const QByteArray signatureKey = "X-Pellwick-Signature";

quint16 socketPort(int fd, bool peer)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    auto *generic = reinterpret_cast<sockaddr *>(&address);
    const int result
        = peer ? ::getpeername(fd, generic, &length) : ::getsockname(fd, generic, &length);
    if (result != 0 || address.sin_family != AF_INET)
        return 0;
    return ntohs(address.sin_port);
}

/// Ends the server side of the connection of `request` with a TCP reset. The server runs in this
/// process, so its socket is found among our own descriptors by its two port numbers.
void resetConnection(const httplib::Request &request)
{
    DIR *fds = ::opendir("/proc/self/fd");
    if (fds == nullptr)
        return;
    while (const dirent *entry = ::readdir(fds)) {
        const int fd = std::atoi(entry->d_name);
        if (fd <= 2 || fd == ::dirfd(fds))
            continue;
        if (socketPort(fd, false) != request.local_port
            || socketPort(fd, true) != request.remote_port)
            continue;
        const linger abortive{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        // Shut down rather than close: the server still owns the descriptor and closes it,
        // which with a zero linger time sends the reset.
        ::shutdown(fd, SHUT_RDWR);
    }
    ::closedir(fds);
}

QString quotedMD5(const QByteArray &body)
{
    return QLatin1Char('"')
           + QString::fromLatin1(QCryptographicHash::hash(body, QCryptographicHash::Md5).toHex())
           + QLatin1Char('"');
}

} // namespace

struct TestObjectStore::Server
{
    httplib::Server http;

    static void handlePut(TestObjectStore &store,
                          const httplib::Request &request,
                          httplib::Response &response,
                          const httplib::ContentReader &reader);
};

TestObjectStore::TestObjectStore(BodyStorage storage)
    : m_storage(storage)
    , m_server(std::make_unique<Server>())
{
    // The server writes to sockets without MSG_NOSIGNAL; a client that goes away must not end
    // the test process.
    std::signal(SIGPIPE, SIG_IGN);

    m_server->http.Put(objectPrefix.toStdString() + ".*",
                       [this](const httplib::Request &request,
                              httplib::Response &response,
                              const httplib::ContentReader &reader) {
                           Server::handlePut(*this, request, response, reader);
                       });
    const int port = m_server->http.bind_to_any_port("127.0.0.1");
    if (port <= 0)
        qFatal("object store: cannot bind a loopback port");
    m_port = static_cast<quint16>(port);
    m_thread = std::thread([this] { m_server->http.listen_after_bind(); });
    // `stop` is ignored until the server runs, so it must be running before anyone can stop it.
    while (!m_server->http.is_running())
        std::this_thread::yield();
}

TestObjectStore::~TestObjectStore()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_stallChanged.notify_all();
    m_server->http.stop();
    m_thread.join();
}

QString TestObjectStore::baseURL() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

QByteArray TestObjectStore::signature(const QByteArray &path) const
{
    // Percent-escapes that a re-encoding client would turn into other text.
    return QCryptographicHash::hash(path, QCryptographicHash::Sha256).toHex().left(16)
           + "%2F%2B%3D";
}

QString TestObjectStore::presignedPutURL(const QString &key) const
{
    const QByteArray path = objectPrefix + key.toUtf8();
    return baseURL() + QString::fromLatin1(path + '?' + signatureKey + '=' + signature(path));
}

void TestObjectStore::setPutBehaviour(const PutBehaviour &behaviour)
{
    const std::lock_guard lock(m_mutex);
    m_behaviour = behaviour;
}

std::optional<QByteArray> TestObjectStore::object(const QString &key) const
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_objects.find(key);
    if (found == m_objects.end())
        return std::nullopt;
    return found->second.body;
}

std::optional<QString> TestObjectStore::etag(const QString &key) const
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_objects.find(key);
    if (found == m_objects.end())
        return std::nullopt;
    return found->second.etag;
}

QList<RecordedRequest> TestObjectStore::requests() const
{
    const std::lock_guard lock(m_mutex);
    return m_requests;
}

void TestObjectStore::waitUntilStalled()
{
    std::unique_lock lock(m_mutex);
    m_stallChanged.wait(lock, [this] { return m_stalledCount > 0 || m_stopping; });
}

void TestObjectStore::releaseStalls()
{
    {
        const std::lock_guard lock(m_mutex);
        ++m_stallGeneration;
    }
    m_stallChanged.notify_all();
}

void TestObjectStore::Server::handlePut(TestObjectStore &store,
                                        const httplib::Request &request,
                                        httplib::Response &response,
                                        const httplib::ContentReader &reader)
{
    RecordedRequest recorded;
    recorded.method = QByteArray::fromStdString(request.method);
    recorded.path = QByteArray::fromStdString(request.path);
    recorded.target = QByteArray::fromStdString(request.target);
    for (const auto &[name, value] : request.headers)
        recorded.headers.append(QByteArray::fromStdString(name), QByteArray::fromStdString(value));

    PutBehaviour behaviour;
    {
        const std::lock_guard lock(store.m_mutex);
        behaviour = store.m_behaviour;
    }

    QByteArray body;
    qint64 received = 0;
    bool stalled = false;
    bool reset = false;
    const bool complete = reader([&](const char *data, size_t length) {
        const auto size = static_cast<qint64>(length);
        if (!stalled && behaviour.stallAfterBytes && received + size > *behaviour.stallAfterBytes) {
            stalled = true;
            std::unique_lock lock(store.m_mutex);
            const quint64 generation = store.m_stallGeneration;
            ++store.m_stalledCount;
            store.m_stallChanged.notify_all();
            store.m_stallChanged.wait(
                lock, [&] { return store.m_stopping || store.m_stallGeneration != generation; });
            --store.m_stalledCount;
            if (store.m_stopping)
                return false;
        }
        if (behaviour.resetAfterBytes && received + size > *behaviour.resetAfterBytes) {
            reset = true;
            resetConnection(request);
            return false;
        }
        received += size;
        if (store.m_storage == BodyStorage::Keep)
            body.append(data, size);
        return true;
    });
    recorded.body = body;

    const QByteArray path = recorded.target.left(recorded.target.indexOf('?'));
    const QString key = QString::fromUtf8(path.mid(objectPrefix.size()));
    const bool signatureValid
        = recorded.target == path + '?' + signatureKey + '=' + store.signature(path);
    const QString etag = store.m_storage == BodyStorage::Keep
                             ? quotedMD5(body)
                             : QStringLiteral("\"%1-bytes\"").arg(received);

    const std::lock_guard lock(store.m_mutex);
    store.m_requests.append(recorded);
    // A body cut short is never stored, whatever the status switch says.
    if (reset || store.m_stopping || !complete
        || received
               != QByteArray::fromStdString(request.get_header_value("Content-Length"))
                      .toLongLong())
        return;
    if (!signatureValid) {
        response.status = 403;
        response.set_content("SignatureDoesNotMatch", "text/plain");
        return;
    }
    response.status = behaviour.status;
    if (behaviour.status >= 200 && behaviour.status <= 299)
        store.m_objects[key] = StoredObject{body, etag};
    switch (behaviour.etag) {
    case ETagMode::Quoted:
        response.set_header("ETag", etag.toStdString());
        break;
    case ETagMode::Missing:
        break;
    case ETagMode::Empty:
        response.set_header("ETag", "");
        break;
    }
}

} // namespace Pellwick::Test
