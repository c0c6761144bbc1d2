#include <PellwickCore/Backend/LibrarySessionClient.h>

#include <QTest>

#include <Support/BackendReplies.h>
#include <Support/ScriptedFetch.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

LibrarySessionClient clientWith(const ScriptedFetch &fetch)
{
    return LibrarySessionClient(QUrl(u"https://api.example.test"_s), fetch.function());
}

Result<LibraryShell> libraryFrom(const QByteArray &body, int status = 200)
{
    ScriptedFetch fetch;
    fetch.reply(status, body);
    return clientWith(fetch).currentLibrary(u"t"_s);
}

void verifyDecodingFailure(const Error &error, DecodingError::Kind kind, const QString &keyPath)
{
    const DecodingError *decoding = error.as<DecodingError>();
    QVERIFY2(decoding, qPrintable(describe(error)));
    QCOMPARE(decoding->kind, kind);
    QCOMPARE(decoding->keyPath, keyPath);
}

} // namespace

class LibrarySessionClientLibraryStateTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void libraryIsReadFieldByField();
    void billingPeriodOnlyWithBothDates_data();
    void billingPeriodOnlyWithBothDates();
    void displayNameMayBeAbsentOrNull();
    void planStatusWords_data();
    void planStatusWords();
    void malformedLibrariesNameTheKey_data();
    void malformedLibrariesNameTheKey();
    void checkoutReturnsTheURLAsSentWithThePlan();
    void portalLinkMustFormAURL_data();
    void portalLinkMustFormAURL();
    void billingRepliesAreMappedByTheFrame();
};

void LibrarySessionClientLibraryStateTests::libraryIsReadFieldByField()
{
    Result<LibraryShell> shell = libraryFrom(shellJson());
    PELLWICK_VERIFY_SUCCESS(shell);

    LibraryShell expected;
    expected.user = LibraryUser{4, u"ada@example.test"_s, u"Ada"_s};
    expected.library.id = 9;
    expected.library.trialQuota = {5, 10};
    expected.library.paidPlan.status = PaidPlanStatus::Paid;
    expected.library.paidPlan.priceCents = 1200;
    expected.library.paidPlan.storageEntitlement = {50, 100};
    expected.library.paidPlan.restoreAllowance = {7, 70};
    expected.library.paidPlan.billingPeriod
        = BillingPeriod{u"2025-03-01T00:00:00Z"_s, u"2025-04-01T00:00:00Z"_s};
    QCOMPARE(*shell, expected);
}

void LibrarySessionClientLibraryStateTests::billingPeriodOnlyWithBothDates_data()
{
    QTest::addColumn<QByteArray>("billingPeriod");
    QTest::addColumn<bool>("present");
    QTest::newRow("both dates") << fullBillingPeriod << true;
    QTest::newRow("start only") << QByteArray(R"({"starts_at":"2025-03-01"})") << false;
    QTest::newRow("end only") << QByteArray(R"({"ends_at":"2025-04-01"})") << false;
    QTest::newRow("end null") << QByteArray(R"({"starts_at":"2025-03-01","ends_at":null})")
                              << false;
    QTest::newRow("empty object") << QByteArray("{}") << false;
}

void LibrarySessionClientLibraryStateTests::billingPeriodOnlyWithBothDates()
{
    QFETCH(QByteArray, billingPeriod);
    QFETCH(bool, present);
    Result<LibraryShell> shell
        = libraryFrom(shellJson(libraryJson(paidPlanJson("paid", billingPeriod))));
    PELLWICK_VERIFY_SUCCESS(shell);
    QCOMPARE(shell->library.paidPlan.billingPeriod.has_value(), present);
}

void LibrarySessionClientLibraryStateTests::displayNameMayBeAbsentOrNull()
{
    Result<LibraryShell> absent = libraryFrom(shellJson(libraryJson(), userJson({})));
    PELLWICK_VERIFY_SUCCESS(absent);
    QCOMPARE(absent->user.displayName, std::nullopt);

    Result<LibraryShell> null
        = libraryFrom(shellJson(libraryJson(), userJson(R"("display_name":null)")));
    PELLWICK_VERIFY_SUCCESS(null);
    QCOMPARE(null->user.displayName, std::nullopt);

    Result<LibraryShell> empty
        = libraryFrom(shellJson(libraryJson(), userJson(R"("display_name":"")")));
    PELLWICK_VERIFY_SUCCESS(empty);
    QCOMPARE(empty->user.displayName, std::optional<QString>(QString()));
}

