#include <PellwickCore/Backend/CurlFetch.h>
#include <PellwickCore/Backend/LibrarySessionClient.h>

#include <QTemporaryDir>
#include <QTest>

#include <thread>

#include <Support/BackendReplies.h>
#include <Support/TestBackend/TestBackend.h>
#include <Support/TestFiles.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;
using Fault = TestBackend::Fault;

namespace {

LibrarySessionClient clientFor(const QUrl &baseURL,
                               CurlFetch::Options options = CurlFetch::Options{})
{
    return LibrarySessionClient(baseURL, CurlFetch(options));
}

TestBackend::Account ada()
{
    TestBackend::Account account;
    account.email = u"ada@example.test"_s;
    account.password = u"correct horse"_s;
    account.displayName = u"Ada"_s;
    account.library.paidPlan.status = PaidPlanStatus::Paid;
    account.library.paidPlan.storageEntitlement = {400, 1000};
    account.library.paidPlan.billingPeriod = BillingPeriod{u"2025-03-01"_s, u"2025-04-01"_s};
    return account;
}

const DecodingError *decodingError(const Error &error)
{
    return error.as<DecodingError>();
}

} // namespace

class LibrarySessionClientHttpTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void signInOpensASession();
    void signInOfAnUnverifiedAccountIsPending();
    void wrongCredentialsKeepTheirStatus();
    void libraryAndBillingLinksAreRead();
    void registrationThroughVerification();
    void passwordResetAndChange();
    void baseURLPathIsKept();
    void otherSchemesAreNeverFetched();
    void refusalsArriveTyped();
    void malformedRepliesNameTheKey();
    void hostileRepliesNeverCrash();
    void stalledBackendTimesOut();
    void cancellationReachesTheExchange();
    void jsonRoutesNeedAJsonBody_data();
    void jsonRoutesNeedAJsonBody();
};

void LibrarySessionClientHttpTests::initTestCase()
{
    CurlFetch::initializeGlobally();
}

void LibrarySessionClientHttpTests::signInOpensASession()
{
    TestBackend backend;
    const TestBackend::Account account = backend.addAccount(ada());
    const LibrarySessionClient client = clientFor(backend.baseURL());

    Result<SignInResult> result = client.signInResult(account.email, account.password);
    PELLWICK_VERIFY_SUCCESS(result);
    const auto *authenticated = std::get_if<SignInResult::Authenticated>(&result->value);
    QVERIFY(authenticated);
    QVERIFY(!authenticated->session.token.isEmpty());
    QCOMPARE(authenticated->session.user,
             (LibraryUser{account.userId, account.email, account.displayName}));
    QCOMPARE(authenticated->session.library, account.library);
    QCOMPARE(authenticated->session.library.remainingStorageBytes(), 600);

    const RecordedRequest received = backend.requests().value(0);
    QCOMPARE(received.method, QByteArray("POST"));
    QCOMPARE(received.path, QByteArray("/api/auth/sessions"));
    QCOMPARE(received.headers.value("Content-Type"), QByteArray("application/json"));
    QVERIFY(!received.headers.contains("Authorization"));
    QVERIFY(!received.headers.contains("Expect"));
    QCOMPARE(received.body,
             QByteArray(R"({"email":"ada@example.test","password":"correct horse"})"));

    // The token works for the calls that take one.
    Result<LibraryShell> shell = client.currentLibrary(authenticated->session.token);
    PELLWICK_VERIFY_SUCCESS(shell);
    QCOMPARE(shell->library, account.library);
}

void LibrarySessionClientHttpTests::signInOfAnUnverifiedAccountIsPending()
{
    TestBackend backend;
    TestBackend::Account account = ada();
    account.emailVerified = false;
    backend.addAccount(account);
    const LibrarySessionClient client = clientFor(backend.baseURL());

    Result<SignInResult> result = client.signInResult(account.email, account.password);
    PELLWICK_VERIFY_SUCCESS(result);
    QVERIFY(std::holds_alternative<SignInResult::PendingVerification>(result->value));

    Result<AuthenticatedLibrarySession> session = client.signIn(account.email, account.password);
    QVERIFY(!session);
    QCOMPARE(session.error(), unexpectedStatusError(403));
}

