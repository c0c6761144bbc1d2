#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace Pellwick {

/// The pages of the signed-in window. Raw values are the case names.
enum class ShellSection {
    Overview,
    ImportReview,
    NewImport,
    LocalLibraryCache,
    Restore,
};

/// Every section, in case order.
QList<ShellSection> allShellSections();
QString toRaw(ShellSection section);
/// Exact, case-sensitive match against the raw values.
std::optional<ShellSection> shellSectionFromRaw(const QString &raw);
/// The title of the section's sidebar row.
QString title(ShellSection section);
/// The symbol name of the section's sidebar row (see `SymbolIcons`).
QString systemImage(ShellSection section);
/// The sections listed in the sidebar, in order.
QList<ShellSection> sidebarSections();

/// The system entries of the sidebar: shown, never usable. Raw values are the case names.
enum class SidebarSystemLink {
    SystemStatus,
    Settings,
};

QList<SidebarSystemLink> allSidebarSystemLinks();
QString toRaw(SidebarSystemLink link);
QString title(SidebarSystemLink link);
QString systemImage(SidebarSystemLink link);

/// The window title.
namespace ShellWindowTitle {
inline QString value()
{
    return QStringLiteral("Pellwick");
}
} // namespace ShellWindowTitle

} // namespace Pellwick
