// Sessions, registration, password and e-mail verification endpoints of the test backend.

#include "TestBackend_p.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace Pellwick::Test {

namespace {

constexpr int saltBytes = 16;
constexpr int hashBytes = 32;

QByteArray pbkdf2(const QString &password, const QByteArray &salt, int iterations)
{
    const QByteArray utf8 = password.toUtf8();
    QByteArray derived(hashBytes, Qt::Uninitialized);
    const int done = PKCS5_PBKDF2_HMAC(utf8.constData(),
                                       int(utf8.size()),
                                       reinterpret_cast<const unsigned char *>(salt.constData()),
                                       int(salt.size()),
                                       iterations,
                                       EVP_sha256(),
                                       hashBytes,
                                       reinterpret_cast<unsigned char *>(derived.data()));
    Q_ASSERT(done == 1);
    return derived;
}

QString stringMember(const QJsonObject &object, const char *key)
{
    return object.value(QLatin1String(key)).toString();
}

bool hasStrings(const QJsonObject &object, std::initializer_list<const char *> keys)
{
    for (const char *key : keys) {
        if (!object.value(QLatin1String(key)).isString())
            return false;
    }
    return true;
}

} // namespace

TestBackend::PasswordHash TestBackend::PasswordHash::of(const QString &password, int iterations)
{
    QByteArray salt(saltBytes, Qt::Uninitialized);
    const int drawn = RAND_bytes(reinterpret_cast<unsigned char *>(salt.data()), saltBytes);
    Q_ASSERT(drawn == 1);
    return PasswordHash{salt, iterations, pbkdf2(password, salt, iterations)};
}

bool TestBackend::PasswordHash::matches(const QString &password) const
{
    if (hash.size() != hashBytes || iterations < 1)
        return false;
    const QByteArray candidate = pbkdf2(password, salt, iterations);
    return CRYPTO_memcmp(candidate.constData(), hash.constData(), hashBytes) == 0;
}

std::optional<TestBackend::PasswordHash> TestBackend::Private::passwordHashOf(const QString &email)
{
    std::lock_guard lock(mutex);
    if (const Account *account = findAccount(email))
        return account->passwordHash;
    return std::nullopt;
}

void TestBackend::Private::hashPassword(Account &account) const
{
    account.passwordHash = PasswordHash::of(account.password, passwordHashIterations);
    account.password.clear();
}

