#include "LibraryFeedback.h"

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

} // namespace Pellwick
