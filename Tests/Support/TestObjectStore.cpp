#include "TestObjectStore.h"

#include <PellwickCore/Support/AtomicFile.h>
#include <PellwickCore/Support/FileManager.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <cmath>
#include <csignal>
#include <limits>
#include <vector>

#include <Support/LoopbackConnections.h>
#include <fcntl.h>
#include <httplib.h>
#include <unistd.h>

namespace Pellwick::Test {

namespace {

const QByteArray objectPrefix = "/objects/";
const QByteArray signatureKey = "X-Pellwick-Signature";
const QByteArray expiresKey = "X-Pellwick-Expires";

/// The first and last byte of the one range `header` asks for, or no value when it cannot be
/// served: not a single "bytes=" range, or one that starts at or past the end.
std::optional<std::pair<qint64, qint64>> satisfiableRange(const std::string &header, qint64 size)
{
    const QByteArray text = QByteArray::fromStdString(header);
    if (!text.startsWith("bytes=") || text.contains(','))
        return std::nullopt;
    const QByteArray rangeText = text.mid(6);
    const qsizetype dash = rangeText.indexOf('-');
    if (dash < 0)
        return std::nullopt;
    const QByteArray first = rangeText.left(dash);
    const QByteArray last = rangeText.mid(dash + 1);
    auto number = [](const QByteArray &digits) -> std::optional<qint64> {
        bool ok = false;
        const qint64 value = digits.toLongLong(&ok);
        if (!ok || digits.isEmpty() || digits.front() < '0' || digits.front() > '9')
            return std::nullopt;
        return value;
    };
    if (first.isEmpty()) {
        const std::optional<qint64> suffix = number(last);
        if (!suffix || *suffix == 0 || size == 0)
            return std::nullopt;
        return std::pair{std::max<qint64>(0, size - *suffix), size - 1};
    }
    const std::optional<qint64> start = number(first);
    if (!start || *start >= size)
        return std::nullopt;
    if (last.isEmpty())
        return std::pair{*start, size - 1};
    const std::optional<qint64> end = number(last);
    if (!end || *end < *start)
        return std::nullopt;
    return std::pair{*start, std::min(*end, size - 1)};
}

/// The file name of `key`: every byte but letters, digits, "-", "_" and "~" percent-encoded, so
/// the name is one path component that never starts with a dot.
QString objectFileName(const QString &key)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(key, {}, "."));
}

/// Names longer than a file system allows cannot be kept.
constexpr qsizetype maximumFileNameLength = 255;

RecordedRequest record(const httplib::Request &request)
{
    RecordedRequest recorded;
    recorded.method = QByteArray::fromStdString(request.method);
    recorded.path = QByteArray::fromStdString(request.path);
    recorded.target = QByteArray::fromStdString(request.target);
    recorded.clientPort = static_cast<quint16>(request.remote_port);
    for (const auto &[name, value] : request.headers)
        recorded.headers.append(QByteArray::fromStdString(name), QByteArray::fromStdString(value));
    return recorded;
}

QString quotedMD5(const QByteArray &body)
{
    return QLatin1Char('"')
           + QString::fromLatin1(QCryptographicHash::hash(body, QCryptographicHash::Md5).toHex())
           + QLatin1Char('"');
}

} // namespace

TestObjectStore::TestObjectStore(BodyStorage storage)
    : m_storage(storage)
    , m_server(std::make_unique<httplib::Server>())
{
    // The server writes to sockets without MSG_NOSIGNAL; a client that goes away must not end
    // the test process.
    std::signal(SIGPIPE, SIG_IGN);

    m_server->Put(
        objectPrefix.toStdString() + ".*",
        [this](const httplib::Request &request,
               httplib::Response &response,
               const httplib::ContentReader &reader) { handlePut(request, response, reader); });
    m_server->Get(objectPrefix.toStdString() + ".*",
                  [this](const httplib::Request &request, httplib::Response &response) {
                      handleGet(request, response);
                  });
    // Clients keep connections for reuse; the server never ends one after a number of requests.
    m_server->set_keep_alive_max_count(std::numeric_limits<int>::max());
    // Headers and body leave in separate writes; without this the body's last segment waits for
    // the client's delayed acknowledgement (40 ms on every reply).
    m_server->set_tcp_nodelay(true);
    const int port = m_server->bind_to_any_port("127.0.0.1");
    if (port <= 0)
        qFatal("object store: cannot bind a loopback port");
    m_port = static_cast<quint16>(port);
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // `stop` is ignored until the server runs, so it must be running before anyone can stop it.
    while (!m_server->is_running())
        std::this_thread::yield();
}

