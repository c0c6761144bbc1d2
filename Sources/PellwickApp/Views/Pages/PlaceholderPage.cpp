#include "PlaceholderPage.h"

#include <QLabel>
#include <QVBoxLayout>

namespace Pellwick {

PlaceholderPage::PlaceholderPage(const QString &objectName, const QString &title, QWidget *parent)
    : QWidget(parent)
    , m_title(title)
    , m_layout(new QVBoxLayout(this))
{
    setObjectName(objectName);
    setAccessibleName(title);
    m_layout->setContentsMargins(32, 24, 32, 24);
    auto *heading = new QLabel(title, this);
    heading->setObjectName(objectName + QStringLiteral(".title"));
    QFont font = heading->font();
    font.setPointSizeF(font.pointSizeF() * 1.6);
    font.setBold(true);
    heading->setFont(font);
    m_layout->addWidget(heading);
    // Said plainly, so that an empty page is not taken for one that failed to load.
    auto *note = new QLabel(QStringLiteral("This page is not available in this version of "
                                           "Pellwick yet."),
                            this);
    note->setObjectName(objectName + QStringLiteral(".unavailable"));
    note->setWordWrap(true);
    m_layout->addWidget(note);
    m_layout->addStretch(1);
}

} // namespace Pellwick