void LibrarySessionClientLibraryStateTests::planStatusWords_data()
{
    QTest::addColumn<QByteArray>("word");
    QTest::addColumn<int>("status"); // -1: refused
    QTest::newRow("trial") << QByteArray("trial") << int(PaidPlanStatus::Trial);
    QTest::newRow("paid") << QByteArray("paid") << int(PaidPlanStatus::Paid);
    QTest::newRow("expired") << QByteArray("expired") << int(PaidPlanStatus::Expired);
    QTest::newRow("payment_failed")
        << QByteArray("payment_failed") << int(PaidPlanStatus::PaymentFailed);
    QTest::newRow("other letter case") << QByteArray("Paid") << -1;
    QTest::newRow("camel case") << QByteArray("paymentFailed") << -1;
    QTest::newRow("unknown") << QByteArray("cancelled") << -1;
    QTest::newRow("empty") << QByteArray() << -1;
}

void LibrarySessionClientLibraryStateTests::planStatusWords()
{
    QFETCH(QByteArray, word);
    QFETCH(int, status);
    Result<LibraryShell> shell = libraryFrom(shellJson(libraryJson(paidPlanJson(word))));
    if (status < 0) {
        QVERIFY(!shell);
        verifyDecodingFailure(
            shell.error(), DecodingError::Kind::DataCorrupted, u"library.paid_plan.status"_s);
        return;
    }
    PELLWICK_VERIFY_SUCCESS(shell);
    QCOMPARE(int(shell->library.paidPlan.status), status);
}

void LibrarySessionClientLibraryStateTests::malformedLibrariesNameTheKey_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<DecodingError::Kind>("kind");
    QTest::addColumn<QString>("keyPath");

    QByteArray noPeriod = paidPlanJson();
    noPeriod.replace(QByteArray(R"(,"billing_period":)" + fullBillingPeriod), "");
    QTest::newRow("plan without billing period")
        << shellJson(libraryJson(noPeriod)) << DecodingError::Kind::KeyNotFound
        << u"library.paid_plan.billing_period"_s;
    QTest::newRow("billing period null")
        << shellJson(libraryJson(paidPlanJson("paid", "null")))
        << DecodingError::Kind::ValueNotFound << u"library.paid_plan.billing_period"_s;
    QTest::newRow("billing date of the wrong type")
        << shellJson(libraryJson(paidPlanJson("paid", R"({"starts_at":1,"ends_at":"x"})")))
        << DecodingError::Kind::TypeMismatch << u"library.paid_plan.billing_period.starts_at"_s;
    QByteArray fractional = shellJson();
    fractional.replace(R"("trial_quota":{"used_bytes":5)", R"("trial_quota":{"used_bytes":5.5)");
    QTest::newRow("fractional byte count")
        << fractional << DecodingError::Kind::DataCorrupted << u"library.trial_quota.used_bytes"_s;
    QByteArray quoted = shellJson();
    quoted.replace(R"("price_cents":1200)", R"("price_cents":"1200")");
    QTest::newRow("price as text")
        << quoted << DecodingError::Kind::TypeMismatch << u"library.paid_plan.price_cents"_s;
    QByteArray huge = shellJson();
    huge.replace(R"("limit_bytes":100})", R"("limit_bytes":1e300})");
    QTest::newRow("byte count beyond 64 bits")
        << huge << DecodingError::Kind::DataCorrupted
        << u"library.paid_plan.storage_entitlement.limit_bytes"_s;
    QByteArray negativeUsed = shellJson();
    negativeUsed.replace(R"("trial_quota":{"used_bytes":5)", R"("trial_quota":{"used_bytes":-5)");
    QTest::newRow("negative used bytes") << negativeUsed << DecodingError::Kind::DataCorrupted
                                         << u"library.trial_quota.used_bytes"_s;
    QByteArray negativeLimit = shellJson();
    negativeLimit.replace(R"("limit_bytes":70})", R"("limit_bytes":-1})");
    QTest::newRow("negative limit") << negativeLimit << DecodingError::Kind::DataCorrupted
                                    << u"library.paid_plan.restore_allowance.limit_bytes"_s;
    QTest::newRow("no user") << QByteArray(R"({"library":)" + libraryJson() + "}")
                             << DecodingError::Kind::KeyNotFound << u"user"_s;
    QTest::newRow("no library") << QByteArray(R"({"user":)" + userJson() + "}")
                                << DecodingError::Kind::KeyNotFound << u"library"_s;
    QTest::newRow("library as array")
        << shellJson("[]") << DecodingError::Kind::TypeMismatch << u"library"_s;
    QTest::newRow("empty body") << QByteArray() << DecodingError::Kind::DataCorrupted << QString();
    QTest::newRow("truncated JSON")
        << shellJson().left(40) << DecodingError::Kind::DataCorrupted << QString();
}

