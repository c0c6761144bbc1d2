#pragma once

#include "ScriptedFolderChooser.h"

#include <PellwickApp/Shell/State/ImportState.h>
#include <PellwickApp/Shell/State/IngestCacheState.h>
#include <PellwickApp/Shell/State/ShellState.h>
#include <PellwickApp/Views/ImportReview/ImportReviewPanelView.h>

#include <memory>
#include <optional>

#include <Support/RecordingOperations.h>

namespace Pellwick::Test {

/// The Import Review page over states of its own, with recorded operations and a scripted
/// folder chooser. `view` may be released or reset; the states outlive it.
struct ImportReviewPageFixture
{
    ImportState importState;
    IngestCacheState cacheState;
    ShellState shellState;
    RecordingImportOperations operations;
    ScriptedFolderChooser chooser;
    std::unique_ptr<ImportReviewPanelView> view = std::make_unique<ImportReviewPanelView>(
        importState, cacheState, shellState, operations, chooser);

    void setReview(const std::optional<ImportReview> &review)
    {
        ImportReviewState state;
        state.review = review;
        importState.setImportReviewState(state);
    }
};

} // namespace Pellwick::Test
