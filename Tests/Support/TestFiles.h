#pragma once

#include <QByteArray>
#include <QString>

namespace Pellwick::Test {

/// Deterministic pseudo-random bytes: the same seed gives the same bytes.
QByteArray patternBytes(qint64 size, quint32 seed = 1);
/// Writes `bytes` to `path`, creating missing folders; fails the test process on error.
void writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);
/// SHA-256 of `bytes` as lowercase hex, computed independently of the code under test.
QString referenceSha256(const QByteArray &bytes);
/// How many file descriptors this process has open, to check that files are closed again.
int openDescriptorCount();

} // namespace Pellwick::Test
