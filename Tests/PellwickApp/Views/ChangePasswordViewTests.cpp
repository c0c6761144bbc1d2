#include "KeyboardNavigation.h"
#include "PageInspection.h"
#include "ShellWindowFixture.h"

#include <PellwickApp/Shell/State/SessionState.h>
#include <PellwickApp/Views/Kit/ToolbarIconButton.h>
#include <PellwickApp/Views/Pages/ChangePasswordView.h>

#include <QDialog>
#include <QSignalSpy>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

const QStringList texts{u"Change Password"_s,
                        u"Current password"_s,
                        u"New password"_s,
                        u"Confirm new password"_s,
                        u"Cancel"_s,
                        u"Change Password"_s};

/// The window's sheet, opened from the toolbar, with the current password typed.
QDialog &openSheet(ShellWindowFixture &fixture)
{
    fixture.find<ToolbarIconButton>(u"change-password.open"_s)->click();
    auto *sheet = fixture.find<QDialog>(u"change-password.sheet"_s);
    QTest::keyClicks(shownControl(*sheet, u"change-password.current"_s), u"old"_s);
    return *sheet;
}

} // namespace

class ChangePasswordViewTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { PellwickControlStyles::install(); }

    void showsTheFormAndItsFailure()
    {
        SessionState state;
        RecordingSessionOperations operations;
        ChangePasswordView view(state, operations);
        QCOMPARE(shownTexts(view), texts);
        QCOMPARE(shownIdentifiers(view),
                 QStringList({u"change-password.current"_s,
                              u"change-password.new"_s,
                              u"change-password.confirmation"_s,
                              u"change-password.submit"_s}));
        for (QLineEdit *field : view.findChildren<QLineEdit *>()) {
            QCOMPARE(field->echoMode(), QLineEdit::Password);
            QVERIFY(field->inputMethodHints().testFlag(Qt::ImhSensitiveData));
        }
        state.setPasswordChangeErrorMessage(u"Password change failed"_s);
        QVERIFY(shownTexts(view).contains(u"Password change failed"_s));
        saveGrab(view, u"change-password.error"_s);
    }

    void buttonsStartTheirOperation_data()
    {
        QTest::addColumn<QString>("pressed");
        QTest::addColumn<bool>("changed");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<int>("dismissals");
        QTest::newRow("cancel") << u"Cancel"_s << false << QStringList{u"resetPasswordChangeForm"_s}
                                << 1;
        QTest::newRow("refused") << u"change-password.submit"_s << false
                                 << QStringList{u"changePassword"_s} << 0;
        QTest::newRow("changed") << u"change-password.submit"_s << true
                                 << QStringList{u"changePassword"_s} << 1;
    }

    void buttonsStartTheirOperation()
    {
        QFETCH(QString, pressed);
        QFETCH(bool, changed);
        QFETCH(QStringList, calls);
        QFETCH(int, dismissals);
        SessionState state;
        RecordingSessionOperations operations;
        operations.passwordChanged = changed;
        ChangePasswordView view(state, operations);
        QSignalSpy dismissed(&view, &ChangePasswordView::dismissRequested);
        click(view, pressed);
        QCOMPARE(operations.calls, calls);
        QCOMPARE(dismissed.size(), dismissals);
    }

    void sheetThroughTheViewModel()
    {
        ShellWindowFixture fixture;
        SessionState &state = fixture.viewModel().sessionState();
        state.setSession(signedInSession());
        fixture.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(fixture.window.get()));

        QDialog *sheet = &openSheet(fixture); // a refusal keeps it open with its failure
        QTRY_VERIFY(sheet->isActiveWindow());
        const QList<QWidget *> chain = focusChain(*sheet);
        QCOMPARE(chain.size(), 5);
        for (QWidget *control : chain) {
            if (qobject_cast<QLineEdit *>(control))
                QTest::keyClick(control, Qt::Key_Return);
        }
        fixture.sessionBackend.reply(422, "{}");
        click(*sheet, u"change-password.submit"_s);
        QTRY_VERIFY(shownTexts(*sheet).contains(u"Password change failed"_s));
        QVERIFY(sheet->isVisible());
        QCOMPARE(fixture.sessionBackend.requests().size(), 1); // Return sent nothing

        click(*sheet, u"Cancel"_s); // reopened empty, without the failure
        QVERIFY(!sheet->isVisible());
        fixture.find<ToolbarIconButton>(u"change-password.open"_s)->click();
        QCOMPARE(shownTexts(*sheet), texts);

        openSheet(fixture);
        state.setSession(std::nullopt); // the session ends underneath it
        QVERIFY(!sheet->isVisible());
        QCOMPARE(shownTexts(*sheet), texts);

        state.setSession(signedInSession()); // a success arriving after the sheet closed
        fixture.sessionBackend.replyWhenReleased(204);
        openSheet(fixture);
        click(*sheet, u"change-password.submit"_s);
        QTest::keyClick(sheet, Qt::Key_Escape);
        QVERIFY(!sheet->isVisible());
        fixture.sessionBackend.release();
        QTRY_VERIFY(!state.session());
        QCOMPARE(state.authMessage(), u"Password changed. Sign in again with your new password."_s);
        QVERIFY(!fixture.window->isChangingPassword());
    }
};

QTEST_MAIN(ChangePasswordViewTests)
#include "ChangePasswordViewTests.moc"
