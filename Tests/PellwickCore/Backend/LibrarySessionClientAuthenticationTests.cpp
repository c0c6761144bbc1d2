#include <PellwickCore/Backend/LibrarySessionClient.h>

#include <QTest>

#include <Support/BackendReplies.h>
#include <Support/ScriptedFetch.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

/// What a sign-in or registration reply must give: a session, a pending token, or a failure.
struct Expected
{
    enum class Kind {
        Authenticated,
        Pending,
        Failure,
    };
    Kind kind = Kind::Failure;
    QString token;
    std::optional<Error> error; ///< compared by kind and key path when a `DecodingError`
};

Expected authenticated(const QString &token)
{
    return {Expected::Kind::Authenticated, token, std::nullopt};
}

Expected pending(const QString &token)
{
    return {Expected::Kind::Pending, token, std::nullopt};
}

Expected fails(Error error)
{
    return {Expected::Kind::Failure, {}, std::move(error)};
}

Expected decodingFails(DecodingError::Kind kind, const QString &keyPath)
{
    return fails(DecodingError{kind, keyPath, {}});
}

LibrarySessionClient clientWith(const ScriptedFetch &fetch)
{
    return LibrarySessionClient(QUrl(u"https://api.example.test"_s), fetch.function());
}

void verifyFailure(const Error &actual, const Error &expected)
{
    if (const DecodingError *decoding = expected.as<DecodingError>()) {
        const DecodingError *error = actual.as<DecodingError>();
        QVERIFY2(error, qPrintable(describe(actual)));
        QCOMPARE(error->kind, decoding->kind);
        QCOMPARE(error->keyPath, decoding->keyPath);
        return;
    }
    QVERIFY2(actual == expected, qPrintable(describe(actual)));
}

void verifySignInResult(const Result<SignInResult> &result, const Expected &expected)
{
    if (expected.kind == Expected::Kind::Failure) {
        QVERIFY(!result);
        verifyFailure(result.error(), *expected.error);
        return;
    }
    PELLWICK_VERIFY_SUCCESS(result);
    if (expected.kind == Expected::Kind::Pending) {
        const auto *pendingResult = std::get_if<SignInResult::PendingVerification>(&result->value);
        QVERIFY(pendingResult);
        QCOMPARE(pendingResult->token, expected.token);
        return;
    }
    const auto *session = std::get_if<SignInResult::Authenticated>(&result->value);
    QVERIFY(session);
    QCOMPARE(session->session.token, expected.token);
    QCOMPARE(session->session.user.id, 4);
    QCOMPARE(session->session.user.email, u"ada@example.test"_s);
    QCOMPARE(session->session.library.id, 9);
}

enum class Operation {
    PasswordReset,
    Resend,
    PasswordChange,
};

} // namespace

Q_DECLARE_METATYPE(Expected)
Q_DECLARE_METATYPE(Operation)

class LibrarySessionClientAuthenticationTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void signInReplies_data();
    void signInReplies();
    void signInRefusesAPendingAccount();
    void registrationReplies_data();
    void registrationReplies();
    void bodyLessOperationsAcceptExactlyOneStatus_data();
    void bodyLessOperationsAcceptExactlyOneStatus();
    void verificationStatusIsPassedOnUninterpreted();
};

