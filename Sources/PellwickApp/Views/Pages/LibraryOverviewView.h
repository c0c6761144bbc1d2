#pragma once

#include <PellwickApp/Views/Pages/PlaceholderPage.h>

namespace Pellwick {

/// The Overview page: the account, the plan and the system status.
class LibraryOverviewView : public PlaceholderPage
{
    Q_OBJECT

public:
    explicit LibraryOverviewView(QWidget *parent = nullptr)
        : PlaceholderPage(QStringLiteral("page.overview"), QStringLiteral("Overview"), parent)
    {}
};

} // namespace Pellwick
