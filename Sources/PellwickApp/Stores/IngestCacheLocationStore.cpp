#include "IngestCacheLocationStore.h"

#include <PellwickCore/Support/Json.h>

#include <QDir>
#include <QUrl>

#include <cerrno>

namespace Pellwick {

namespace {

const QString oldRootKey = QStringLiteral("oldRootURL");
const QString newRootKey = QStringLiteral("newRootURL");

QByteArray encodeManifest(const QHash<QString, QString> &manifest)
{
    QJsonObject object;
    for (auto it = manifest.cbegin(); it != manifest.cend(); ++it)
        object.insert(it.key(), it.value());
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<QHash<QString, QString>> decodeManifest(const QByteArray &data)
{
    const Result<QJsonObject> object = Json::parseObject(data);
    if (!object)
        return std::nullopt;
    QHash<QString, QString> manifest;
    for (auto it = object->constBegin(); it != object->constEnd(); ++it) {
        if (!it.value().isString())
            return std::nullopt;
        manifest.insert(it.key(), it.value().toString());
    }
    return manifest;
}

QString fileURLText(const QString &path)
{
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
}

/// A JSON string literal of `text`, quotes included.
QByteArray jsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QByteArray encodeMigration(const IngestCacheLocationStoring::PendingMigration &migration)
{
    // Written member by member to keep the old root first.
    return "{\"" + oldRootKey.toUtf8() + "\":" + jsonString(fileURLText(migration.oldRootURL))
           + ",\"" + newRootKey.toUtf8() + "\":" + jsonString(fileURLText(migration.newRootURL))
           + '}';
}

/// The local path of a stored file URL; none for anything else.
std::optional<QString> decodeFileURL(const Result<QString> &text)
{
    if (!text)
        return std::nullopt;
    const QUrl url(*text, QUrl::StrictMode);
    if (!url.isValid() || !url.isLocalFile() || !url.host().isEmpty() || url.path().isEmpty())
        return std::nullopt;
    return url.toLocalFile();
}

std::optional<IngestCacheLocationStoring::PendingMigration> decodeMigration(const QByteArray &data)
{
    const Result<QJsonObject> object = Json::parseObject(data);
    if (!object)
        return std::nullopt;
    const Json::ObjectReader reader(*object);
    std::optional<QString> oldRoot = decodeFileURL(reader.string(oldRootKey));
    std::optional<QString> newRoot = decodeFileURL(reader.string(newRootKey));
    if (!oldRoot || !newRoot)
        return std::nullopt;
    return IngestCacheLocationStoring::PendingMigration{std::move(*oldRoot), std::move(*newRoot)};
}

} // namespace

IngestCacheLocationStore::IngestCacheLocationStore(std::unique_ptr<QSettings> settings)
    : m_settings(std::move(settings))
{
    Q_ASSERT_X(m_settings, "IngestCacheLocationStore", "a settings store is required");
}

QString IngestCacheLocationStore::locationKey()
{
    return QStringLiteral("ingestCacheLocationPath");
}

QString IngestCacheLocationStore::retainedLocationKey()
{
    return QStringLiteral("retainedIngestCacheLocationPath");
}

QString IngestCacheLocationStore::retainedManifestKey()
{
    return QStringLiteral("retainedIngestCacheManifest");
}

QString IngestCacheLocationStore::pendingMigrationKey()
{
    return QStringLiteral("pendingIngestCacheMigration");
}

QString IngestCacheLocationStore::load(const QString &defaultURL) const
{
    return readPath(locationKey()).value_or(defaultURL);
}

bool IngestCacheLocationStore::hasSavedLocation() const
{
    return readPath(locationKey()).has_value();
}

Result<void> IngestCacheLocationStore::save(const QString &url) const
{
    return write(locationKey(), QVariant(url));
}

std::optional<QString> IngestCacheLocationStore::retained() const
{
    return readPath(retainedLocationKey());
}

Result<void> IngestCacheLocationStore::saveRetained(const std::optional<QString> &url) const
{
    return write(retainedLocationKey(), url ? std::optional<QVariant>(*url) : std::nullopt);
}

QHash<QString, QString> IngestCacheLocationStore::retainedManifest() const
{
    const std::optional<QByteArray> data = readData(retainedManifestKey());
    if (!data)
        return {};
    return decodeManifest(*data).value_or(QHash<QString, QString>());
}

Result<void> IngestCacheLocationStore::saveRetainedManifest(
    const std::optional<QHash<QString, QString>> &manifest) const
{
    return write(retainedManifestKey(),
                 manifest ? std::optional<QVariant>(encodeManifest(*manifest)) : std::nullopt);
}

std::optional<IngestCacheLocationStoring::PendingMigration>
IngestCacheLocationStore::pendingMigration() const
{
    const std::optional<QByteArray> data = readData(pendingMigrationKey());
    if (!data)
        return std::nullopt;
    return decodeMigration(*data);
}

Result<void> IngestCacheLocationStore::savePendingMigration(
    const std::optional<PendingMigration> &migration) const
{
    return write(pendingMigrationKey(),
                 migration ? std::optional<QVariant>(encodeMigration(*migration)) : std::nullopt);
}

std::optional<QString> IngestCacheLocationStore::readPath(const QString &key) const
{
    const QMutexLocker locker(&m_mutex);
    const QVariant value = m_settings->value(key);
    if (value.typeId() != QMetaType::QString || !QDir::isAbsolutePath(value.toString()))
        return std::nullopt;
    return value.toString();
}

std::optional<QByteArray> IngestCacheLocationStore::readData(const QString &key) const
{
    const QMutexLocker locker(&m_mutex);
    const QVariant value = m_settings->value(key);
    if (value.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return value.toByteArray();
}

Result<void> IngestCacheLocationStore::write(const QString &key,
                                             const std::optional<QVariant> &value) const
{
    const QMutexLocker locker(&m_mutex);
    const QVariant previous = m_settings->value(key);
    const auto assign = [this, &key](const std::optional<QVariant> &assigned) {
        if (assigned)
            m_settings->setValue(key, *assigned);
        else
            m_settings->remove(key);
    };
    assign(value);
    m_settings->sync();
    if (m_settings->status() != QSettings::NoError) {
        // Reads in this process show what is stored, not what could not be written.
        assign(previous.isValid() ? std::optional(previous) : std::nullopt);
        return failure(
            FileSystemError{QStringLiteral("write settings"), m_settings->fileName(), EIO});
    }
    return {};
}

} // namespace Pellwick
