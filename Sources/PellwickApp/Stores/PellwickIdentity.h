#pragma once

#include <QString>

/// The names the program gives itself.
namespace Pellwick::PellwickIdentity {

/// The product name the sidebar shows.
inline QString productName()
{
    return QStringLiteral("Pellwick");
}

/// The folder that holds the application's state inside the user's data folder.
inline QString applicationSupportDirectoryName()
{
    return QStringLiteral("Pellwick");
}

/// The reverse-DNS identifier of the application: the keychain service and the logging
/// category are named after it.
inline QString applicationIdentifier()
{
    return QStringLiteral("example.pellwick.Pellwick");
}

} // namespace Pellwick::PellwickIdentity
