#include "Error.h"

#include "Result.h"

#include <cstring>

namespace Pellwick {

namespace {

QString describeDecodingKind(DecodingError::Kind kind)
{
    switch (kind) {
    case DecodingError::Kind::DataCorrupted:
        return QStringLiteral("data corrupted");
    case DecodingError::Kind::KeyNotFound:
        return QStringLiteral("key not found");
    case DecodingError::Kind::ValueNotFound:
        return QStringLiteral("value not found");
    case DecodingError::Kind::TypeMismatch:
        return QStringLiteral("type mismatch");
    }
    return {};
}

} // namespace

tl::unexpected<Error> fileSystemFailure(const QString &operation, const QString &path, int code)
{
    return failure(FileSystemError{operation, path, code});
}

const Error *Error::cause() const
{
    return std::visit(
        [](const auto &kind) -> const Error * {
            if constexpr (requires { kind.value; }) {
                return std::visit(
                    [](const auto &domainCase) -> const Error * {
                        if constexpr (requires { domainCase.cause.get(); })
                            return domainCase.cause.get();
                        else
                            return nullptr;
                    },
                    kind.value);
            } else {
                return nullptr;
            }
        },
        value);
}

QString describe(const FileSystemError &error)
{
    return QStringLiteral("%1 %2: %3 (errno %4)")
        .arg(error.operation, error.path, QString::fromLocal8Bit(std::strerror(error.code)))
        .arg(error.code);
}

QString describe(const DecodingError &error)
{
    return QStringLiteral("decoding failed (%1) at \"%2\": %3")
        .arg(describeDecodingKind(error.kind), error.keyPath, error.description);
}

QString describe(const TransportError &error)
{
    return QStringLiteral("transport error %1%2%3: %4")
        .arg(error.curlCode)
        .arg(error.cancelled ? QStringLiteral(" (cancelled)") : QString())
        .arg(error.timedOut ? QStringLiteral(" (timed out)") : QString())
        .arg(error.message);
}

QString describe(const CancellationError &)
{
    return QStringLiteral("cancelled");
}

QString describe(const UnexpectedExceptionError &error)
{
    return QStringLiteral("unexpected exception: %1").arg(error.message);
}

QString describe(const Error &error)
{
    QString text = std::visit([](const auto &kind) { return describe(kind); }, error.value);
    if (const Error *cause = error.cause())
        return QStringLiteral("%1 (cause: %2)").arg(text, describe(*cause));
    return text;
}

} // namespace Pellwick
