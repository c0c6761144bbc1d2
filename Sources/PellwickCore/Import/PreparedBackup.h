#pragma once

#include <PellwickCore/Import/StagedImportRecord.h>
#include <PellwickCore/Import/StagingArea.h>
#include <PellwickCore/Library/LocalLibraryItem.h>
#include <PellwickCore/Library/LocalPreviewState.h>

#include <QString>

#include <optional>

namespace Pellwick {

/// The preview made for one package.
struct GeneratedPreview
{
    /// "previews/<name>.jpg", or the generator's reason why there is none.
    LocalPreviewState state;
    /// The preview file in the library; present only when a preview was made.
    std::optional<QString> url;
    qint64 byteCount = 0;

    bool operator==(const GeneratedPreview &) const = default;
};

/// A package ready for its upload: staged copies, its library item, its preview and its first
/// import record (phase `NotStarted`, not written yet).
struct PreparedBackup
{
    StagedRawOriginal stagedOriginal;
    LocalLibraryItem item;
    GeneratedPreview preview;
    StagedImportRecord record;

    bool operator==(const PreparedBackup &) const = default;
};

} // namespace Pellwick
