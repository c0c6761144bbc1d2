#include <PellwickCore/Ingest/PreviewImage.h>

#include <QTest>

using namespace Pellwick;

class PreviewImageTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void longestSideBecomesTheLimit_data();
    void longestSideBecomesTheLimit();
    void uniformColourStaysExact();
    void pixelsAreAveragedByCoveredArea();
};

namespace {

PreviewImage filled(int width, int height, quint8 r, quint8 g, quint8 b)
{
    const char pixel[3] = {char(r), char(g), char(b)};
    return {width, height, QByteArray(pixel, 3).repeated(qsizetype(width) * height)};
}

/// A one-row grey image with the given values.
PreviewImage greyRow(const QList<quint8> &values)
{
    PreviewImage image{int(values.size()), 1, {}};
    for (const quint8 v : values)
        image.pixels.append(QByteArray(3, char(v)));
    return image;
}

QList<int> greyValues(const PreviewImage &image)
{
    QList<int> values;
    for (qsizetype i = 0; i < image.pixels.size(); i += 3)
        values.append(quint8(image.pixels[i]));
    return values;
}

} // namespace

void PreviewImageTests::longestSideBecomesTheLimit_data()
{
    QTest::addColumn<QSize>("input");
    QTest::addColumn<qint64>("maxPixelSize");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("landscape") << QSize(3000, 2000) << qint64(1600) << QSize(1600, 1067);
    QTest::newRow("portrait") << QSize(2000, 3000) << qint64(1600) << QSize(1067, 1600);
    QTest::newRow("square") << QSize(1700, 1700) << qint64(800) << QSize(800, 800);
    QTest::newRow("thin strip keeps one row") << QSize(5000, 2) << qint64(1600) << QSize(1600, 1);
    QTest::newRow("already small is kept") << QSize(1200, 800) << qint64(1600) << QSize(1200, 800);
    QTest::newRow("exactly the limit is kept")
        << QSize(1600, 900) << qint64(1600) << QSize(1600, 900);
}

void PreviewImageTests::longestSideBecomesTheLimit()
{
    QFETCH(QSize, input);
    QFETCH(qint64, maxPixelSize);
    QFETCH(QSize, expected);
    const PreviewImage image = filled(input.width(), input.height(), 10, 20, 30);
    const PreviewImage result = image.downscaled(maxPixelSize);
    QCOMPARE(QSize(result.width, result.height), expected);
    QCOMPARE(result.pixels.size(), qsizetype(expected.width()) * expected.height() * 3);
}

void PreviewImageTests::uniformColourStaysExact()
{
    // Ratios that leave fractional pixel shares at every boundary; weights that did not sum to
    // one would shift the colour.
    const QList<std::pair<QSize, qint64>> cases{
        {QSize(301, 199), 160}, {QSize(1601, 7), 1600}, {QSize(1500, 999), 801}};
    for (const auto &[size, maxPixelSize] : cases) {
        for (const quint8 value : {quint8(0), quint8(1), quint8(128), quint8(254), quint8(255)}) {
            const PreviewImage result
                = filled(size.width(), size.height(), value, 255 - value, value / 2)
                      .downscaled(maxPixelSize);
            QCOMPARE(result.width, int(std::min<qint64>(size.width(), maxPixelSize)));
            QCOMPARE(result, filled(result.width, result.height, value, 255 - value, value / 2));
        }
    }
}

void PreviewImageTests::pixelsAreAveragedByCoveredArea()
{
    QCOMPARE(greyValues(greyRow({0, 255}).downscaled(1)), QList<int>{128});
    // Three pixels onto two: each new pixel covers one and a half old ones.
    QCOMPARE(greyValues(greyRow({0, 90, 180}).downscaled(2)), (QList<int>{30, 150}));
    QCOMPARE(greyValues(greyRow({10, 20, 30, 40, 50, 60}).downscaled(3)), (QList<int>{15, 35, 55}));

    // Rows are averaged the same way as columns.
    PreviewImage column{1, 3, {}};
    for (const quint8 v : {quint8(0), quint8(90), quint8(180)})
        column.pixels.append(QByteArray(3, char(v)));
    QCOMPARE(greyValues(column.downscaled(2)), (QList<int>{30, 150}));
}

QTEST_GUILESS_MAIN(PreviewImageTests)
#include "PreviewImageTests.moc"
