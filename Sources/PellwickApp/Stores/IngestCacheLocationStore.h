#pragma once

#include <PellwickApp/Stores/IngestCacheLocationStoring.h>

#include <QMutex>
#include <QSettings>

#include <memory>

namespace Pellwick {

/// The locations in the application's settings. Paths are stored as plain strings; the manifest
/// and the pending move as compact JSON bytes (the move's roots as percent-escaped file-URL
/// text). An entry holding something that does not decode reads as nothing stored and is left in
/// place until it is next written or removed. A stored path that is not absolute (empty, or
/// edited by hand) is such an entry: taken relative to wherever the application was started, it
/// would make an unrelated folder the Ingest Cache. Every write is flushed to disk before the call
/// returns, and fails when the settings could not be written. Thread-safe.
class IngestCacheLocationStore final : public IngestCacheLocationStoring
{
public:
    explicit IngestCacheLocationStore(std::unique_ptr<QSettings> settings);

    static QString locationKey();
    static QString retainedLocationKey();
    static QString retainedManifestKey();
    static QString pendingMigrationKey();

    QString load(const QString &defaultURL) const override;
    bool hasSavedLocation() const override;
    Result<void> save(const QString &url) const override;
    std::optional<QString> retained() const override;
    Result<void> saveRetained(const std::optional<QString> &url) const override;
    QHash<QString, QString> retainedManifest() const override;
    Result<void>
    saveRetainedManifest(const std::optional<QHash<QString, QString>> &manifest) const override;
    std::optional<PendingMigration> pendingMigration() const override;
    Result<void>
    savePendingMigration(const std::optional<PendingMigration> &migration) const override;

private:
    std::optional<QString> readPath(const QString &key) const;
    std::optional<QByteArray> readData(const QString &key) const;
    [[nodiscard]] Result<void> write(const QString &key,
                                     const std::optional<QVariant> &value) const;

    mutable QMutex m_mutex;
    std::unique_ptr<QSettings> m_settings;
};

} // namespace Pellwick
