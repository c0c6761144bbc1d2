// Restore request endpoints of the test backend: in-memory requests whose statuses the test moves,
// and the downloads endpoint handing out presigned GET URLs on the object store.

#include "TestBackend_p.h"

#include <QDateTime>
#include <QJsonArray>

#include <Support/TestFiles.h>
#include <Support/TestObjectStore.h>

namespace Pellwick::Test {

namespace {

/// The wire words, written out independently of the client's own table.
QString word(RestoreRequestStatus status)
{
    switch (status) {
    case RestoreRequestStatus::Preparing:
        return QStringLiteral("preparing");
    case RestoreRequestStatus::Ready:
        return QStringLiteral("ready");
    case RestoreRequestStatus::Downloaded:
        return QStringLiteral("downloaded");
    case RestoreRequestStatus::NeedsAttention:
        return QStringLiteral("needs_attention");
    case RestoreRequestStatus::Cancelled:
        return QStringLiteral("cancelled");
    }
    return {};
}

bool isActive(RestoreRequestStatus status)
{
    return status == RestoreRequestStatus::Preparing || status == RestoreRequestStatus::Ready
           || status == RestoreRequestStatus::NeedsAttention;
}

void putOptional(QJsonObject &object, const QString &key, const std::optional<QString> &value)
{
    if (value)
        object.insert(key, *value);
}

QString rawObjectKey(const TestBackend::LibraryItem &item)
{
    return QStringLiteral("library/%1/%2").arg(item.id).arg(item.canonicalFilename);
}

QString sidecarObjectKey(const TestBackend::LibraryItem &item)
{
    return QStringLiteral("library/%1/sidecar/%2").arg(item.id).arg(*item.sidecarFilename);
}

/// The completed upload of the item's RAW original (or sidecar), when it was archived through the
/// verified backup endpoints rather than added by a test.
const TestBackend::Private::MultipartUpload *
completedUpload(const TestBackend::Private &d, qint64 libraryItemID, bool sidecar)
{
    for (const TestBackend::Private::StoredItem &stored : d.items) {
        if (stored.item.id != libraryItemID)
            continue;
        const auto &upload = sidecar ? stored.sidecarUpload : stored.rawUpload;
        return upload && upload->complete ? &*upload : nullptr;
    }
    return nullptr;
}

/// Where the bytes of the item's RAW original (or sidecar) are kept.
QString
downloadObjectKey(const TestBackend::Private &d, const TestBackend::LibraryItem &item, bool sidecar)
{
    if (const auto *upload = completedUpload(d, item.id, sidecar))
        return assembledObjectKey(*upload);
    return sidecar ? sidecarObjectKey(item) : rawObjectKey(item);
}

/// The library item behind a request's item; requests only ever hold the owner's items.
const TestBackend::LibraryItem &libraryItem(TestBackend::Private &d,
                                            const RestoreRequestStore::RequestRecord &record,
                                            qint64 libraryItemID)
{
    return d.findItem(record.email, libraryItemID)->item;
}

RestoreRequest toValue(TestBackend::Private &d, const RestoreRequestStore::RequestRecord &record)
{
    RestoreRequest request{record.id, record.status, 0, record.attentionReason, {}, {}};
    for (const RestoreRequestStore::ItemRecord &item : record.items) {
        const TestBackend::LibraryItem &stored = libraryItem(d, record, item.libraryItemID);
        const qint64 size = stored.byteCount.value_or(0);
        // What a restore downloads and the allowance counts: the RAW original and its sidecar.
        request.byteCount += size + stored.sidecarByteCount.value_or(0);
        request.items.append(RestoreRequestItem{
            item.libraryItemID, stored.canonicalFilename, size, item.status, item.attentionReason});
    }
    if (record.status == RestoreRequestStatus::Preparing)
        request.preparationEstimate = d.restore.preparationEstimate;
    return request;
}

QJsonObject requestJson(const RestoreRequest &request)
{
    QJsonArray items;
    for (const RestoreRequestItem &item : request.items) {
        QJsonObject json{{QStringLiteral("library_item_id"), item.libraryItemID},
                         {QStringLiteral("canonical_filename"), item.canonicalFilename},
                         {QStringLiteral("byte_count"), item.byteCount},
                         {QStringLiteral("status"), word(item.status)}};
        putOptional(json, QStringLiteral("attention_reason"), item.attentionReason);
        items.append(json);
    }
    QJsonObject json{{QStringLiteral("id"), request.id},
                     {QStringLiteral("status"), word(request.status)},
                     {QStringLiteral("byte_count"), request.byteCount},
                     {QStringLiteral("items"), items}};
    putOptional(json, QStringLiteral("attention_reason"), request.attentionReason);
    putOptional(json, QStringLiteral("preparation_estimate"), request.preparationEstimate);
    return json;
}

void replyRequest(httplib::Response &response,
                  int status,
                  TestBackend::Private &d,
                  const RestoreRequestStore::RequestRecord &record)
{
    replyJson(
        response, status, {{QStringLiteral("restore_request"), requestJson(toValue(d, record))}});
}

} // namespace

void registerRestoreRoutes(TestBackend::Private &backend)
{
    using Account = TestBackend::Account;
    using RequestRecord = RestoreRequestStore::RequestRecord;
    TestBackend::Private *d = &backend;
    const std::string base = "/api/library/restore_requests";
    const std::string withID = base + "/(-?[0-9]+)";

    // The request named in the path, owned by the token's account; otherwise a 401 or 404 reply.
    auto ownedRequest
        = [d](const httplib::Request &request, httplib::Response &response) -> RequestRecord * {
        const Account *account = d->authorizedAccount(request, response);
        if (!account)
            return nullptr;
        RequestRecord *record = d->restore.findRequest(std::stoll(request.matches[1].str()));
        if (!record || record->email != account->email) {
            replyError(response, 404, QStringLiteral("not_found"));
            return nullptr;
        }
        return record;
    };

    d->route("POST", base, [d](const httplib::Request &request, httplib::Response &response) {
        std::lock_guard lock(d->mutex);
        Account *account = d->authorizedAccount(request, response);
        if (!account)
            return;
        const std::optional<QJsonObject> body = requestObject(request, response);
        if (!body)
            return;
        const QJsonValue ids = body->value(QStringLiteral("library_item_ids"));
        if (!ids.isArray())
            return replyError(response, 422, QStringLiteral("validation_failed"));
        RestoreRequestStore &state = d->restore;
        RequestRecord record{state.nextRequestID, account->email, {}, {}, {}};
        qint64 byteCount = 0;
        for (const QJsonValue id : ids.toArray()) {
            const TestBackend::Private::StoredItem *stored
                = id.isDouble() ? d->findItem(account->email, id.toInteger()) : nullptr;
            if (!stored || stored->item.importStatus != QLatin1String("verified_backup")) {
                QJsonObject refusal{
                    {QStringLiteral("error"), QStringLiteral("not_verified_backup")},
                    {QStringLiteral("reason"), id.toVariant().toString()}};
                return replyJson(response, 422, refusal);
            }
            record.items.append({stored->item.id, RestoreRequestStatus::Preparing, {}});
            byteCount
                += stored->item.byteCount.value_or(0) + stored->item.sidecarByteCount.value_or(0);
        }
        if (record.items.isEmpty())
            return replyError(response, 422, QStringLiteral("empty_restore_request"));
        for (const RequestRecord &existing : state.requests) {
            if (existing.email == account->email && isActive(existing.status))
                return replyError(response, 409, QStringLiteral("active_restore_request"));
        }
        RestoreAllowanceState &allowance = account->library.paidPlan.restoreAllowance;
        if (allowance.usedBytes + byteCount > allowance.limitBytes) {
            const bool trial = account->library.paidPlan.status == PaidPlanStatus::Trial;
            return replyJson(
                response,
                422,
                {{QStringLiteral("error"), QStringLiteral("restore_allowance_exceeded")},
                 {QStringLiteral("allowance_kind"),
                  trial ? QStringLiteral("trial") : QStringLiteral("paid")}});
        }
        allowance.usedBytes += byteCount;
        ++state.nextRequestID;
        state.requests.append(record);
        replyRequest(response, 201, *d, record);
    });

    d->route(
        "GET", base + "/active", [d](const httplib::Request &request, httplib::Response &response) {
            std::lock_guard lock(d->mutex);
            const Account *account = d->authorizedAccount(request, response);
            if (!account)
                return;
            const QList<RequestRecord> &requests = d->restore.requests;
            for (auto it = requests.crbegin(); it != requests.crend(); ++it) {
                if (it->email == account->email && isActive(it->status))
                    return replyRequest(response, 200, *d, *it);
            }
            replyJson(response, 200, {{QStringLiteral("restore_request"), QJsonValue::Null}});
        });

    d->route("GET", withID, [d, ownedRequest](const auto &request, auto &response) {
        std::lock_guard lock(d->mutex);
        if (const RequestRecord *record = ownedRequest(request, response))
            replyRequest(response, 200, *d, *record);
    });

    d->route("DELETE", withID, [d, ownedRequest](const auto &request, auto &response) {
        std::lock_guard lock(d->mutex);
        RequestRecord *record = ownedRequest(request, response);
        if (!record)
            return;
        if (!isActive(record->status))
            return replyError(response, 422, QStringLiteral("restore_request_not_cancellable"));
        record->status = RestoreRequestStatus::Cancelled;
        for (RestoreRequestStore::ItemRecord &item : record->items)
            item.status = RestoreRequestStatus::Cancelled;
        replyRequest(response, 200, *d, *record);
    });

    d->route("POST", withID + "/retry", [d, ownedRequest](const auto &request, auto &response) {
        std::lock_guard lock(d->mutex);
        RequestRecord *record = ownedRequest(request, response);
        if (!record)
            return;
        if (record->status != RestoreRequestStatus::NeedsAttention)
            return replyError(response, 422, QStringLiteral("restore_request_not_retryable"));
        record->status = RestoreRequestStatus::Preparing;
        record->attentionReason.reset();
        for (RestoreRequestStore::ItemRecord &item : record->items) {
            if (item.status == RestoreRequestStatus::NeedsAttention) {
                item.status = RestoreRequestStatus::Preparing;
                item.attentionReason.reset();
            }
        }
        replyRequest(response, 200, *d, *record);
    });

    d->route("POST", withID + "/complete", [d, ownedRequest](const auto &request, auto &response) {
        std::lock_guard lock(d->mutex);
        RequestRecord *record = ownedRequest(request, response);
        if (!record)
            return;
        if (record->status != RestoreRequestStatus::Ready)
            return replyError(response, 409, QStringLiteral("restore_not_ready"));
        record->status = RestoreRequestStatus::Downloaded;
        for (RestoreRequestStore::ItemRecord &item : record->items)
            item.status = RestoreRequestStatus::Downloaded;
        replyRequest(response, 200, *d, *record);
    });

    d->route("POST", withID + "/downloads", [d, ownedRequest](const auto &request, auto &response) {
        std::lock_guard lock(d->mutex);
        const RequestRecord *record = ownedRequest(request, response);
        if (!record)
            return;
        if (record->status != RestoreRequestStatus::Ready)
            return replyError(response, 409, QStringLiteral("restore_not_ready"));
        const std::optional<std::chrono::seconds> lifetime = d->restore.downloadLifetime;
        // Without a stated expiry the URLs still work for a while, as a lax backend's would.
        const Date expiresAt = Date::now().addingSeconds(
            static_cast<double>(lifetime.value_or(std::chrono::hours(1)).count()));
        auto withExpiry = [&](QJsonObject json, const QString &key) {
            json.insert(QStringLiteral("download_url"),
                        d->objectStore->presignedGetURL(key, expiresAt));
            if (lifetime) {
                json.insert(QStringLiteral("capability_expires_at"),
                            expiresAt.toDateTime().toString(Qt::ISODateWithMs));
            }
            return json;
        };
        QJsonArray downloads;
        for (const RestoreRequestStore::ItemRecord &item : record->items) {
            const TestBackend::LibraryItem &stored = libraryItem(*d, *record, item.libraryItemID);
            QJsonObject download
                = withExpiry({{QStringLiteral("library_item_id"), stored.id},
                              {QStringLiteral("canonical_filename"), stored.canonicalFilename},
                              {QStringLiteral("byte_count"), stored.byteCount.value_or(0)}},
                             downloadObjectKey(*d, stored, false));
            if (stored.sidecarFilename) {
                download.insert(
                    QStringLiteral("sidecar"),
                    withExpiry({{QStringLiteral("canonical_filename"), *stored.sidecarFilename},
                                {QStringLiteral("byte_count"), stored.sidecarByteCount.value_or(0)},
                                {QStringLiteral("content_hash"),
                                 stored.sidecarContentHash.value_or(QString())}},
                               downloadObjectKey(*d, stored, true)));
            }
            downloads.append(download);
        }
        replyJson(response,
                  200,
                  {{QStringLiteral("restore_request"), requestJson(toValue(*d, *record))},
                   {QStringLiteral("downloads"), downloads}});
    });
}

// --- Test controls ------------------------------------------------------------------------------

TestBackend::LibraryItem TestBackend::addArchivedItem(const QString &email,
                                                      const ArchivedFile &raw,
                                                      const std::optional<ArchivedFile> &sidecar)
{
    LibraryItem item;
    item.originalFilename = raw.canonicalFilename;
    item.canonicalFilename = raw.canonicalFilename;
    item.contentHash = referenceSha256(raw.content);
    item.byteCount = raw.content.size();
    if (sidecar) {
        item.sidecarFilename = sidecar->canonicalFilename;
        item.sidecarByteCount = sidecar->content.size();
        item.sidecarContentHash = referenceSha256(sidecar->content);
    }
    item = addLibraryItem(email, item);
    d->objectStore->putObject(rawObjectKey(item), raw.content);
    if (sidecar)
        d->objectStore->putObject(sidecarObjectKey(item), sidecar->content);
    return item;
}

std::optional<RestoreRequest> TestBackend::restoreRequest(qint64 id) const
{
    std::lock_guard lock(d->mutex);
    if (const RestoreRequestStore::RequestRecord *record = d->restore.findRequest(id))
        return toValue(*d, *record);
    return std::nullopt;
}

void TestBackend::setRestoreRequestStatus(qint64 id,
                                          RestoreRequestStatus status,
                                          const std::optional<QString> &attentionReason)
{
    std::lock_guard lock(d->mutex);
    if (RestoreRequestStore::RequestRecord *record = d->restore.findRequest(id)) {
        record->status = status;
        record->attentionReason = attentionReason;
        for (RestoreRequestStore::ItemRecord &item : record->items) {
            item.status = status;
            item.attentionReason.reset();
        }
    }
}

void TestBackend::setRestoreItemStatus(qint64 id,
                                       qint64 libraryItemID,
                                       RestoreRequestStatus status,
                                       const std::optional<QString> &attentionReason)
{
    std::lock_guard lock(d->mutex);
    if (RestoreRequestStore::RequestRecord *record = d->restore.findRequest(id)) {
        for (RestoreRequestStore::ItemRecord &item : record->items) {
            if (item.libraryItemID == libraryItemID) {
                item.status = status;
                item.attentionReason = attentionReason;
            }
        }
    }
}

void TestBackend::setDownloadLifetime(std::optional<std::chrono::seconds> lifetime)
{
    std::lock_guard lock(d->mutex);
    d->restore.downloadLifetime = lifetime;
}

void TestBackend::setPreparationEstimate(const QString &estimate)
{
    std::lock_guard lock(d->mutex);
    d->restore.preparationEstimate = estimate;
}

} // namespace Pellwick::Test
