#pragma once

#include <PellwickCore/Ingest/ImportReview.h>
#include <PellwickCore/Ingest/ImportScanVolume.h>
#include <PellwickCore/Support/FileManager.h>
#include <PellwickCore/Support/Result.h>

#include <QSet>
#include <QStringList>

#include <memory>
#include <stop_token>

namespace Pellwick {

/// Scans sources for camera RAW originals with their XMP sidecars, and for the JPEG/HEIC images
/// and unpaired sidecars that are shown but never archived. Reads directory entries and sizes
/// only; no file is opened. Holds no mutable state; several scans may run at once.
class ImportReviewBuilder
{
public:
    explicit ImportReviewBuilder(std::shared_ptr<const FileManager> fileManager);

    /// Scans `sources` in order. Hidden files and folders are skipped, and so is "lost+found"
    /// directly under a source root. A source root that is missing or cannot be listed
    /// contributes no items. Fails with the file system's error when a folder below a root
    /// cannot be listed, and with a `FileSystemError` (EILSEQ) naming the file when a file that
    /// would be listed has a name that is not valid UTF-8; no partial review is returned. A
    /// request on `stop` ends the scan soon, between two directory entries, with
    /// `CancellationError`. Nothing inside `skippedFolders` is listed: a source at or below one
    /// contributes no items, and such a folder below a source is not entered (paths compared
    /// after `QDir::cleanPath`, links not resolved).
    [[nodiscard]] Result<ImportReview> buildReview(const QList<ImportScanVolume> &sources,
                                                   const std::stop_token &stop = {},
                                                   const QStringList &skippedFolders = {}) const;

    /// Lowercase extensions of the RAW originals that are archived.
    static const QSet<QString> &supportedRawExtensions();
    /// Lowercase extensions of images that are shown but never archived.
    static const QSet<QString> &excludedBackupTargetExtensions();

private:
    std::shared_ptr<const FileManager> m_fileManager;
};

} // namespace Pellwick
