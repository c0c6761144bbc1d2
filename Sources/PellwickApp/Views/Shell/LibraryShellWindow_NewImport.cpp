#include "LibraryShellWindow.h"

#include <PellwickApp/Shell/Operations/ImportOperations.h>
#include <PellwickApp/Views/NewImport/NewImportView.h>

#include <QPointer>

#include <memory>
#include <optional>
#include <utility>

namespace Pellwick {

NewImportView *LibraryShellWindow::newImportContent(ImportOperations &operations,
                                                    FolderChooser &chooser,
                                                    const SectionSelector &selectSection,
                                                    QWidget *parent)
{
    // The folder action needs the page it belongs to, which exists only once made.
    const auto page = std::make_shared<QPointer<NewImportView>>();
    const auto chooseFolder = [&operations, &chooser, selectSection, page] {
        if (page->isNull())
            return;
        const QPointer<NewImportView> asking = *page;
        chooser.chooseFolder(asking->window(),
                             {},
                             [&operations, selectSection, asking](std::optional<QString> path) {
                                 if (asking.isNull() || !path)
                                     return;
                                 operations.scanFolder(*path);
                                 selectSection(ShellSection::ImportReview);
                             });
    };
    *page = new NewImportView(
        {
            .scanRemovableMedia =
                [&operations, selectSection] {
                    operations.scanNewlyMountedImportSources();
                    selectSection(ShellSection::ImportReview);
                },
            .scanAllConnectedMedia =
                [&operations, selectSection] {
                    operations.scanAllRemovableVolumes();
                    selectSection(ShellSection::ImportReview);
                },
            .chooseFolder = chooseFolder,
            .cancel = [selectSection] { selectSection(ShellSection::LocalLibraryCache); },
        },
        parent);
    return *page;
}

} // namespace Pellwick
