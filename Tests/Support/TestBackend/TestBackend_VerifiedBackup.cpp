// Library items, import capacity reservations and verified backup upload endpoints of the test
// backend. Uploads go to the object store; completions are checked against the ETags it issued.

#include "TestBackend_p.h"

#include <QDateTime>
#include <QJsonArray>

#include <Support/TestFiles.h>

namespace Pellwick::Test {

namespace {

using Account = TestBackend::Account;
using LibraryItem = TestBackend::LibraryItem;
using StoredItem = TestBackend::Private::StoredItem;
using MultipartUpload = TestBackend::Private::MultipartUpload;

std::optional<qint64> integerMember(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isDouble() || value.toDouble() != static_cast<double>(value.toInteger()))
        return std::nullopt;
    return value.toInteger();
}

std::optional<QString> stringMember(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

void insertOptional(QJsonObject &object, const char *key, const std::optional<QString> &value)
{
    if (value)
        object.insert(QLatin1String(key), *value);
}

QJsonObject itemJson(const LibraryItem &item)
{
    QJsonObject object{{QStringLiteral("id"), item.id},
                       {QStringLiteral("original_filename"), item.originalFilename},
                       {QStringLiteral("canonical_filename"), item.canonicalFilename},
                       {QStringLiteral("content_hash"), item.contentHash},
                       {QStringLiteral("import_status"), item.importStatus},
                       {QStringLiteral("imported_at"), item.importedAt}};
    if (item.byteCount)
        object.insert(QStringLiteral("byte_count"), *item.byteCount);
    if (item.sidecarByteCount)
        object.insert(QStringLiteral("sidecar_byte_count"), *item.sidecarByteCount);
    insertOptional(object, "sidecar_filename", item.sidecarFilename);
    insertOptional(object, "sidecar_content_hash", item.sidecarContentHash);
    insertOptional(object, "import_source_name", item.importSourceName);
    insertOptional(object, "source_relative_path", item.sourceRelativePath);
    insertOptional(object, "cache_relative_path", item.cacheRelativePath);
    return object;
}

QJsonObject libraryItemMember(qint64 id, const QString &status)
{
    return {{QStringLiteral("id"), id}, {QStringLiteral("import_status"), status}};
}

QString partKey(const QString &uploadID, qint64 partNumber)
{
    return uploadID + QStringLiteral("/part-") + QString::number(partNumber);
}

QJsonObject multipartJson(TestBackend::Private &d, const MultipartUpload &upload)
{
    QJsonArray parts;
    for (qint64 number = 1; number <= upload.partCount; ++number) {
        parts.append(
            QJsonObject{{QStringLiteral("part_number"), number},
                        {QStringLiteral("url"),
                         d.objectStore->presignedPutURL(partKey(upload.uploadID, number))}});
    }
    return {{QStringLiteral("upload_id"), upload.uploadID},
            {QStringLiteral("part_size_bytes"), upload.partSize},
            {QStringLiteral("parts"), parts}};
}

qint64 partCountOf(qint64 byteCount, qint64 partSize)
{
    return std::max<qint64>(1, (byteCount + partSize - 1) / partSize);
}

MultipartUpload openUpload(TestBackend::Private &d, qint64 byteCount)
{
    return {QStringLiteral("upload-%1").arg(d.nextUpload++),
            partCountOf(byteCount, d.partSizeBytes),
            false,
            d.partSizeBytes,
            0};
}

/// The upload answered again for an open upload of the same bytes, as the backend is set to.
MultipartUpload
reopenedUpload(TestBackend::Private &d, const MultipartUpload &open, qint64 byteCount)
{
    switch (d.reauthorization) {
    case TestBackend::Reauthorization::SameUpload:
        return open;
    case TestBackend::Reauthorization::NewUploadID:
        return openUpload(d, byteCount);
    case TestBackend::Reauthorization::OtherPartSize:
        return {open.uploadID,
                partCountOf(byteCount, d.reauthorizationPartSize),
                false,
                d.reauthorizationPartSize,
                0};
    }
    return open;
}

/// The upload reply of an item whose uploads are open.
QJsonObject uploadReply(TestBackend::Private &d, const StoredItem &stored)
{
    QJsonObject reply{{QStringLiteral("library_item"),
                       libraryItemMember(stored.item.id, stored.item.importStatus)},
                      {QStringLiteral("raw_original_upload"), multipartJson(d, *stored.rawUpload)}};
    if (!stored.previewKey.isEmpty()) {
        reply.insert(QStringLiteral("preview_upload"),
                     QJsonObject{{QStringLiteral("url"),
                                  d.objectStore->presignedPutURL(stored.previewKey)}});
    }
    if (stored.sidecarUpload)
        reply.insert(QStringLiteral("sidecar_upload"), multipartJson(d, *stored.sidecarUpload));
    return reply;
}

/// True when the assembled object of `upload` has `byteCount` bytes with `contentHash`.
bool assembledMatches(const TestBackend::Private &d,
                      const std::optional<MultipartUpload> &upload,
                      std::optional<qint64> byteCount,
                      const std::optional<QString> &contentHash)
{
    if (!upload)
        return true;
    if (!upload->complete)
        return false;
    if (d.discardUploads)
        return byteCount == upload->assembledByteCount;
    const std::optional<QByteArray> object = d.objectStore->object(assembledObjectKey(*upload));
    return object && byteCount == object->size() && contentHash == referenceSha256(*object);
}

/// True when `parts` names every part of `upload` once, in order, each with the ETag the object
/// store answered for it.
bool partsMatch(const TestBackend::Private &d,
                const MultipartUpload &upload,
                const QJsonArray &parts)
{
    if (parts.size() != upload.partCount)
        return false;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QJsonObject part = parts.at(i).toObject();
        const std::optional<qint64> number = integerMember(part, "part_number");
        const std::optional<QString> etag = stringMember(part, "etag");
        if (number != i + 1 || !etag
            || d.objectStore->etag(partKey(upload.uploadID, *number)) != *etag) {
            return false;
        }
    }
    return true;
}

qint64 reservedBytes(const TestBackend::Private &d, const QString &email)
{
    qint64 total = 0;
    for (const auto &reservation : d.reservations) {
        if (reservation.email == email)
            total += reservation.byteCount;
    }
    return total;
}

void registerReservationRoutes(TestBackend::Private &backend)
{
    TestBackend::Private *d = &backend;

    d->route("POST",
             "/api/library/import_capacity_reservations",
             [d](const auto &request, auto &response) {
                 std::lock_guard lock(d->mutex);
                 Account *account = d->authorizedAccount(request, response);
                 if (!account)
                     return;
                 const std::optional<QJsonObject> body = requestObject(request, response);
                 if (!body)
                     return;
                 qint64 requested = 0;
                 for (const auto &value : body->value(QStringLiteral("packages")).toArray()) {
                     const auto raw = integerMember(value.toObject(), "raw_byte_count");
                     const auto sidecar = integerMember(value.toObject(), "sidecar_byte_count");
                     if (!raw || !sidecar)
                         return replyError(response, 422, QStringLiteral("validation_failed"));
                     requested += *raw + *sidecar;
                 }
                 const auto [usedBytes, limitBytes] = activeStorage(*account);
                 const qint64 used = usedBytes + reservedBytes(*d, account->email);
                 const qint64 remaining = std::max<qint64>(0, limitBytes - used);
                 if (requested > remaining) {
                     return replyJson(
                         response,
                         409,
                         {{QStringLiteral("error"), QStringLiteral("storage_full")},
                          {QStringLiteral("storage"),
                           QJsonObject{{QStringLiteral("state"), QStringLiteral("storage_full")},
                                       {QStringLiteral("used_bytes"), used},
                                       {QStringLiteral("limit_bytes"), limitBytes},
                                       {QStringLiteral("remaining_bytes"), remaining},
                                       {QStringLiteral("message"),
                                        QStringLiteral("Archive storage is full.")}}}});
                 }
                 const QString id = QStringLiteral("res_%1").arg(d->nextUpload++);
                 d->reservations.append({id, account->email, requested});
                 replyJson(
                     response,
                     201,
                     {{QStringLiteral("reservation"), QJsonObject{{QStringLiteral("id"), id}}}});
             });

    d->route("DELETE",
             "/api/library/import_capacity_reservations/([^/]+)",
             [d](const auto &request, auto &response) {
                 std::lock_guard lock(d->mutex);
                 const Account *account = d->authorizedAccount(request, response);
                 if (!account)
                     return;
                 const QString id = QString::fromStdString(request.matches[1]);
                 for (qsizetype i = 0; i < d->reservations.size(); ++i) {
                     if (d->reservations[i].id == id
                         && d->reservations[i].email == account->email) {
                         d->reservations.removeAt(i);
                         response.status = 204;
                         return;
                     }
                 }
                 replyError(response, 404, QStringLiteral("not_found"));
             });
}

/// Creates the item of an upload request and answers with its upload targets, or with the
/// existing item when these bytes are archived already.
void requestUpload(TestBackend::Private &d,
                   const Account &account,
                   const QJsonObject &body,
                   httplib::Response &response)
{
    const auto originalFilename = stringMember(body, "original_filename");
    const auto canonicalFilename = stringMember(body, "canonical_filename");
    const auto byteCount = integerMember(body, "byte_count");
    const auto contentHash = stringMember(body, "content_hash");
    const auto previewByteCount = integerMember(body, "preview_byte_count");
    if (!originalFilename || !canonicalFilename || !byteCount || !contentHash
        || !previewByteCount) {
        return replyError(response, 422, QStringLiteral("validation_failed"));
    }
    if (const auto reservation = stringMember(body, "reservation_id")) {
        // Another account's reservation is not found, as an unknown one.
        const bool owned = std::any_of(d.reservations.begin(), d.reservations.end(), [&](auto &r) {
            return r.id == *reservation && r.email == account.email;
        });
        if (!owned)
            return replyError(response, 404, QStringLiteral("not_found"));
    }

    // The archive holds a package: a RAW original with its sidecar. The same RAW original with
    // another sidecar, or with one where the archived package has none, is another package.
    const std::optional<QString> sidecarContentHash
        = integerMember(body, "sidecar_byte_count") ? stringMember(body, "sidecar_content_hash")
                                                    : std::nullopt;
    const auto samePackage = [&](const StoredItem &stored) {
        return stored.email == account.email && stored.item.contentHash == *contentHash
               && stored.item.sidecarContentHash == sidecarContentHash;
    };
    for (const StoredItem &stored : d.items) {
        if (samePackage(stored) && stored.item.importStatus == QLatin1String("verified_backup")
            && !d.discardUploads) {
            return replyJson(
                response,
                200,
                {{QStringLiteral("library_item"),
                  libraryItemMember(stored.item.id, QStringLiteral("duplicate"))},
                 {QStringLiteral("duplicate"),
                  QJsonObject{{QStringLiteral("original_filename"), stored.item.originalFilename},
                              {QStringLiteral("content_hash"), stored.item.contentHash},
                              {QStringLiteral("byte_count"), stored.item.byteCount.value_or(0)}}}});
        }
    }

    for (StoredItem &open : d.items) {
        if (samePackage(open) && open.item.importStatus == QLatin1String("uploading")
            && open.rawUpload) {
            open.rawUpload = reopenedUpload(d, *open.rawUpload, *byteCount);
            if (open.sidecarUpload)
                open.sidecarUpload = reopenedUpload(
                    d, *open.sidecarUpload, open.item.sidecarByteCount.value_or(0));
            return replyJson(response, 201, uploadReply(d, open));
        }
    }

    StoredItem stored;
    stored.email = account.email;
    LibraryItem &item = stored.item;
    item.id = d.nextId++;
    item.originalFilename = *originalFilename;
    item.canonicalFilename = *canonicalFilename;
    item.contentHash = *contentHash;
    item.byteCount = *byteCount;
    item.importStatus = QStringLiteral("uploading");
    item.importedAt = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    item.importSourceName = stringMember(body, "import_source_name");
    item.sourceRelativePath = stringMember(body, "source_relative_path");
    item.cacheRelativePath = stringMember(body, "cache_relative_path");
    stored.rawUpload = openUpload(d, *byteCount);
    // A package whose preview could not be made announces none: it gets no preview upload and
    // is finalized without one.
    if (*previewByteCount > 0)
        stored.previewKey = QStringLiteral("preview-%1.jpg").arg(item.id);

    if (const auto sidecarBytes = integerMember(body, "sidecar_byte_count")) {
        item.sidecarFilename = stringMember(body, "sidecar_filename");
        item.sidecarByteCount = *sidecarBytes;
        item.sidecarContentHash = stringMember(body, "sidecar_content_hash");
        stored.sidecarUpload = openUpload(d, *sidecarBytes);
    }
    d.items.append(stored);
    replyJson(response, 201, uploadReply(d, stored));
}

void registerUploadRoutes(TestBackend::Private &backend)
{
    TestBackend::Private *d = &backend;
    const std::string itemPattern = "/api/library/verified_backup_uploads/(-?[0-9]+)";

    // Runs `handle` with the request's account and item, or answers 401 or 404.
    auto withItem = [d](auto handle) {
        return [d, handle](const httplib::Request &request, httplib::Response &response) {
            std::lock_guard lock(d->mutex);
            Account *account = d->authorizedAccount(request, response);
            if (!account)
                return;
            // Another account's item is not found, as an unknown one.
            StoredItem *stored
                = d->findItem(account->email, std::stoll(std::string(request.matches[1])));
            if (!stored)
                return replyError(response, 404, QStringLiteral("not_found"));
            handle(request, response, *stored, *account);
        };
    };

    d->route(
        "POST", "/api/library/verified_backup_uploads", [d](const auto &request, auto &response) {
            std::lock_guard lock(d->mutex);
            const Account *account = d->authorizedAccount(request, response);
            if (!account)
                return;
            if (const std::optional<QJsonObject> body = requestObject(request, response))
                requestUpload(*d, *account, *body, response);
        });

    d->route("GET",
             itemPattern,
             withItem([](const auto &, auto &response, StoredItem &stored, Account &) {
                 replyJson(response,
                           200,
                           {{QStringLiteral("library_item"),
                             libraryItemMember(stored.item.id, stored.item.importStatus)}});
             }));

    auto complete = [d, withItem](bool sidecar) {
        return withItem(
            [d, sidecar](const auto &request, auto &response, StoredItem &stored, Account &) {
                const std::optional<QJsonObject> body = requestObject(request, response);
                if (!body)
                    return;
                std::optional<MultipartUpload> &upload
                    = sidecar ? stored.sidecarUpload : stored.rawUpload;
                if (!upload || stringMember(*body, "upload_id") != upload->uploadID)
                    return replyError(response, 422, QStringLiteral("invalid_parts"));
                // Completing a completed upload answers as the first completion did: a client
                // that lost the answer completes again.
                if (upload->complete) {
                    response.status = 204;
                    return;
                }
                if (!partsMatch(*d, *upload, body->value(QStringLiteral("parts")).toArray()))
                    return replyError(response, 422, QStringLiteral("invalid_parts"));
                QByteArray assembled;
                qint64 assembledByteCount = 0;
                for (qint64 number = 1; number <= upload->partCount; ++number) {
                    const QString part = partKey(upload->uploadID, number);
                    assembledByteCount += d->objectStore->byteCount(part).value_or(0);
                    if (!d->discardUploads)
                        assembled += d->objectStore->object(part).value_or(QByteArray());
                }
                if (!d->discardUploads)
                    d->objectStore->putObject(assembledObjectKey(*upload), assembled);
                upload->assembledByteCount = assembledByteCount;
                upload->complete = true;
                response.status = 204;
            });
    };
    d->route("POST", itemPattern + "/complete", complete(false));
    d->route("POST", itemPattern + "/complete_sidecar", complete(true));

    d->route(
        "POST",
        itemPattern + "/finalize",
        withItem([d](const auto &, auto &response, StoredItem &stored, Account &account) {
            const bool uploaded
                = stored.rawUpload && stored.rawUpload->complete
                  && (!stored.sidecarUpload || stored.sidecarUpload->complete)
                  && (stored.previewKey.isEmpty() || d->objectStore->object(stored.previewKey));
            if (!uploaded)
                return replyError(response, 409, QStringLiteral("upload_incomplete"));
            // The archive holds what was assembled: it must be the bytes announced.
            const bool verified
                = assembledMatches(
                      *d, stored.rawUpload, stored.item.byteCount, stored.item.contentHash)
                  && assembledMatches(*d,
                                      stored.sidecarUpload,
                                      stored.item.sidecarByteCount,
                                      stored.item.sidecarContentHash);
            stored.item.importStatus
                = verified ? QStringLiteral("verified_backup") : QStringLiteral("needs_attention");
            // The archive now holds the item's bytes, counted once however often it finalizes.
            if (stored.countedBytes == 0) {
                stored.countedBytes
                    = stored.item.byteCount.value_or(0) + stored.item.sidecarByteCount.value_or(0);
                activeStorage(account).first += stored.countedBytes;
            }
            QJsonObject reply{{QStringLiteral("library_item"),
                               libraryItemMember(stored.item.id, stored.item.importStatus)}};
            if (!stored.previewKey.isEmpty()) {
                reply.insert(
                    QStringLiteral("preview"),
                    QJsonObject{{QStringLiteral("access_url"),
                                 QString(d->objectStore->baseURL() + QStringLiteral("/objects/")
                                         + stored.previewKey + QStringLiteral("?expires=1"))},
                                {QStringLiteral("expires_at"),
                                 QStringLiteral("2030-01-01T00:00:00.000Z")}});
            }
            replyJson(response, 200, reply);
        }));

    d->route("DELETE",
             itemPattern,
             withItem([d](const auto &, auto &response, StoredItem &stored, Account &account) {
                 if (stored.item.importStatus == QLatin1String("verified_backup"))
                     return replyError(response, 409, QStringLiteral("already_archived"));
                 activeStorage(account).first -= stored.countedBytes;
                 const qint64 id = stored.item.id;
                 d->items.removeIf([id](const StoredItem &s) { return s.item.id == id; });
                 response.status = 204;
             }));

    d->route("GET", "/api/library/items", [d](const auto &request, auto &response) {
        std::lock_guard lock(d->mutex);
        const Account *account = d->authorizedAccount(request, response);
        if (!account)
            return;
        QJsonArray list;
        for (const StoredItem &stored : d->items) {
            if (stored.email == account->email)
                list.append(itemJson(stored.item));
        }
        replyJson(response, 200, {{QStringLiteral("library_items"), list}});
    });
}

} // namespace

