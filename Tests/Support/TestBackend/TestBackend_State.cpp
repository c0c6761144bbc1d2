// The test backend's state as one JSON object, so a long-running backend can keep it across
// restarts.

#include "TestBackend_p.h"

#include <PellwickCore/Backend/LibrarySessionClient_p.h>
#include <PellwickCore/Support/Json.h>

#include <QJsonArray>

#include <cstdint>

namespace Pellwick::Test {

namespace {

using Json::ObjectReader;

/// Reads the array under `key` of `reader`, each element an object read by `read`.
template<typename T, typename F>
Result<QList<T>> objectElements(const ObjectReader &reader, const QString &key, F read)
{
    return reader.elements<T>(
        key, [&read](const QJsonValue &value, const QString &path) -> Result<T> {
            PELLWICK_TRY_ASSIGN(QJsonObject object, Json::readObject(value, path));
            return read(ObjectReader(object, path));
        });
}

QJsonValue optionalJson(const std::optional<QString> &value)
{
    return value ? QJsonValue(*value) : QJsonValue();
}

QJsonValue optionalJson(const std::optional<qint64> &value)
{
    return value ? QJsonValue(*value) : QJsonValue();
}

QJsonValue uploadJson(const std::optional<TestBackend::Private::MultipartUpload> &upload)
{
    if (!upload)
        return QJsonValue();
    return QJsonObject{{QStringLiteral("upload_id"), upload->uploadID},
                       {QStringLiteral("part_count"), upload->partCount},
                       {QStringLiteral("complete"), upload->complete},
                       {QStringLiteral("part_size"), upload->partSize}};
}

Result<std::optional<TestBackend::Private::MultipartUpload>> readUpload(const ObjectReader &reader,
                                                                        const QString &key)
{
    PELLWICK_TRY_ASSIGN(std::optional<ObjectReader> object, reader.optionalObject(key));
    if (!object)
        return std::optional<TestBackend::Private::MultipartUpload>();
    TestBackend::Private::MultipartUpload upload;
    PELLWICK_TRY_ASSIGN(upload.uploadID, object->string(QStringLiteral("upload_id")));
    PELLWICK_TRY_ASSIGN(upload.partCount, object->byteCount(QStringLiteral("part_count")));
    PELLWICK_TRY_ASSIGN(upload.complete, object->boolean(QStringLiteral("complete")));
    PELLWICK_TRY_ASSIGN(upload.partSize, object->byteCount(QStringLiteral("part_size")));
    return std::optional(upload);
}

QJsonObject passwordHashJson(const TestBackend::PasswordHash &password)
{
    return QJsonObject{
        {QStringLiteral("salt"), QString::fromLatin1(password.salt.toBase64())},
        {QStringLiteral("iterations"), password.iterations},
        {QStringLiteral("hash"), QString::fromLatin1(password.hash.toBase64())},
    };
}

Result<QByteArray> readBase64(const ObjectReader &reader, const QString &key)
{
    PELLWICK_TRY_ASSIGN(QString text, reader.string(key));
    const QByteArray::FromBase64Result decoded
        = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty())
        return tl::unexpected<Error>(
            Json::dataCorrupted(reader.keyPath(key), QStringLiteral("not Base64")));
    return decoded.decoded;
}

/// The account's password hash; a state file of an earlier version holds the password itself,
/// which is hashed here.
Result<TestBackend::PasswordHash> readPasswordHash(const ObjectReader &account,
                                                   int iterationsForPasswords)
{
    PELLWICK_TRY_ASSIGN(std::optional<ObjectReader> kept,
                        account.optionalObject(QStringLiteral("password_hash")));
    if (!kept) {
        PELLWICK_TRY_ASSIGN(QString password, account.string(QStringLiteral("password")));
        return TestBackend::PasswordHash::of(password, iterationsForPasswords);
    }
    TestBackend::PasswordHash hash;
    PELLWICK_TRY_ASSIGN(hash.salt, readBase64(*kept, QStringLiteral("salt")));
    PELLWICK_TRY_ASSIGN(const qint64 iterations,
                        kept->integer(QStringLiteral("iterations"), 1, INT32_MAX));
    hash.iterations = int(iterations);
    PELLWICK_TRY_ASSIGN(hash.hash, readBase64(*kept, QStringLiteral("hash")));
    return hash;
}

QJsonObject storedItemJson(const TestBackend::LibraryItem &item)
{
    return QJsonObject{
        {QStringLiteral("id"), item.id},
        {QStringLiteral("original_filename"), item.originalFilename},
        {QStringLiteral("canonical_filename"), item.canonicalFilename},
        {QStringLiteral("content_hash"), item.contentHash},
        {QStringLiteral("byte_count"), optionalJson(item.byteCount)},
        {QStringLiteral("sidecar_filename"), optionalJson(item.sidecarFilename)},
        {QStringLiteral("sidecar_byte_count"), optionalJson(item.sidecarByteCount)},
        {QStringLiteral("sidecar_content_hash"), optionalJson(item.sidecarContentHash)},
        {QStringLiteral("import_status"), item.importStatus},
        {QStringLiteral("imported_at"), item.importedAt},
        {QStringLiteral("import_source_name"), optionalJson(item.importSourceName)},
        {QStringLiteral("source_relative_path"), optionalJson(item.sourceRelativePath)},
        {QStringLiteral("cache_relative_path"), optionalJson(item.cacheRelativePath)},
    };
}

Result<TestBackend::LibraryItem> readItem(const ObjectReader &reader)
{
    TestBackend::LibraryItem item;
    PELLWICK_TRY_ASSIGN(item.id, reader.integer(QStringLiteral("id")));
    PELLWICK_TRY_ASSIGN(item.originalFilename, reader.string(QStringLiteral("original_filename")));
    PELLWICK_TRY_ASSIGN(item.canonicalFilename,
                        reader.string(QStringLiteral("canonical_filename")));
    PELLWICK_TRY_ASSIGN(item.contentHash, reader.string(QStringLiteral("content_hash")));
    PELLWICK_TRY_ASSIGN(item.byteCount, reader.optionalByteCount(QStringLiteral("byte_count")));
    PELLWICK_TRY_ASSIGN(item.sidecarFilename,
                        reader.optionalString(QStringLiteral("sidecar_filename")));
    PELLWICK_TRY_ASSIGN(item.sidecarByteCount,
                        reader.optionalByteCount(QStringLiteral("sidecar_byte_count")));
    PELLWICK_TRY_ASSIGN(item.sidecarContentHash,
                        reader.optionalString(QStringLiteral("sidecar_content_hash")));
    PELLWICK_TRY_ASSIGN(item.importStatus, reader.string(QStringLiteral("import_status")));
    PELLWICK_TRY_ASSIGN(item.importedAt, reader.number(QStringLiteral("imported_at")));
    PELLWICK_TRY_ASSIGN(item.importSourceName,
                        reader.optionalString(QStringLiteral("import_source_name")));
    PELLWICK_TRY_ASSIGN(item.sourceRelativePath,
                        reader.optionalString(QStringLiteral("source_relative_path")));
    PELLWICK_TRY_ASSIGN(item.cacheRelativePath,
                        reader.optionalString(QStringLiteral("cache_relative_path")));
    return item;
}

Result<RestoreRequestStatus> readStatus(const ObjectReader &reader)
{
    return Json::readRawValue(reader,
                              QStringLiteral("status"),
                              QStringLiteral("RestoreRequestStatus"),
                              &restoreRequestStatusFromRaw);
}

/// The state with every collection read; applied only when all of it reads.
struct DecodedState
{
    QList<TestBackend::Account> accounts;
    QHash<QString, QString> sessions;
    QList<TestBackend::Private::StoredItem> items;
    QList<TestBackend::Private::Reservation> reservations;
    QList<RestoreRequestStore::RequestRecord> restoreRequests;
    qint64 nextId = 1;
    qint64 nextToken = 1;
    qint64 nextUpload = 1;
    qint64 nextBillingSession = 1;
    qint64 nextRestoreRequestID = 1;
};

Result<DecodedState> decodeState(const QJsonObject &state, int iterationsForPasswords)
{
    const ObjectReader reader(state);
    DecodedState decoded;
    PELLWICK_TRY_ASSIGN(decoded.nextId, reader.integer(QStringLiteral("next_id"), 1, INT64_MAX));
    PELLWICK_TRY_ASSIGN(decoded.nextToken,
                        reader.integer(QStringLiteral("next_token"), 1, INT64_MAX));
    PELLWICK_TRY_ASSIGN(decoded.nextUpload,
                        reader.integer(QStringLiteral("next_upload"), 1, INT64_MAX));
    PELLWICK_TRY_ASSIGN(decoded.nextBillingSession,
                        reader.integer(QStringLiteral("next_billing_session"), 1, INT64_MAX));
    PELLWICK_TRY_ASSIGN(decoded.nextRestoreRequestID,
                        reader.integer(QStringLiteral("next_restore_request_id"), 1, INT64_MAX));

    PELLWICK_TRY_ASSIGN(
        decoded.accounts,
        objectElements<TestBackend::Account>(
            reader,
            QStringLiteral("accounts"),
            [iterationsForPasswords](const ObjectReader &object) -> Result<TestBackend::Account> {
                TestBackend::Account account;
                PELLWICK_TRY_ASSIGN(account.userId, object.integer(QStringLiteral("user_id")));
                PELLWICK_TRY_ASSIGN(account.email, object.string(QStringLiteral("email")));
                PELLWICK_TRY_ASSIGN(account.passwordHash,
                                    readPasswordHash(object, iterationsForPasswords));
                PELLWICK_TRY_ASSIGN(account.displayName,
                                    object.optionalString(QStringLiteral("display_name")));
                PELLWICK_TRY_ASSIGN(account.emailVerified,
                                    object.boolean(QStringLiteral("email_verified")));
                PELLWICK_TRY_ASSIGN(ObjectReader library, object.object(QStringLiteral("library")));
                PELLWICK_TRY_ASSIGN(account.library, BackendWire::decodeLibrary(library));
                return account;
            }));

    PELLWICK_TRY_ASSIGN(ObjectReader sessions, reader.object(QStringLiteral("sessions")));
    for (auto it = sessions.jsonObject().begin(); it != sessions.jsonObject().end(); ++it) {
        PELLWICK_TRY_ASSIGN(QString email, sessions.string(it.key()));
        decoded.sessions.insert(it.key(), email);
    }

    PELLWICK_TRY_ASSIGN(
        decoded.items,
        objectElements<TestBackend::Private::StoredItem>(
            reader,
            QStringLiteral("items"),
            [](const ObjectReader &object) -> Result<TestBackend::Private::StoredItem> {
                TestBackend::Private::StoredItem stored;
                PELLWICK_TRY_ASSIGN(stored.email, object.string(QStringLiteral("email")));
                PELLWICK_TRY_ASSIGN(ObjectReader item, object.object(QStringLiteral("item")));
                PELLWICK_TRY_ASSIGN(stored.item, readItem(item));
                PELLWICK_TRY_ASSIGN(stored.rawUpload,
                                    readUpload(object, QStringLiteral("raw_upload")));
                PELLWICK_TRY_ASSIGN(stored.sidecarUpload,
                                    readUpload(object, QStringLiteral("sidecar_upload")));
                PELLWICK_TRY_ASSIGN(stored.previewKey,
                                    object.string(QStringLiteral("preview_key")));
                PELLWICK_TRY_ASSIGN(stored.countedBytes,
                                    object.byteCount(QStringLiteral("counted_bytes")));
                return stored;
            }));

    PELLWICK_TRY_ASSIGN(
        decoded.reservations,
        objectElements<TestBackend::Private::Reservation>(
            reader,
            QStringLiteral("reservations"),
            [](const ObjectReader &object) -> Result<TestBackend::Private::Reservation> {
                TestBackend::Private::Reservation reservation;
                PELLWICK_TRY_ASSIGN(reservation.id, object.string(QStringLiteral("id")));
                PELLWICK_TRY_ASSIGN(reservation.email, object.string(QStringLiteral("email")));
                PELLWICK_TRY_ASSIGN(reservation.byteCount,
                                    object.byteCount(QStringLiteral("byte_count")));
                return reservation;
            }));

    PELLWICK_TRY_ASSIGN(
        decoded.restoreRequests,
        objectElements<RestoreRequestStore::RequestRecord>(
            reader,
            QStringLiteral("restore_requests"),
            [](const ObjectReader &object) -> Result<RestoreRequestStore::RequestRecord> {
                RestoreRequestStore::RequestRecord request;
                PELLWICK_TRY_ASSIGN(request.id, object.integer(QStringLiteral("id")));
                PELLWICK_TRY_ASSIGN(request.email, object.string(QStringLiteral("email")));
                PELLWICK_TRY_ASSIGN(request.status, readStatus(object));
                PELLWICK_TRY_ASSIGN(request.attentionReason,
                                    object.optionalString(QStringLiteral("attention_reason")));
                PELLWICK_TRY_ASSIGN(
                    request.items,
                    objectElements<RestoreRequestStore::ItemRecord>(
                        object,
                        QStringLiteral("items"),
                        [](const ObjectReader &itemObject)
                            -> Result<RestoreRequestStore::ItemRecord> {
                            RestoreRequestStore::ItemRecord item;
                            PELLWICK_TRY_ASSIGN(
                                item.libraryItemID,
                                itemObject.integer(QStringLiteral("library_item_id")));
                            PELLWICK_TRY_ASSIGN(item.status, readStatus(itemObject));
                            PELLWICK_TRY_ASSIGN(
                                item.attentionReason,
                                itemObject.optionalString(QStringLiteral("attention_reason")));
                            return item;
                        }));
                return request;
            }));
    return decoded;
}

} // namespace

