#include "KeyboardNavigation.h"
#include "PageInspection.h"
#include "ShellWindowFixture.h"

#include <PellwickApp/Shell/State/SessionState.h>
#include <PellwickApp/Views/Kit/ToolbarIconButton.h>
#include <PellwickApp/Views/Session/ChangePasswordView.h>

#include <QDialog>
#include <QSignalSpy>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

const QString texts
    = u"Change Password|Current password|New password|Confirm new password|Cancel|Change Password"_s;

/// Opens the window's sheet from the toolbar and types the current password.
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
        QCOMPARE(shownTexts(view).join(u'|'), texts);
        QCOMPARE(shownIdentifiers(view).join(u'|'),
                 u"change-password.current=Current password|change-password.new=New "
                 u"password|change-password.confirmation=Confirm new "
                 u"password|change-password.submit=Change Password"_s);
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
        QTest::addColumn<QString>("calls");
        QTest::newRow("cancel") << u"Cancel"_s << false << u"resetPasswordChangeForm"_s;
        QTest::newRow("refused") << u"change-password.submit"_s << false << u"changePassword"_s;
        QTest::newRow("changed") << u"change-password.submit"_s << true << u"changePassword"_s;
        QTest::newRow("return in a field of the sheet")
            << u"return"_s << true << u"changePassword"_s;
    }

    void buttonsStartTheirOperation()
    {
        QFETCH(QString, pressed);
        QFETCH(bool, changed);
        QFETCH(QString, calls);
        SessionState state;
        RecordingSessionOperations operations;
        operations.passwordChanged = changed;
        QDialog sheet;
        ChangePasswordView view(state, operations, &sheet);
        QSignalSpy dismissed(&view, &ChangePasswordView::dismissRequested);
        if (pressed == u"return") {
            sheet.show();
            QVERIFY(QTest::qWaitForWindowExposed(&sheet));
            QTest::keyClick(shownControl(view, u"change-password.new"_s), Qt::Key_Return);
        } else {
            click(view, pressed);
        }
        QCOMPARE(operations.calls.join(u'|'), calls);
        QTRY_COMPARE(dismissed.size(), changed || pressed == u"Cancel" ? 1 : 0);
    }

    void sheetThroughTheViewModel()
    {
        ShellWindowFixture fixture;
        SessionState &state = fixture.viewModel().sessionState();
        state.setSession(signedInSession());
        fixture.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(fixture.window.get()));

        QDialog *sheet = &openSheet(fixture); // Return submits; a refusal keeps it open
        QTRY_VERIFY(sheet->isActiveWindow());
        const QList<QWidget *> chain = focusChain(*sheet);
        QCOMPARE(chain.size(), 5);
        fixture.sessionBackend.reply(422, "{}");
        QTest::keyClick(shownControl(*sheet, u"change-password.confirmation"_s), Qt::Key_Return);
        QTRY_VERIFY(shownTexts(*sheet).contains(u"Password change failed"_s));
        QVERIFY(sheet->isVisible());
        QCOMPARE(fixture.sessionBackend.requests().size(), 1);

        click(*sheet, u"Cancel"_s); // reopened empty, without the failure
        QVERIFY(!sheet->isVisible());
        fixture.find<ToolbarIconButton>(u"change-password.open"_s)->click();
        QCOMPARE(shownTexts(*sheet).join(u'|'), texts);

        openSheet(fixture);
        state.setSession(std::nullopt); // the session ends underneath it
        QVERIFY(!sheet->isVisible());
        QCOMPARE(shownTexts(*sheet).join(u'|'), texts);

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
