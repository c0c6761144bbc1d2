// Uploads one byte range of a file to a presigned URL with the production uploader, then prints
// the part's ETag on stdout and the process's peak resident memory on stderr.
//
// usage: pellwick-bench-upload-part FILE OFFSET LENGTH URL

#include <PellwickCore/Backend/CurlFetch.h>
#include <PellwickCore/Backend/CurlPresignedURLUploader.h>

#include <QString>

#include <cstdio>

#include <sys/resource.h>

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s FILE OFFSET LENGTH URL\n", argv[0]);
        return 2;
    }
    Pellwick::CurlFetch::initializeGlobally();
    const qint64 offset = QByteArray(argv[2]).toLongLong();
    const qint64 length = QByteArray(argv[3]).toLongLong();
    const Pellwick::CurlPresignedURLUploader uploader;
    const Pellwick::Result<QString> etag
        = uploader.uploadPart(QString::fromLocal8Bit(argv[1]),
                              Pellwick::ByteRange{offset, offset + length},
                              QString::fromLocal8Bit(argv[4]));
    if (!etag) {
        std::fprintf(stderr, "upload failed: %s\n", qPrintable(Pellwick::describe(etag.error())));
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%s\n", qPrintable(*etag));
    std::fprintf(stderr, "peak resident memory: %.1f MiB\n", usage.ru_maxrss / 1024.0);
    return 0;
}
