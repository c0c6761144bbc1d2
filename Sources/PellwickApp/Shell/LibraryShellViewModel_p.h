#pragma once

// The view model's plain members: the services it hands its workflow objects and the window's
// own bookkeeping. Only the view model's own files include this header.

#include <PellwickApp/Shell/LibraryShellViewModel.h>
#include <PellwickApp/Shell/SingleShotTimer.h>
#include <PellwickApp/Stores/IngestCacheLocationStoring.h>
#include <PellwickCore/Backend/BackendReachabilityMonitor.h>
#include <PellwickCore/Backend/LibrarySessionClient.h>
#include <PellwickCore/Import/VerifiedBackupImporter.h>
#include <PellwickCore/Library/LocalLibraryCache.h>

#include <memory>

namespace Pellwick {

struct LibraryShellViewModelPrivate
{
    /// The Core services and stores the workflow objects share; fixed after construction.
    struct Services
    {
        std::shared_ptr<const LibrarySessionClient> sessionClient;
        LocalLibraryCache localLibraryCache;
        VerifiedBackupImporter verifiedBackupImporter;
        std::shared_ptr<const IngestCacheLocationStoring> ingestCacheLocationStore;
        LibraryShellViewModel::SteadyClock steadyClock;
        SingleShotTimerFactory timers;
        /// The workflows' own file system and SHA-256 hasher.
        std::shared_ptr<const FileManager> fileManager;
        std::shared_ptr<const ContentHashing> contentHasher;
        /// Sees the session client's exchanges; none when the client's fetch is not observed.
        std::shared_ptr<BackendReachabilityMonitor> reachabilityMonitor;
    };

    explicit LibraryShellViewModelPrivate(Services initialServices)
        : services(std::move(initialServices))
    {}

    Services services;
};

} // namespace Pellwick
