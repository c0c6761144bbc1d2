#include "ConfirmationDialog.h"

#include <PellwickApp/Views/Kit/PellwickTheme.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace Pellwick {

using namespace Qt::StringLiterals;

ConfirmationDialog::ConfirmationDialog(const QString &actionText,
                                       PellwickButtonRole role,
                                       QWidget *parent)
    : QDialog(parent)
    , m_title(new QLabel(this))
    , m_message(new QLabel(this))
    , m_cancel(new QPushButton(u"Cancel"_s, this))
    , m_action(new QPushButton(actionText, this))
{
    setWindowModality(Qt::WindowModal);
    m_title->setObjectName(u"title"_s);
    m_title->setTextFormat(Qt::PlainText);
    m_title->setFont(PellwickTheme::font(PellwickTheme::TextStyle::Headline));
    m_title->setWordWrap(true);
    m_message->setObjectName(u"message"_s);
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    m_message->hide();
    m_cancel->setObjectName(u"cancel"_s);
    PellwickControlStyles::setButtonRole(*m_cancel, PellwickButtonRole::Cancel);
    m_action->setObjectName(u"confirm"_s);
    // Return never confirms a destructive action: Cancel is the default there.
    const bool destructive = role == PellwickButtonRole::Destructive;
    (destructive ? m_cancel : m_action)->setDefault(true);
    if (destructive)
        PellwickControlStyles::setButtonRole(*m_action, role);
    else
        PellwickControlStyles::pellwickPrimaryButton(*m_action);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_action);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 16);
    column->setSpacing(10);
    column->addWidget(m_title);
    column->addWidget(m_message);
    column->addSpacing(6);
    column->addLayout(buttons);
    setMinimumWidth(360);

    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_action, &QPushButton::clicked, this, [this] {
        dismiss();
        Q_EMIT confirmed();
    });
}

void ConfirmationDialog::setTitle(const QString &title)
{
    m_title->setText(title);
    setWindowTitle(title);
}

QString ConfirmationDialog::title() const
{
    return m_title->text();
}

void ConfirmationDialog::setMessage(const QString &message)
{
    m_message->setText(message);
    m_message->setVisible(!message.isEmpty());
}

QString ConfirmationDialog::message() const
{
    return m_message->text();
}

void ConfirmationDialog::present()
{
    if (!isVisible())
        open();
}

void ConfirmationDialog::dismiss()
{
    // `hide()` ends the dialog without `done()`, so neither `accepted` nor `rejected` follow.
    hide();
}

} // namespace Pellwick
