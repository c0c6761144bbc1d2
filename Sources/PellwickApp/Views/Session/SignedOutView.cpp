#include "SignedOutView.h"

#include <PellwickApp/Shell/Operations/SessionOperations.h>
#include <PellwickApp/Shell/State/SessionState.h>
#include <PellwickApp/Views/Kit/AlertStrip.h>
#include <PellwickApp/Views/Kit/PageControls.h>
#include <PellwickApp/Views/Kit/PageHeader.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/SymbolIcons.h>

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace Pellwick {

using namespace PageControls;

namespace {

constexpr int cardWidth = 430;
constexpr int cardPadding = 16;
constexpr int cardSpacing = 14;
constexpr int cardRadius = 8;
constexpr int signInFieldMinimumWidth = 220;
constexpr int signInFieldMaximumWidth = 260;

const QString emailPlaceholder = QStringLiteral("name@example.com");

using TextGetter = const QString &(SessionState::*) () const;
using TextSetter = void (SessionState::*)(QString);
using TextChanged = void (SessionState::*)();

/// The card of the forms and the gate: on the control background, clipped to a rounded
/// rectangle and outlined in the secondary colour at 0.16.
class AccountCard final : public QWidget
{
public:
    explicit AccountCard(QWidget *parent)
        : QWidget(parent)
    {
        setObjectName(QStringLiteral("signed-out.card"));
        setFixedWidth(cardWidth);
    }

protected:
    void paintEvent(QPaintEvent * /*event*/) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath outline;
        outline.addRoundedRect(
            QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cardRadius, cardRadius);
        painter.fillPath(outline, PellwickTheme::controlBackground());
        painter.setPen(QPen(PellwickTheme::withOpacity(PellwickTheme::secondaryLabel(), 0.16), 1));
        painter.drawPath(outline);
    }
};

QVBoxLayout *column(QWidget *widget, int spacing)
{
    auto *layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

/// The labelled rows of a form: labels in the first column, so every field starts at one x.
QGridLayout *fieldGrid(QVBoxLayout &form)
{
    auto *grid = new QGridLayout;
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(cardSpacing);
    grid->setColumnStretch(1, 1);
    form.addLayout(grid);
    return grid;
}

/// A labelled row: the label, then the field bound to one of the form's texts.
QLineEdit *addField(QGridLayout &fields,
                    const QString &label,
                    bool secure,
                    SessionState &state,
                    TextGetter get,
                    TextSetter set,
                    TextChanged changed)
{
    QWidget *parent = fields.parentWidget();
    auto *title = new QLabel(label, parent);
    auto *field = new QLineEdit(parent);
    title->setBuddy(field);
    field->setPlaceholderText(secure ? label : emailPlaceholder);
    if (secure)
        makeSecure(*field);
    bindText(*field, state, get, set, changed);
    const int row = fields.rowCount();
    fields.addWidget(title, row, 0);
    fields.addWidget(field, row, 1);
    return field;
}

struct CredentialFields
{
    QLineEdit *email = nullptr;
    QLineEdit *password = nullptr;
};

/// The Email and Password rows both forms share, bound to the same texts.
CredentialFields addCredentialFields(QGridLayout &fields, SessionState &state)
{
    return {addField(fields,
                     QStringLiteral("Email"),
                     false,
                     state,
                     &SessionState::email,
                     &SessionState::setEmail,
                     &SessionState::emailChanged),
            addField(fields,
                     QStringLiteral("Password"),
                     true,
                     state,
                     &SessionState::password,
                     &SessionState::setPassword,
                     &SessionState::passwordChanged)};
}

} // namespace

SignedOutView::SignedOutView(SessionState &state, SessionOperations &operations, QWidget *parent)
    : PageBackground(parent)
    , m_state(state)
    , m_operations(operations)
{
    setObjectName(QStringLiteral("page.signedOut"));
    auto *scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    // The fields take the focus first and the page scrolls to follow it: the page itself is no
    // stop of the focus chain.
    scroll->setFocusPolicy(Qt::NoFocus);
    column(this, 0)->addWidget(scroll);

    auto *content = new QWidget(scroll);
    content->setAutoFillBackground(false);
    QVBoxLayout *page = column(content, 16);
    page->setContentsMargins(0, 0, 0, 20);
    auto *header
        = new PageHeader(QStringLiteral("Pellwick"),
                         QStringLiteral("Sign in to import RAW Originals into your Library."),
                         false,
                         true,
                         content);
    // The strip keeps its own height at the top of the region.
    auto *status = new QWidget;
    QVBoxLayout *statusColumn = column(status, 0);
    m_status = new AlertStrip(
        QString(), QStringLiteral("exclamationmark.triangle"), LibraryPresentationTone::Danger);
    m_status->setObjectName(QStringLiteral("signed-out.status"));
    statusColumn->addWidget(m_status);
    statusColumn->addStretch(1);
    header->setStatus(status);
    page->addWidget(header);

    auto *card = new AccountCard(content);
    m_card = column(card, cardSpacing);
    m_card->setContentsMargins(cardPadding, cardPadding, cardPadding, cardPadding);
    m_signInForm = makeSignInForm();
    m_signUpForm = makeSignUpForm();
    m_gate = makeVerificationGate();
    for (QWidget *shown : {m_signInForm, m_signUpForm, m_gate})
        m_card->addWidget(shown);
    auto *cardRow = new QHBoxLayout;
    cardRow->setContentsMargins(20, 0, 20, 0);
    // Not aligned but followed by a stretch, so the wrapped texts are measured at its width.
    cardRow->addWidget(card);
    cardRow->addStretch(1);
    page->addLayout(cardRow);
    page->addStretch(1);
    scroll->setWidget(content);

    connect(&state, &SessionState::errorMessageChanged, this, &SignedOutView::updateStatus);
    connect(&state, &SessionState::authMessageChanged, this, &SignedOutView::updateStatus);
    connect(
        &state, &SessionState::pendingVerificationTokenChanged, this, &SignedOutView::updateCard);
    connect(&state, &SessionState::emailChanged, this, &SignedOutView::updateGateText);
    updateStatus();
    updateCard();
    updateGateText();
}

QWidget *SignedOutView::makeSignInForm()
{
    auto *form = new QWidget(this);
    QVBoxLayout *items = column(form, cardSpacing);
    items->addWidget(headline(QStringLiteral("Sign In"), form));
    const auto limit = [](QLineEdit *field, const QString &identifier) {
        identify(*field, identifier);
        field->setMinimumWidth(signInFieldMinimumWidth);
        field->setMaximumWidth(signInFieldMaximumWidth);
    };
    const CredentialFields credentials = addCredentialFields(*fieldGrid(*items), m_state);
    limit(credentials.email, QStringLiteral("sign-in.email"));
    limit(credentials.password, QStringLiteral("sign-in.password"));
    auto *hint = new QLabel(
        QStringLiteral("Use at least 12 characters when creating or changing a password."), form);
    hint->setWordWrap(true);
    hint->setFont(PellwickTheme::font(PellwickTheme::TextStyle::Caption));
    PellwickTheme::setTextColour(*hint, PellwickTheme::secondaryLabel());
    items->addWidget(hint);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    QPushButton *signIn = compactButton(QStringLiteral("Sign In"), form);
    identify(*signIn, QStringLiteral("sign-in.submit"));
    signIn->setIcon(SymbolIcons::icon(QStringLiteral("person.crop.circle"), Qt::white));
    PellwickControlStyles::pellwickPrimaryButton(*signIn);
    QPushButton *forgot = compactButton(QStringLiteral("Forgot Password?"), form);
    identify(*forgot, QStringLiteral("sign-in.forgot-password"));
    buttons->addWidget(signIn);
    buttons->addWidget(forgot);
    buttons->addStretch(1);
    items->addLayout(buttons);
    QPushButton *create = compactButton(QStringLiteral("Create Account"), form);
    identify(*create, QStringLiteral("registration.open"));
    items->addWidget(create, 0, Qt::AlignLeft);

    submitOnReturn(*credentials.password, *signIn);
    connect(signIn, &QPushButton::clicked, this, [this] { m_operations.signIn(); });
    connect(forgot, &QPushButton::clicked, this, [this] { m_operations.requestPasswordReset(); });
    connect(create, &QPushButton::clicked, this, [this] { setSigningUp(true); });
    return form;
}

QWidget *SignedOutView::makeSignUpForm()
{
    auto *form = new QWidget(this);
    QVBoxLayout *items = column(form, cardSpacing);
    items->addWidget(headline(QStringLiteral("Create Account"), form));
    QGridLayout *fields = fieldGrid(*items);
    addCredentialFields(*fields, m_state);
    QLineEdit *confirmation = addField(*fields,
                                       QStringLiteral("Confirm password"),
                                       true,
                                       m_state,
                                       &SessionState::passwordConfirmation,
                                       &SessionState::setPasswordConfirmation,
                                       &SessionState::passwordConfirmationChanged);
    QPushButton *create = compactButton(QStringLiteral("Create Account"), form);
    identify(*create, QStringLiteral("registration.submit"));
    PellwickControlStyles::pellwickPrimaryButton(*create);
    items->addWidget(create, 0, Qt::AlignLeft);
    QPushButton *back = compactButton(QStringLiteral("Already have an account? Sign In"), form);
    items->addWidget(back, 0, Qt::AlignLeft);

    submitOnReturn(*confirmation, *create);
    connect(create, &QPushButton::clicked, this, [this] { m_operations.registerAccount(); });
    connect(back, &QPushButton::clicked, this, [this] { setSigningUp(false); });
    return form;
}

QWidget *SignedOutView::makeVerificationGate()
{
    auto *gate = new QWidget(this);
    gate->setObjectName(QStringLiteral("signed-out.verification"));
    QVBoxLayout *items = column(gate, cardSpacing);
    items->addWidget(headline(QStringLiteral("Verify your email"), gate));
    m_gateText = new QLabel(gate);
    m_gateText->setTextFormat(Qt::PlainText);
    m_gateText->setWordWrap(true);
    items->addWidget(m_gateText);
    QPushButton *verified = compactButton(QStringLiteral("I verified my email"), gate);
    QPushButton *resend = compactButton(QStringLiteral("Resend verification email"), gate);
    QPushButton *signOut = compactButton(QStringLiteral("Sign Out"), gate);
    for (QPushButton *button : {verified, resend, signOut})
        items->addWidget(button, 0, Qt::AlignLeft);

    connect(verified, &QPushButton::clicked, this, [this] { m_operations.refreshVerification(); });
    connect(resend, &QPushButton::clicked, this, [this] {
        // The gate is shown only while a token is pending: the one it was drawn for.
        m_operations.resendVerification(m_state.pendingVerificationToken().value_or(QString()));
    });
    connect(signOut, &QPushButton::clicked, this, [this] { m_operations.signOut(); });
    return gate;
}

void SignedOutView::setSigningUp(bool signingUp)
{
    m_isSigningUp = signingUp;
    updateCard();
}

void SignedOutView::updateStatus()
{
    if (const std::optional<QString> &error = m_state.errorMessage()) {
        m_status->setAlert(
            *error, QStringLiteral("exclamationmark.triangle"), LibraryPresentationTone::Danger);
    } else if (const std::optional<QString> &message = m_state.authMessage()) {
        m_status->setAlert(
            *message, QStringLiteral("checkmark.circle"), LibraryPresentationTone::Positive);
    }
    m_status->setVisible(m_state.errorMessage() || m_state.authMessage());
}

void SignedOutView::updateCard()
{
    const bool pending = m_state.pendingVerificationToken().has_value();
    m_gate->setVisible(pending);
    m_signUpForm->setVisible(!pending && m_isSigningUp);
    m_signInForm->setVisible(!pending && !m_isSigningUp);
}

void SignedOutView::updateGateText()
{
    m_gateText->setText(QStringLiteral("We sent a verification link to ") + m_state.email()
                        + QStringLiteral(". Open it in your browser, then return here."));
}

} // namespace Pellwick
