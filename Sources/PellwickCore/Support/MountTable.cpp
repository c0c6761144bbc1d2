#include "MountTable.h"

#include <QDir>
#include <QSet>

namespace Pellwick {

namespace {

/// More than any mount table a system holds.
constexpr qint64 maximumTableBytes = qint64{16} * 1024 * 1024;

QByteArray tableContents(const FileManager &fileManager, const QString &path)
{
    const Result<QByteArray> contents
        = readRegularFileContents(fileManager, path, maximumTableBytes);
    return contents ? *contents : QByteArray();
}

/// The mount points the kernel holds now (fifth field of each mountinfo line).
QSet<QString> mountedPoints(const FileManager &fileManager, const QString &mountInfo)
{
    QSet<QString> points;
    for (const QByteArray &line : tableContents(fileManager, mountInfo).split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() > 4)
            points.insert(QDir::cleanPath(unescapeMountTableField(fields.at(4)).first));
    }
    return points;
}

/// The mount points the file systems table names for file systems (second field), "/" and swap
/// left out.
QSet<QString> configuredPoints(const FileManager &fileManager, const QString &table)
{
    QSet<QString> points;
    for (const QByteArray &line : tableContents(fileManager, table).split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#'))
            continue;
        const QList<QByteArray> fields = trimmed.simplified().split(' ');
        if (fields.size() < 2 || !fields.at(1).startsWith('/'))
            continue;
        const QString point = QDir::cleanPath(unescapeMountTableField(fields.at(1)).first);
        if (point != QLatin1String("/"))
            points.insert(point);
    }
    return points;
}

std::optional<quint64> deviceOf(const FileManager &fileManager, const QString &path)
{
    const Result<FileAttributes> attributes = fileManager.attributesOfItem(path);
    return attributes ? std::optional<quint64>(attributes->device) : std::nullopt;
}

} // namespace

std::pair<QString, bool> unescapeMountTableField(QByteArrayView field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3'
            && field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0'
            && field[i + 3] <= '7') {
            out.append(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8
                                         + (field[i + 3] - '0')));
            i += 3;
        } else {
            out.append(c);
        }
    }
    return decodeFileName(out);
}

bool mayLieOnAbsentDrive(const FileManager &fileManager,
                         const QString &path,
                         const MountTablePaths &paths)
{
    const QString resolved = resolvingSymlinksInPath(fileManager, path);
    const QSet<QString> configured = configuredPoints(fileManager, paths.fileSystemTable);
    if (!configured.isEmpty()) {
        const QSet<QString> mounted = mountedPoints(fileManager, paths.mountInfo);
        for (QString folder = resolved; folder != QLatin1String("/"); folder = parentPath(folder)) {
            if (configured.contains(folder) && !mounted.contains(folder))
                return true;
            if (parentPath(folder) == folder)
                break;
        }
    }
    if (fileManager.fileExists(resolved))
        return false;
    QString nearest = parentPath(resolved);
    while (nearest != QLatin1String("/") && !fileManager.fileExists(nearest))
        nearest = parentPath(nearest);
    for (const QString &base : paths.removableMountBases) {
        const QString cleanBase = QDir::cleanPath(base);
        if (!isSameOrInside(resolved, cleanBase) || !isSameOrInside(nearest, cleanBase))
            continue;
        const std::optional<quint64> baseDevice = deviceOf(fileManager, cleanBase);
        if (baseDevice && deviceOf(fileManager, nearest) == baseDevice)
            return true;
    }
    return false;
}

} // namespace Pellwick
