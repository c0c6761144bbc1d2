#pragma once

#include <PellwickCore/Ingest/ImportScanVolume.h>
#include <PellwickCore/Ingest/MountedVolumeProviding.h>
#include <PellwickCore/Support/Result.h>

#include <QList>

#include <memory>

namespace Pellwick {

/// Keeps the mounted volumes that count as removable media and turns them into scan sources.
class RemovableVolumeDetector
{
public:
    explicit RemovableVolumeDetector(std::shared_ptr<const MountedVolumeProviding> provider);

    /// One scan source per volume that is removable, or ejectable, or local and not internal, in
    /// the provider's order. Fails with the provider's error, unchanged. Thread-safe.
    [[nodiscard]] Result<QList<ImportScanVolume>> removableVolumes() const;

    const std::shared_ptr<const MountedVolumeProviding> &provider() const { return m_provider; }

private:
    std::shared_ptr<const MountedVolumeProviding> m_provider;
};

} // namespace Pellwick