void LibrarySessionClientLibraryStateTests::malformedLibrariesNameTheKey()
{
    QFETCH(QByteArray, body);
    QFETCH(DecodingError::Kind, kind);
    QFETCH(QString, keyPath);
    Result<LibraryShell> shell = libraryFrom(body);
    QVERIFY(!shell);
    verifyDecodingFailure(shell.error(), kind, keyPath);
}

void LibrarySessionClientLibraryStateTests::checkoutReturnsTheURLAsSentWithThePlan()
{
    // Percent-escapes and "+" must survive unchanged: the link may carry a signature.
    const QByteArray url = "https://pay.example.test/c/cs_1?sig=a%2Fb%3D&x=a+b";
    ScriptedFetch fetch;
    fetch
        .reply(201,
               R"({"checkout_url":")" + url + R"(","paid_plan":)" + paidPlanJson("trial", "{}")
                   + "}")
        .reply(201, R"({"checkout_url":"not a url","paid_plan":)" + paidPlanJson() + "}")
        .reply(200, R"({"checkout_url":")" + url + R"(","paid_plan":)" + paidPlanJson() + "}");
    const LibrarySessionClient client = clientWith(fetch);

    Result<CheckoutSession> checkout = client.requestCheckout(u"t"_s);
    PELLWICK_VERIFY_SUCCESS(checkout);
    QCOMPARE(checkout->url, QString::fromLatin1(url));
    QCOMPARE(checkout->paidPlan.status, PaidPlanStatus::Trial);
    QCOMPARE(checkout->paidPlan.storageEntitlement, (StorageEntitlementState{50, 100}));
    QCOMPARE(checkout->paidPlan.billingPeriod, std::nullopt);

    Result<CheckoutSession> invalid = client.requestCheckout(u"t"_s);
    QVERIFY(!invalid);
    verifyDecodingFailure(invalid.error(), DecodingError::Kind::DataCorrupted, u"checkout_url"_s);

    Result<CheckoutSession> wrongStatus = client.requestCheckout(u"t"_s);
    QVERIFY(!wrongStatus);
    QCOMPARE(wrongStatus.error(), unexpectedStatusError(200));
}

void LibrarySessionClientLibraryStateTests::portalLinkMustFormAURL_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("url"); // empty: refused
    QTest::newRow("link") << QByteArray(R"({"portal_url":"https://billing.example.test/p/1"})")
                          << u"https://billing.example.test/p/1"_s;
    QTest::newRow("empty text") << QByteArray(R"({"portal_url":""})") << QString();
    QTest::newRow("spaces") << QByteArray(R"({"portal_url":"https://x.test/a b"})") << QString();
    QTest::newRow("broken host") << QByteArray(R"({"portal_url":"https://[x/"})") << QString();
}

void LibrarySessionClientLibraryStateTests::portalLinkMustFormAURL()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, url);
    ScriptedFetch fetch;
    fetch.reply(201, body);
    Result<QString> portal = clientWith(fetch).requestCustomerPortal(u"t"_s);
    if (url.isEmpty()) {
        QVERIFY(!portal);
        verifyDecodingFailure(portal.error(), DecodingError::Kind::DataCorrupted, u"portal_url"_s);
        return;
    }
    PELLWICK_VERIFY_SUCCESS(portal);
    QCOMPARE(*portal, url);
}

void LibrarySessionClientLibraryStateTests::billingRepliesAreMappedByTheFrame()
{
    ScriptedFetch fetch;
    fetch.reply(403, R"({"error":"import_unavailable"})")
        .reply(409,
               R"({"error":"storage_full","storage":{"state":"storage_full","used_bytes":3,)"
               R"("limit_bytes":3,"remaining_bytes":0,"message":"Full."}})")
        .reply(401, R"({"error":"unauthorized"})");
    const LibrarySessionClient client = clientWith(fetch);

    Result<QString> portal = client.requestCustomerPortal(u"t"_s);
    QVERIFY(!portal);
    QCOMPARE(portal.error(),
             Error(LibrarySessionClientError{LibrarySessionClientError::ImportUnavailable{}}));

    Result<CheckoutSession> checkout = client.requestCheckout(u"t"_s);
    QVERIFY(!checkout);
    QCOMPARE(checkout.error(),
             Error(LibrarySessionClientError{
                 LibrarySessionClientError::StorageFull{{3, 3, 0, u"Full."_s}}}));

    Result<LibraryShell> shell = client.currentLibrary(u"t"_s);
    QVERIFY(!shell);
    QCOMPARE(shell.error(), unexpectedStatusError(401));
}

QTEST_GUILESS_MAIN(LibrarySessionClientLibraryStateTests)
#include "LibrarySessionClientLibraryStateTests.moc"