void LibrarySessionClientAuthenticationTests::signInReplies_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<Expected>("expected");

    const QByteArray userAndLibrary = R"("user":)" + userJson() + R"(,"library":)" + libraryJson();
    QTest::newRow("pending without user and library")
        << 201 << QByteArray(R"({"token":"t1","email_verification":"pending"})")
        << pending(u"t1"_s);
    QTest::newRow("pending with user and library")
        << 201
        << QByteArray(R"({"token":"t2","email_verification":"pending",)" + userAndLibrary + "}")
        << pending(u"t2"_s);
    QTest::newRow("pending in other letter case, nothing else")
        << 201 << QByteArray(R"({"token":"t3","email_verification":"Pending"})")
        << fails(unexpectedStatusError(201));
    QTest::newRow("pending in other letter case with user and library")
        << 201
        << QByteArray(R"({"token":"t4","email_verification":"PENDING",)" + userAndLibrary + "}")
        << authenticated(u"t4"_s);
    QTest::newRow("verified with user and library")
        << 201
        << QByteArray(R"({"token":"t5","email_verification":"verified",)" + userAndLibrary + "}")
        << authenticated(u"t5"_s);
    QTest::newRow("no verification word with user and library")
        << 201 << QByteArray(R"({"token":"t6",)" + userAndLibrary + "}") << authenticated(u"t6"_s);
    QTest::newRow("null verification word with user and library")
        << 201 << QByteArray(R"({"token":"t7","email_verification":null,)" + userAndLibrary + "}")
        << authenticated(u"t7"_s);
    QTest::newRow("user without library")
        << 201 << QByteArray(R"({"token":"t8","user":)" + userJson() + "}")
        << fails(unexpectedStatusError(201));
    QTest::newRow("library without user")
        << 201 << QByteArray(R"({"token":"t9","library":)" + libraryJson() + "}")
        << fails(unexpectedStatusError(201));
    QTest::newRow("answered 200") << 200 << QByteArray(R"({"token":"t",)" + userAndLibrary + "}")
                                  << fails(unexpectedStatusError(200));
    QTest::newRow("wrong credentials") << 401 << QByteArray(R"({"error":"invalid_credentials"})")
                                       << fails(unexpectedStatusError(401));
    QTest::newRow("throttled") << 429 << QByteArray() << fails(unexpectedStatusError(429));
    QTest::newRow("no token") << 201 << QByteArray("{" + userAndLibrary + "}")
                              << decodingFails(DecodingError::Kind::KeyNotFound, u"token"_s);
    QTest::newRow("token of the wrong type")
        << 201 << QByteArray(R"({"token":12,"email_verification":"pending"})")
        << decodingFails(DecodingError::Kind::TypeMismatch, u"token"_s);
    QTest::newRow("user of the wrong type")
        << 201 << QByteArray(R"({"token":"t","user":"ada","library":)" + libraryJson() + "}")
        << decodingFails(DecodingError::Kind::TypeMismatch, u"user"_s);
    QTest::newRow("user without id")
        << 201
        << QByteArray(R"({"token":"t","user":{"email":"a"},"library":)" + libraryJson() + "}")
        << decodingFails(DecodingError::Kind::KeyNotFound, u"user.id"_s);
    QTest::newRow("unknown plan status")
        << 201
        << QByteArray(R"({"token":"t","user":)" + userJson() + R"(,"library":)"
                      + libraryJson(paidPlanJson("gold")) + "}")
        << decodingFails(DecodingError::Kind::DataCorrupted, u"library.paid_plan.status"_s);
    QTest::newRow("not JSON") << 201 << QByteArray("<html>")
                              << decodingFails(DecodingError::Kind::DataCorrupted, {});
    QTest::newRow("JSON array") << 201 << QByteArray("[]")
                                << decodingFails(DecodingError::Kind::TypeMismatch, {});

    // Tokens that could not be sent back as a bearer token (or would be absurd to keep).
    const auto withToken = [&](const QByteArray &token) -> QByteArray {
        return QByteArray(R"({"token":")") + token + R"(",)" + userAndLibrary + "}";
    };
    const QByteArray longest(LibrarySessionClient::maximumTokenLength, 'a');
    QTest::newRow("token of every visible character")
        << 201 << withToken(R"(!~09AZaz-._+/=\"\\)")
        << authenticated(QStringLiteral(R"(!~09AZaz-._+/="\)"));
    QTest::newRow("longest token")
        << 201 << withToken(longest) << authenticated(QString::fromLatin1(longest));
    const QList<std::pair<const char *, QByteArray>> unusable = {
        {"empty token", ""},
        {"token too long", longest + 'a'},
        {"token with a line break", R"(t\r\nX-Injected: 1)"},
        {"token with a space", "t 1"},
        {"token with a tab", R"(t\t1)"},
        {"token with a NUL", R"(t\u00001)"},
        {"token with a non-ASCII letter", "t\xc3\xa9"},
    };
    for (const auto &[name, token] : unusable) {
        QTest::newRow(name) << 201 << withToken(token)
                            << decodingFails(DecodingError::Kind::DataCorrupted, u"token"_s);
        QTest::addRow("pending, %s", name)
            << 201 << QByteArray(R"({"token":")" + token + R"(","email_verification":"pending"})")
            << decodingFails(DecodingError::Kind::DataCorrupted, u"token"_s);
    }
}

void LibrarySessionClientAuthenticationTests::signInReplies()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(Expected, expected);
    ScriptedFetch fetch;
    fetch.reply(status, body);
    verifySignInResult(clientWith(fetch).signInResult(u"ada@example.test"_s, u"pw"_s), expected);
}

