#pragma once

#include <PellwickApp/Views/Kit/PageBackground.h>

class QLabel;
class QVBoxLayout;

namespace Pellwick {

class AlertStrip;
class SessionOperations;
class SessionState;

/// The page shown while no session is held: the brand header with one account message, and a
/// card holding the e-mail verification gate while a verification is pending, else the sign-up
/// form while it is chosen, else the sign-in form. The fields write into `state` as the user
/// types; the buttons start the operations of `operations` and nothing else: no control is
/// ever disabled. Return in a form's last field presses the form's primary button, and Return
/// on a focused button presses it. Main thread only.
class SignedOutView final : public PageBackground
{
    Q_OBJECT

public:
    SignedOutView(SessionState &state, SessionOperations &operations, QWidget *parent = nullptr);

    /// Whether the sign-up form is chosen; false for a new page.
    bool isSigningUp() const { return m_isSigningUp; }

private:
    QWidget *makeSignInForm();
    QWidget *makeSignUpForm();
    QWidget *makeVerificationGate();
    void setSigningUp(bool signingUp);
    void updateStatus();
    void updateCard();
    void updateGateText();

    SessionState &m_state;
    SessionOperations &m_operations;
    bool m_isSigningUp = false;
    AlertStrip *m_status = nullptr;
    QVBoxLayout *m_card = nullptr;
    QWidget *m_signInForm = nullptr;
    QWidget *m_signUpForm = nullptr;
    QWidget *m_gate = nullptr;
    QLabel *m_gateText = nullptr;
};

} // namespace Pellwick
