#include "VerifiedBackupImporterError.h"

#include <PellwickCore/Support/Overloaded.h>

namespace Pellwick {

QString describe(const VerifiedBackupImporterError &error)
{
    return std::visit(
        Overloaded{[](const VerifiedBackupImporterError::StorageFull &c) {
                       return QStringLiteral("verified_backup_importer_error="
                                             "storage_full (%1 of %2 bytes used)")
                           .arg(c.state.usedBytes)
                           .arg(c.state.limitBytes);
                   },
                   [](const VerifiedBackupImporterError::UnrecoverableStagedImport &) {
                       return QStringLiteral("unrecoverable staged import");
                   }},
        error.value);
}

} // namespace Pellwick
