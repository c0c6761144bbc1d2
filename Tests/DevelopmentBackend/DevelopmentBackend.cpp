#include "DevelopmentBackend.h"

#include <PellwickCore/Support/AtomicFile.h>
#include <PellwickCore/Support/Error.h>
#include <PellwickCore/Support/FileManager.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMetaObject>
#include <QPointer>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>

#include <Support/TestBackend/TestBackend.h>
#include <Support/TestObjectStore.h>
#include <sys/stat.h>

namespace Pellwick::Test {

namespace {

/// What a preparing restore request says of its wait when it will be ready after `delay`.
QString preparationEstimate(std::chrono::milliseconds delay)
{
    // Whole seconds or minutes, rounded up: a request is never announced as sooner than it is.
    const qint64 seconds = std::max<qint64>(1, (delay.count() + 999) / 1000);
    if (seconds < 60)
        return seconds == 1 ? QStringLiteral("about 1 second")
                            : QStringLiteral("about %1 seconds").arg(seconds);
    const qint64 minutes = (seconds + 59) / 60;
    return minutes == 1 ? QStringLiteral("about 1 minute")
                        : QStringLiteral("about %1 minutes").arg(minutes);
}

/// Makes the folder and the files directly in it readable by their owner only: a folder an
/// earlier version made, and the files it wrote there, are readable by every user.
Result<void> keepForOwnerOnly(const QString &directory)
{
    const auto restrict = [](const QString &path, mode_t mode) -> Result<void> {
        if (::chmod(QFile::encodeName(path).constData(), mode) != 0)
            return fileSystemFailure(QStringLiteral("chmod"), path, errno);
        return {};
    };
    PELLWICK_TRY(restrict(directory, 0700));
    const QDir folder(directory);
    for (const QString &name : folder.entryList(QDir::Files | QDir::Hidden | QDir::NoSymLinks))
        PELLWICK_TRY(restrict(folder.filePath(name), 0600));
    return {};
}

} // namespace

QString DevelopmentBackend::stateFile(const QString &stateDirectory)
{
    return QDir(stateDirectory).filePath(QStringLiteral("state.json"));
}

QString DevelopmentBackend::defaultStateDirectory()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return QDir(base).filePath(QStringLiteral("pellwick-dev-backend"));
}

std::unique_ptr<DevelopmentBackend> DevelopmentBackend::open(const Options &options,
                                                             QString *errorMessage)
{
    const QString directory = QDir(options.stateDirectory).absolutePath();
    if (const Result<void> made = LocalFileManager().createPrivateDirectory(directory); !made) {
        *errorMessage = QStringLiteral("cannot create the state folder %1: %2")
                            .arg(directory, describe(made.error()));
        return nullptr;
    }
    const QString objects = QDir(directory).filePath(QStringLiteral("objects"));
    for (const QString &folder : {directory, objects}) {
        if (!QFileInfo::exists(folder))
            continue;
        if (const Result<void> kept = keepForOwnerOnly(folder); !kept) {
            *errorMessage = QStringLiteral("cannot keep %1 for its owner only: %2")
                                .arg(folder, describe(kept.error()));
            return nullptr;
        }
    }
    const QString file = stateFile(directory);
    std::optional<QJsonObject> state;
    if (QFile::exists(file)) {
        QFile input(file);
        if (!input.open(QIODevice::ReadOnly)) {
            *errorMessage = QStringLiteral("cannot read the state file %1: %2")
                                .arg(file, input.errorString());
            return nullptr;
        }
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(input.readAll(), &parseError);
        if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
            *errorMessage = QStringLiteral("cannot read the state file %1: not a JSON object (%2)")
                                .arg(file, parseError.errorString());
            return nullptr;
        }
        state = document.object();
    }

    TestBackend::Options backendOptions;
    backendOptions.port = options.port;
    backendOptions.passwordHashIterations = options.passwordHashIterations;
    auto backend = std::make_unique<TestBackend>(backendOptions);
    // A request log reads the backend's record of requests, drained after each one; the object
    // store's record would only grow.
    backend->setRecordsRequests(false);
    if (!options.requestLog.isEmpty()) {
        backend->setRecordsRequests(true);
        backend->objectStore().setRecordsRequests(false);
        QFile log(options.requestLog);
        if (!log.open(QIODevice::WriteOnly | QIODevice::Append)) {
            *errorMessage = QStringLiteral("cannot write the request log %1: %2")
                                .arg(options.requestLog, log.errorString());
            return nullptr;
        }
    }
    if (state) {
        if (const Result<void> restored = backend->restoreState(*state); !restored) {
            *errorMessage = QStringLiteral("cannot read the state file %1: %2")
                                .arg(file, describe(restored.error()));
            return nullptr;
        }
    }
    if (const Result<void> kept = backend->objectStore().keepObjectsIn(objects); !kept) {
        *errorMessage = QStringLiteral("cannot read the stored objects in %1: %2")
                            .arg(objects, describe(kept.error()));
        return nullptr;
    }
    Options opened = options;
    opened.stateDirectory = directory;
    std::unique_ptr<DevelopmentBackend> opening(new DevelopmentBackend(opened, std::move(backend)));
    // A state file of an earlier version holds passwords as typed: replaced at once by their
    // hashes.
    const QJsonArray accounts
        = state ? state->value(QStringLiteral("accounts")).toArray() : QJsonArray();
    if (std::any_of(accounts.begin(), accounts.end(), [](const QJsonValue &account) {
            return account.toObject().contains(QStringLiteral("password"));
        })) {
        opening->save();
    }
    return opening;
}

