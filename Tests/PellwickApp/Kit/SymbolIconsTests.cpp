#include <PellwickApp/Views/Kit/SymbolIcons.h>

#include <QFile>
#include <QImage>
#include <QTest>

using namespace Pellwick;
using namespace Qt::StringLiterals;

namespace {

int paintedPixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
    }
    return count;
}

} // namespace

class SymbolIconsTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void everySymbolRenders_data()
    {
        QTest::addColumn<QString>("symbol");
        // The symbols the pages name; each must be in the table.
        for (const QString &symbol : {u"folder"_s,
                                      u"exclamationmark.triangle"_s,
                                      u"checkmark.shield"_s,
                                      u"chevron.down"_s,
                                      u"externaldrive"_s,
                                      u"xmark.circle"_s,
                                      u"nosign"_s}) {
            QVERIFY(SymbolIcons::symbolNames().contains(symbol));
        }
        for (const QString &symbol : SymbolIcons::symbolNames())
            QTest::newRow(qPrintable(symbol)) << symbol;
    }

    void everySymbolRenders()
    {
        QFETCH(QString, symbol);
        QVERIFY(QFile::exists(*SymbolIcons::resourcePath(symbol)));
        const QPixmap pixmap = SymbolIcons::pixmap(symbol, Qt::black, 24, 2.0);
        QCOMPARE(pixmap.deviceIndependentSize(), QSizeF(24, 24));
        QVERIFY(paintedPixels(pixmap.toImage()) > 20);
        // Rendered once: the same picture is handed out again.
        QCOMPARE(SymbolIcons::pixmap(symbol, Qt::black, 24, 2.0).cacheKey(), pixmap.cacheKey());
    }

    void translucentColourStaysTranslucent()
    {
        const QImage image = SymbolIcons::pixmap(u"xmark"_s, QColor(0, 0, 0, 128), 32).toImage();
        int darkest = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                darkest = std::max(darkest, qAlpha(image.pixel(x, y)));
        }
        QVERIFY2(darkest > 100 && darkest < 140, qPrintable(QString::number(darkest)));
    }

    void unknownSymbolDrawsASquare()
    {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"no icon for the symbol"_s));
        const QImage image = SymbolIcons::pixmap(u"no.such.symbol"_s, Qt::red, 32).toImage();
        QCOMPARE(image.pixelColor(8, 16).red(), 255);
        QCOMPARE(qAlpha(image.pixel(16, 16)), 0);
        // The warning is logged once.
        QVERIFY(!SymbolIcons::icon(u"no.such.symbol"_s, Qt::blue).isNull());
    }
};

QTEST_MAIN(SymbolIconsTests)
#include "SymbolIconsTests.moc"
