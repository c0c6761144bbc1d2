// pellwick-bench-thumbnails generate DIR COUNT   writes COUNT noisy 1600 x 1067 preview JPEGs, a
//                                                quarter of them with EXIF orientation 6
// pellwick-bench-thumbnails thumbnails DIR       makes the thumbnail of every JPEG in DIR
#include "PeakRss.h"

#include <PellwickApp/Workflows/ThumbnailLoader.h>
#include <PellwickCore/Ingest/TurboJpegEncoder.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>
#include <QThreadPool>

#include <cstdio>
#include <cstring>
#include <random>

#include <Support/JpegFixtures.h>

using namespace Pellwick;

namespace {

int generate(const QString &folder, int count)
{
    QDir().mkpath(folder);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-10, 10);
    for (int n = 0; n < count; ++n) {
        PreviewImage image{1600, 1067, QByteArray(1600 * 1067 * 3, '\0')};
        auto *pixel = reinterpret_cast<unsigned char *>(image.pixels.data());
        for (int y = 0; y < image.height; ++y) {
            for (int x = 0; x < image.width; ++x, pixel += 3) {
                pixel[0] = (unsigned char) std::clamp(x / 8 + n % 50 + noise(random), 0, 255);
                pixel[1] = (unsigned char) std::clamp(y / 6 + noise(random), 0, 255);
                pixel[2] = (unsigned char) std::clamp((x + y) / 12 + noise(random), 0, 255);
            }
        }
        QByteArray jpeg = TurboJpegEncoder().encode(image, 0.82).value_or(QByteArray());
        if (n % 4 == 0)
            jpeg = Test::withExifOrientation(jpeg, 6);
        QFile file(QDir(folder).filePath(QString::asprintf("preview-%05d.jpg", n)));
        if (jpeg.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(jpeg) != jpeg.size())
            return 1;
    }
    return 0;
}

int thumbnails(const QString &folder)
{
    const QStringList files = QDir(folder).entryList({QStringLiteral("*.jpg")}, QDir::Files);
    QThreadPool pool;
    pool.setMaxThreadCount(QThread::idealThreadCount());
    const ThumbnailLoader loader(pool);
    QObject receiver;
    int done = 0;
    int failed = 0;
    for (const QString &name : files) {
        loader.load(QDir(folder).filePath(name), &receiver, [&](const QImage &image) {
            if (image.isNull() || std::max(image.width(), image.height()) > 96)
                ++failed;
            if (++done == files.size())
                QCoreApplication::quit();
        });
    }
    if (!files.isEmpty())
        QCoreApplication::exec();
    Bench::reportPeakRss();
    if (failed > 0)
        std::fprintf(stderr, "error: %d of %d thumbnails failed\n", failed, int(files.size()));
    return failed > 0 ? 1 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc == 4 && std::strcmp(argv[1], "generate") == 0)
        return generate(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]));
    if (argc == 3 && std::strcmp(argv[1], "thumbnails") == 0)
        return thumbnails(QString::fromLocal8Bit(argv[2]));
    std::fprintf(stderr, "usage: %s generate DIR COUNT | thumbnails DIR\n", argv[0]);
    return 2;
}