DevelopmentBackend::DevelopmentBackend(const Options &options, std::unique_ptr<TestBackend> backend)
    : m_options(options)
    , m_backend(std::move(backend))
{
    m_backend->setRequestHook(
        [this](const QByteArray &method, const QByteArray &path, bool applied) {
            if (applied)
                requestApplied(method, path);
            return true;
        });
    m_backend->setPreparationEstimate(preparationEstimate(options.restoreReadyDelay));
    // Restore requests in preparation become ready after the delay, checked a few times a second.
    auto *timer = new QTimer(this);
    timer->setInterval(std::min<std::chrono::milliseconds>(options.restoreReadyDelay / 4,
                                                           std::chrono::milliseconds(500)));
    connect(timer, &QTimer::timeout, this, &DevelopmentBackend::advanceRestoreRequests);
    timer->start();
}

DevelopmentBackend::~DevelopmentBackend()
{
    m_backend->setRequestHook({});
}

QUrl DevelopmentBackend::baseURL() const
{
    return m_backend->baseURL();
}

QString DevelopmentBackend::tokenFingerprint(const QByteArray &token)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(token, QCryptographicHash::Sha256).toHex().left(12));
}

void DevelopmentBackend::requestApplied(const QByteArray &method, const QByteArray &path)
{
    if (!m_options.requestLog.isEmpty())
        logRequests();
    if (method == "GET")
        return;
    if (method == "POST" && path == "/api/auth/registrations")
        verifyNewAccounts();
    save();
}

void DevelopmentBackend::verifyNewAccounts()
{
    for (const QString &email : m_backend->accountEmails()) {
        const std::optional<TestBackend::Account> account = m_backend->account(email);
        if (!account || account->emailVerified)
            continue;
        m_backend->updateAccount(
            email, [](TestBackend::Account &changed) { changed.emailVerified = true; });
        const QString line
            = QStringLiteral("Registered %1 and marked it verified at once (this stand-in "
                             "sends no e-mail).")
                  .arg(email);
        QMetaObject::invokeMethod(
            this, [this, line] { Q_EMIT notice(line); }, Qt::QueuedConnection);
    }
}

void DevelopmentBackend::advanceRestoreRequests()
{
    static QHash<qint64, std::chrono::steady_clock::time_point> firstSeen;
    const auto now = std::chrono::steady_clock::now();
    bool changed = false;
    for (const qint64 id : m_backend->restoreRequestIDs()) {
        const std::optional<RestoreRequest> request = m_backend->restoreRequest(id);
        if (!request || request->status != RestoreRequestStatus::Preparing) {
            firstSeen.remove(id);
            continue;
        }
        const auto seen = firstSeen.constFind(id);
        if (seen == firstSeen.cend()) {
            firstSeen.insert(id, now);
            continue;
        }
        if (now - *seen < m_options.restoreReadyDelay)
            continue;
        m_backend->setRestoreRequestStatus(id, RestoreRequestStatus::Ready);
        firstSeen.remove(id);
        changed = true;
        Q_EMIT notice(QStringLiteral("Restore request %1 is ready.").arg(id));
    }
    if (changed)
        save();
}

void DevelopmentBackend::logRequests()
{
    const std::lock_guard lock(m_logMutex);
    QByteArray lines;
    for (const RecordedRequest &request : m_backend->takeRequests()) {
        const QByteArray authorization
            = request.headers.value("Authorization").value_or(QByteArray());
        const QByteArray scheme = QByteArrayLiteral("Bearer ");
        const QString token = authorization.startsWith(scheme)
                                  ? tokenFingerprint(authorization.mid(scheme.size()))
                                  : QStringLiteral("-");
        lines += request.method + ' ' + request.path + " token=" + token.toLatin1() + '\n';
    }
    QFile log(m_options.requestLog);
    if (lines.isEmpty() || !log.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    log.write(lines);
}

void DevelopmentBackend::save()
{
    // One save at a time, each with the state as it is when it starts, so a later save never
    // writes an older state.
    const std::lock_guard lock(m_saveMutex);
    const QByteArray data = QJsonDocument(m_backend->state()).toJson(QJsonDocument::Compact);
    const Result<void> written = writeFileAtomically(
        LocalFileManager(), stateFile(m_options.stateDirectory), data, FileAccess::OwnerOnly);
    if (!written) {
        qWarning("pellwick-dev-backend: cannot save the state: %s",
                 qPrintable(describe(written.error())));
    }
}

} // namespace Pellwick::Test
