#pragma once

#include <QString>

class QWidget;

namespace Pellwick::KitAccessibility {

/// Installs, once, the accessibility interface of kit widgets that carry a value: a widget
/// whose class declares `Q_CLASSINFO("PellwickAccessibleValue", "true")` reports its accessible
/// name as usual and `setAccessibleValue`'s text as `QAccessible::Value`.
void install();

/// Sets the text assistive technology reads as `widget`'s value, and tells it of the change.
void setAccessibleValue(QWidget &widget, const QString &value);

/// The text set by `setAccessibleValue`.
QString accessibleValue(const QWidget &widget);

} // namespace Pellwick::KitAccessibility
