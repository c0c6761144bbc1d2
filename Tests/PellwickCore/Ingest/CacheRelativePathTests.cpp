#include <PellwickCore/Ingest/CacheRelativePath.h>

#include <QTest>

using namespace Pellwick;

class CacheRelativePathTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void relativePath_data();
    void relativePath();
};

void CacheRelativePathTests::relativePath_data()
{
    QTest::addColumn<std::optional<QString>>("file");
    QTest::addColumn<QString>("root");
    QTest::addColumn<std::optional<QString>>("expected");

    const auto some
        = [](const char *text) { return std::optional<QString>(QString::fromUtf8(text)); };
    const std::optional<QString> none;
    QTest::newRow("nested file") << some("/Volumes/CARD/DCIM/IMG_1.CR3")
                                 << QStringLiteral("/Volumes/CARD") << some("DCIM/IMG_1.CR3");
    QTest::newRow("file directly in root")
        << some("/Volumes/CARD/IMG_1.CR3") << QStringLiteral("/Volumes/CARD") << some("IMG_1.CR3");
    QTest::newRow("root given with trailing slash")
        << some("/Volumes/CARD/IMG_1.CR3") << QStringLiteral("/Volumes/CARD/") << some("IMG_1.CR3");
    QTest::newRow("sibling with common prefix")
        << some("/Volumes/CARD2/IMG_1.CR3") << QStringLiteral("/Volumes/CARD") << none;
    QTest::newRow("absent file") << none << QStringLiteral("/Volumes/CARD") << none;
    QTest::newRow("the root itself")
        << some("/Volumes/CARD/") << QStringLiteral("/Volumes/CARD") << none;
    QTest::newRow("dot-dot leaving the root")
        << some("/Volumes/CARD/../CARD2/IMG_1.CR3") << QStringLiteral("/Volumes/CARD") << none;
    QTest::newRow("dot components inside")
        << some("/Volumes/CARD/./DCIM//IMG_1.CR3") << QStringLiteral("/Volumes/CARD")
        << some("DCIM/IMG_1.CR3");
    QTest::newRow("file system root")
        << some("/IMG_1.CR3") << QStringLiteral("/") << some("IMG_1.CR3");
    QTest::newRow("non-ASCII names") << some("/media/Karte ü/DCIM/Ära.nef")
                                     << QStringLiteral("/media/Karte ü") << some("DCIM/Ära.nef");
}

void CacheRelativePathTests::relativePath()
{
    QFETCH(std::optional<QString>, file);
    QFETCH(QString, root);
    QFETCH(std::optional<QString>, expected);
    QCOMPARE(CacheRelativePath::value(file, root), expected);
}

QTEST_GUILESS_MAIN(CacheRelativePathTests)
#include "CacheRelativePathTests.moc"
