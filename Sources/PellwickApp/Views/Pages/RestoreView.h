#pragma once

#include <PellwickApp/Views/Pages/PlaceholderPage.h>

namespace Pellwick {

/// The Restore page: the active Restore Request and its transfers.
class RestoreView : public PlaceholderPage
{
    Q_OBJECT

public:
    explicit RestoreView(QWidget *parent = nullptr)
        : PlaceholderPage(QStringLiteral("page.restore"), QStringLiteral("Restore"), parent)
    {}
};

} // namespace Pellwick
