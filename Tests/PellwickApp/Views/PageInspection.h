#pragma once

#include <QAbstractButton>
#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <QTest>
#include <QTextDocument>
#include <QWidget>

namespace Pellwick::Test {

/// What `page` shows to a reader, in the order its widgets were made (the order of the
/// layout): label and button texts, and the placeholders of empty fields. Hidden widgets and
/// empty texts are left out.
inline QStringList shownTexts(const QWidget &page)
{
    QStringList texts;
    for (const QWidget *widget : page.findChildren<QWidget *>()) {
        if (!widget->isVisibleTo(&page))
            continue;
        QString text;
        if (const auto *label = qobject_cast<const QLabel *>(widget))
            text = label->text();
        else if (const auto *button = qobject_cast<const QAbstractButton *>(widget))
            text = button->text();
        else if (const auto *field = qobject_cast<const QLineEdit *>(widget))
            text = field->text().isEmpty() ? field->placeholderText() : field->text();
        if (!text.isEmpty())
            texts.append(text);
    }
    return texts;
}

/// The text a tooltip shows to the reader: QToolTip renders what looks like markup.
inline QString shownToolTip(const QString &tip)
{
    if (!Qt::mightBeRichText(tip))
        return tip;
    QTextDocument document;
    document.setHtml(tip);
    return document.toPlainText();
}

/// The identifiers of the visible fields and buttons of `page`, in order, each with the name a
/// screen reader speaks for the control: "sign-in.email=Email".
inline QStringList shownIdentifiers(const QWidget &page)
{
    QStringList identifiers;
    for (QWidget *widget : page.findChildren<QWidget *>()) {
        const bool control
            = qobject_cast<QAbstractButton *>(widget) || qobject_cast<QLineEdit *>(widget);
        if (control && widget->isVisibleTo(&page) && !widget->objectName().isEmpty()) {
            const QAccessibleInterface *spoken = QAccessible::queryAccessibleInterface(widget);
            identifiers.append(widget->objectName() + u'='
                               + (spoken ? spoken->text(QAccessible::Name) : QString()));
        }
    }
    return identifiers;
}

/// The visible control of `page` named `identifier`, or else the visible button with that
/// text, or else the visible field whose label has that text; null when there is none.
inline QWidget *shownControl(const QWidget &page, const QString &identifier)
{
    for (QWidget *widget : page.findChildren<QWidget *>()) {
        if (!widget->isVisibleTo(&page))
            continue;
        const auto *button = qobject_cast<QAbstractButton *>(widget);
        const auto *label = qobject_cast<QLabel *>(widget);
        if (widget->objectName() == identifier || (button && button->text() == identifier))
            return widget;
        if (label && label->text() == identifier && label->buddy())
            return label->buddy();
    }
    return nullptr;
}

/// Clicks the visible button `identifier` (see `shownControl`).
inline void click(const QWidget &page, const QString &identifier)
{
    auto *button = qobject_cast<QAbstractButton *>(shownControl(page, identifier));
    QVERIFY2(button, qPrintable(identifier));
    button->click();
}

} // namespace Pellwick::Test
