#include "LibraryDetailViewport.h"

#include <QSizePolicy>
#include <QVBoxLayout>

namespace Pellwick {

LibraryDetailViewport::LibraryDetailViewport(QWidget *chrome, QWidget *content, QWidget *parent)
    : QWidget(parent)
    , m_chrome(chrome)
    , m_content(content)
{
    Q_ASSERT(chrome && content);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    QSizePolicy fixedHeight = chrome->sizePolicy();
    fixedHeight.setVerticalPolicy(QSizePolicy::Fixed);
    chrome->setSizePolicy(fixedHeight);
    column->addWidget(chrome);
    // A content held smaller than the area (a maximum size) is centred in it by the layout.
    column->addWidget(content, 1);
}

} // namespace Pellwick
