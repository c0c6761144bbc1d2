#pragma once

#include <PellwickApp/Views/Pages/PlaceholderPage.h>

namespace Pellwick {

/// The change-password sheet.
class ChangePasswordView : public PlaceholderPage
{
    Q_OBJECT

public:
    explicit ChangePasswordView(QWidget *parent = nullptr)
        : PlaceholderPage(
            QStringLiteral("change-password"), QStringLiteral("Change Password"), parent)
    {}
};

} // namespace Pellwick
