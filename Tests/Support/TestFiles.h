#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <initializer_list>

namespace Pellwick::Test {

/// Deterministic pseudo-random bytes: the same seed gives the same bytes.
QByteArray patternBytes(qint64 size, quint32 seed = 1);
/// Writes `bytes` to `path`, creating missing folders; fails the test process on error.
void writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);
/// Appends `bytes` to the file at `path`.
void appendToFile(const QString &path, const QByteArray &bytes);
/// Relative path to reference SHA-256 of every file under `root`, hidden ones included; symbolic
/// links are not followed. Empty when `root` does not exist.
QMap<QString, QString> fileManifest(const QString &root);
/// Relative path to the bytes of every file under `root`, as `fileManifest` lists them: for a
/// comparison byte for byte where hashing would cost more time.
QMap<QString, QByteArray> fileContents(const QString &root);
/// Relative paths of every folder under `root`, sorted.
QStringList folderList(const QString &root);
/// Writes a cache-like tree under `root`: `fileCount` files spread over dated batch folders with
/// nested source folders, RAW-like files of up to `maxBytes` bytes (some empty), sidecars and a
/// hidden marker file, all from `seed`.
void writeGeneratedCache(const QString &root, int fileCount, qint64 maxBytes, quint32 seed = 1);

/// The texts as a list (for data rows, where string literals do not convert implicitly).
QStringList texts(std::initializer_list<const char *> values);
/// SHA-256 of `bytes` as lowercase hex, computed independently of the code under test.
QString referenceSha256(const QByteArray &bytes);
/// How many file descriptors this process has open, to check that files are closed again.
int openDescriptorCount();

} // namespace Pellwick::Test
