#pragma once

#include <PellwickApp/Composition/AppConfiguration.h>
#include <PellwickApp/Shell/SingleShotTimer.h>
#include <PellwickCore/Ingest/MountInfoVolumeProvider.h>
#include <PellwickCore/Support/Result.h>

#include <chrono>
#include <functional>
#include <memory>

namespace Pellwick {

class FolderChooser;
class LibraryShellViewModel;
class LibraryShellWindow;

/// What the system provides, replaceable where a caller drives the application itself: the
/// clock and timers the workflows wait on, where the mount tables are read, and how a folder
/// is asked for. The defaults are the production ones.
struct AppSystemServices
{
    std::function<std::chrono::steady_clock::time_point()> steadyClock
        = &std::chrono::steady_clock::now;
    SingleShotTimerFactory timers = &makeQtSingleShotTimer;
    MountInfoSystemPaths mountInfoPaths;
    /// None: the window-modal folder dialog.
    std::shared_ptr<FolderChooser> folderChooser;
    /// How this process holds the Ingest Cache's folder, and a move's target, once each is
    /// known to be there (see `FolderHold`); none: they are not held.
    std::function<Result<void>(const QString &folder)> holdFolder;
};

/// The composition root: builds every service of the application's window once, in a fixed
/// order, from the configuration and the production collaborators. Composing touches neither
/// the network nor the keychain and creates nothing on disk; only the view model's constructor
/// and the restore destination store read their stores, the view model's constructor snapshots
/// the mounted volumes, and the window's mount monitor lists them once to watch for changes.
/// Main thread only.
class AppComposition
{
public:
    AppComposition() = delete;

    /// The view model over the complete service graph.
    static std::unique_ptr<LibraryShellViewModel>
    makeViewModel(const AppConfiguration &configuration, const AppSystemServices &services = {});
    /// The window on a new view model, showing the Overview page first, with the mount and
    /// activation monitors that feed its events.
    static std::unique_ptr<LibraryShellWindow> makeWindow(const AppConfiguration &configuration,
                                                          const AppSystemServices &services = {});
};

} // namespace Pellwick