void LibrarySessionClientHttpTests::wrongCredentialsKeepTheirStatus()
{
    TestBackend backend;
    backend.addAccount(ada());
    const LibrarySessionClient client = clientFor(backend.baseURL());

    Result<SignInResult> wrong = client.signInResult(u"ada@example.test"_s, u"wrong"_s);
    QVERIFY(!wrong);
    QCOMPARE(wrong.error(), unexpectedStatusError(401));

    backend.injectFault("POST", "/api/auth/sessions", Fault::reply(429, "slow down", "text/plain"));
    Result<SignInResult> throttled = client.signInResult(u"ada@example.test"_s, u"wrong"_s);
    QVERIFY(!throttled);
    QCOMPARE(throttled.error(), unexpectedStatusError(429));

    Result<LibraryShell> unknownToken = client.currentLibrary(u"no-such-token"_s);
    QVERIFY(!unknownToken);
    QCOMPARE(unknownToken.error(), unexpectedStatusError(401));
}

void LibrarySessionClientHttpTests::libraryAndBillingLinksAreRead()
{
    TestBackend backend;
    const TestBackend::Account account = backend.addAccount(ada());
    const QString token = backend.issueToken(account.email);
    const LibrarySessionClient client = clientFor(backend.baseURL());

    Result<LibraryShell> shell = client.currentLibrary(token);
    PELLWICK_VERIFY_SUCCESS(shell);
    QCOMPARE(shell->user.email, account.email);
    QCOMPARE(shell->library.paidPlan.billingPeriod, account.library.paidPlan.billingPeriod);

    Result<CheckoutSession> checkout = client.requestCheckout(token);
    PELLWICK_VERIFY_SUCCESS(checkout);
    QCOMPARE(checkout->url, u"https://billing.test.invalid/checkout/cs_1?step=pay"_s);
    QCOMPARE(checkout->paidPlan, account.library.paidPlan);

    Result<QString> portal = client.requestCustomerPortal(token);
    PELLWICK_VERIFY_SUCCESS(portal);
    QCOMPARE(*portal, u"https://billing.test.invalid/portal/ps_2"_s);

    const QList<RecordedRequest> received = backend.requests();
    QCOMPARE(received.size(), 3);
    QCOMPARE(received[0].method, QByteArray("GET"));
    QCOMPARE(received[0].path, QByteArray("/api/library"));
    QCOMPARE(received[1].path, QByteArray("/api/billing/checkout_sessions"));
    QCOMPARE(received[2].path, QByteArray("/api/billing/customer_portal_sessions"));
    for (const RecordedRequest &request : received) {
        QCOMPARE(request.headers.value("Authorization"), "Bearer " + token.toUtf8());
        QVERIFY(!request.headers.contains("Content-Type"));
        QVERIFY(request.body.isEmpty());
    }
    QCOMPARE(received[1].method, QByteArray("POST"));
    QCOMPARE(received[2].method, QByteArray("POST"));
}

void LibrarySessionClientHttpTests::registrationThroughVerification()
{
    TestBackend backend;
    const LibrarySessionClient client = clientFor(backend.baseURL());

    Result<SignInResult> registered
        = client.registerAccount(u"new@example.test"_s, u"pw1"_s, u"pw1"_s);
    PELLWICK_VERIFY_SUCCESS(registered);
    const auto *pending = std::get_if<SignInResult::PendingVerification>(&registered->value);
    QVERIFY(pending);
    const RecordedRequest registration = backend.requests().value(0);
    QCOMPARE(registration.path, QByteArray("/api/auth/registrations"));
    QCOMPARE(registration.body,
             QByteArray(
                 R"({"email":"new@example.test","password":"pw1","password_confirmation":"pw1"})"));
    QVERIFY(!registration.headers.contains("Authorization"));

    Result<EmailVerificationStatus> status = client.emailVerificationStatus(pending->token);
    PELLWICK_VERIFY_SUCCESS(status);
    QCOMPARE(*status, (EmailVerificationStatus{u"pending"_s, u"new@example.test"_s}));
    QCOMPARE(backend.requests().value(1).method, QByteArray("GET"));

    // Until verified, the token opens no library.
    Result<LibraryShell> tooEarly = client.currentLibrary(pending->token);
    QVERIFY(!tooEarly);
    QCOMPARE(tooEarly.error(), unexpectedStatusError(403));

    Result<void> resent = client.resendEmailVerification(pending->token);
    PELLWICK_VERIFY_SUCCESS(resent);
    QCOMPARE(backend.resentVerificationCount(u"new@example.test"_s), 1);
    const RecordedRequest resend = backend.requests().last();
    QCOMPARE(resend.method, QByteArray("POST"));
    QCOMPARE(resend.path, QByteArray("/api/auth/email_verification/resend"));
    QVERIFY(!resend.headers.contains("Content-Type"));

    backend.updateAccount(u"new@example.test"_s,
                          [](TestBackend::Account &account) { account.emailVerified = true; });
    status = client.emailVerificationStatus(pending->token);
    PELLWICK_VERIFY_SUCCESS(status);
    QCOMPARE(status->status, u"verified"_s);
    Result<LibraryShell> shell = client.currentLibrary(pending->token);
    PELLWICK_VERIFY_SUCCESS(shell);
    QCOMPARE(shell->user.email, u"new@example.test"_s);
    QCOMPARE(shell->user.displayName, std::nullopt);

    Result<SignInResult> again = client.registerAccount(u"new@example.test"_s, u"pw"_s, u"pw"_s);
    QVERIFY(!again);
    QCOMPARE(again.error(), unexpectedStatusError(422));
}

