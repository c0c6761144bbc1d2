// Reads the capture metadata of every file in a folder, one after another, as an import does
// per package; or generates the DNG files to read.
//
//   pellwick-bench-metadata generate FOLDER COUNT
//   pellwick-bench-metadata read FOLDER

#include <PellwickCore/Ingest/Exiv2PhotoMetadataExtractor.h>
#include <PellwickCore/Ingest/ImageLibraries.h>

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

#include <Support/DngWriter.h>

using namespace Pellwick;

namespace {

int generate(const QString &folder, int count)
{
    QDir().mkpath(folder);
    for (int i = 0; i < count; ++i) {
        Test::DngOptions options;
        // About 1 MB per file, metadata in the first kilobytes, as in camera files.
        options.width = 720;
        options.height = 720;
        options.model = QByteArray("PW-") + QByteArray::number(i % 7);
        const QByteArray date = QStringLiteral("2024:%1:%2 %3:%4:%5")
                                    .arg(i % 12 + 1, 2, 10, QLatin1Char('0'))
                                    .arg(i % 28 + 1, 2, 10, QLatin1Char('0'))
                                    .arg(i % 24, 2, 10, QLatin1Char('0'))
                                    .arg(i % 60, 2, 10, QLatin1Char('0'))
                                    .arg((i * 7) % 60, 2, 10, QLatin1Char('0'))
                                    .toLatin1();
        options.dateTime = date;
        options.dateTimeOriginal = date;
        options.dateTimeDigitized = date;
        options.latitude = Test::DngOptions::degreesMinutesSeconds(10 + i * 0.01);
        options.longitude = Test::DngOptions::degreesMinutesSeconds(20 + i * 0.02);
        Test::DngWriter::write(
            folder + QStringLiteral("/IMG_%1.DNG").arg(i, 4, 10, QLatin1Char('0')), options);
    }
    return 0;
}

int read(const QString &folder)
{
    const Exiv2PhotoMetadataExtractor extractor;
    const QStringList names = QDir(folder).entryList(QDir::Files, QDir::Name);
    int known = 0;
    for (const QString &name : names) {
        Result<PhotoMetadata> metadata = extractor.metadata(folder + QLatin1Char('/') + name);
        if (metadata && metadata->captureTime.knownDate() && metadata->cameraModel.knownModel()
            && metadata->captureLocation.knownLocation()) {
            ++known;
        }
    }
    std::printf(
        "%d of %lld files with all metadata known\n", known, static_cast<long long>(names.size()));
    return known == names.size() ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    initializeImageLibraries();
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == QLatin1String("generate"))
        return generate(args[2], args[3].toInt());
    if (args.size() == 3 && args[1] == QLatin1String("read"))
        return read(args[2]);
    std::fprintf(stderr, "usage: %s generate FOLDER COUNT | read FOLDER\n", argv[0]);
    return 2;
}
