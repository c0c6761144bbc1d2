#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

#include <optional>

namespace Pellwick {

/// The icons of the symbol names the views use, drawn from the bundled SVG set. Each picture
/// is rendered once per (name, colour, size, ratio) and then shared. An unknown name draws a
/// small outlined square and logs a warning once. Main thread only.
class SymbolIcons
{
public:
    SymbolIcons() = delete;

    /// Every symbol name with an icon.
    static QStringList symbolNames();
    /// The resource path of the SVG for `symbolName`, or none for a name without an icon.
    static std::optional<QString> resourcePath(const QString &symbolName);
    /// `symbolName` in `colour`, `size` device-independent pixels square at `devicePixelRatio`.
    static QPixmap
    pixmap(const QString &symbolName, const QColor &colour, int size, qreal devicePixelRatio = 1.0);
    /// The icon for `symbolName` drawn in `colour`, at the usual sizes and ratios 1 and 2.
    static QIcon icon(const QString &symbolName, const QColor &colour);
    /// The same in the application palette's text colour.
    static QIcon icon(const QString &symbolName);
};

} // namespace Pellwick
