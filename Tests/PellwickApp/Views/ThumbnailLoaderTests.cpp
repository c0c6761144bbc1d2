#include "SaveGrab.h"

#include <PellwickApp/Views/Library/LocalLibraryPreview.h>
#include <PellwickApp/Workflows/ThumbnailLoader.h>

#include <QFile>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <functional>
#include <memory>

#include <Support/JpegFixtures.h>

using namespace Pellwick;
using namespace Pellwick::Test;

namespace {

/// A pool of one thread held by a gate until `resume()`: loads queue up in the order asked.
struct PausedPool
{
    QThreadPool pool;
    QSemaphore gate;

    PausedPool()
    {
        pool.setMaxThreadCount(1);
        pool.start([this] { gate.acquire(); });
    }

    ~PausedPool() { resume(); }

    void resume()
    {
        gate.release();
        pool.waitForDone();
    }
};

/// A JPEG whose frame header claims `width` × `height`.
QByteArray claimingSize(QByteArray jpeg, quint16 width, quint16 height)
{
    const qsizetype frame = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
    jpeg[frame + 5] = char(height >> 8);
    jpeg[frame + 6] = char(height & 0xFF);
    jpeg[frame + 7] = char(width >> 8);
    jpeg[frame + 8] = char(width & 0xFF);
    return jpeg;
}

struct Case
{
    /// The file's bytes; none: no file.
    std::function<QByteArray()> content = {};
    /// 0 x 0: no thumbnail.
    QSize size = {0, 0};
    bool redAbove = false;
};

} // namespace

Q_DECLARE_METATYPE(Case)

class ThumbnailLoaderTests : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;

    QString write(const QString &name, const QByteArray &bytes)
    {
        QFile file(m_folder.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
        return file.fileName();
    }

private Q_SLOTS:

    void thumbnailOfAFile_data()
    {
        QTest::addColumn<Case>("testCase");
        QTest::newRow("2000 x 1000 gives 96 x 48")
            << Case{.content = [] { return twoColourJpeg(2000, 1000); }, .size = {96, 48}};
        QTest::newRow("orientation 6 is upright")
            << Case{.content = [] { return withExifOrientation(twoColourJpeg(200, 100), 6); },
                    .size = {48, 96},
                    .redAbove = true};
        QTest::newRow("missing") << Case{};
        QTest::newRow("zero bytes") << Case{.content = [] { return QByteArray(); }};
        QTest::newRow("not an image")
            << Case{.content = [] { return QByteArray("not an image\n").repeated(100); }};
        QTest::newRow("truncated")
            << Case{.content = [] { return twoColourJpeg(400, 300).chopped(300); }};
        QTest::newRow("30000 x 30000 refused before decoding")
            << Case{.content = [] { return claimingSize(twoColourJpeg(16, 16), 30000, 30000); }};
    }

    void thumbnailOfAFile()
    {
        QFETCH(Case, testCase);
        const QString name = QString::fromLatin1(QTest::currentDataTag());
        const QString path
            = testCase.content ? write(name, testCase.content()) : m_folder.filePath(name);
        const QImage image = ThumbnailLoader::thumbnail(path);
        QCOMPARE(image.size(), testCase.size);
        if (testCase.redAbove) {
            const QColor top = image.pixelColor(image.width() / 2, 4);
            const QColor bottom = image.pixelColor(image.width() / 2, image.height() - 4);
            QVERIFY(top.red() > top.blue() && bottom.blue() > bottom.red());
        }
    }

    void onlyTheNewestLoadIsShownOnTheMainThread()
    {
        const QString wide = write(QStringLiteral("wide.jpg"), twoColourJpeg(2000, 1000));
        const QString tall = write(QStringLiteral("tall.jpg"), twoColourJpeg(100, 200));
        PausedPool paused;
        LocalLibraryPreview preview{ThumbnailLoader(paused.pool)};
        QList<bool> onMainThread;
        connect(&preview, &LocalLibraryPreview::loadFinished, this, [&] {
            onMainThread.append(QThread::currentThread() == thread());
        });
        preview.setPreviewURL(wide);
        preview.setPreviewURL(tall);
        QVERIFY(preview.isShowingPlaceholder());
        paused.resume();
        QTRY_COMPARE(preview.image().size(), QSize(48, 96));
        QCoreApplication::processEvents();
        QCOMPARE(onMainThread, QList<bool>{true});
        preview.resize(64, 64);
        saveGrab(preview, QStringLiteral("preview-portrait"));
    }

    void noPreviewShowsThePlaceholderAndReadsNothing()
    {
        const QString wide = write(QStringLiteral("wide.jpg"), twoColourJpeg(2000, 1000));
        QThreadPool pool;
        LocalLibraryPreview preview{ThumbnailLoader(pool)};
        QSignalSpy loads(&preview, &LocalLibraryPreview::loadFinished);
        preview.setPreviewURL(wide);
        QTRY_COMPARE(loads.count(), 1);
        PausedPool paused;
        LocalLibraryPreview empty{ThumbnailLoader(paused.pool)};
        QSignalSpy none(&empty, &LocalLibraryPreview::loadFinished);
        empty.setPreviewURL(std::nullopt);
        paused.resume();
        QCoreApplication::processEvents();
        QVERIFY(empty.isShowingPlaceholder());
        QCOMPARE(none.count(), 0);
        preview.setPreviewURL(std::nullopt);
        QVERIFY(preview.isShowingPlaceholder());
    }

    void aPreviewDestroyedMidLoadGetsNothing()
    {
        const QString wide = write(QStringLiteral("wide.jpg"), twoColourJpeg(2000, 1000));
        PausedPool paused;
        auto preview = std::make_unique<LocalLibraryPreview>(ThumbnailLoader(paused.pool));
        preview->setPreviewURL(wide);
        preview.reset();
        paused.resume();
        QCoreApplication::processEvents();
    }
};

QTEST_MAIN(ThumbnailLoaderTests)
#include "ThumbnailLoaderTests.moc"