void LibrarySessionClientAuthenticationTests::signInRefusesAPendingAccount()
{
    ScriptedFetch fetch;
    fetch.reply(201, R"({"token":"t1","email_verification":"pending"})")
        .reply(201,
               R"({"token":"t2","user":)" + userJson() + R"(,"library":)" + libraryJson() + "}");
    const LibrarySessionClient client = clientWith(fetch);

    Result<AuthenticatedLibrarySession> pendingAccount
        = client.signIn(u"ada@example.test"_s, u"pw"_s);
    QVERIFY(!pendingAccount);
    QCOMPARE(pendingAccount.error(), unexpectedStatusError(403));

    Result<AuthenticatedLibrarySession> session = client.signIn(u"ada@example.test"_s, u"pw"_s);
    QVERIFY(session);
    QCOMPARE(session->token, u"t2"_s);
    QCOMPARE(session->user.displayName, std::optional<QString>(u"Ada"_s));
}

void LibrarySessionClientAuthenticationTests::registrationReplies_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<Expected>("expected");
    QTest::newRow("pending") << 201
                             << QByteArray(R"({"token":"r1","email_verification":"pending"})")
                             << pending(u"r1"_s);
    QTest::newRow("pending in other letter case")
        << 201 << QByteArray(R"({"token":"r2","email_verification":"Pending"})")
        << fails(unexpectedStatusError(201));
    QTest::newRow("verified") << 201
                              << QByteArray(R"({"token":"r3","email_verification":"verified"})")
                              << fails(unexpectedStatusError(201));
    QTest::newRow("full session is still not pending")
        << 201
        << QByteArray(R"({"token":"r4","user":)" + userJson() + R"(,"library":)" + libraryJson()
                      + "}")
        << decodingFails(DecodingError::Kind::KeyNotFound, u"email_verification"_s);
    QTest::newRow("answered 200") << 200
                                  << QByteArray(R"({"token":"r5","email_verification":"pending"})")
                                  << fails(unexpectedStatusError(200));
    QTest::newRow("validation failure")
        << 422 << QByteArray(R"({"error":"email_taken"})") << fails(unexpectedStatusError(422));
    QTest::newRow("no token") << 201 << QByteArray(R"({"email_verification":"pending"})")
                              << decodingFails(DecodingError::Kind::KeyNotFound, u"token"_s);
    QTest::newRow("empty token") << 201
                                 << QByteArray(R"({"token":"","email_verification":"pending"})")
                                 << decodingFails(DecodingError::Kind::DataCorrupted, u"token"_s);
    QTest::newRow("token with a line break")
        << 201 << QByteArray(R"({"token":"r\nX: 1","email_verification":"pending"})")
        << decodingFails(DecodingError::Kind::DataCorrupted, u"token"_s);
}

void LibrarySessionClientAuthenticationTests::registrationReplies()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(Expected, expected);
    ScriptedFetch fetch;
    fetch.reply(status, body);
    verifySignInResult(clientWith(fetch).registerAccount(u"ada@example.test"_s, u"pw"_s, u"pw"_s),
                       expected);
}