QJsonObject TestBackend::state() const
{
    std::lock_guard lock(d->mutex);
    QJsonArray accounts;
    for (const Account &account : d->accounts) {
        accounts.append(QJsonObject{
            {QStringLiteral("user_id"), account.userId},
            {QStringLiteral("email"), account.email},
            {QStringLiteral("password_hash"), passwordHashJson(account.passwordHash)},
            {QStringLiteral("display_name"), optionalJson(account.displayName)},
            {QStringLiteral("email_verified"), account.emailVerified},
            {QStringLiteral("library"), libraryJson(account.library)},
        });
    }
    QJsonObject sessions;
    for (auto it = d->sessions.cbegin(); it != d->sessions.cend(); ++it)
        sessions.insert(it.key(), it.value());
    QJsonArray items;
    for (const Private::StoredItem &stored : d->items) {
        items.append(QJsonObject{
            {QStringLiteral("email"), stored.email},
            {QStringLiteral("item"), storedItemJson(stored.item)},
            {QStringLiteral("raw_upload"), uploadJson(stored.rawUpload)},
            {QStringLiteral("sidecar_upload"), uploadJson(stored.sidecarUpload)},
            {QStringLiteral("preview_key"), stored.previewKey},
            {QStringLiteral("counted_bytes"), stored.countedBytes},
        });
    }
    QJsonArray reservations;
    for (const Private::Reservation &reservation : d->reservations) {
        reservations.append(QJsonObject{{QStringLiteral("id"), reservation.id},
                                        {QStringLiteral("email"), reservation.email},
                                        {QStringLiteral("byte_count"), reservation.byteCount}});
    }
    QJsonArray restoreRequests;
    for (const RestoreRequestStore::RequestRecord &request : d->restore.requests) {
        QJsonArray requestItems;
        for (const RestoreRequestStore::ItemRecord &item : request.items) {
            requestItems.append(QJsonObject{
                {QStringLiteral("library_item_id"), item.libraryItemID},
                {QStringLiteral("status"), toRaw(item.status)},
                {QStringLiteral("attention_reason"), optionalJson(item.attentionReason)}});
        }
        restoreRequests.append(
            QJsonObject{{QStringLiteral("id"), request.id},
                        {QStringLiteral("email"), request.email},
                        {QStringLiteral("status"), toRaw(request.status)},
                        {QStringLiteral("attention_reason"), optionalJson(request.attentionReason)},
                        {QStringLiteral("items"), requestItems}});
    }
    return QJsonObject{
        {QStringLiteral("accounts"), accounts},
        {QStringLiteral("sessions"), sessions},
        {QStringLiteral("items"), items},
        {QStringLiteral("reservations"), reservations},
        {QStringLiteral("restore_requests"), restoreRequests},
        {QStringLiteral("next_id"), d->nextId},
        {QStringLiteral("next_token"), qint64(d->nextToken)},
        {QStringLiteral("next_upload"), qint64(d->nextUpload)},
        {QStringLiteral("next_billing_session"), qint64(d->nextBillingSession)},
        {QStringLiteral("next_restore_request_id"), d->restore.nextRequestID},
    };
}

