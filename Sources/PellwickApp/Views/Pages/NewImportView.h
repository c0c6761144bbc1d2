#pragma once

#include <PellwickApp/Views/Pages/PlaceholderPage.h>

namespace Pellwick {

/// The New Import page: the sources to scan.
class NewImportView : public PlaceholderPage
{
    Q_OBJECT

public:
    explicit NewImportView(QWidget *parent = nullptr)
        : PlaceholderPage(
            QStringLiteral("page.newImport"), QStringLiteral("Choose Import Source"), parent)
    {}
};

} // namespace Pellwick
