#include "TestFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cstdlib>

namespace Pellwick::Test {

QByteArray patternBytes(qint64 size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = seed * 2654435761U + 1U;
    for (qint64 i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes[i] = static_cast<char>(state & 0xff);
    }
    return bytes;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(bytes) != bytes.size()) {
        qFatal("cannot write test file %s", qPrintable(path));
    }
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void appendToFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::Append) || file.write(bytes) != bytes.size())
        qFatal("cannot append to test file %s", qPrintable(path));
}

namespace {

/// Calls `use` with the relative path and the bytes of every file under `root`.
template<typename Use>
void forEachFile(const QString &root, Use use)
{
    const QDir base(root);
    QDirIterator it(root,
                    QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        use(base.relativeFilePath(path), readFile(path));
    }
}

} // namespace

QMap<QString, QByteArray> fileContents(const QString &root)
{
    QMap<QString, QByteArray> contents;
    forEachFile(
        root, [&](const QString &path, const QByteArray &bytes) { contents.insert(path, bytes); });
    return contents;
}

QMap<QString, QString> fileManifest(const QString &root)
{
    QMap<QString, QString> manifest;
    forEachFile(root, [&](const QString &path, const QByteArray &bytes) {
        manifest.insert(path, referenceSha256(bytes));
    });
    return manifest;
}

QStringList folderList(const QString &root)
{
    QStringList folders;
    const QDir base(root);
    QDirIterator it(
        root, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        folders.append(base.relativeFilePath(it.next()));
    folders.sort();
    return folders;
}

void writeGeneratedCache(const QString &root, int fileCount, qint64 maxBytes, quint32 seed)
{
    QDir().mkpath(root);
    quint32 state = seed * 2246822519U + 7U;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    for (int i = 0; i < fileCount; ++i) {
        const QString batch = QStringLiteral("2024/%1/%2-%3")
                                  .arg(3 + i % 2, 2, 10, QLatin1Char('0'))
                                  .arg(5 + i % 3, 2, 10, QLatin1Char('0'))
                                  .arg(QStringLiteral("0a1b2c3d4e5f").left(6 + i % 3));
        const QString folder = QStringLiteral("DCIM/%1MEDIA").arg(100 + i % 4);
        const qint64 size = i % 7 == 0 ? 0 : static_cast<qint64>(next() % (maxBytes + 1));
        const QString name = i % 5 == 4
                                 ? QStringLiteral("IMG_%1.xmp").arg(i, 4, 10, QLatin1Char('0'))
                                 : QStringLiteral("IMG_%1.CR3").arg(i, 4, 10, QLatin1Char('0'));
        writeFile(root + QLatin1Char('/') + batch + QLatin1Char('/') + folder + QLatin1Char('/')
                      + name,
                  patternBytes(size, next()));
    }
    writeFile(root + QStringLiteral("/2024/03/05-0a1b2c/.pellwick-copy-in-progress"),
              QByteArrayLiteral("{\"sourceIdentity\":{\"volume\":{\"uuid\":\"A1\"}}}"));
}

QString referenceSha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

int openDescriptorCount()
{
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd"))
                                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
                                .size());
}

QStringList texts(std::initializer_list<const char *> values)
{
    QStringList list;
    for (const char *value : values)
        list.append(QString::fromUtf8(value));
    return list;
}

} // namespace Pellwick::Test
