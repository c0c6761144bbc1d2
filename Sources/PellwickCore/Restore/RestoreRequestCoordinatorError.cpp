#include "RestoreRequestCoordinatorError.h"

#include <PellwickCore/Support/Overloaded.h>

namespace Pellwick {

QString describe(const RestoreRequestCoordinatorError &error)
{
    using E = RestoreRequestCoordinatorError;
    return std::visit(
        Overloaded{
            [](const E::DestinationFilenameConflict &c) {
                return QStringLiteral("destination filename conflict for item %1 at %2 (free: %3)")
                    .arg(c.libraryItemID)
                    .arg(c.existingURL, c.suggestedFilename);
            },
            [](const E::NoRestorableItems &) { return QStringLiteral("no restorable items"); },
            [](const E::LocalLibraryCacheConflict &) {
                return QStringLiteral("two local records share one backend library item id");
            },
            [](const E::RestoreRequestItemConflict &) {
                return QStringLiteral("the restore request lists one library item twice");
            },
            [](const E::LocalStatusNotSaved &unsaved) {
                return QStringLiteral("the statuses of restore request %1 were not saved locally")
                    .arg(unsaved.restoreRequest.id);
            },
        },
        error.value);
}

} // namespace Pellwick
