#pragma once

#include <QCoro/QCoroTask>
#include <QWidget>

namespace Pellwick {

class AlertStrip;
class SessionOperations;
class SessionState;

/// The content of the change-password sheet: the three password fields, the failure of the
/// last attempt, "Cancel" and "Change Password". The sheet's host closes it on
/// `dismissRequested`; whatever hides it empties the form, so typed passwords and the failure
/// never outlive the sheet. Main thread only.
class ChangePasswordView final : public QWidget
{
    Q_OBJECT

public:
    ChangePasswordView(SessionState &state,
                       SessionOperations &operations,
                       QWidget *parent = nullptr);

Q_SIGNALS:
    /// "Cancel" was pressed, or the password was changed.
    void dismissRequested();

protected:
    void hideEvent(QHideEvent *event) override;

private:
    QCoro::Task<> changePassword();
    void updateError();

    SessionState &m_state;
    SessionOperations &m_operations;
    AlertStrip *m_error = nullptr;
};

} // namespace Pellwick
