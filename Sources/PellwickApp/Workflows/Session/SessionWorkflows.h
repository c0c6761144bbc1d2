#pragma once

#include <PellwickApp/Shell/Operations/SessionOperations.h>
#include <PellwickApp/Workflows/Workflow.h>
#include <PellwickCore/Backend/BackendHealthClient.h>

#include <QCoro/QCoroTask>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

namespace Pellwick {

class ImportOperations;
class LibrarySessionClient;
class SessionState;
class SessionTokenStoring;
class ShellState;

/// Backend reachability, sign-in, registration, verification, passwords, the account's library
/// and billing links. Backend calls run on the user-initiated pool; token store calls run on the
/// keychain pool, in the order they were asked for. No operation fails to its caller: failures
/// become the texts of `errorMessage`, `authMessage` and `passwordChangeErrorMessage`, or are
/// dropped silently. An authenticated account resumes interrupted imports through `imports`.
/// Main thread only.
class SessionWorkflows final
    : public QObject
    , public SessionOperations
{
    Q_OBJECT

public:
    struct Services
    {
        BackendHealthClient healthClient;
        std::shared_ptr<const LibrarySessionClient> sessionClient;
        std::shared_ptr<const SessionTokenStoring> tokenStore;
    };

    SessionWorkflows(Services services,
                     SessionState &session,
                     ShellState &shell,
                     ImportOperations &imports,
                     QObject *parent = nullptr);
    /// Stops a running reachability check: a stalled backend would otherwise hold the exit.
    ~SessionWorkflows() override;

    /// Checks backend reachability once: `status` becomes checking, then reachable or unreachable.
    /// Only the latest check's answer is shown: a newer check, or the end of these workflows,
    /// stops the one still running, which publishes nothing. A reachable backend then restores
    /// the stored session that `restoreRememberedSession` could not check because the backend
    /// could not be reached, unless a sign-in, registration or sign-out came between.
    QCoro::Task<> refresh() override;
    /// What an exchange of the session client said about the backend, between two checks: a
    /// backend that could not be reached shows as unreachable, and one reached again after that
    /// as reachable. A check still running shows its own answer when it ends.
    void backendExchangeEnded(BackendReachability said);
    /// At launch: restores the session of the stored token, or the verification gate of an
    /// account that still waits for e-mail verification. A result is dropped when a sign-in,
    /// registration or sign-out happened meanwhile. The stored token is removed only when the
    /// backend answered that it is no longer usable (a verification status other than "pending",
    /// or 401 or 403); a token that could not be checked (offline, busy, failing) stays stored.
    /// A restored session then starts the recovery of interrupted imports, without awaiting it.
    /// `errorMessage` says why the stored token was refused and removed, or, when the backend
    /// could not be reached, that the session is kept until a Refresh; the next check of the
    /// stored token takes that away.
    QCoro::Task<> restoreRememberedSession() override;
    /// Signs in with `email` and `password` as they stand. On success the password is cleared
    /// and the token stored; an authenticated account resumes interrupted imports.
    QCoro::Task<> signIn() override;
    /// Creates an account after the local checks of the address, the password length (12 to 128
    /// user-perceived characters) and the confirmation; the account then waits for verification.
    QCoro::Task<> registerAccount() override;
    /// Signs a pending account in once the backend reports it verified, then resumes interrupted
    /// imports. Silent on every failure; a result that arrives after the pending token changed
    /// (sign-out, another sign-in or registration) is dropped.
    QCoro::Task<> refreshVerification() override;
    QCoro::Task<> resendVerification(QString token) override;
    QCoro::Task<> requestPasswordReset() override;
    /// Changes the password of the signed-in account; true when it was changed. Success ends
    /// the session and forgets the stored token, as signing out does.
    QCoro::Task<bool> changePassword() override;
    /// Empties the change-password form and its failure text.
    void resetPasswordChangeForm() override;
    /// Ends the session or the pending verification at once and forgets the stored token; a
    /// token saved later is stored after the removal.
    void signOut() override;
    /// Reads the signed-in account's user and library again (plan, quota and storage figures).
    QCoro::Task<> refreshLibrary() override;
    /// A checkout link for the signed-in account, or none (no session, or it failed). A link
    /// that `openableBillingLink` refuses counts as a failure.
    QCoro::Task<std::optional<QString>> checkoutURL() override;
    /// A customer-portal link for the signed-in account, or none (no session, or it failed). A
    /// link that `openableBillingLink` refuses counts as a failure.
    QCoro::Task<std::optional<QString>> customerPortalURL() override;
    /// A billing link from the backend as one the user's browser may be sent to: an absolute
    /// https URL with a host and without user name or password. Payment details are entered
    /// there, so plain http and every other scheme are refused (none).
    static std::optional<QUrl> openableBillingLink(const QString &link);

    /// Advanced by every applied sign-in or registration result and by sign-out.
    qint64 authenticationStateGeneration() const { return m_authenticationStateGeneration; }

private:
    /// Forgets that the stored token waits for the backend, and the message that said so.
    void endKeptSessionWait();
    /// Queues `tokenStore.save(token)` on the keychain pool.
    void queueTokenSave(const QString &token) const;
    /// Queues `tokenStore.remove()` on the keychain pool.
    void queueTokenRemoval() const;

    const Services m_services;
    SessionState &m_sessionState;
    ShellState &m_shellState;
    ImportOperations &m_imports;
    qint64 m_authenticationStateGeneration = 0;
    std::optional<WorkflowTaskHandle> m_healthCheckTask;
    /// The authentication generation at which the stored token could not be checked because the
    /// backend could not be reached; none when it needs no new check.
    std::optional<qint64> m_keptSessionUncheckedAt;
};

} // namespace Pellwick
