#include "Gallery.h"

#include <PellwickApp/Views/Kit/PellwickControlStyles.h>

#include <QImage>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace Pellwick;

class GalleryTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { PellwickControlStyles::install(); }

    void everyKitPictureIsWrittenAndNotBlank_data()
    {
        QTest::addColumn<PellwickTheme::Appearance>("appearance");
        QTest::newRow("light") << PellwickTheme::Appearance::Light;
        QTest::newRow("dark") << PellwickTheme::Appearance::Dark;
    }

    void everyKitPictureIsWrittenAndNotBlank()
    {
        QFETCH(PellwickTheme::Appearance, appearance);
        QTemporaryDir folder;
        const QList<Gallery::Entry> entries = Gallery::kitEntries() + Gallery::restoreEntries();
        const QStringList written = Gallery::render(entries, appearance, folder.path());
        QCOMPARE(written.size(), entries.size());
        for (const QString &file : written) {
            const QImage image(folder.filePath(file));
            QVERIFY2(!image.isNull(), qPrintable(file));
            QSet<QRgb> colours;
            for (int y = 0; y < image.height() && colours.size() < 3; y += 2) {
                for (int x = 0; x < image.width(); x += 2)
                    colours.insert(image.pixel(x, y));
            }
            QVERIFY2(colours.size() >= 3, qPrintable(file));
        }
    }
};

QTEST_MAIN(GalleryTests)
#include "GalleryTests.moc"
