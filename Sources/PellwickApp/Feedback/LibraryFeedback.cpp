#include "LibraryFeedback.h"

#include <PellwickApp/Feedback/DiskFeedback.h>

#include <cstring>

namespace Pellwick {

namespace {

QString reason(const Error &error)
{
    if (const auto *fileSystem = error.as<FileSystemError>()) {
        return QStringLiteral("%1: %2").arg(
            fileSystem->path, QString::fromLocal8Bit(std::strerror(fileSystem->code)));
    }
    if (const auto *decoding = error.as<DecodingError>()) {
        return decoding->keyPath.isEmpty()
                   ? decoding->description
                   : QStringLiteral("%1: %2").arg(decoding->keyPath, decoding->description);
    }
    return describe(error);
}

} // namespace

QString LibraryFeedback::readErrorMessage(const QString &path, const Error &error)
{
    return QStringLiteral("The library could not be read: %1 (%2)").arg(path, reason(error));
}

QString LibraryFeedback::writeErrorMessage(const QString &folder, const Error &error)
{
    const FileSystemError *fileSystem = DiskFeedback::fileSystemCause(error);
    return QStringLiteral("Pellwick could not save the library in %1: %2.")
        .arg(folder, fileSystem ? DiskFeedback::reason(*fileSystem) : reason(error));
}

} // namespace Pellwick