Result<void> TestBackend::restoreState(const QJsonObject &state)
{
    PELLWICK_TRY_ASSIGN(DecodedState decoded, decodeState(state, d->passwordHashIterations));
    std::lock_guard lock(d->mutex);
    d->accounts = std::move(decoded.accounts);
    d->sessions = std::move(decoded.sessions);
    d->items = std::move(decoded.items);
    d->reservations = std::move(decoded.reservations);
    d->restore.requests = std::move(decoded.restoreRequests);
    d->nextId = decoded.nextId;
    d->nextToken = quint64(decoded.nextToken);
    d->nextUpload = quint64(decoded.nextUpload);
    d->nextBillingSession = quint64(decoded.nextBillingSession);
    d->restore.nextRequestID = decoded.nextRestoreRequestID;
    return {};
}

QStringList TestBackend::accountEmails() const
{
    std::lock_guard lock(d->mutex);
    QStringList emails;
    for (const Account &account : d->accounts)
        emails.append(account.email);
    return emails;
}

QList<qint64> TestBackend::restoreRequestIDs() const
{
    std::lock_guard lock(d->mutex);
    QList<qint64> ids;
    for (const RestoreRequestStore::RequestRecord &request : d->restore.requests)
        ids.append(request.id);
    return ids;
}

void TestBackend::setRecordsRequests(bool records)
{
    {
        std::lock_guard lock(d->mutex);
        d->recordsRequests = records;
    }
    d->objectStore->setRecordsRequests(records);
}

} // namespace Pellwick::Test
