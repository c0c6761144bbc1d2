#include "SessionWorkflows.h"

#include <PellwickApp/Feedback/SessionFeedback.h>
#include <PellwickApp/Shell/Operations/ImportOperations.h>
#include <PellwickApp/Shell/State/SessionState.h>
#include <PellwickApp/Shell/State/ShellState.h>
#include <PellwickApp/Stores/SessionTokenStoring.h>
#include <PellwickCore/Backend/BackendReachabilityMonitor.h>
#include <PellwickCore/Backend/LibrarySessionClient.h>

#include <QPointer>

namespace Pellwick {

namespace {

std::optional<int> unexpectedStatusCode(const Error &error)
{
    const auto *client = error.as<LibrarySessionClientError>();
    return client ? client->unexpectedStatusCode() : std::nullopt;
}

/// The backend refused the token (401 or 403). Anything else (offline, throttled, a failing
/// backend, an unreadable reply) leaves the question open.
bool refusesToken(const Error &error)
{
    const std::optional<int> code = unexpectedStatusCode(error);
    return code && (*code == 401 || *code == 403);
}

} // namespace

SessionWorkflows::SessionWorkflows(Services services,
                                   SessionState &session,
                                   ShellState &shell,
                                   ImportOperations &imports,
                                   QObject *parent)
    : QObject(parent)
    , m_services(std::move(services))
    , m_sessionState(session)
    , m_shellState(shell)
    , m_imports(imports)
{
    Q_ASSERT_X(m_services.sessionClient && m_services.tokenStore,
               "SessionWorkflows",
               "every collaborator is required");
}

SessionWorkflows::~SessionWorkflows()
{
    if (m_healthCheckTask)
        m_healthCheckTask->cancel();
}

QCoro::Task<> SessionWorkflows::refresh()
{
    const QPointer<SessionWorkflows> self(this);
    // A slow older check (a stalled connection) must neither overwrite a newer answer nor keep
    // holding a worker: every press of Refresh would otherwise add one more.
    if (m_healthCheckTask)
        m_healthCheckTask->cancel();
    m_healthCheckTask.emplace();
    const std::stop_token stop = m_healthCheckTask->token();
    m_shellState.setStatus(ShellStatus::Checking);
    QFuture<Result<BackendReachability>> job
        = Workflow::run(WorkflowPools::userInitiated(), [health = m_services.healthClient, stop] {
              return Result<BackendReachability>(health.checkHealth(stop));
          });
    const std::optional<Result<BackendReachability>> outcome
        = co_await Workflow::resumeIn(self, stop, job);
    if (!outcome)
        co_return;
    const bool reachable = *outcome && **outcome == BackendReachability::Reachable;
    m_shellState.setStatus(reachable ? ShellStatus::Reachable : ShellStatus::Unreachable);
    // The stored session that could not be checked at launch is checked now: without this the
    // user would have to relaunch, or sign in again, once the backend is back.
    if (reachable && m_keptSessionUncheckedAt == m_authenticationStateGeneration) {
        m_keptSessionUncheckedAt.reset();
        co_await restoreRememberedSession();
    }
}

void SessionWorkflows::backendExchangeEnded(BackendReachability said)
{
    const ShellStatus shown = m_shellState.status();
    if (said == BackendReachability::Unreachable && shown != ShellStatus::Unreachable)
        m_shellState.setStatus(ShellStatus::Unreachable);
    else if (said == BackendReachability::Reachable && shown == ShellStatus::Unreachable)
        m_shellState.setStatus(ShellStatus::Reachable);
}

QCoro::Task<> SessionWorkflows::restoreRememberedSession()
{
    const QPointer<SessionWorkflows> self(this);
    const std::stop_token never;
    if (m_sessionState.session() || m_sessionState.pendingVerificationToken())
        co_return;
    // Recorded before the keychain is read: a sign-out while the read runs must win as well.
    const qint64 generation = m_authenticationStateGeneration;
    QFuture<Result<std::optional<QString>>> load
        = Workflow::run(WorkflowPools::keychain(), [store = m_services.tokenStore] {
              return Result<std::optional<QString>>(store->load());
          });
    const std::optional<Result<std::optional<QString>>> loaded
        = co_await Workflow::resumeIn(self, never, load);
    if (!loaded || m_authenticationStateGeneration != generation)
        co_return;
    // This check answers for the stored token from now on.
    endKeptSessionWait();
    if (!*loaded || !**loaded)
        co_return;
    const QString token = ***loaded;
    // A stored token that could never be sent (damaged, or edited in the keychain) would leave
    // every launch signed out without a word: it is forgotten instead.
    if (!LibrarySessionClient::isUsableToken(token)) {
        queueTokenRemoval();
        co_return;
    }

    QFuture<Result<LibraryShell>> library
        = Workflow::run(WorkflowPools::userInitiated(), [client = m_services.sessionClient, token] {
              return client->currentLibrary(token);
          });
    const std::optional<Result<LibraryShell>> shell
        = co_await Workflow::resumeIn(self, never, library);
    if (!shell)
        co_return;
    if (*shell) {
        if (m_authenticationStateGeneration != generation)
            co_return;
        m_sessionState.setSession(
            AuthenticatedLibrarySession{token, (*shell)->user, (*shell)->library});
        // No sign-in follows a restored session: with its library read, the imports a quit or
        // a crash cut short are resumed now, as after a sign-in. Not awaited: the start-up goes
        // on while they upload.
        [](QPointer<SessionWorkflows> workflows) -> QCoro::Task<> {
            if (workflows)
                co_await workflows->m_imports.recoverInterruptedImports();
        }(self);
        co_return;
    }

    QFuture<Result<EmailVerificationStatus>> verification
        = Workflow::run(WorkflowPools::userInitiated(), [client = m_services.sessionClient, token] {
              return client->emailVerificationStatus(token);
          });
    const std::optional<Result<EmailVerificationStatus>> status
        = co_await Workflow::resumeIn(self, never, verification);
    if (!status || m_authenticationStateGeneration != generation)
        co_return;
    if (*status && (*status)->status == u"pending") {
        m_sessionState.setEmail((*status)->email);
        m_sessionState.setPendingVerificationToken(token);
        co_return;
    }
    // A 401 for the library refuses the token whatever else is known. A 403 is also the answer
    // for an account that waits for verification, so it proves the token unusable only for an
    // account known to be no longer pending; a library that could not be read for a passing
    // reason proves nothing.
    const Error &libraryError = shell->error();
    if (unexpectedStatusCode(libraryError) == 401
        || refusesToken(*status ? libraryError : status->error())) {
        queueTokenRemoval();
        // Without a word the sign-in page would look like a first start.
        m_sessionState.setErrorMessage(SessionFeedback::keptSessionRefusedMessage());
        co_return;
    }
    // Kept, and tried again by the next Refresh that reaches the backend.
    if (BackendReachabilityMonitor::isUnreachable(libraryError)) {
        m_keptSessionUncheckedAt = generation;
        m_sessionState.setErrorMessage(SessionFeedback::keptSessionUnreachableMessage());
    }
}

void SessionWorkflows::signOut()
{
    ++m_authenticationStateGeneration;
    m_sessionState.setSession(std::nullopt);
    m_sessionState.setPendingVerificationToken(std::nullopt);
    m_sessionState.setPassword(QString());
    m_sessionState.setPasswordConfirmation(QString());
    queueTokenRemoval();
}

QCoro::Task<> SessionWorkflows::refreshLibrary()
{
    const QPointer<SessionWorkflows> self(this);
    const std::stop_token never;
    if (!m_sessionState.session())
        co_return;
    const QString token = m_sessionState.session()->token;
    m_sessionState.setErrorMessage(std::nullopt);
    QFuture<Result<LibraryShell>> job
        = Workflow::run(WorkflowPools::userInitiated(), [client = m_services.sessionClient, token] {
              return client->currentLibrary(token);
          });
    const std::optional<Result<LibraryShell>> outcome
        = co_await Workflow::resumeIn(self, never, job);
    // A reply for a session that ended meanwhile must not sign the user back in.
    if (!outcome || !m_sessionState.session() || m_sessionState.session()->token != token)
        co_return;
    if (*outcome)
        m_sessionState.setSession(
            AuthenticatedLibrarySession{token, (*outcome)->user, (*outcome)->library});
    else
        m_sessionState.setErrorMessage(SessionFeedback::libraryRefreshFailedMessage());
}

QCoro::Task<std::optional<QString>> SessionWorkflows::checkoutURL()
{
    const QPointer<SessionWorkflows> self(this);
    const std::stop_token never;
    if (!m_sessionState.session())
        co_return std::nullopt;
    m_sessionState.setErrorMessage(std::nullopt);
    QFuture<Result<CheckoutSession>> job = Workflow::run(
        WorkflowPools::userInitiated(),
        [client = m_services.sessionClient, token = m_sessionState.session()->token] {
            return client->requestCheckout(token);
        });
    const std::optional<Result<CheckoutSession>> outcome
        = co_await Workflow::resumeIn(self, never, job);
    if (!outcome)
        co_return std::nullopt;
    if (!*outcome || !openableBillingLink((*outcome)->url)) {
        m_sessionState.setErrorMessage(SessionFeedback::checkoutFailedMessage());
        co_return std::nullopt;
    }
    co_return (*outcome)->url;
}

QCoro::Task<std::optional<QString>> SessionWorkflows::customerPortalURL()
{
    const QPointer<SessionWorkflows> self(this);
    const std::stop_token never;
    if (!m_sessionState.session())
        co_return std::nullopt;
    m_sessionState.setErrorMessage(std::nullopt);
    QFuture<Result<QString>> job = Workflow::run(
        WorkflowPools::userInitiated(),
        [client = m_services.sessionClient, token = m_sessionState.session()->token] {
            return client->requestCustomerPortal(token);
        });
    const std::optional<Result<QString>> outcome = co_await Workflow::resumeIn(self, never, job);
    if (!outcome)
        co_return std::nullopt;
    if (!*outcome || !openableBillingLink(**outcome)) {
        m_sessionState.setErrorMessage(SessionFeedback::billingPortalUnavailableMessage());
        co_return std::nullopt;
    }
    co_return **outcome;
}

std::optional<QUrl> SessionWorkflows::openableBillingLink(const QString &link)
{
    const QUrl url(link, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().compare(u"https", Qt::CaseInsensitive) != 0
        || url.host().isEmpty() || !url.userInfo().isEmpty()) {
        return std::nullopt;
    }
    return url;
}

void SessionWorkflows::endKeptSessionWait()
{
    m_keptSessionUncheckedAt.reset();
    if (m_sessionState.errorMessage() == SessionFeedback::keptSessionUnreachableMessage())
        m_sessionState.setErrorMessage(std::nullopt);
}

void SessionWorkflows::queueTokenSave(const QString &token) const
{
    // The future is not kept: the keychain pool runs its jobs one at a time, in order.
    Q_UNUSED(Workflow::run(WorkflowPools::keychain(), [store = m_services.tokenStore, token] {
        store->save(token);
        return Result<void>();
    }));
}

void SessionWorkflows::queueTokenRemoval() const
{
    Q_UNUSED(Workflow::run(WorkflowPools::keychain(), [store = m_services.tokenStore] {
        store->remove();
        return Result<void>();
    }));
}

} // namespace Pellwick