void LibrarySessionClientHttpTests::passwordResetAndChange()
{
    TestBackend backend;
    const TestBackend::Account account = backend.addAccount(ada());
    const QString token = backend.issueToken(account.email);
    const QString otherDevice = backend.issueToken(account.email);
    TestBackend::Account other = ada();
    other.email = u"other@example.test"_s;
    const QString otherAccount = backend.issueToken(backend.addAccount(other).email);
    const LibrarySessionClient client = clientFor(backend.baseURL());

    Result<void> reset = client.requestPasswordReset(account.email);
    PELLWICK_VERIFY_SUCCESS(reset);
    QCOMPARE(backend.passwordResetEmails(), QStringList{account.email});
    QVERIFY(!backend.requests().value(0).headers.contains("Authorization"));

    Result<void> wrongCurrent = client.changePassword(token, u"nope"_s, u"n3w"_s, u"n3w"_s);
    QVERIFY(!wrongCurrent);
    QCOMPARE(wrongCurrent.error(), unexpectedStatusError(422));

    Result<void> changed = client.changePassword(token, account.password, u"n3w"_s, u"n3w"_s);
    PELLWICK_VERIFY_SUCCESS(changed);
    const RecordedRequest change = backend.requests().last();
    QCOMPARE(change.method, QByteArray("PATCH"));
    QCOMPARE(change.path, QByteArray("/api/auth/password"));
    QCOMPARE(change.headers.value("Authorization"), "Bearer " + token.toUtf8());
    QCOMPARE(change.headers.value("Content-Type"), QByteArray("application/json"));
    QCOMPARE(
        change.body,
        QByteArray(
            R"({"current_password":"correct horse","password":"n3w","password_confirmation":"n3w"})"));

    QVERIFY(!client.signInResult(account.email, account.password));
    QVERIFY(client.signInResult(account.email, u"n3w"_s));
    // Every session of the account ended with the old password; other accounts keep theirs.
    for (const QString &ended : {token, otherDevice}) {
        const Result<LibraryShell> library = client.currentLibrary(ended);
        QVERIFY(!library);
        QCOMPARE(library.error(), unexpectedStatusError(401));
    }
    PELLWICK_VERIFY_SUCCESS(client.currentLibrary(otherAccount));
}

void LibrarySessionClientHttpTests::baseURLPathIsKept()
{
    TestBackend backend(TestBackend::Options{"/v1"});
    const TestBackend::Account account = backend.addAccount(ada());
    for (const QString &suffix : {QString(), u"/"_s}) {
        const LibrarySessionClient client = clientFor(QUrl(backend.baseURL().toString() + suffix));
        QVERIFY(client.signIn(account.email, account.password));
    }
    const QList<RecordedRequest> received = backend.requests();
    QCOMPARE(received.size(), 2);
    QCOMPARE(received[0].path, QByteArray("/v1/api/auth/sessions"));
    QCOMPARE(received[1].path, QByteArray("/v1/api/auth/sessions"));
}

void LibrarySessionClientHttpTests::otherSchemesAreNeverFetched()
{
    TestBackend backend;
    QTemporaryDir folder;
    const QString port = QString::number(backend.port());
    const QStringList bases{QString(u"ftp://127.0.0.1:"_s + port + u"/"_s),
                            QUrl::fromLocalFile(folder.path()).toString(),
                            QString(u"gopher://127.0.0.1:"_s + port)};
    for (const QString &base : bases) {
        const LibrarySessionClient client = clientFor(QUrl(base));
        Result<LibraryShell> shell = client.currentLibrary(u"t"_s);
        QVERIFY(!shell);
        QCOMPARE(shell.error(), unexpectedStatusError(-1));
        Result<void> resend = client.resendEmailVerification(u"t"_s);
        QVERIFY(!resend);
        QCOMPARE(resend.error(), unexpectedStatusError(-1));
    }
    QVERIFY(backend.requests().isEmpty());
}

