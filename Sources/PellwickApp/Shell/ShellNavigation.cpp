#include "ShellNavigation.h"

namespace Pellwick {

QList<ShellSection> allShellSections()
{
    return {ShellSection::Overview,
            ShellSection::ImportReview,
            ShellSection::NewImport,
            ShellSection::LocalLibraryCache,
            ShellSection::Restore};
}

QString toRaw(ShellSection section)
{
    switch (section) {
    case ShellSection::Overview:
        return QStringLiteral("overview");
    case ShellSection::ImportReview:
        return QStringLiteral("importReview");
    case ShellSection::NewImport:
        return QStringLiteral("newImport");
    case ShellSection::LocalLibraryCache:
        return QStringLiteral("localLibraryCache");
    case ShellSection::Restore:
        return QStringLiteral("restore");
    }
    Q_UNREACHABLE();
}

std::optional<ShellSection> shellSectionFromRaw(const QString &raw)
{
    for (const ShellSection section : allShellSections()) {
        if (toRaw(section) == raw)
            return section;
    }
    return std::nullopt;
}

QString title(ShellSection section)
{
    switch (section) {
    case ShellSection::Overview:
        return QStringLiteral("Overview");
    case ShellSection::ImportReview:
        return QStringLiteral("Add to Ingest Cache");
    case ShellSection::NewImport:
        return QStringLiteral("Choose Import Source");
    case ShellSection::LocalLibraryCache:
        return QStringLiteral("Library");
    case ShellSection::Restore:
        return QStringLiteral("Restore");
    }
    Q_UNREACHABLE();
}

QString systemImage(ShellSection section)
{
    switch (section) {
    case ShellSection::Overview:
        return QStringLiteral("rectangle.grid.2x2");
    case ShellSection::ImportReview:
        return QStringLiteral("tray.and.arrow.up");
    case ShellSection::NewImport:
        return QStringLiteral("plus.circle.fill");
    case ShellSection::LocalLibraryCache:
        return QStringLiteral("photo.on.rectangle.angled");
    case ShellSection::Restore:
        return QStringLiteral("arrow.down.circle");
    }
    Q_UNREACHABLE();
}

QList<ShellSection> sidebarSections()
{
    return {ShellSection::Overview, ShellSection::LocalLibraryCache, ShellSection::Restore};
}

QList<SidebarSystemLink> allSidebarSystemLinks()
{
    return {SidebarSystemLink::SystemStatus, SidebarSystemLink::Settings};
}

QString toRaw(SidebarSystemLink link)
{
    switch (link) {
    case SidebarSystemLink::SystemStatus:
        return QStringLiteral("systemStatus");
    case SidebarSystemLink::Settings:
        return QStringLiteral("settings");
    }
    Q_UNREACHABLE();
}

QString title(SidebarSystemLink link)
{
    switch (link) {
    case SidebarSystemLink::SystemStatus:
        return QStringLiteral("System Status");
    case SidebarSystemLink::Settings:
        return QStringLiteral("Settings");
    }
    Q_UNREACHABLE();
}

QString systemImage(SidebarSystemLink link)
{
    switch (link) {
    case SidebarSystemLink::SystemStatus:
        return QStringLiteral("server.rack");
    case SidebarSystemLink::Settings:
        return QStringLiteral("gearshape");
    }
    Q_UNREACHABLE();
}

} // namespace Pellwick
