#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QString>
#include <QWidget>

namespace Pellwick::Test {

/// Saves a picture of `widget` as "<name>.png" in `folder`, for people to look at; nothing
/// compares it.
inline bool saveGrab(QWidget &widget, const QString &name, const QString &folder)
{
    const QDir dir(folder);
    dir.mkpath(QStringLiteral("."));
    return widget.grab().save(dir.filePath(name + QStringLiteral(".png")));
}

/// The same in the "grabs" folder beside the test executable, in its build folder, wherever it is
/// started from.
inline bool saveGrab(QWidget &widget, const QString &name)
{
    return saveGrab(
        widget, name, QCoreApplication::applicationDirPath() + QStringLiteral("/grabs"));
}

} // namespace Pellwick::Test
