#include "SessionTokenStore.h"

#include <PellwickApp/Stores/PellwickIdentity.h>

#include <QObject>
#include <QSemaphore>
#include <QStringDecoder>
#include <QThread>
#include <qt6keychain/keychain.h>

#include <functional>
#include <memory>

namespace Pellwick {

namespace {

/// The one thread of the process that runs keychain jobs. QtKeychain queues every job of the
/// process on one executor object that belongs to the thread which started the first job, so all
/// jobs must start on the same thread and that thread must outlive them: it runs until the
/// process exits.
class KeychainThread
{
public:
    static KeychainThread &instance()
    {
        static KeychainThread thread;
        return thread;
    }

    KeychainThread(const KeychainThread &) = delete;
    KeychainThread &operator=(const KeychainThread &) = delete;

    ~KeychainThread()
    {
        m_thread.quit();
        m_thread.wait();
        delete m_context;
    }

    /// Runs `work` on the keychain thread, after everything posted before it.
    void post(std::function<void()> work)
    {
        QMetaObject::invokeMethod(m_context, std::move(work), Qt::QueuedConnection);
    }

private:
    KeychainThread()
        : m_context(new QObject)
    {
        m_thread.setObjectName(QStringLiteral("Keychain"));
        m_context->moveToThread(&m_thread);
        m_thread.start();
    }

    QThread m_thread;
    QObject *m_context;
};

/// What one operation reports back to the waiting caller. Shared, so that a job finishing after
/// the caller gave up writes into memory that is still alive.
struct Completion
{
    QSemaphore finished;
    QKeychain::Error error = QKeychain::NoError;
    QByteArray data;
};

/// Starts `job` (already configured) and calls `done` on the keychain thread when it finishes.
void startJob(QKeychain::Job *job,
              const QString &account,
              std::function<void(QKeychain::Job *)> done)
{
    job->setKey(account);
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    QObject::connect(job, &QKeychain::Job::finished, job, std::move(done));
    job->start();
}

/// Runs `start` on the keychain thread and waits until it releases the completion, at most
/// `timeout`. No value when the keychain did not finish in time.
std::shared_ptr<Completion>
runOnKeychainThread(std::function<void(const std::shared_ptr<Completion> &)> start,
                    std::chrono::milliseconds timeout)
{
    auto completion = std::make_shared<Completion>();
    KeychainThread::instance().post([start = std::move(start), completion] { start(completion); });
    if (!completion->finished.tryAcquire(1, static_cast<int>(timeout.count())))
        return nullptr;
    return completion;
}

std::optional<QString> decodeUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless
                               | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace

SessionTokenStore::SessionTokenStore()
    : SessionTokenStore(defaultService(), defaultAccount())
{}

SessionTokenStore::SessionTokenStore(QString service,
                                     QString account,
                                     std::chrono::milliseconds timeout)
    : m_service(std::move(service))
    , m_account(std::move(account))
    , m_timeout(timeout)
{}

QString SessionTokenStore::defaultService()
{
    return PellwickIdentity::applicationIdentifier() + QStringLiteral(".session");
}

QString SessionTokenStore::defaultAccount()
{
    return QStringLiteral("current-user");
}

std::optional<QString> SessionTokenStore::load() const
{
    const std::shared_ptr<Completion> completion = runOnKeychainThread(
        [service = m_service, account = m_account](const std::shared_ptr<Completion> &done) {
            startJob(new QKeychain::ReadPasswordJob(service), account, [done](QKeychain::Job *job) {
                done->error = job->error();
                done->data = static_cast<QKeychain::ReadPasswordJob *>(job)->binaryData();
                done->finished.release();
            });
        },
        m_timeout);
    if (!completion || completion->error != QKeychain::NoError)
        return std::nullopt;
    return decodeUtf8(completion->data);
}

void SessionTokenStore::save(const QString &token) const
{
    const QByteArray bytes = token.toUtf8();
    // The outcome is not reported: waiting only keeps the caller's operations in order.
    (void) runOnKeychainThread(
        [service = m_service, account = m_account, bytes](const std::shared_ptr<Completion> &done) {
            startJob(new QKeychain::DeletePasswordJob(service),
                     account,
                     [service, account, bytes, done](QKeychain::Job *) {
                         auto *write = new QKeychain::WritePasswordJob(service);
                         write->setBinaryData(bytes);
                         startJob(write, account, [done](QKeychain::Job *) {
                             done->finished.release();
                         });
                     });
        },
        m_timeout);
}

void SessionTokenStore::remove() const
{
    (void) runOnKeychainThread(
        [service = m_service, account = m_account](const std::shared_ptr<Completion> &done) {
            startJob(new QKeychain::DeletePasswordJob(service), account, [done](QKeychain::Job *) {
                done->finished.release();
            });
        },
        m_timeout);
}

} // namespace Pellwick