void registerAccountRoutes(TestBackend::Private &backend)
{
    using Account = TestBackend::Account;
    TestBackend::Private *d = &backend;

    d->route("POST", "/api/auth/sessions", [d](const auto &request, auto &response) {
        const std::optional<QJsonObject> body = requestObject(request, response);
        if (!body)
            return;
        if (!hasStrings(*body, {"email", "password"}))
            return replyError(response, 422, QStringLiteral("validation_failed"));
        // The hash is compared outside the lock, which every other request waits for.
        const QString email = stringMember(*body, "email");
        const std::optional<TestBackend::PasswordHash> kept = d->passwordHashOf(email);
        if (!kept || !kept->matches(stringMember(*body, "password")))
            return replyError(response, 401, QStringLiteral("invalid_credentials"));
        std::lock_guard lock(d->mutex);
        const Account *account = d->findAccount(email);
        // A password changed meanwhile is no longer the one compared.
        if (!account || account->passwordHash != *kept)
            return replyError(response, 401, QStringLiteral("invalid_credentials"));
        QJsonObject reply{{QStringLiteral("token"), d->newToken(account->email)}};
        if (account->emailVerified) {
            reply.insert(QStringLiteral("user"), userJson(*account));
            reply.insert(QStringLiteral("library"), libraryJson(account->library));
        } else {
            reply.insert(QStringLiteral("email_verification"), QStringLiteral("pending"));
        }
        replyJson(response, 201, reply);
    });

    d->route("POST", "/api/auth/registrations", [d](const auto &request, auto &response) {
        const std::optional<QJsonObject> body = requestObject(request, response);
        if (!body)
            return;
        if (!hasStrings(*body, {"email", "password", "password_confirmation"})
            || stringMember(*body, "password").isEmpty()
            || stringMember(*body, "password") != stringMember(*body, "password_confirmation")) {
            return replyError(response, 422, QStringLiteral("validation_failed"));
        }
        const QString email = stringMember(*body, "email");
        if (d->passwordHashOf(email))
            return replyError(response, 422, QStringLiteral("email_taken"));
        Account account;
        account.email = email;
        account.password = stringMember(*body, "password");
        d->hashPassword(account);
        std::lock_guard lock(d->mutex);
        // Registered meanwhile by another request.
        if (d->findAccount(email))
            return replyError(response, 422, QStringLiteral("email_taken"));
        account.userId = d->nextId++;
        account.emailVerified = false;
        account.library.id = d->nextId++;
        d->accounts.append(account);
        replyJson(response,
                  201,
                  {{QStringLiteral("token"), d->newToken(email)},
                   {QStringLiteral("email_verification"), QStringLiteral("pending")}});
    });

    d->route("POST", "/api/auth/password_resets", [d](const auto &request, auto &response) {
        const std::optional<QJsonObject> body = requestObject(request, response);
        if (!body)
            return;
        if (!hasStrings(*body, {"email"}))
            return replyError(response, 422, QStringLiteral("validation_failed"));
        std::lock_guard lock(d->mutex);
        // Answered alike whether or not the address has an account.
        d->passwordResetEmails.append(stringMember(*body, "email"));
        replyJson(response, 202, {});
    });

    d->route("GET", "/api/auth/email_verification", [d](const auto &request, auto &response) {
        std::lock_guard lock(d->mutex);
        const Account *account = d->authorizedAccount(request, response);
        if (!account)
            return;
        replyJson(
            response,
            200,
            {{QStringLiteral("email_verification"),
              account->emailVerified ? QStringLiteral("verified") : QStringLiteral("pending")},
             {QStringLiteral("email"), account->email}});
    });

    d->route(
        "POST", "/api/auth/email_verification/resend", [d](const auto &request, auto &response) {
            std::lock_guard lock(d->mutex);
            const Account *account = d->authorizedAccount(request, response);
            if (!account)
                return;
            ++d->resentVerifications[account->email];
            replyJson(response, 202, {});
        });

    d->route("PATCH", "/api/auth/password", [d](const auto &request, auto &response) {
        QString email;
        TestBackend::PasswordHash kept;
        {
            std::lock_guard lock(d->mutex);
            const Account *account = d->authorizedAccount(request, response);
            if (!account)
                return;
            email = account->email;
            kept = account->passwordHash;
        }
        const std::optional<QJsonObject> body = requestObject(request, response);
        if (!body)
            return;
        // Both hashes are computed outside the lock, which every other request waits for.
        if (!hasStrings(*body, {"current_password", "password", "password_confirmation"})
            || !kept.matches(stringMember(*body, "current_password"))
            || stringMember(*body, "password").isEmpty()
            || stringMember(*body, "password") != stringMember(*body, "password_confirmation")) {
            return replyError(response, 422, QStringLiteral("validation_failed"));
        }
        Account changed;
        changed.password = stringMember(*body, "password");
        d->hashPassword(changed);
        std::lock_guard lock(d->mutex);
        Account *account = d->findAccount(email);
        if (!account)
            return replyError(response, 401, QStringLiteral("unauthorized"));
        // A password changed meanwhile is no longer the current one compared.
        if (account->passwordHash != kept)
            return replyError(response, 422, QStringLiteral("validation_failed"));
        account->passwordHash = changed.passwordHash;
        // As archive services do: every session of the account ends, the one that asked
        // included, so a token taken with the old password answers 401 from now on.
        d->sessions.removeIf([&](const auto &session) { return session.value() == email; });
        response.status = 204;
    });
}

} // namespace Pellwick::Test