void LibrarySessionClientHttpTests::refusalsArriveTyped()
{
    TestBackend backend;
    const TestBackend::Account account = backend.addAccount(ada());
    const QString token = backend.issueToken(account.email);
    const LibrarySessionClient client = clientFor(backend.baseURL());

    backend.injectFault("POST",
                        "/api/billing/checkout_sessions",
                        Fault::reply(409,
                                     R"({"error":"storage_full","storage":{"state":"storage_full",)"
                                     R"("used_bytes":10,"limit_bytes":10,"remaining_bytes":0,)"
                                     R"("message":"No room left."}})"),
                        1);
    Result<CheckoutSession> full = client.requestCheckout(token);
    QVERIFY(!full);
    QCOMPARE(full.error(),
             Error(LibrarySessionClientError{
                 LibrarySessionClientError::StorageFull{{10, 10, 0, u"No room left."_s}}}));

    backend.injectFault(
        "GET", "/api/library", Fault::reply(403, R"({"error":"import_unavailable"})"), 1);
    Result<LibraryShell> unavailable = client.currentLibrary(token);
    QVERIFY(!unavailable);
    QCOMPARE(unavailable.error(),
             Error(LibrarySessionClientError{LibrarySessionClientError::ImportUnavailable{}}));

    backend.injectFault("POST",
                        "/api/auth/email_verification/resend",
                        Fault::reply(403, R"({"error":"import_unavailable"})"),
                        1);
    Result<void> resend = client.resendEmailVerification(token);
    QVERIFY(!resend);
    QCOMPARE(resend.error(), unexpectedStatusError(403));

    // The faults were used up: the endpoints answer normally again.
    QVERIFY(client.requestCheckout(token));
    QVERIFY(client.currentLibrary(token));
}

void LibrarySessionClientHttpTests::malformedRepliesNameTheKey()
{
    TestBackend backend;
    const LibrarySessionClient client = clientFor(backend.baseURL());

    backend.injectFault("GET", "/api/library", Fault::reply(200, shellJson().left(30)), 1);
    Result<LibraryShell> truncated = client.currentLibrary(u"t"_s);
    QVERIFY(!truncated);
    QVERIFY(decodingError(truncated.error()));
    QCOMPARE(decodingError(truncated.error())->kind, DecodingError::Kind::DataCorrupted);

    QByteArray mistyped = shellJson();
    mistyped.replace(R"("used_bytes":50)", R"("used_bytes":"50")");
    backend.injectFault("GET", "/api/library", Fault::reply(200, mistyped), 1);
    Result<LibraryShell> wrongType = client.currentLibrary(u"t"_s);
    QVERIFY(!wrongType);
    QVERIFY(decodingError(wrongType.error()));
    QCOMPARE(decodingError(wrongType.error())->kind, DecodingError::Kind::TypeMismatch);
    QCOMPARE(decodingError(wrongType.error())->keyPath,
             u"library.paid_plan.storage_entitlement.used_bytes"_s);

    backend.injectFault("POST",
                        "/api/auth/registrations",
                        Fault::reply(201, R"({"token":"t","email_verification":["pending"]})"),
                        1);
    Result<SignInResult> registration = client.registerAccount(u"a"_s, u"b"_s, u"b"_s);
    QVERIFY(!registration);
    QVERIFY(decodingError(registration.error()));
    QCOMPARE(decodingError(registration.error())->keyPath, u"email_verification"_s);
}

