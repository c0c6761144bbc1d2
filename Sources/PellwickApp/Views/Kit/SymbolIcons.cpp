#include "SymbolIcons.h"

#include <QApplication>
#include <QFile>
#include <QHash>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QSvgRenderer>

namespace Pellwick {

namespace {

const QHash<QString, QString> &symbolFiles()
{
    static const QHash<QString, QString> files{
        {QStringLiteral("arrow.clockwise"), QStringLiteral("refresh")},
        {QStringLiteral("creditcard"), QStringLiteral("credit-card")},
        {QStringLiteral("person.crop.circle.badge.gearshape"), QStringLiteral("user-cog")},
        {QStringLiteral("key"), QStringLiteral("key")},
        {QStringLiteral("rectangle.grid.2x2"), QStringLiteral("layout-grid")},
        {QStringLiteral("tray.and.arrow.up"), QStringLiteral("inbox")},
        {QStringLiteral("plus.circle.fill"), QStringLiteral("circle-plus")},
        {QStringLiteral("photo.on.rectangle.angled"), QStringLiteral("photo")},
        {QStringLiteral("arrow.down.circle"), QStringLiteral("circle-arrow-down")},
        {QStringLiteral("server.rack"), QStringLiteral("server")},
        {QStringLiteral("gearshape"), QStringLiteral("settings")},
        {QStringLiteral("externaldrive.connected.to.line.below"), QStringLiteral("device-sd-card")},
    };
    return files;
}

QIcon drawnIcon(const QString &path, const QColor &colour)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // The set draws with "currentColor", which the renderer does not resolve.
    QByteArray svg = file.readAll();
    svg.replace("currentColor", colour.name().toLatin1());
    QSvgRenderer renderer(svg);
    if (!renderer.isValid())
        return {};
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

std::optional<QString> SymbolIcons::resourcePath(const QString &symbolName)
{
    const auto file = symbolFiles().constFind(symbolName);
    if (file == symbolFiles().cend())
        return std::nullopt;
    return QStringLiteral(":/pellwick/Icons/") + *file + QStringLiteral(".svg");
}

QIcon SymbolIcons::icon(const QString &symbolName, const QColor &colour)
{
    const std::optional<QString> path = resourcePath(symbolName);
    return path ? drawnIcon(*path, colour) : QIcon();
}

QIcon SymbolIcons::icon(const QString &symbolName)
{
    return icon(symbolName, QApplication::palette().color(QPalette::WindowText));
}

QIcon SymbolIcons::applicationIcon()
{
    return drawnIcon(QStringLiteral(":/pellwick/Icons/camera.svg"), QColor(0x14, 0x63, 0xeb));
}

} // namespace Pellwick
