#pragma once

#include "ShellViewModelFixture.h"

#include <PellwickApp/Workflows/Import/ImportWorkflows.h>

#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QDirIterator>
#include <QFileInfo>
#include <QMutex>
#include <QTest>
#include <QWaitCondition>

#include <Support/DngWriter.h>
#include <Support/FaultInjectingFileManager.h>
#include <Support/TestFiles.h>

namespace Pellwick::Test {

/// Writes a generated card below `root`: `raws` small DNGs in DCIM/100TEST, every other one
/// with an XMP sidecar, plus a JPEG, an unpaired sidecar and a hidden folder holding a DNG.
inline void writeCard(const QString &root, int raws, quint32 seed = 1)
{
    const QString folder = root + QStringLiteral("/DCIM/100TEST/");
    for (int i = 0; i < raws; ++i) {
        const QString name = QStringLiteral("IMG_%1").arg(i, 4, 10, QLatin1Char('0'));
        DngWriter::write(folder + name + QStringLiteral(".DNG"),
                         {.width = 16,
                          .height = 16,
                          .noiseAmplitude = 50,
                          .noiseSeed = seed * 1000 + quint32(i),
                          .embeddedPreview = false});
        if (i % 2 == 0)
            writeFile(folder + name + QStringLiteral(".xmp"),
                      "<x:xmpmeta>" + QByteArray::number(seed * 1000 + i) + "</x:xmpmeta>");
    }
    writeFile(folder + QStringLiteral("IMG_9000.JPG"), patternBytes(2048, seed));
    writeFile(folder + QStringLiteral("ORPHAN.xmp"), "<x:xmpmeta/>");
    writeFile(root + QStringLiteral("/.hidden/IMG_0001.DNG"), patternBytes(64, seed));
}

/// The hash and modification time of every file below `root`.
inline QMap<QString, QString> cardState(const QString &root)
{
    QMap<QString, QString> state = fileManifest(root);
    for (auto it = state.begin(); it != state.end(); ++it)
        it.value() += QLatin1Char(' ')
                      + QString::number(QFileInfo(root + QLatin1Char('/') + it.key())
                                            .lastModified()
                                            .toMSecsSinceEpoch());
    return state;
}

/// Files named `name` anywhere below `root`.
inline QStringList filesNamed(const QString &root, const QString &name)
{
    QStringList found;
    QDirIterator it(
        root, {name}, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        found.append(it.next());
    return found;
}

/// Holds the threads that reach `wait()` until `release()`; counts them.
class Gate
{
public:
    void wait()
    {
        const QMutexLocker locker(&m_mutex);
        ++m_arrived;
        m_changed.wakeAll();
        while (!m_open)
            m_changed.wait(&m_mutex);
    }

    int arrived() const
    {
        const QMutexLocker locker(&m_mutex);
        return m_arrived;
    }

    void release()
    {
        const QMutexLocker locker(&m_mutex);
        m_open = true;
        m_changed.wakeAll();
    }

private:
    mutable QMutex m_mutex;
    QWaitCondition m_changed;
    int m_arrived = 0;
    bool m_open = false;
};

/// A shell fixture with an Ingest Cache root and cards in its directory.
struct ImportRoadFixture : ShellViewModelFixture
{
    ImportRoadFixture()
    {
        ingestCacheRoot = cacheRoot();
        QDir().mkpath(cacheRoot());
        if (!locationStore->save(cacheRoot()))
            qFatal("the location store refused the cache root");
        fileManager = files;
    }

    QString cacheRoot() const { return filePath(QStringLiteral("IngestCache")); }

    QString card(int n) const { return filePath(QStringLiteral("card%1").arg(n)); }

    std::shared_ptr<FaultInjectingFileManager> files
        = std::make_shared<FaultInjectingFileManager>();
};

/// Scans `sources` (name, root) and waits for the review.
inline bool scan(LibraryShellViewModel &model, const QList<ImportScanVolume> &sources)
{
    model.importWorkflows().scanImportSources(
        [sources, builder = ImportReviewBuilder(std::make_shared<LocalFileManager>())](
            std::stop_token stop) { return builder.buildReview(sources, stop); });
    return QTest::qWaitFor([&] { return !model.importState().isScanningImportSources(); });
}

inline ImportScanVolume folderSource(const QString &root, const QString &name = {})
{
    return ImportScanVolume{name.isEmpty() ? lastPathComponent(root) : name, root, std::nullopt};
}

inline QList<LocalLibraryItem> storedRecords(const LocalLibraryCache &library)
{
    return library.readItems().value_or(QList<LocalLibraryItem>());
}

} // namespace Pellwick::Test
