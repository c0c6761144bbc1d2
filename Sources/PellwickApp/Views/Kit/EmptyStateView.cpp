#include "EmptyStateView.h"

#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/SymbolIcons.h>

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace Pellwick {

EmptyStateView::EmptyStateView(const QString &systemImage,
                               const QString &headline,
                               const QString &description,
                               QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(8);
    layout->addStretch(1);
    auto *symbol = new QLabel(this);
    symbol->setPixmap(
        SymbolIcons::pixmap(systemImage, PellwickTheme::secondaryLabel(), 40, devicePixelRatioF()));
    symbol->setAlignment(Qt::AlignCenter);
    layout->addWidget(symbol);
    auto *title = new QLabel(headline, this);
    title->setObjectName(QStringLiteral("empty-state.headline"));
    title->setTextFormat(Qt::PlainText);
    QFont font = PellwickTheme::font(PellwickTheme::TextStyle::Title);
    font.setBold(true);
    title->setFont(font);
    title->setAlignment(Qt::AlignCenter);
    title->setWordWrap(true);
    layout->addWidget(title);
    auto *text = new QLabel(description, this);
    text->setObjectName(QStringLiteral("empty-state.description"));
    text->setTextFormat(Qt::PlainText);
    text->setAlignment(Qt::AlignCenter);
    text->setWordWrap(true);
    PellwickTheme::setTextColour(*text, PellwickTheme::secondaryLabel());
    layout->addWidget(text);
    layout->addStretch(1);
}

QPushButton *EmptyStateView::addButton(const QString &text)
{
    Q_ASSERT(!m_button);
    m_button = new QPushButton(text, this);
    auto *layout = static_cast<QVBoxLayout *>(this->layout());
    // Before the closing stretch.
    layout->insertWidget(layout->count() - 1, m_button, 0, Qt::AlignHCenter);
    return m_button;
}

} // namespace Pellwick
