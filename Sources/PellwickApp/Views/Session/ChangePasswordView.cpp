#include "ChangePasswordView.h"

#include <PellwickApp/Shell/Operations/SessionOperations.h>
#include <PellwickApp/Shell/State/SessionState.h>
#include <PellwickApp/Views/Kit/AlertStrip.h>
#include <PellwickApp/Views/Kit/PageControls.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>

#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace Pellwick {

using namespace PageControls;

ChangePasswordView::ChangePasswordView(SessionState &state,
                                       SessionOperations &operations,
                                       QWidget *parent)
    : QWidget(parent)
    , m_state(state)
    , m_operations(operations)
{
    setObjectName(QStringLiteral("change-password"));
    setFixedWidth(360);
    auto *items = new QVBoxLayout(this);
    items->setContentsMargins(20, 20, 20, 20);
    items->setSpacing(14);
    items->setSizeConstraint(QLayout::SetMinimumSize);
    items->addWidget(headline(QStringLiteral("Change Password"), this));

    const auto addField = [&](const QString &title,
                              const QString &identifier,
                              const QString &(SessionState::*get)() const,
                              void (SessionState::*set)(QString),
                              void (SessionState::*changed)()) {
        auto *field = new QLineEdit(this);
        identify(*field, identifier);
        field->setPlaceholderText(title);
        field->setAccessibleName(title);
        makeSecure(*field);
        bindText(*field, state, get, set, changed);
        items->addWidget(field);
    };
    addField(QStringLiteral("Current password"),
             QStringLiteral("change-password.current"),
             &SessionState::currentPassword,
             &SessionState::setCurrentPassword,
             &SessionState::currentPasswordChanged);
    addField(QStringLiteral("New password"),
             QStringLiteral("change-password.new"),
             &SessionState::newPassword,
             &SessionState::setNewPassword,
             &SessionState::newPasswordChanged);
    addField(QStringLiteral("Confirm new password"),
             QStringLiteral("change-password.confirmation"),
             &SessionState::newPasswordConfirmation,
             &SessionState::setNewPasswordConfirmation,
             &SessionState::newPasswordConfirmationChanged);

    m_error = new AlertStrip(QString(),
                             QStringLiteral("exclamationmark.triangle"),
                             LibraryPresentationTone::Danger,
                             this);
    m_error->setObjectName(QStringLiteral("change-password.error"));
    items->addWidget(m_error);

    auto *buttons = new QHBoxLayout;
    QPushButton *cancel = compactButton(QStringLiteral("Cancel"), this);
    QPushButton *submit = compactButton(QStringLiteral("Change Password"), this);
    identify(*submit, QStringLiteral("change-password.submit"));
    PellwickControlStyles::pellwickPrimaryButton(*submit);
    // The sheet's Return: pressed from any field, unless another button has the focus.
    submit->setDefault(true);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    buttons->addWidget(submit);
    items->addLayout(buttons);

    connect(cancel, &QPushButton::clicked, this, [this] {
        m_operations.resetPasswordChangeForm();
        Q_EMIT dismissRequested();
    });
    connect(submit, &QPushButton::clicked, this, [this] { changePassword(); });
    connect(&state,
            &SessionState::passwordChangeErrorMessageChanged,
            this,
            &ChangePasswordView::updateError);
    updateError();
}

void ChangePasswordView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    // A minimised window hides spontaneously; only closing the sheet ends the form.
    if (!event->spontaneous())
        m_operations.resetPasswordChangeForm();
}

QCoro::Task<> ChangePasswordView::changePassword()
{
    const QPointer<ChangePasswordView> self(this);
    const bool changed = co_await m_operations.changePassword();
    if (self && changed)
        Q_EMIT dismissRequested();
}

void ChangePasswordView::updateError()
{
    const std::optional<QString> &error = m_state.passwordChangeErrorMessage();
    if (error)
        m_error->setAlert(
            *error, QStringLiteral("exclamationmark.triangle"), LibraryPresentationTone::Danger);
    m_error->setVisible(error.has_value());
}

} // namespace Pellwick
