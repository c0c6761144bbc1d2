#include "RestoreTransferError.h"

#include <PellwickCore/Support/Overloaded.h>

namespace Pellwick {

QString describe(const RestoreTransferError &error)
{
    using E = RestoreTransferError;
    return std::visit(
        Overloaded{
            [](const E::InvalidRangeData &c) {
                return QStringLiteral("invalid range data: %1 bytes expected, %2 received")
                    .arg(c.expected)
                    .arg(c.actual);
            },
            [](const E::ByteCountMismatch &c) {
                return QStringLiteral("byte count mismatch: %1 expected, %2 found")
                    .arg(c.expected)
                    .arg(c.actual);
            },
            [](const E::ContentHashMismatch &c) {
                return QStringLiteral("content hash mismatch: %1 expected, %2 found")
                    .arg(c.expected, c.actual);
            },
            [](const E::MissingLocalLibraryItem &c) {
                return QStringLiteral("missing local library item %1").arg(c.libraryItemID);
            },
            [](const E::DestinationAlreadyExists &c) {
                return QStringLiteral("destination already exists: %1").arg(c.destinationPath);
            },
            [](const E::Paused &) { return QStringLiteral("restore transfer paused"); },
            [](const E::Cancelled &) { return QStringLiteral("restore transfer cancelled"); },
            [](const E::UnexpectedRangeResponse &) {
                return QStringLiteral("unexpected range response");
            },
            [](const E::MissingSidecarCapability &) {
                return QStringLiteral("missing sidecar capability");
            },
        },
        error.value);
}

} // namespace Pellwick
