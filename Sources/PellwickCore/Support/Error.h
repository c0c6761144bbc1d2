#pragma once

#include <PellwickCore/Backend/LibrarySessionClientError.h>
#include <PellwickCore/Backend/PresignedURLUploadError.h>
#include <PellwickCore/Import/VerifiedBackupImporterError.h>
#include <PellwickCore/Ingest/IngestCacheError.h>
#include <PellwickCore/Ingest/VerifiedFileCopyError.h>
#include <PellwickCore/Restore/RestoreRequestCoordinatorError.h>
#include <PellwickCore/Restore/RestoreTransferError.h>

#include <QString>

#include <optional>
#include <variant>

namespace Pellwick {

/// A failure reported by the operating system's file interface.
struct FileSystemError
{
    QString operation; ///< what was attempted, e.g. "open", "rename"
    QString path;
    int code = 0; ///< errno value
    /// For ENOSPC: the bytes the file system still had free when it refused for want of free file
    /// entries (inodes), as the local file manager reads them at the failure; no value when bytes
    /// ran out too, or the file system reports no figure.
    std::optional<qint64> freeBytesWithoutFileEntries = std::nullopt;

    bool operator==(const FileSystemError &) const = default;
};

/// A JSON value that could not be read into the expected type.
struct DecodingError
{
    enum class Kind {
        DataCorrupted, ///< not JSON, or a value that breaks a rule of its type
        KeyNotFound,   ///< a required key is absent
        ValueNotFound, ///< a required key is null
        TypeMismatch,  ///< a key holds a value of another JSON type
    };

    Kind kind = Kind::DataCorrupted;
    QString keyPath; ///< dotted path of the offending key, e.g. "user.id" or "items[3].size"
    QString description;

    bool operator==(const DecodingError &) const = default;
};

/// A failure of an HTTP exchange below the level of HTTP status codes.
struct TransportError
{
    int curlCode = 0;
    bool cancelled = false;
    bool timedOut = false;
    QString message;

    bool operator==(const TransportError &) const = default;
};

/// The operation stopped because its caller asked it to.
struct CancellationError
{
    bool operator==(const CancellationError &) const = default;
};

/// An exception escaped third-party code called from a worker thread; caught at the worker's entry
/// point so that nothing is thrown across our code.
struct UnexpectedExceptionError
{
    QString message; ///< what the exception said

    bool operator==(const UnexpectedExceptionError &) const = default;
};

/// The one failure type of Core: a platform kind or one of the domain error enumerations.
struct Error
{
    using Value = std::variant<FileSystemError,
                               DecodingError,
                               TransportError,
                               CancellationError,
                               UnexpectedExceptionError,
                               VerifiedFileCopyError,
                               LibrarySessionClientError,
                               PresignedURLUploadError,
                               IngestCacheError,
                               RestoreTransferError,
                               VerifiedBackupImporterError,
                               RestoreRequestCoordinatorError>;

    Value value;

    template<typename T>

    requires std::is_constructible_v<Value, T &&>
    // Errors convert implicitly; the constraint keeps Error itself on the copy and move constructors.
    // NOLINTNEXTLINE(google-explicit-constructor,bugprone-forwarding-reference-overload)
    Error(T &&v)
        : value(std::forward<T>(v))
    {}

    template<typename T>
    bool is() const
    {
        return std::holds_alternative<T>(value);
    }

    template<typename T>
    const T *as() const
    {
        return std::get_if<T>(&value);
    }

    /// The failure this one was mapped from, kept by a domain case in its `cause` member; null
    /// when there is none.
    const Error *cause() const;

    bool operator==(const Error &) const = default;
};

/// Text for logs and test failure messages; never shown to the user. Each domain error describes
/// itself beside its own type; the error's cause, if any, follows its own text.
QString describe(const Error &error);
QString describe(const FileSystemError &error);
QString describe(const DecodingError &error);
QString describe(const TransportError &error);
QString describe(const CancellationError &error);
QString describe(const UnexpectedExceptionError &error);

} // namespace Pellwick
