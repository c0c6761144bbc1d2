#include "KeyboardNavigation.h"
#include "PageInspection.h"
#include "ShellWindowFixture.h"

#include <PellwickApp/Shell/State/SessionState.h>
#include <PellwickApp/Views/Session/SignedOutView.h>

#include <QSet>
#include <QStackedWidget>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

// Shown texts joined by "|", in the order they are made (the header's description first).
const QString header = u"Sign in to import RAW Originals into your Library.|Pellwick|"_s;
const QString signIn = u"Sign In|Email|name@example.com|Password|Password|Use at least 12 "
                       u"characters when creating or changing a password.|Sign In|"
                       u"Forgot Password?|Create Account"_s;
const QString signUp
    = u"Create Account|Email|name@example.com|Password|Password|Confirm "
      u"password|Confirm password|Create Account|Already have an account? Sign In"_s;
const QString gate = u"Verify your email|We sent a verification link to %1. Open it in your "
                     u"browser, then return here.|I verified my email|Resend verification "
                     u"email|Sign Out"_s;
const QString signInIds = u"sign-in.email=Email|sign-in.password=Password|sign-in.submit=Sign "
                          u"In|sign-in.forgot-password=Forgot Password?|registration.open=Create "
                          u"Account"_s;

struct Case
{
    bool signingUp = false;
    std::optional<QString> token = {};
    std::optional<QString> error = {};
    std::optional<QString> auth = {};
    QString texts = header + signIn;
    QString identifiers = signInIds;
    QString pressed = {};
    bool returnKey = false; ///< Return is pressed in or on `pressed` instead of a click
    QString calls = {};
};

/// A page in the case's state, with the sign-up form chosen when asked.
struct Page
{
    SessionState state;
    RecordingSessionOperations operations;
    SignedOutView view{state, operations};

    explicit Page(const Case &row)
    {
        if (row.signingUp)
            click(view, u"registration.open"_s);
        if (row.token)
            state.setEmail(u"ada@example.test"_s);
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

    /// Also: every control is reached from the keyboard, and the fields start at one x.
    void showsTheSessionState_data()
    {
        QTest::addColumn<Case>("row");
        const QString error = u"Email or password is incorrect"_s;
        const QString shownGate = header + gate.arg(u"ada@example.test"_s);
        QTest::newRow("sign-in") << Case{};
        QTest::newRow("error-and-message")
            << Case{.error = error, .auth = u"Sent"_s, .texts = header + error + u'|' + signIn};
        QTest::newRow("sign-up") << Case{.signingUp = true,
                                         .texts = header + signUp,
                                         .identifiers = u"registration.submit=Create Account"_s};
        QTest::newRow("gate") << Case{.token = u"p1"_s, .texts = shownGate, .identifiers = {}};
        QTest::newRow("gate-signing-up")
            << Case{.signingUp = true, .token = u"p1"_s, .texts = shownGate, .identifiers = {}};
    }

    void showsTheSessionState()
    {
        QFETCH(Case, row);
        Page page(row);
        QCOMPARE(shownTexts(page.view).join(u'|'), row.texts);
        QCOMPARE(shownIdentifiers(page.view).join(u'|'), row.identifiers);
        page.view.resize(640, 560);
        page.view.show();
        QVERIFY(QTest::qWaitForWindowActive(&page.view));
        saveGrab(page.view, u"signed-out."_s + QString::fromLatin1(QTest::currentDataTag()));
        const QList<QWidget *> reached = focusChain(page.view);
        QSet<int> fieldStarts;
        for (QWidget *control : page.view.findChildren<QWidget *>()) {
            const bool field = qobject_cast<QLineEdit *>(control);
            if (control->isVisible() && (field || qobject_cast<QPushButton *>(control)))
                QVERIFY(reached.contains(control));
            if (control->isVisible() && field)
                fieldStarts.insert(control->mapTo(&page.view, QPoint()).x());
        }
        QVERIFY(fieldStarts.size() <= 1);
        QCOMPARE(page.operations.calls, QStringList());
    }

    void buttonsStartTheirOperation_data()
    {
        QTest::addColumn<Case>("row");
        QTest::newRow("sign in") << Case{.pressed = u"sign-in.submit"_s, .calls = u"signIn"_s};
        QTest::newRow("forgot") << Case{.pressed = u"sign-in.forgot-password"_s,
                                        .calls = u"requestPasswordReset"_s};
        QTest::newRow("register") << Case{
            .signingUp = true, .pressed = u"registration.submit"_s, .calls = u"registerAccount"_s};
        QTest::newRow("back to sign-in")
            << Case{.signingUp = true, .pressed = u"Already have an account? Sign In"_s};
        QTest::newRow("return in the password field signs in")
            << Case{.pressed = u"sign-in.password"_s, .returnKey = true, .calls = u"signIn"_s};
        QTest::newRow("return in the email field waits for the password")
            << Case{.pressed = u"sign-in.email"_s, .returnKey = true};
        QTest::newRow("return on the focused forgot button")
            << Case{.pressed = u"sign-in.forgot-password"_s,
                    .returnKey = true,
                    .calls = u"requestPasswordReset"_s};
        QTest::newRow("return in the confirmation registers")
            << Case{.signingUp = true,
                    .pressed = u"Confirm password"_s,
                    .returnKey = true,
                    .calls = u"registerAccount"_s};
        QTest::newRow("verified") << Case{.token = u"p1"_s,
                                          .pressed = u"I verified my email"_s,
                                          .calls = u"refreshVerification"_s};
        QTest::newRow("resend") << Case{.token = u"p1"_s,
                                        .pressed = u"Resend verification email"_s,
                                        .calls = u"resendVerification:p1"_s};
        QTest::newRow("sign out") << Case{
            .token = u"p1"_s, .pressed = u"Sign Out"_s, .calls = u"signOut"_s};
    }

    void buttonsStartTheirOperation()
    {
        QFETCH(Case, row);
        Page page(row);
        if (row.returnKey)
            QTest::keyClick(shownControl(page.view, row.pressed), Qt::Key_Return);
        else
            click(page.view, row.pressed);
        QCOMPARE(page.operations.calls.join(u'|'), row.calls);
    }

    void typedTextFollowsBothFormsWithTheCaretKept()
    {
        Page page({});
        auto *email = qobject_cast<QLineEdit *>(shownControl(page.view, u"sign-in.email"_s));
        QTest::keyClicks(email, u"ada@example.test"_s);
        email->setCursorPosition(3);
        QTest::keyClicks(email, u"x"_s); // each keystroke is echoed by the state
        QCOMPARE(email->cursorPosition(), 4);
        click(page.view, u"registration.open"_s);
        QTest::keyClicks(shownControl(page.view, u"Password"_s), u"secret"_s);
        click(page.view, u"Already have an account? Sign In"_s);
        QCOMPARE(email->text(), u"adax@example.test"_s);
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
        QTRY_VERIFY(shownTexts(*first).contains(u"Verify your email"_s));

        click(*first, u"Sign Out"_s); // back to the form of the registration, email kept
        QCOMPARE(shownTexts(*first).join(u'|'),
                 header + QString(signUp).replace(u"name@example.com"_s, u"ada@example.test"_s));

        state.setSession(signedInSession());
        state.setSession(std::nullopt);
        QTRY_VERIFY(!first); // a new page, on the sign-in form
        QCOMPARE(qobject_cast<QStackedWidget *>(page()->parentWidget())->currentWidget(), page());
        QVERIFY(!page()->isSigningUp());
    }
};

QTEST_MAIN(SignedOutViewTests)
#include "SignedOutViewTests.moc"
