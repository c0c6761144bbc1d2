#pragma once

#include <PellwickApp/Composition/AppConfiguration.h>

#include <memory>

namespace Pellwick {

class LibraryShellViewModel;
class LibraryShellWindow;

/// The composition root: builds every service of the application's window once, in a fixed
/// order, from the configuration and the production collaborators. Composing touches neither
/// the network nor the keychain and creates nothing on disk; only the view model's constructor
/// reads its stores and snapshots the mounted volumes, and the window's mount monitor lists them
/// once to watch for changes. Main thread only.
class AppComposition
{
public:
    AppComposition() = delete;

    /// The view model over the complete service graph.
    static std::unique_ptr<LibraryShellViewModel>
    makeViewModel(const AppConfiguration &configuration);
    /// The window on a new view model, showing the Overview page first, with the mount and
    /// activation monitors that feed its events.
    static std::unique_ptr<LibraryShellWindow> makeWindow(const AppConfiguration &configuration);
};

} // namespace Pellwick