TestObjectStore::~TestObjectStore()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_stallChanged.notify_all();
    m_server->stop();
    shutDownConnections(m_port);
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

void TestObjectStore::putObject(const QString &key, const QByteArray &body)
{
    const std::lock_guard lock(m_mutex);
    if (!storeLocked(key, StoredObject{body, body.size(), quotedMD5(body), {}}))
        qWarning("object store: cannot keep the object %s", qPrintable(key));
}

bool TestObjectStore::storeLocked(const QString &key, StoredObject object)
{
    if (m_directory) {
        // Kept as a file and served from it, so stored objects do not fill the memory.
        const QString name = objectFileName(key);
        const QString path = QDir(*m_directory).filePath(name);
        if (name.size() > maximumFileNameLength
            || !writeFileAtomically(LocalFileManager(), path, object.body, FileAccess::OwnerOnly))
            return false;
        object.body.clear();
        object.filePath = path;
    }
    m_objects[key] = std::move(object);
    return true;
}

Result<void> TestObjectStore::keepObjectsIn(const QString &directory)
{
    PELLWICK_TRY(LocalFileManager().createPrivateDirectory(directory));
    std::map<QString, StoredObject> loaded;
    const QStringList names = QDir(directory).entryList(QDir::Files | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        const QString key = QUrl::fromPercentEncoding(name.toLatin1());
        if (objectFileName(key) != name)
            continue; // not an object's file
        QFile file(QDir(directory).filePath(name));
        QCryptographicHash md5(QCryptographicHash::Md5);
        if (!file.open(QIODevice::ReadOnly) || !md5.addData(&file))
            return failure(FileSystemError{QStringLiteral("open"), file.fileName(), EIO});
        const QString etag
            = QLatin1Char('"') + QString::fromLatin1(md5.result().toHex()) + QLatin1Char('"');
        loaded[key] = StoredObject{{}, file.size(), etag, file.fileName()};
    }
    const std::lock_guard lock(m_mutex);
    for (auto &[key, object] : loaded)
        m_objects[key] = std::move(object);
    m_directory = directory;
    return {};
}

void TestObjectStore::setRecordsRequests(bool records)
{
    const std::lock_guard lock(m_mutex);
    m_recordsRequests = records;
}

QString TestObjectStore::presignedGetURL(const QString &key, Date expiresAt) const
{
    const QByteArray path = objectPrefix + QUrl::toPercentEncoding(key, "/");
    const auto expiresMs = static_cast<qint64>(std::floor(expiresAt.unixSeconds() * 1000));
    const QByteArray signedPart = path + '?' + expiresKey + '=' + QByteArray::number(expiresMs);
    return baseURL()
           + QString::fromLatin1(signedPart + '&' + signatureKey + '=' + signature(signedPart));
}

void TestObjectStore::putObjectFile(const QString &key, const QString &path)
{
    const std::lock_guard lock(m_mutex);
    m_objects[key] = StoredObject{{}, QFileInfo(path).size(), {}, path};
}

void TestObjectStore::setGetDelay(std::chrono::milliseconds delay)
{
    const std::lock_guard lock(m_mutex);
    m_getDelay = delay;
}

void TestObjectStore::setGetFault(GetFault fault)
{
    const std::lock_guard lock(m_mutex);
    m_getFault = fault;
}

bool TestObjectStore::stallUntilReleased()
{
    std::unique_lock lock(m_mutex);
    const quint64 generation = m_stallGeneration;
    ++m_stalledCount;
    m_stallChanged.notify_all();
    m_stallChanged.wait(lock, [&] { return m_stopping || m_stallGeneration != generation; });
    --m_stalledCount;
    return m_stopping;
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
    if (!found->second.filePath.isEmpty()) {
        QFile file(found->second.filePath);
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return file.readAll();
    }
    return found->second.body;
}

