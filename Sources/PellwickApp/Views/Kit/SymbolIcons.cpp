#include "SymbolIcons.h"

#include <QApplication>
#include <QFile>
#include <QHash>
#include <QLoggingCategory>
#include <QPainter>
#include <QPalette>
#include <QSet>
#include <QSvgRenderer>

namespace Pellwick {

namespace {

Q_LOGGING_CATEGORY(symbolLog, "example.pellwick.Pellwick.symbols")

const QHash<QString, QString> &symbolFiles()
{
    static const QHash<QString, QString> files{
        {QStringLiteral("arrow.clockwise"), QStringLiteral("refresh")},
        {QStringLiteral("arrow.down.doc"), QStringLiteral("file-download")},
        {QStringLiteral("arrow.down.circle"), QStringLiteral("circle-arrow-down")},
        {QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("reload")},
        {QStringLiteral("arrow.triangle.2.circlepath.circle"), QStringLiteral("refresh-dot")},
        {QStringLiteral("arrow.up.circle"), QStringLiteral("circle-arrow-up")},
        {QStringLiteral("checkmark.circle"), QStringLiteral("circle-check")},
        {QStringLiteral("checkmark.shield"), QStringLiteral("shield-check")},
        {QStringLiteral("chevron.down"), QStringLiteral("chevron-down")},
        {QStringLiteral("circle"), QStringLiteral("circle")},
        {QStringLiteral("creditcard"), QStringLiteral("credit-card")},
        {QStringLiteral("doc.badge.exclamationmark"), QStringLiteral("file-alert")},
        {QStringLiteral("ellipsis.circle"), QStringLiteral("dots-circle-horizontal")},
        {QStringLiteral("exclamationmark.arrow.triangle.2.circlepath"),
         QStringLiteral("refresh-alert")},
        {QStringLiteral("exclamationmark.triangle"), QStringLiteral("alert-triangle")},
        {QStringLiteral("externaldrive"), QStringLiteral("device-usb")},
        {QStringLiteral("externaldrive.badge.exclamationmark"),
         QStringLiteral("database-exclamation")},
        {QStringLiteral("externaldrive.badge.plus"), QStringLiteral("database-plus")},
        {QStringLiteral("externaldrive.connected.to.line.below"), QStringLiteral("device-sd-card")},
        {QStringLiteral("folder"), QStringLiteral("folder")},
        {QStringLiteral("gauge.with.dots.needle.33percent"), QStringLiteral("gauge")},
        {QStringLiteral("gearshape"), QStringLiteral("settings")},
        {QStringLiteral("key"), QStringLiteral("key")},
        {QStringLiteral("largecircle.fill.circle"), QStringLiteral("circle-dot")},
        {QStringLiteral("line.3.horizontal.decrease.circle"),
         QStringLiteral("circle-lines-decrease")},
        {QStringLiteral("magnifyingglass"), QStringLiteral("search")},
        {QStringLiteral("nosign"), QStringLiteral("ban")},
        {QStringLiteral("pause.circle"), QStringLiteral("circle-pause")},
        {QStringLiteral("person.crop.circle"), QStringLiteral("user-circle")},
        {QStringLiteral("person.crop.circle.badge.gearshape"), QStringLiteral("user-cog")},
        {QStringLiteral("photo"), QStringLiteral("photo")},
        {QStringLiteral("photo.on.rectangle.angled"), QStringLiteral("photo")},
        {QStringLiteral("plus.circle.fill"), QStringLiteral("circle-plus")},
        {QStringLiteral("rectangle.grid.2x2"), QStringLiteral("layout-grid")},
        {QStringLiteral("server.rack"), QStringLiteral("server")},
        {QStringLiteral("square.and.arrow.down"), QStringLiteral("download")},
        {QStringLiteral("trash"), QStringLiteral("trash")},
        {QStringLiteral("tray.and.arrow.up"), QStringLiteral("inbox")},
        {QStringLiteral("checkmark.icloud"), QStringLiteral("cloud-check")},
        {QStringLiteral("doc"), QStringLiteral("file")},
        {QStringLiteral("doc.on.doc"), QStringLiteral("copy")},
        {QStringLiteral("folder.fill"), QStringLiteral("folder-filled")},
        {QStringLiteral("tray.full"), QStringLiteral("inbox")},
        {QStringLiteral("xmark"), QStringLiteral("x")},
        {QStringLiteral("xmark.circle"), QStringLiteral("circle-x")},
    };
    return files;
}

struct PixmapKey
{
    QString name;
    QRgb colour = 0;
    int size = 0;
    qreal ratio = 1.0;

