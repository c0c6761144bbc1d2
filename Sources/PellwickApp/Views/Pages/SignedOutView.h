#pragma once

#include <PellwickApp/Views/Pages/PlaceholderPage.h>

namespace Pellwick {

/// The signed-out page: sign-in, sign-up and the e-mail verification gate.
class SignedOutView : public PlaceholderPage
{
    Q_OBJECT

public:
    explicit SignedOutView(QWidget *parent = nullptr)
        : PlaceholderPage(QStringLiteral("page.signedOut"), QStringLiteral("Sign In"), parent)
    {}
};

} // namespace Pellwick
