#pragma once

#include <QString>

#include <variant>

namespace Pellwick {

/// The presigned URL uploader's own failure.
struct PresignedURLUploadError
{
    /// The HTTP status of a reply outside 200 to 299; -1 when the reply was not HTTP, a part's
    /// reply carried no usable ETag, or the file held fewer bytes than the range to send.
    struct UnexpectedStatus
    {
        int status = 0;
        bool operator==(const UnexpectedStatus &) const = default;
    };

    std::variant<UnexpectedStatus> value;

    bool operator==(const PresignedURLUploadError &) const = default;
};

/// Text for logs and test failure messages; never shown to the user.
QString describe(const PresignedURLUploadError &error);

} // namespace Pellwick