    bool operator==(const PixmapKey &) const = default;
};

size_t qHash(const PixmapKey &key, size_t seed = 0)
{
    return qHashMulti(seed, key.name, key.colour, key.size, key.ratio);
}

/// An outlined square, so a missing symbol is seen rather than silently blank.
void drawUnknown(QPainter &painter, int size, const QColor &colour)
{
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal inset = size * 0.25;
    painter.setPen(QPen(colour, std::max(1.0, size / 12.0)));
    painter.drawRect(QRectF(inset, inset, size - 2 * inset, size - 2 * inset));
}

QPixmap render(const QString &symbolName, const QColor &colour, int size, qreal ratio)
{
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    const std::optional<QString> path = SymbolIcons::resourcePath(symbolName);
    QFile file(path.value_or(QString()));
    if (path && file.open(QIODevice::ReadOnly)) {
        // The set draws with "currentColor", which the renderer does not resolve.
        QByteArray svg = file.readAll();
        svg.replace("currentColor", colour.name().toLatin1());
        QSvgRenderer renderer(svg);
        if (renderer.isValid()) {
            renderer.render(&painter, QRectF(0, 0, size, size));
            // The colour's name carries no alpha: the drawn symbol takes it as a whole, so
            // overlapping strokes do not add up.
            painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
            painter.fillRect(QRectF(0, 0, size, size), QColor(0, 0, 0, colour.alpha()));
            return pixmap;
        }
    }
    static QSet<QString> warned;
    if (!warned.contains(symbolName)) {
        warned.insert(symbolName);
        qCWarning(symbolLog) << "no icon for the symbol" << symbolName;
    }
    drawUnknown(painter, size, colour);
    return pixmap;
}

} // namespace

QStringList SymbolIcons::symbolNames()
{
    QStringList names = symbolFiles().keys();
    names.sort();
    return names;
}

std::optional<QString> SymbolIcons::resourcePath(const QString &symbolName)
{
    const auto file = symbolFiles().constFind(symbolName);
    if (file == symbolFiles().cend())
        return std::nullopt;
    return QStringLiteral(":/pellwick/Icons/") + *file + QStringLiteral(".svg");
}

QPixmap SymbolIcons::pixmap(const QString &symbolName,
                            const QColor &colour,
                            int size,
                            qreal devicePixelRatio)
{
    static QHash<PixmapKey, QPixmap> cache;
    const PixmapKey key{symbolName, colour.rgba(), size, devicePixelRatio};
    const auto found = cache.constFind(key);
    if (found != cache.cend())
        return *found;
    QPixmap rendered = render(symbolName, colour, size, devicePixelRatio);
    cache.insert(key, rendered);
    return rendered;
}

QIcon SymbolIcons::icon(const QString &symbolName, const QColor &colour)
{
    static QHash<std::pair<QString, QRgb>, QIcon> cache;
    const std::pair<QString, QRgb> key{symbolName, colour.rgba()};
    const auto found = cache.constFind(key);
    if (found != cache.cend())
        return *found;
    QIcon icon;
    for (const qreal ratio : {1.0, 2.0}) {
        for (const int size : {16, 24, 32, 48, 64})
            icon.addPixmap(pixmap(symbolName, colour, size, ratio));
    }
    cache.insert(key, icon);
    return icon;
}

QIcon SymbolIcons::icon(const QString &symbolName)
{
    return icon(symbolName, QApplication::palette().color(QPalette::WindowText));
}

} // namespace Pellwick
