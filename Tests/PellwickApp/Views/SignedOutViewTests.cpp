#include "KeyboardNavigation.h"
#include "PageInspection.h"
#include "ShellWindowFixture.h"

#include <PellwickApp/Shell/State/SessionState.h>
#include <PellwickApp/Views/Pages/SignedOutView.h>

#include <QStackedWidget>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

// In the order the header makes them: its description, then its title.
const QStringList header{u"Sign in to import RAW Originals into your Library."_s, u"Pellwick"_s};
const QStringList signInTexts{u"Sign In"_s,
                              u"Email"_s,
                              u"name@example.com"_s,
                              u"Password"_s,
                              u"Password"_s,
                              u"Use at least 12 characters when creating or changing a password."_s,
                              u"Sign In"_s,
                              u"Forgot Password?"_s,
                              u"Create Account"_s};
const QStringList signInIdentifiers{u"sign-in.email"_s,
                                    u"sign-in.password"_s,
                                    u"sign-in.submit"_s,
                                    u"sign-in.forgot-password"_s,
                                    u"registration.open"_s};
const QStringList signUpTexts{u"Create Account"_s,
                              u"Email"_s,
                              u"name@example.com"_s,
                              u"Password"_s,
                              u"Password"_s,
                              u"Confirm password"_s,
                              u"Confirm password"_s,
                              u"Create Account"_s,
                              u"Already have an account? Sign In"_s};
const QStringList gateButtons{
    u"I verified my email"_s, u"Resend verification email"_s, u"Sign Out"_s};

QString gateText(const QString &email)
{
    return u"We sent a verification link to "_s + email
           + u". Open it in your browser, then return here."_s;
}

struct Case
{
    bool signingUp = false;
    std::optional<QString> token = {};
    QString email = {};
    std::optional<QString> error = {};
    std::optional<QString> auth = {};
    QStringList texts = header + signInTexts;
    QStringList identifiers = signInIdentifiers;
    QString pressed = {};
    QStringList calls = {};
};

/// A page over `state` in the case's state, with the sign-up form chosen when asked.
struct Page
{
    SessionState state;
    RecordingSessionOperations operations;
    SignedOutView view{state, operations};

    explicit Page(const Case &row)
    {
        if (row.signingUp)
            click(view, u"registration.open"_s);
        state.setEmail(row.email);
        state.setPendingVerificationToken(row.token);
        state.setErrorMessage(row.error);
        state.setAuthMessage(row.auth);
    }
};

} // namespace

Q_DECLARE_METATYPE(Case)

class SignedOutViewTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { PellwickControlStyles::install(); }

    void showsTheSessionState_data()
    {
        QTest::addColumn<Case>("row");
        const QString error = u"Email or password is incorrect"_s;
        const QString auth = u"If that email is registered, a password reset link is on its way."_s;
        QTest::newRow("sign-in") << Case{};
        QTest::newRow("error-and-message") << Case{
            .error = error, .auth = auth, .texts = header + QStringList{error} + signInTexts};
        QTest::newRow("message") << Case{.auth = auth,
                                         .texts = header + QStringList{auth} + signInTexts};
        QTest::newRow("sign-up") << Case{.signingUp = true,
                                         .texts = header + signUpTexts,
                                         .identifiers = {u"registration.submit"_s}};
        const QStringList gate = header + QStringList{u"Verify your email"_s};
        QTest::newRow("gate") << Case{.token = u"p1"_s,
                                      .email = u"ada@example.test"_s,
                                      .texts = gate + QStringList{gateText(u"ada@example.test"_s)}
                                               + gateButtons,
                                      .identifiers = {}};
        QTest::newRow("gate-signing-up-no-email")
            << Case{.signingUp = true,
                    .token = u"p1"_s,
                    .texts = gate + QStringList{gateText({})} + gateButtons,
                    .identifiers = {}};
    }

    void showsTheSessionState()
    {
        QFETCH(Case, row);
        Page page(row);
        QCOMPARE(shownTexts(page.view), row.texts);
        QCOMPARE(shownIdentifiers(page.view), row.identifiers);
        page.view.resize(640, 560);
        page.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page.view));
        saveGrab(page.view, u"signed-out."_s + QString::fromLatin1(QTest::currentDataTag()));
    }

    void buttonsStartTheirOperation_data()
    {
        QTest::addColumn<Case>("row");
        QTest::newRow("sign in") << Case{.pressed = u"sign-in.submit"_s, .calls = {u"signIn"_s}};
        QTest::newRow("forgot") << Case{.pressed = u"sign-in.forgot-password"_s,
                                        .calls = {u"requestPasswordReset"_s}};
        QTest::newRow("register") << Case{.signingUp = true,
                                          .pressed = u"registration.submit"_s,
                                          .calls = {u"registerAccount"_s}};
        QTest::newRow("back to sign-in")
            << Case{.signingUp = true, .pressed = u"Already have an account? Sign In"_s};
        QTest::newRow("verified") << Case{.token = u"p1"_s,
                                          .pressed = u"I verified my email"_s,
                                          .calls = {u"refreshVerification"_s}};
        QTest::newRow("resend") << Case{.token = u"p1"_s,
                                        .pressed = u"Resend verification email"_s,
                                        .calls = {u"resendVerification:p1"_s}};
        QTest::newRow("sign out") << Case{
            .token = u"p1"_s, .pressed = u"Sign Out"_s, .calls = {u"signOut"_s}};
    }

    void buttonsStartTheirOperation()
    {
        QFETCH(Case, row);
        Page page(row);
        click(page.view, row.pressed);
        QCOMPARE(page.operations.calls, row.calls);
    }

    void keyboardReachesEveryControlAndReturnDoesNothing_data() { showsTheSessionState_data(); }

    void keyboardReachesEveryControlAndReturnDoesNothing()
    {
        QFETCH(Case, row);
        Page page(row);
        page.view.show();
        QVERIFY(QTest::qWaitForWindowActive(&page.view));
        const QList<QWidget *> reached = focusChain(page.view);
        for (QWidget *control : page.view.findChildren<QWidget *>()) {
            const bool field = qobject_cast<QLineEdit *>(control);
            if (!control->isVisible() || !(field || qobject_cast<QPushButton *>(control)))
                continue;
            QVERIFY(reached.contains(control));
            if (field)
                QTest::keyClick(control, Qt::Key_Return);
        }
        QCOMPARE(page.operations.calls, QStringList());
    }

    void typedTextFollowsBothFormsWithTheCaretKept()
    {
        Page page({});
        auto *email = qobject_cast<QLineEdit *>(shownControl(page.view, u"sign-in.email"_s));
        QTest::keyClicks(email, u"ada@example.test"_s);
        email->setCursorPosition(3);
        QTest::keyClicks(email, u"x"_s);
        QCOMPARE(email->cursorPosition(), 4);
        click(page.view, u"registration.open"_s);
        QTest::keyClicks(shownControl(page.view, u"Password"_s), u"secret"_s);
        click(page.view, u"Already have an account? Sign In"_s);
        QCOMPARE(page.state.email(), u"adax@example.test"_s);
        QCOMPARE(email->text(), page.state.email());
        auto *password = qobject_cast<QLineEdit *>(shownControl(page.view, u"sign-in.password"_s));
        QCOMPARE(password->text(), u"secret"_s);
        page.state.setPassword({}); // emptied by the view model: gone from the field too
        QCOMPARE(password->text(), QString());
    }

    void signOutAndFallBackThroughTheViewModel()
    {
        ShellWindowFixture fixture;
        const auto page = [&] { return fixture.find<SignedOutView>(u"page.signedOut"_s); };
        QPointer<SignedOutView> first = page();
        click(*first, u"registration.open"_s);
        SessionState &state = fixture.viewModel().sessionState();
        state.setEmail(u"ada@example.test"_s);
        state.setPassword(u"twelve chars"_s);
        state.setPasswordConfirmation(u"twelve chars"_s);
        fixture.sessionBackend.reply(201, R"({"token":"p1","email_verification":"pending"})");
        click(*first, u"registration.submit"_s);
        QTRY_VERIFY(shownTexts(*first).contains(gateText(u"ada@example.test"_s)));

        click(*first, u"Sign Out"_s); // back to the form of the registration, email kept
        QVERIFY(first->isSigningUp());
        QVERIFY(shownTexts(*first).contains(u"ada@example.test"_s));

        state.setSession(signedInSession());
        state.setSession(std::nullopt);
        QTRY_VERIFY(!first); // a new page, on the sign-in form
        QCOMPARE(qobject_cast<QStackedWidget *>(page()->parentWidget())->currentWidget(), page());
        QVERIFY(!page()->isSigningUp());
    }
};

QTEST_MAIN(SignedOutViewTests)
#include "SignedOutViewTests.moc"