void LibrarySessionClientHttpTests::hostileRepliesNeverCrash()
{
    TestBackend backend;
    const LibrarySessionClient client = clientFor(backend.baseURL());
    QByteArray deep;
    for (int i = 0; i < 100'000; ++i)
        deep += "[";
    const QList<Fault> replies{
        Fault::reply(200, patternBytes(64 * 1024, 3), "application/octet-stream"),
        Fault::reply(201, deep),
        Fault::reply(201, QByteArray(R"({"token":"\u0000","user":{"id":1e400},"library":{}})")),
        Fault::reply(201, R"({"token":")" + QByteArray(300'000, 'x') + R"(","user":{}})"),
        Fault::reply(409, QByteArray(R"({"error":"storage_full","storage":[]})")),
        Fault::reply(403, QByteArray("{\"error\":\"import_unavailable\"")),
        Fault::reply(599, QByteArray("\xff\xfe\xfd")),
        Fault::closeConnection(201, R"({"token":"t")"),
    };
    int answered = 0;
    for (const Fault &fault : replies) {
        backend.clearFaults();
        backend.injectFault({}, "/api/auth/sessions", fault);
        backend.injectFault({}, "/api/auth/registrations", fault);
        backend.injectFault({}, "/api/auth/email_verification", fault);
        backend.injectFault({}, "/api/library", fault);
        backend.injectFault({}, "/api/billing/customer_portal_sessions", fault);
        // Each of these refuses every one of the replies with an error of its own kind.
        QVERIFY(!client.signInResult(u"a"_s, u"b"_s));
        QVERIFY(!client.registerAccount(u"a"_s, u"b"_s, u"b"_s));
        QVERIFY(!client.emailVerificationStatus(u"t"_s));
        QVERIFY(!client.currentLibrary(u"t"_s));
        QVERIFY(!client.requestCustomerPortal(u"t"_s));
        answered += 5;
    }
    QCOMPARE(backend.requests().size(), answered);
}

void LibrarySessionClientHttpTests::stalledBackendTimesOut()
{
    TestBackend backend;
    backend.injectFault({}, "/api/library", Fault::stall());
    const LibrarySessionClient client
        = clientFor(backend.baseURL(), CurlFetch::Options{std::chrono::seconds(1)});
    Result<LibraryShell> shell = client.currentLibrary(u"t"_s);
    QVERIFY(!shell);
    const TransportError *error = shell.error().as<TransportError>();
    QVERIFY2(error, qPrintable(describe(shell.error())));
    QVERIFY(error->timedOut);
}

void LibrarySessionClientHttpTests::cancellationReachesTheExchange()
{
    TestBackend backend;
    backend.injectFault({}, "/api/auth/password", Fault::stall());
    const LibrarySessionClient client = clientFor(backend.baseURL());
    std::stop_source stop;
    std::optional<Result<void>> result;
    std::thread worker(
        [&] { result = client.changePassword(u"t"_s, u"a"_s, u"b"_s, u"b"_s, stop.get_token()); });
    QTRY_COMPARE(backend.requests().size(), 1);
    stop.request_stop();
    worker.join();
    QVERIFY(result && !*result);
    const TransportError *error = result->error().as<TransportError>();
    QVERIFY(error);
    QVERIFY(error->cancelled);
}

void LibrarySessionClientHttpTests::jsonRoutesNeedAJsonBody_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("contentType"); // empty: no field
    QTest::addColumn<bool>("refused");
    const QList<std::pair<QByteArray, QByteArray>> routes{
        {"POST", "/api/auth/sessions"},
        {"POST", "/api/auth/registrations"},
        {"POST", "/api/auth/password_resets"},
        {"PATCH", "/api/auth/password"},
        {"POST", "/api/library/import_capacity_reservations"},
        {"POST", "/api/library/verified_backup_uploads"},
        {"POST", "/api/library/restore_requests"},
    };
    for (const auto &[method, path] : routes) {
        QTest::addRow("%s without a type", path.constData())
            << method << path << QByteArray() << true;
        QTest::addRow("%s as text", path.constData())
            << method << path << QByteArray("text/plain") << true;
        QTest::addRow("%s as a form", path.constData())
            << method << path << QByteArray("application/x-www-form-urlencoded") << true;
        QTest::addRow("%s as JSON with a charset", path.constData())
            << method << path << QByteArray("Application/JSON; charset=utf-8") << false;
    }
}

void LibrarySessionClientHttpTests::jsonRoutesNeedAJsonBody()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, contentType);
    QFETCH(bool, refused);
    TestBackend backend;
    const TestBackend::Account account = backend.addAccount(ada());
    HttpRequest request;
    request.url = backend.url(QString::fromLatin1(path));
    request.method = method;
    request.body = QByteArray(R"({"email":"ada@example.test"})");
    request.headers.set("Authorization", "Bearer " + backend.issueToken(account.email).toUtf8());
    if (!contentType.isEmpty())
        request.headers.set("Content-Type", contentType);
    Result<HttpResponse> response = CurlFetch()(request, {});
    QVERIFY(response && response->statusCode);
    if (refused) {
        QCOMPARE(*response->statusCode, 415);
        QCOMPARE(response->body, QByteArray(R"({"error":"unsupported_media_type"})"));
    } else {
        QVERIFY2(*response->statusCode != 415, response->body.constData());
    }
}

QTEST_GUILESS_MAIN(LibrarySessionClientHttpTests)
#include "LibrarySessionClientHttpTests.moc"