void LibrarySessionClientAuthenticationTests::bodyLessOperationsAcceptExactlyOneStatus_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("succeeds");

    const QByteArray storageFull
        = R"({"error":"storage_full","storage":{"state":"storage_full","used_bytes":1,)"
          R"("limit_bytes":1,"remaining_bytes":0,"message":"full"}})";
    QTest::newRow("reset 202") << Operation::PasswordReset << 202 << QByteArray("{}") << true;
    QTest::newRow("reset 202 with any body")
        << Operation::PasswordReset << 202 << QByteArray("\x01\x02") << true;
    QTest::newRow("reset 200") << Operation::PasswordReset << 200 << QByteArray() << false;
    QTest::newRow("reset 204") << Operation::PasswordReset << 204 << QByteArray() << false;
    QTest::newRow("resend 202") << Operation::Resend << 202 << QByteArray() << true;
    QTest::newRow("resend 201") << Operation::Resend << 201 << QByteArray() << false;
    QTest::newRow("change 204") << Operation::PasswordChange << 204 << QByteArray() << true;
    QTest::newRow("change 200") << Operation::PasswordChange << 200 << QByteArray() << false;
    QTest::newRow("change 403 import_unavailable")
        << Operation::PasswordChange << 403 << QByteArray(R"({"error":"import_unavailable"})")
        << false;
    QTest::newRow("change 409 storage full")
        << Operation::PasswordChange << 409 << storageFull << false;
}

void LibrarySessionClientAuthenticationTests::bodyLessOperationsAcceptExactlyOneStatus()
{
    QFETCH(Operation, operation);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, succeeds);
    ScriptedFetch fetch;
    fetch.reply(status, body);
    const LibrarySessionClient client = clientWith(fetch);
    Result<void> result = [&]() -> Result<void> {
        switch (operation) {
        case Operation::PasswordReset:
            return client.requestPasswordReset(u"ada@example.test"_s);
        case Operation::Resend:
            return client.resendEmailVerification(u"t"_s);
        case Operation::PasswordChange:
            return client.changePassword(u"t"_s, u"old"_s, u"new"_s, u"new"_s);
        }
        return {};
    }();
    QCOMPARE(bool(result), succeeds);
    if (!succeeds)
        QCOMPARE(result.error(), unexpectedStatusError(status));
}

void LibrarySessionClientAuthenticationTests::verificationStatusIsPassedOnUninterpreted()
{
    ScriptedFetch fetch;
    fetch.reply(200, R"({"email_verification":"pending","email":"ada@example.test","x":1})")
        .reply(200, R"({"email_verification":"Verified-ish","email":""})")
        .reply(200, R"({"email_verification":"verified"})")
        .reply(200, R"({"email_verification":"verified","email":null})")
        .reply(201, R"({"email_verification":"verified","email":"a"})");
    const LibrarySessionClient client = clientWith(fetch);

    Result<EmailVerificationStatus> first = client.emailVerificationStatus(u"t"_s);
    QVERIFY(first);
    QCOMPARE(*first, (EmailVerificationStatus{u"pending"_s, u"ada@example.test"_s}));

    Result<EmailVerificationStatus> second = client.emailVerificationStatus(u"t"_s);
    QVERIFY(second);
    QCOMPARE(*second, (EmailVerificationStatus{u"Verified-ish"_s, QString()}));

    Result<EmailVerificationStatus> noEmail = client.emailVerificationStatus(u"t"_s);
    QVERIFY(!noEmail);
    verifyFailure(noEmail.error(), DecodingError{DecodingError::Kind::KeyNotFound, u"email"_s, {}});

    Result<EmailVerificationStatus> nullEmail = client.emailVerificationStatus(u"t"_s);
    QVERIFY(!nullEmail);
    verifyFailure(nullEmail.error(),
                  DecodingError{DecodingError::Kind::ValueNotFound, u"email"_s, {}});

    Result<EmailVerificationStatus> created = client.emailVerificationStatus(u"t"_s);
    QVERIFY(!created);
    QCOMPARE(created.error(), unexpectedStatusError(201));
}

QTEST_GUILESS_MAIN(LibrarySessionClientAuthenticationTests)
#include "LibrarySessionClientAuthenticationTests.moc"
