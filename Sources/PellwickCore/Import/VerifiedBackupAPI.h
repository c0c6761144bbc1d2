#pragma once

#include <PellwickCore/Backend/RemoteLibraryItem.h>
#include <PellwickCore/Import/VerifiedBackupUpload.h>
#include <PellwickCore/Support/Result.h>

#include <QList>
#include <QString>

#include <stop_token>

namespace Pellwick {

/// The backend side of the verified backup road, as the importer reaches it. `token` is the
/// signed-in session's bearer token, passed on every call because no session is kept; ids are the
/// backend's library item ids. Each call is one blocking HTTP exchange, safe from any thread and
/// cancelled through `stop`; failures are the implementation's errors, passed through unchanged.
class VerifiedBackupAPI
{
public:
    VerifiedBackupAPI() = default;
    VerifiedBackupAPI(const VerifiedBackupAPI &) = delete;
    VerifiedBackupAPI &operator=(const VerifiedBackupAPI &) = delete;
    virtual ~VerifiedBackupAPI() = default;

    /// Asks to archive one RAW original: upload targets, or the backend's existing copy.
    [[nodiscard]] virtual Result<VerifiedBackupUploadDecision>
    requestVerifiedBackupUpload(const QString &token,
                                const VerifiedBackupUploadRequest &request,
                                std::stop_token stop = {}) const = 0;

    [[nodiscard]] virtual Result<VerifiedBackupUploadState> verifiedBackupUploadState(
        const QString &token, qint64 libraryItemID, std::stop_token stop = {}) const = 0;

    /// Reports the uploaded parts of the RAW original's multipart upload, in the order given.
    [[nodiscard]] virtual Result<void>
    completeVerifiedBackupUpload(const QString &token,
                                 qint64 libraryItemID,
                                 const QString &uploadID,
                                 const QList<UploadedMultipartPart> &parts,
                                 std::stop_token stop = {}) const = 0;

    /// Reports the uploaded parts of the sidecar's multipart upload, in the order given.
    [[nodiscard]] virtual Result<void>
    completeVerifiedBackupSidecarUpload(const QString &token,
                                        qint64 libraryItemID,
                                        const QString &uploadID,
                                        const QList<UploadedMultipartPart> &parts,
                                        std::stop_token stop = {}) const = 0;

    [[nodiscard]] virtual Result<VerifiedBackupFinalization> finalizeVerifiedBackupUpload(
        const QString &token, qint64 libraryItemID, std::stop_token stop = {}) const = 0;

    /// The backend's whole list of archived items: what the archive holds of an item another
    /// import archived (its sidecar among it).
    [[nodiscard]] virtual Result<QList<RemoteLibraryItem>>
    libraryItems(const QString &token, std::stop_token stop = {}) const = 0;
};

} // namespace Pellwick
