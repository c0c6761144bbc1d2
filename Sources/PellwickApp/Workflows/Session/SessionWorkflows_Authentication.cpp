#include "SessionWorkflows.h"

#include <PellwickApp/Feedback/SessionFeedback.h>
#include <PellwickApp/Shell/Operations/ImportOperations.h>
#include <PellwickApp/Shell/State/SessionState.h>
#include <PellwickApp/Shell/State/ShellState.h>
#include <PellwickApp/Stores/SessionTokenStoring.h>
#include <PellwickCore/Backend/LibrarySessionClient.h>

#include <QPointer>
#include <QTextBoundaryFinder>

namespace Pellwick {

namespace {

constexpr int minimumPasswordLength = 12;
constexpr int maximumPasswordLength = 128;

/// The number of user-perceived characters (grapheme clusters) of `text`.
int userPerceivedLength(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

/// The first failed local check of a registration form, or none.
std::optional<QString> registrationFormProblem(const QString &email,
                                               const QString &password,
                                               const QString &passwordConfirmation)
{
    if (!email.contains(u'@'))
        return SessionFeedback::invalidEmailAddressMessage();
    const int length = userPerceivedLength(password);
    if (length < minimumPasswordLength || length > maximumPasswordLength)
        return SessionFeedback::passwordLengthMessage();
    if (password != passwordConfirmation)
        return SessionFeedback::passwordMismatchMessage();
    return std::nullopt;
}

} // namespace

QCoro::Task<> SessionWorkflows::signIn()
{
    const QPointer<SessionWorkflows> self(this);
    const std::stop_token never;
    m_sessionState.setErrorMessage(std::nullopt);
    m_sessionState.setAuthMessage(std::nullopt);
    QFuture<Result<SignInResult>> job = Workflow::run(
        WorkflowPools::userInitiated(),
        [client = m_services.sessionClient,
         email = m_sessionState.email(),
         password = m_sessionState.password()] { return client->signInResult(email, password); });
    const std::optional<Result<SignInResult>> outcome
        = co_await Workflow::resumeIn(self, never, job);
    if (!outcome)
        co_return;
    if (!*outcome) {
        m_sessionState.setErrorMessage(SessionFeedback::signInErrorMessage(outcome->error()));
        co_return;
    }
    ++m_authenticationStateGeneration;
    m_sessionState.setSession(std::nullopt);
    m_sessionState.setPendingVerificationToken(std::nullopt);
    m_sessionState.setPassword(QString());
    if (const auto *authenticated = std::get_if<SignInResult::Authenticated>(&(*outcome)->value)) {
        m_sessionState.setSession(authenticated->session);
        queueTokenSave(authenticated->session.token);
        co_await m_imports.recoverInterruptedImports();
        co_return;
    }
    const QString token = std::get<SignInResult::PendingVerification>((*outcome)->value).token;
    m_sessionState.setPendingVerificationToken(token);
    queueTokenSave(token);
}

QCoro::Task<> SessionWorkflows::registerAccount()
{
    const QPointer<SessionWorkflows> self(this);
    const std::stop_token never;
    m_sessionState.setErrorMessage(std::nullopt);
    m_sessionState.setAuthMessage(std::nullopt);
    if (std::optional<QString> problem
        = registrationFormProblem(m_sessionState.email(),
                                  m_sessionState.password(),
                                  m_sessionState.passwordConfirmation())) {
        m_sessionState.setErrorMessage(std::move(problem));
        co_return;
    }
    QFuture<Result<SignInResult>> job
        = Workflow::run(WorkflowPools::userInitiated(),
                        [client = m_services.sessionClient,
                         email = m_sessionState.email(),
                         password = m_sessionState.password(),
                         confirmation = m_sessionState.passwordConfirmation()] {
                            return client->registerAccount(email, password, confirmation);
                        });
    const std::optional<Result<SignInResult>> outcome
        = co_await Workflow::resumeIn(self, never, job);
    if (!outcome)
        co_return;
    if (!*outcome) {
        m_sessionState.setErrorMessage(SessionFeedback::accountCreationFailedMessage());
        co_return;
    }
    ++m_authenticationStateGeneration;
    m_sessionState.setSession(std::nullopt);
    m_sessionState.setPendingVerificationToken(std::nullopt);
    m_sessionState.setPassword(QString());
    m_sessionState.setPasswordConfirmation(QString());
    if (const auto *pending = std::get_if<SignInResult::PendingVerification>(&(*outcome)->value)) {
        m_sessionState.setPendingVerificationToken(pending->token);
        queueTokenSave(pending->token);
    }
}

QCoro::Task<> SessionWorkflows::refreshVerification()
{
    const QPointer<SessionWorkflows> self(this);
    const std::stop_token never;
    if (!m_sessionState.pendingVerificationToken())
        co_return;
    const QString token = *m_sessionState.pendingVerificationToken();
    QFuture<Result<EmailVerificationStatus>> verification
        = Workflow::run(WorkflowPools::userInitiated(), [client = m_services.sessionClient, token] {
              return client->emailVerificationStatus(token);
          });
    const std::optional<Result<EmailVerificationStatus>> status
        = co_await Workflow::resumeIn(self, never, verification);
    // A reply that arrives after a sign-out, sign-in or registration belongs to an account the
    // user left: it must not sign them back in or store a token they just removed.
    if (!status || m_sessionState.pendingVerificationToken() != token || !*status
        || (*status)->status != u"verified")
        co_return;

    QFuture<Result<LibraryShell>> library
        = Workflow::run(WorkflowPools::userInitiated(), [client = m_services.sessionClient, token] {
              return client->currentLibrary(token);
          });
    const std::optional<Result<LibraryShell>> shell
        = co_await Workflow::resumeIn(self, never, library);
    if (!shell || m_sessionState.pendingVerificationToken() != token || !*shell)
        co_return;
    m_sessionState.setSession(
        AuthenticatedLibrarySession{token, (*shell)->user, (*shell)->library});
    m_sessionState.setPendingVerificationToken(std::nullopt);
    queueTokenSave(token);
    co_await m_imports.recoverInterruptedImports();
}

QCoro::Task<> SessionWorkflows::resendVerification(QString token)
{
    const QPointer<SessionWorkflows> self(this);
    const std::stop_token never;
    QFuture<Result<void>> job
        = Workflow::run(WorkflowPools::userInitiated(), [client = m_services.sessionClient, token] {
              return client->resendEmailVerification(token);
          });
    const std::optional<Result<void>> outcome = co_await Workflow::resumeIn(self, never, job);
    if (outcome && !*outcome)
        m_sessionState.setErrorMessage(SessionFeedback::verificationEmailFailedMessage());
}

} // namespace Pellwick
