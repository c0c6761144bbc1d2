#include "LibraryShellViewModel_p.h"

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
        return QStringLiteral("Enter a valid email address");
    const int length = userPerceivedLength(password);
    if (length < minimumPasswordLength || length > maximumPasswordLength)
        return QStringLiteral("Password must be 12 to 128 characters");
    if (password != passwordConfirmation)
        return QStringLiteral("Passwords do not match");
    return std::nullopt;
}

} // namespace

QString LibraryShellViewModel::signInErrorMessage(const Error &error)
{
    const auto *client = error.as<LibrarySessionClientError>();
    const std::optional<int> code = client ? client->unexpectedStatusCode() : std::nullopt;
    if (code == 401)
        return QStringLiteral("Email or password is incorrect");
    if (code == 429)
        return QStringLiteral("Too many sign-in attempts. Try again in 15 minutes.");
    return QStringLiteral("Sign-in failed. Check the local backend and try again.");
}

QCoro::Task<> LibraryShellViewModel::signIn()
{
    const QPointer<LibraryShellViewModel> self(this);
    const std::stop_token never;
    m_sessionState->setErrorMessage(std::nullopt);
    m_sessionState->setAuthMessage(std::nullopt);
    QFuture<Result<SignInResult>> job = Workflow::run(
        WorkflowPools::userInitiated(),
        [client = m_d->services.sessionClient,
         email = m_sessionState->email(),
         password = m_sessionState->password()] { return client->signInResult(email, password); });
    const std::optional<Result<SignInResult>> outcome
        = co_await Workflow::resumeIn(self, never, job);
    if (!outcome)
        co_return;
    if (!*outcome) {
        m_sessionState->setErrorMessage(signInErrorMessage(outcome->error()));
        co_return;
    }
    ++m_d->session.authenticationStateGeneration;
    m_sessionState->setSession(std::nullopt);
    m_sessionState->setPendingVerificationToken(std::nullopt);
    m_sessionState->setPassword(QString());
    if (const auto *authenticated = std::get_if<SignInResult::Authenticated>(&(*outcome)->value)) {
        m_sessionState->setSession(authenticated->session);
        queueTokenSave(authenticated->session.token);
        co_await recoverInterruptedImports();
        co_return;
    }
    const QString token = std::get<SignInResult::PendingVerification>((*outcome)->value).token;
    m_sessionState->setPendingVerificationToken(token);
    queueTokenSave(token);
}

QCoro::Task<> LibraryShellViewModel::registerAccount()
{
    const QPointer<LibraryShellViewModel> self(this);
    const std::stop_token never;
    m_sessionState->setErrorMessage(std::nullopt);
    m_sessionState->setAuthMessage(std::nullopt);
    if (std::optional<QString> problem
        = registrationFormProblem(m_sessionState->email(),
                                  m_sessionState->password(),
                                  m_sessionState->passwordConfirmation())) {
        m_sessionState->setErrorMessage(std::move(problem));
        co_return;
    }
    QFuture<Result<SignInResult>> job
        = Workflow::run(WorkflowPools::userInitiated(),
                        [client = m_d->services.sessionClient,
                         email = m_sessionState->email(),
                         password = m_sessionState->password(),
                         confirmation = m_sessionState->passwordConfirmation()] {
                            return client->registerAccount(email, password, confirmation);
                        });
    const std::optional<Result<SignInResult>> outcome
        = co_await Workflow::resumeIn(self, never, job);
    if (!outcome)
        co_return;
    if (!*outcome) {
        m_sessionState->setErrorMessage(QStringLiteral("Account creation failed"));
        co_return;
    }
    ++m_d->session.authenticationStateGeneration;
    m_sessionState->setSession(std::nullopt);
    m_sessionState->setPendingVerificationToken(std::nullopt);
    m_sessionState->setPassword(QString());
    m_sessionState->setPasswordConfirmation(QString());
    if (const auto *pending = std::get_if<SignInResult::PendingVerification>(&(*outcome)->value)) {
        m_sessionState->setPendingVerificationToken(pending->token);
        queueTokenSave(pending->token);
    }
}

QCoro::Task<> LibraryShellViewModel::refreshVerification()
{
    const QPointer<LibraryShellViewModel> self(this);
    const std::stop_token never;
    if (!m_sessionState->pendingVerificationToken())
        co_return;
    const QString token = *m_sessionState->pendingVerificationToken();
    QFuture<Result<EmailVerificationStatus>> verification = Workflow::run(
        WorkflowPools::userInitiated(), [client = m_d->services.sessionClient, token] {
            return client->emailVerificationStatus(token);
        });
    const std::optional<Result<EmailVerificationStatus>> status
        = co_await Workflow::resumeIn(self, never, verification);
    // A reply that arrives after a sign-out, sign-in or registration belongs to an account the
    // user left: it must not sign them back in or store a token they just removed.
    if (!status || m_sessionState->pendingVerificationToken() != token || !*status
        || (*status)->status != u"verified")
        co_return;

    QFuture<Result<LibraryShell>> library = Workflow::run(
        WorkflowPools::userInitiated(),
        [client = m_d->services.sessionClient, token] { return client->currentLibrary(token); });
    const std::optional<Result<LibraryShell>> shell
        = co_await Workflow::resumeIn(self, never, library);
    if (!shell || m_sessionState->pendingVerificationToken() != token || !*shell)
        co_return;
    m_sessionState->setSession(
        AuthenticatedLibrarySession{token, (*shell)->user, (*shell)->library});
    m_sessionState->setPendingVerificationToken(std::nullopt);
    queueTokenSave(token);
    co_await recoverInterruptedImports();
}

QCoro::Task<> LibraryShellViewModel::resendVerification(QString token)
{
    const QPointer<LibraryShellViewModel> self(this);
    const std::stop_token never;
    QFuture<Result<void>> job = Workflow::run(WorkflowPools::userInitiated(),
                                              [client = m_d->services.sessionClient, token] {
                                                  return client->resendEmailVerification(token);
                                              });
    const std::optional<Result<void>> outcome = co_await Workflow::resumeIn(self, never, job);
    if (outcome && !*outcome)
        m_sessionState->setErrorMessage(QStringLiteral("Verification email could not be sent"));
}

} // namespace Pellwick