std::optional<qint64> TestObjectStore::byteCount(const QString &key) const
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_objects.find(key);
    if (found == m_objects.end())
        return std::nullopt;
    return found->second.byteCount;
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

void TestObjectStore::handlePut(const httplib::Request &request,
                                httplib::Response &response,
                                const httplib::ContentReader &reader)
{
    RecordedRequest recorded = record(request);

    PutBehaviour behaviour;
    {
        const std::lock_guard lock(m_mutex);
        behaviour = m_behaviour;
    }

    QByteArray body;
    qint64 received = 0;
    bool stalled = false;
    bool reset = false;
    const bool complete = reader([&](const char *data, size_t length) {
        const auto size = static_cast<qint64>(length);
        if (!stalled && behaviour.stallAfterBytes && received + size > *behaviour.stallAfterBytes) {
            stalled = true;
            if (stallUntilReleased())
                return false;
        }
        if (behaviour.resetAfterBytes && received + size > *behaviour.resetAfterBytes) {
            reset = true;
            shutDownConnections(static_cast<quint16>(request.local_port),
                                static_cast<quint16>(request.remote_port),
                                true);
            return false;
        }
        received += size;
        if (m_storage == BodyStorage::Keep)
            body.append(data, size);
        return true;
    });
    recorded.body = body;

    const QByteArray path = recorded.target.left(recorded.target.indexOf('?'));
    const QString key = QString::fromUtf8(path.mid(objectPrefix.size()));
    const bool signatureValid
        = recorded.target == path + '?' + signatureKey + '=' + signature(path);
    const QString etag = m_storage == BodyStorage::Keep
                             ? quotedMD5(body)
                             : QStringLiteral("\"%1-bytes\"").arg(received);

    const std::lock_guard lock(m_mutex);
    if (m_recordsRequests)
        m_requests.append(recorded);
    // A body cut short is never stored, whatever the status switch says.
    if (reset || m_stopping || !complete
        || received
               != QByteArray::fromStdString(request.get_header_value("Content-Length"))
                      .toLongLong())
        return;
    if (!signatureValid) {
        response.status = 403;
        response.set_content("SignatureDoesNotMatch", "text/plain");
        return;
    }
    if (behaviour.status >= 200 && behaviour.status <= 299
        && !storeLocked(key, StoredObject{body, received, etag, {}})) {
        response.status = 500;
        response.set_content("InternalError", "text/plain");
        return;
    }
    response.status = behaviour.status;
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

void TestObjectStore::handleGet(const httplib::Request &request, httplib::Response &response)
{
    // Ranges are answered here. The library would slice the body again by its own parse of the
    // Range header, answering a range past the end with 206 and a nonsensical length; with its
    // parsed ranges cleared it sends what this handler sets. (A malformed Range header never gets
    // here: the library answers it with a bare 416.)
    const_cast<httplib::Request &>(request).ranges.clear();

    RecordedRequest recorded = record(request);

    const qsizetype question = recorded.target.indexOf('?');
    const QByteArray path = recorded.target.left(question);
    const QByteArray query = question < 0 ? QByteArray() : recorded.target.mid(question + 1);
    const qsizetype ampersand = query.indexOf('&');
    const QByteArray signedPart = path + '?' + query.left(ampersand);
    const bool signatureValid
        = query.startsWith(QByteArray(expiresKey + "=")) && ampersand > 0
          && query.mid(ampersand + 1) == QByteArray(signatureKey + "=" + signature(signedPart));
    const qint64 expiresMs = query.left(ampersand).mid(expiresKey.size() + 1).toLongLong();
    const bool expired = static_cast<double>(expiresMs) / 1000 <= Date::now().unixSeconds();
    const QString key = QUrl::fromPercentEncoding(path.mid(objectPrefix.size()));

    GetFault fault = GetFault::None;
    std::optional<StoredObject> stored;
    std::chrono::milliseconds delay{0};
    {
        const std::lock_guard lock(m_mutex);
        if (m_recordsRequests)
            m_requests.append(recorded);
        fault = m_getFault;
        delay = m_getDelay;
        if (const auto found = m_objects.find(key); found != m_objects.end())
            stored = found->second;
    }
    if (delay.count() > 0) {
        std::unique_lock lock(m_mutex);
        m_stallChanged.wait_for(lock, delay, [this] { return m_stopping; });
    }

    if (!signatureValid) {
        response.status = 403;
        response.set_content("SignatureDoesNotMatch", "text/plain");
        return;
    }
    if (expired || fault == GetFault::Expired) {
        response.status = 403;
        response.set_content("AccessDenied: Request has expired", "text/plain");
        return;
    }
    if (!stored) {
        response.status = 404;
        response.set_content("NoSuchKey", "text/plain");
        return;
    }

    const qint64 size = stored->byteCount;
    qint64 first = 0;
    qint64 last = size - 1;
    response.status = 200;
    if (request.has_header("Range") && fault != GetFault::IgnoreRange) {
        const auto range = satisfiableRange(request.get_header_value("Range"), size);
        if (!range) {
            response.status = 416;
            response.set_header("Content-Range",
                                QStringLiteral("bytes */%1").arg(size).toStdString());
            return;
        }
        response.status = 206;
        first = range->first;
        last = range->second;
        if (fault == GetFault::OtherRange && last + 1 < size) {
            ++first;
            ++last;
        }
        const qint64 named = fault == GetFault::UnderAnnounced ? first + (last - first) / 2 : last;
        if (fault != GetFault::NoContentRange)
            response.set_header(
                "Content-Range",
                QStringLiteral("bytes %1-%2/%3").arg(first).arg(named).arg(size).toStdString());
    }
    const qint64 length = last - first + 1;

    QByteArray body;
    if (stored->filePath.isEmpty()) {
        body = stored->body.mid(first, length);
    } else {
        const int descriptor = ::open(QFile::encodeName(stored->filePath).constData(), O_RDONLY);
        if (descriptor < 0) {
            response.status = 500;
            return;
        }
        const std::shared_ptr<int> file(new int(descriptor), [](const int *fd) {
            ::close(*fd);
            delete fd;
        });
        if (fault == GetFault::None || fault == GetFault::IgnoreRange
            || fault == GetFault::OtherRange || fault == GetFault::NoContentRange
            || fault == GetFault::UnderAnnounced) {
            response.set_content_provider(
                static_cast<size_t>(length),
                "application/octet-stream",
                [file, first](size_t offset, size_t wanted, httplib::DataSink &sink) {
                    std::vector<char> buffer(std::min<size_t>(wanted, 1 << 20));
                    const ssize_t got = ::pread(
                        *file, buffer.data(), buffer.size(), static_cast<off_t>(first + offset));
                    return got > 0 && sink.write(buffer.data(), static_cast<size_t>(got));
                });
            return;
        }
        body.resize(length);
        if (::pread(*file, body.data(), length, first) != length) {
            response.status = 500;
            return;
        }
    }

    switch (fault) {
    case GetFault::None:
    case GetFault::IgnoreRange:
    case GetFault::Expired:
    case GetFault::OtherRange:
    case GetFault::NoContentRange:
    case GetFault::UnderAnnounced:
        response.set_content(body.toStdString(), "application/octet-stream");
        break;
    case GetFault::WrongBytes:
        for (char &byte : body)
            byte = static_cast<char>(~byte);
        response.set_content(body.toStdString(), "application/octet-stream");
        break;
    case GetFault::ShortBody:
    case GetFault::Stall: {
        const bool stall = fault == GetFault::Stall;
        response.set_content_provider(
            static_cast<size_t>(body.size()),
            "application/octet-stream",
            [this, body, stall](size_t offset, size_t, httplib::DataSink &sink) {
                const auto half = static_cast<size_t>(body.size() / 2);
                if (offset == 0 && half > 0)
                    return sink.write(body.constData(), half);
                if (stall)
                    stallUntilReleased();
                return false; // closes the connection short of the announced length
            });
        break;
    }
    }
}

} // namespace Pellwick::Test
