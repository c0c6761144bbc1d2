#include "PageControls.h"

#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>

#include <QLabel>
#include <QPushButton>
#include <QScrollArea>

namespace Pellwick::PageControls {

void identify(QWidget &widget, const QString &identifier)
{
    widget.setObjectName(identifier);
}

QWidget *firstControl(QWidget &page)
{
    for (QWidget *widget = page.nextInFocusChain(); widget != &page;
         widget = widget->nextInFocusChain()) {
        if (page.isAncestorOf(widget) && (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus
            && !widget->focusProxy() && widget->isEnabled() && widget->isVisibleTo(&page)
            && !qobject_cast<QScrollArea *>(widget))
            return widget;
    }
    return nullptr;
}

QLabel *headline(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(PellwickTheme::font(PellwickTheme::TextStyle::Headline));
    return label;
}

QPushButton *compactButton(const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setAutoDefault(true);
    PellwickControlStyles::compactActionButton(*button);
    PellwickControlStyles::compactActionButtonLabel(*button);
    return button;
}

void submitOnReturn(QLineEdit &field, QAbstractButton &action)
{
    QObject::connect(&field, &QLineEdit::returnPressed, &action, [&action] {
        if (action.isEnabled())
            action.click();
    });
}

void makeSecure(QLineEdit &field)
{
    field.setEchoMode(QLineEdit::Password);
    field.setInputMethodHints(Qt::ImhSensitiveData | Qt::ImhHiddenText | Qt::ImhNoPredictiveText
                              | Qt::ImhNoAutoUppercase);
}

} // namespace Pellwick::PageControls
