#include "KitAccessibility.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

namespace Pellwick::KitAccessibility {

namespace {

constexpr char valueProperty[] = "pellwickAccessibleValue";

class ValueAccessible final : public QAccessibleWidget
{
public:
    explicit ValueAccessible(QWidget *widget)
        : QAccessibleWidget(widget,
                            qobject_cast<QAbstractButton *>(widget) ? QAccessible::ButtonMenu
                                                                    : QAccessible::StaticText)
    {}

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Value)
            return accessibleValue(*widget());
        return QAccessibleWidget::text(kind);
    }

    // One element: what the widget draws with is merged into it.
    int childCount() const override { return 0; }

    QAccessibleInterface *child(int /*index*/) const override { return nullptr; }

    int indexOfChild(const QAccessibleInterface * /*child*/) const override { return -1; }
};

QAccessibleInterface *valueFactory(const QString & /*className*/, QObject *object)
{
    auto *widget = qobject_cast<QWidget *>(object);
    if (!widget || widget->metaObject()->indexOfClassInfo("PellwickAccessibleValue") < 0)
        return nullptr;
    return new ValueAccessible(widget);
}

} // namespace

void install()
{
    static const bool installed = [] {
        QAccessible::installFactory(valueFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

void setAccessibleValue(QWidget &widget, const QString &value)
{
    if (widget.property(valueProperty).toString() == value)
        return;
    widget.setProperty(valueProperty, value);
    QAccessibleValueChangeEvent event(&widget, value);
    QAccessible::updateAccessibility(&event);
}

QString accessibleValue(const QWidget &widget)
{
    return widget.property(valueProperty).toString();
}

} // namespace Pellwick::KitAccessibility
