#include "PellwickAppIcon.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QImageReader>
#include <QPixmap>
#include <QWidget>

namespace Pellwick {

namespace {

const QString fileName = QStringLiteral("PellwickIcon.png");

PellwickAppIcon::Places &currentPlaces()
{
    static PellwickAppIcon::Places places = PellwickAppIcon::standardPlaces();
    return places;
}

std::optional<QImage> decoded(const QString &path)
{
    QImageReader reader(path, "png");
    QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    return image;
}

} // namespace

PellwickAppIcon::Places PellwickAppIcon::standardPlaces()
{
    const QString executableFolder = QCoreApplication::applicationDirPath();
    return {
        .resource = QStringLiteral(":/pellwick/") + fileName,
        .shareFolder = QDir::cleanPath(executableFolder + QStringLiteral("/../share/pellwick")),
    };
}

void PellwickAppIcon::setPlaces(const Places &places)
{
    currentPlaces() = places;
}

const PellwickAppIcon::Places &PellwickAppIcon::places()
{
    return currentPlaces();
}

std::optional<QImage> PellwickAppIcon::image()
{
    const Places &where = places();
    if (!where.resource.isEmpty() && QFileInfo::exists(where.resource))
        return decoded(where.resource);
    const QString installed = QDir(where.shareFolder).filePath(fileName);
    if (!where.shareFolder.isEmpty() && QFileInfo::exists(installed))
        return decoded(installed);
    return std::nullopt;
}

bool PellwickAppIcon::applyWindowIcon(QWidget &window)
{
    const std::optional<QImage> picture = image();
    if (!picture)
        return false;
    window.setWindowIcon(QIcon(QPixmap::fromImage(*picture)));
    return true;
}

bool PellwickAppIcon::applyApplicationIcon()
{
    const std::optional<QImage> picture = image();
    if (!picture)
        return false;
    QApplication::setWindowIcon(QIcon(QPixmap::fromImage(*picture)));
    return true;
}

} // namespace Pellwick
