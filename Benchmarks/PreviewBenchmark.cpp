// pellwick-bench-preview generate OUT.dng [SEED]   writes a noisy 6000 x 4000 DNG
// pellwick-bench-preview preview IN.dng OUT.jpg    makes one preview with the application's values
#include <PellwickCore/Ingest/LibRawPreviewGenerator.h>

#include <QDir>
#include <QFileInfo>
#include <QString>

#include <cstdio>
#include <cstring>

#include <Support/DngWriter.h>

using namespace Pellwick;

int main(int argc, char **argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "generate") == 0) {
        Test::DngOptions options;
        options.width = 6000;
        options.height = 4000;
        options.noiseAmplitude = 40;
        options.noiseSeed = argc >= 4 ? quint32(std::strtoul(argv[3], nullptr, 10)) : 1;
        options.previewWidth = 1024;
        options.previewHeight = 683;
        Test::DngWriter::write(QString::fromLocal8Bit(argv[2]), options);
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "preview") == 0) {
        const LibRawPreviewGenerator generator(1600,
                                               LibRawPreviewGenerator::defaultTargetByteCount,
                                               LibRawPreviewGenerator::defaultAbsoluteMaxByteCount,
                                               800);
        const auto result = generator.generatePreview(
            QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath(),
            QFileInfo(QString::fromLocal8Bit(argv[3])).absoluteFilePath());
        if (!result) {
            std::fprintf(stderr, "error: %s\n", qPrintable(describe(result.error())));
            return 1;
        }
        if (const auto reason = result->failureReason()) {
            std::fprintf(stderr, "failed: %s\n", qPrintable(*reason));
            return 1;
        }
        return 0;
    }
    std::fprintf(stderr, "usage: %s generate OUT.dng [SEED] | preview IN.dng OUT.jpg\n", argv[0]);
    return 2;
}