TestBackend::Private::StoredItem *TestBackend::Private::findItem(const QString &email, qint64 id)
{
    for (StoredItem &stored : items) {
        if (stored.email == email && stored.item.id == id)
            return &stored;
    }
    return nullptr;
}

void registerVerifiedBackupRoutes(TestBackend::Private &backend)
{
    registerReservationRoutes(backend);
    registerUploadRoutes(backend);
}

TestBackend::LibraryItem TestBackend::addLibraryItem(const QString &email, LibraryItem item)
{
    std::lock_guard lock(d->mutex);
    if (item.id == 0)
        item.id = d->nextId++;
    d->items.append({email, item, std::nullopt, std::nullopt, QString()});
    return item;
}

QList<TestBackend::LibraryItem> TestBackend::libraryItems(const QString &email) const
{
    std::lock_guard lock(d->mutex);
    QList<LibraryItem> out;
    for (const StoredItem &stored : d->items) {
        if (stored.email == email)
            out.append(stored.item);
    }
    return out;
}

QStringList TestBackend::reservationIDs(const QString &email) const
{
    std::lock_guard lock(d->mutex);
    QStringList out;
    for (const auto &reservation : d->reservations) {
        if (reservation.email == email)
            out.append(reservation.id);
    }
    return out;
}

void TestBackend::setReauthorization(Reauthorization mode, qint64 partSize)
{
    std::lock_guard lock(d->mutex);
    d->reauthorization = mode;
    d->reauthorizationPartSize = partSize;
}

std::optional<QByteArray> TestBackend::assembledObject(qint64 libraryItemID, bool sidecar) const
{
    std::lock_guard lock(d->mutex);
    for (const StoredItem &stored : d->items) {
        if (stored.item.id != libraryItemID)
            continue;
        const std::optional<MultipartUpload> &upload
            = sidecar ? stored.sidecarUpload : stored.rawUpload;
        if (!upload || !upload->complete)
            return std::nullopt;
        return d->objectStore->object(assembledObjectKey(*upload));
    }
    return std::nullopt;
}

TestObjectStore &TestBackend::objectStore() const
{
    return *d->objectStore;
}

} // namespace Pellwick::Test
