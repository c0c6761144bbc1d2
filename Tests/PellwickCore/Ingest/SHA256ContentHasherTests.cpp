#include <PellwickCore/Ingest/ContentHashing.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

#include <Support/TestErrors.h>
#include <Support/TestFiles.h>
#include <sys/stat.h>

using namespace Pellwick;
using namespace Pellwick::Test;

class SHA256ContentHasherTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void knownDigests_data();
    void knownDigests();
    void sizesAroundTheReadSizeMatchAReference_data();
    void sizesAroundTheReadSizeMatchAReference();
    void missingFileFailsWithTheOpenError();
    void whatIsNotARegularFileIsRefused_data();
    void whatIsNotARegularFileIsRefused();
    void fileIsClosedOnEveryPath();
};

void SHA256ContentHasherTests::knownDigests_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("hash");
    QTest::newRow("empty file")
        << QByteArray()
        << QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    QTest::newRow("abc") << QByteArray("abc")
                         << QStringLiteral(
                                "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    QTest::newRow("two blocks")
        << QByteArray("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")
        << QStringLiteral("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

void SHA256ContentHasherTests::knownDigests()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, hash);
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("file"));
    writeFile(path, bytes);

    const Result<QString> result = SHA256ContentHasher().contentHash(path);
    PELLWICK_VERIFY_SUCCESS(result);
    QCOMPARE(*result, hash);
    QCOMPARE(SHA256ContentHasher::contentHash(bytes), hash);
}

void SHA256ContentHasherTests::sizesAroundTheReadSizeMatchAReference_data()
{
    constexpr qint64 mebibyte = 1024 * 1024;
    QTest::addColumn<qint64>("size");
    QTest::newRow("one byte") << qint64(1);
    QTest::newRow("one MiB less one byte") << mebibyte - 1;
    QTest::newRow("exactly one MiB") << mebibyte;
    QTest::newRow("one MiB and one byte") << mebibyte + 1;
    QTest::newRow("three MiB and a bit") << 3 * mebibyte + 17;
}

void SHA256ContentHasherTests::sizesAroundTheReadSizeMatchAReference()
{
    QFETCH(qint64, size);
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("IMG_0001.CR3"));
    const QByteArray bytes = patternBytes(size, static_cast<quint32>(size));
    writeFile(path, bytes);

    const Result<QString> result = SHA256ContentHasher().contentHash(path);
    PELLWICK_VERIFY_SUCCESS(result);
    QCOMPARE(*result, referenceSha256(bytes));
    static const QRegularExpression lowercaseHex(QStringLiteral("^[0-9a-f]{64}$"));
    QVERIFY(lowercaseHex.match(*result).hasMatch());
}

void SHA256ContentHasherTests::missingFileFailsWithTheOpenError()
{
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing.CR3"));

    const Result<QString> result = SHA256ContentHasher().contentHash(path);
    QVERIFY(!result);
    QCOMPARE(result.error(), Error(FileSystemError{QStringLiteral("open"), path, ENOENT}));
}

void SHA256ContentHasherTests::whatIsNotARegularFileIsRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("code");
    QTest::newRow("folder") << QStringLiteral("folder") << EISDIR;
    // Neither waits for a writer nor reads an endless device.
    QTest::newRow("FIFO") << QStringLiteral("fifo") << EINVAL;
    QTest::newRow("endless device") << QStringLiteral("/dev/zero") << EINVAL;
}

void SHA256ContentHasherTests::whatIsNotARegularFileIsRefused()
{
    QFETCH(QString, kind);
    QFETCH(int, code);
    const QTemporaryDir dir;
    QString path = dir.path();
    if (kind == QLatin1String("fifo")) {
        path = dir.filePath(QStringLiteral("IMG_0001.CR3"));
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (kind != QLatin1String("folder")) {
        path = kind;
    }

    const Result<QString> result = SHA256ContentHasher().contentHash(path);
    QVERIFY(!result);
    QCOMPARE(result.error(), Error(FileSystemError{QStringLiteral("read"), path, code}));
}

void SHA256ContentHasherTests::fileIsClosedOnEveryPath()
{
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("file"));
    const QString large = dir.filePath(QStringLiteral("large")); // read ahead on a second thread
    writeFile(path, patternBytes(100));
    writeFile(large, patternBytes(3 * 1024 * 1024));
    const SHA256ContentHasher hasher;
    const int before = openDescriptorCount();

    for (int i = 0; i < 20; ++i) {
        QVERIFY(hasher.contentHash(path));
        QVERIFY(hasher.contentHash(large));
        QVERIFY(!hasher.contentHash(dir.path()));
        QVERIFY(!hasher.contentHash(dir.filePath(QStringLiteral("missing"))));
    }

    QCOMPARE(openDescriptorCount(), before);
}

QTEST_GUILESS_MAIN(SHA256ContentHasherTests)
#include "SHA256ContentHasherTests.moc"
