#include <PellwickApp/Views/Kit/PellwickAppIcon.h>
#include <PellwickApp/Views/Kit/PellwickBrandMark.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

using namespace Pellwick;
using namespace Qt::StringLiterals;

namespace {

enum class Picture {
    Absent,
    Red,
    Green,
    Corrupt,
    Empty,
};

struct BrandCase
{
    Picture resource = Picture::Absent;
    Picture installed = Picture::Absent;
    /// The colour in the middle of the mark; the fallback's accent when none.
    QColor middle = PellwickTheme::accent();
    bool hasImage = false;
};

/// Writes a 2:1 picture of `picture` at `path`.
void write(Picture picture, const QString &path)
{
    QFile file(path);
    switch (picture) {
    case Picture::Absent:
        return;
    case Picture::Red:
    case Picture::Green: {
        QImage image(40, 20, QImage::Format_ARGB32);
        image.fill(picture == Picture::Red ? Qt::red : Qt::green);
        QVERIFY(image.save(path, "PNG"));
        return;
    }
    case Picture::Corrupt:
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\x89PNG\r\n\x1a\nnot a picture");
        return;
    case Picture::Empty:
        QVERIFY(file.open(QIODevice::WriteOnly));
        return;
    }
}

bool near(const QColor &a, const QColor &b)
{
    return std::abs(a.red() - b.red()) <= 3 && std::abs(a.green() - b.green()) <= 3
           && std::abs(a.blue() - b.blue()) <= 3;
}

} // namespace

Q_DECLARE_METATYPE(BrandCase)

class PellwickBrandMarkTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void cleanup() { PellwickAppIcon::setPlaces(PellwickAppIcon::standardPlaces()); }

    void markAndWindowIcon_data()
    {
        QTest::addColumn<BrandCase>("row");
        QTest::newRow("compiled-in resource first") << BrandCase{.resource = Picture::Red,
                                                                 .installed = Picture::Green,
                                                                 .middle = Qt::red,
                                                                 .hasImage = true};
        QTest::newRow("share folder only")
            << BrandCase{.installed = Picture::Green, .middle = Qt::green, .hasImage = true};
        QTest::newRow("neither: the fallback") << BrandCase{};
        QTest::newRow("corrupt resource is not retried")
            << BrandCase{.resource = Picture::Corrupt, .installed = Picture::Green};
        QTest::newRow("empty installed file") << BrandCase{.installed = Picture::Empty};
    }

    void markAndWindowIcon()
    {
        QFETCH(BrandCase, row);
        QTemporaryDir folder;
        const QString resource = folder.filePath(u"resource.png"_s);
        const QString share = folder.filePath(u"share"_s);
        QDir().mkpath(share);
        write(row.resource, resource);
        write(row.installed, QDir(share).filePath(u"PellwickIcon.png"_s));
        PellwickAppIcon::setPlaces({.resource = resource, .shareFolder = share});

        PellwickBrandMark mark;
        mark.setFixedSize(PellwickBrandMark::titleSize, PellwickBrandMark::titleSize);
        QCOMPARE(mark.objectName(), u"pellwick.brand-mark"_s);
        QCOMPARE(mark.accessibleName(), u"Pellwick"_s);
        QImage image(mark.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        mark.render(&image, {}, {}, QWidget::DrawChildren);
        QVERIFY2(near(image.pixelColor(14, 14), row.middle),
                 qPrintable(image.pixelColor(14, 14).name()));
        // A 2:1 picture is letterboxed in the square; the fallback fills it.
        QCOMPARE(qAlpha(image.pixel(14, 2)) == 0, row.hasImage);

        QWidget window;
        QCOMPARE(PellwickAppIcon::applyWindowIcon(window), row.hasImage);
        QCOMPARE(window.windowIcon().isNull(), !row.hasImage);
    }

    void committedPictureDecodes()
    {
        const std::optional<QImage> image = PellwickAppIcon::image();
        QVERIFY(image);
        QCOMPARE(image->size(), QSize(512, 512));
    }
};

QTEST_MAIN(PellwickBrandMarkTests)
#include "PellwickBrandMarkTests.moc"
