#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

#include <optional>

namespace Pellwick {

/// The icons of the symbol names the views use, drawn from the bundled SVG set.
class SymbolIcons
{
public:
    SymbolIcons() = delete;

    /// The resource path of the SVG for `symbolName`, or none for a name without an icon.
    static std::optional<QString> resourcePath(const QString &symbolName);
    /// The icon for `symbolName` drawn in `colour`; a null icon for an unknown name.
    static QIcon icon(const QString &symbolName, const QColor &colour);
    /// The same in the application palette's text colour.
    static QIcon icon(const QString &symbolName);
    /// The application's icon.
    static QIcon applicationIcon();
};

} // namespace Pellwick
