#pragma once

#include <PellwickCore/Support/Result.h>

#include <QString>

#include <stop_token>

namespace Pellwick {

/// Cancels an import on the backend before an un-archived package that already has a backend
/// library item id is deleted. `token` is the signed-in session's bearer token. The package
/// remover treats a failure `LibrarySessionClientError` unexpected status 404 as done.
class VerifiedBackupImportCancelling
{
public:
    VerifiedBackupImportCancelling() = default;
    VerifiedBackupImportCancelling(const VerifiedBackupImportCancelling &) = delete;
    VerifiedBackupImportCancelling &operator=(const VerifiedBackupImportCancelling &) = delete;
    virtual ~VerifiedBackupImportCancelling() = default;

    [[nodiscard]] virtual Result<void> cancelVerifiedBackupImport(const QString &token,
                                                                  qint64 libraryItemID,
                                                                  std::stop_token stop
                                                                  = {}) const = 0;
};

} // namespace Pellwick
