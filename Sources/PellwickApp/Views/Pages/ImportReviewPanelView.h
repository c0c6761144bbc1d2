#pragma once

#include <PellwickApp/Views/Pages/PlaceholderPage.h>

namespace Pellwick {

/// The Import Review page: the files found on the chosen sources.
class ImportReviewPanelView : public PlaceholderPage
{
    Q_OBJECT

public:
    explicit ImportReviewPanelView(QWidget *parent = nullptr)
        : PlaceholderPage(
            QStringLiteral("page.importReview"), QStringLiteral("Add to Ingest Cache"), parent)
    {}
};

} // namespace Pellwick
