#include "RemovableVolumeDetector.h"

namespace Pellwick {

namespace {

bool isRemovableMedia(const MountedVolume &volume)
{
    if (volume.isRemovable)
        return true;
    if (volume.isEjectable)
        return true;
    return volume.isLocal && !volume.isInternal;
}

} // namespace

RemovableVolumeDetector::RemovableVolumeDetector(
    std::shared_ptr<const MountedVolumeProviding> provider)
    : m_provider(std::move(provider))
{}

Result<QList<ImportScanVolume>> RemovableVolumeDetector::removableVolumes() const
{
    PELLWICK_TRY_ASSIGN(QList<MountedVolume> volumes, m_provider->mountedVolumes());
    QList<ImportScanVolume> sources;
    for (const MountedVolume &volume : volumes) {
        if (isRemovableMedia(volume))
            sources.append(
                ImportScanVolume{volume.name, volume.url, volume.volumeUUID, volume.hasValidURL});
    }
    return sources;
}

} // namespace Pellwick
