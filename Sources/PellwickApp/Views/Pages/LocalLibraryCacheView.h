#pragma once

#include <PellwickApp/Views/Pages/PlaceholderPage.h>

namespace Pellwick {

/// The Library page: the items of the Local Library Cache.
class LocalLibraryCacheView : public PlaceholderPage
{
    Q_OBJECT

public:
    explicit LocalLibraryCacheView(QWidget *parent = nullptr)
        : PlaceholderPage(
            QStringLiteral("page.localLibraryCache"), QStringLiteral("Library"), parent)
    {}
};

} // namespace Pellwick
