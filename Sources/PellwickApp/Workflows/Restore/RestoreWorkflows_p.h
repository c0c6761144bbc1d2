#pragma once

// What the restore workflows' files share.

#include <PellwickApp/Shell/State/IngestCacheState.h>
#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickApp/Shell/State/RestoreState.h>
#include <PellwickApp/Shell/State/SessionState.h>
#include <PellwickApp/Workflows/Library/LibraryWorkflows.h>
#include <PellwickApp/Workflows/Restore/RestoreWorkflows.h>
#include <PellwickApp/Workflows/TransferProgressBoard.h>
#include <PellwickCore/Backend/LibrarySessionClient.h>
#include <PellwickCore/Restore/RestoreTransferTypes.h>
#include <PellwickCore/Support/Error.h>
#include <PellwickCore/Support/FileManager.h>

#include <variant>

namespace Pellwick {

/// The result of one transfer of a run.
struct RestoreTransferOutcome
{
    /// The transfer finished: its RAW original (and sidecar) saved and verified.
    struct Completed
    {
        RestoreTransferManifest manifest;
    };

    /// Any failure but a cancellation; a pause included.
    struct Failed
    {
        RestoreTransfer transfer;
        Error error;
    };

    /// The transfer was cancelled, or its request was being cancelled when its turn came.
    struct Cancelled
    {};

    std::variant<Completed, Failed, Cancelled> value;
};

/// `request` with the stored outcome of its last settled run, which a library rebuilt from the
/// backend no longer marks; a request that is no longer ready lets that outcome go, as the
/// library's markings do. An outcome that cannot be read adds nothing. Blocking: call it off the
/// main thread.
RestoreRequest withStoredRunOutcome(const RestoreTransferEngine *engine, RestoreRequest request);

/// Whether `error` is the restore transfer error `Case`.
template<typename Case>
bool isTransferError(const Error &error)
{
    const auto *transfer = error.as<RestoreTransferError>();
    return transfer && std::holds_alternative<Case>(transfer->value);
}

} // namespace Pellwick
