#include "ImportFeedback.h"

#include <PellwickApp/Feedback/BackendText.h>
#include <PellwickApp/Feedback/DiskFeedback.h>
#include <PellwickApp/Stores/PellwickIdentity.h>
#include <PellwickCore/Backend/HttpFetch.h>
#include <PellwickCore/Support/FileManager.h>
#include <PellwickCore/Support/Overloaded.h>

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cstdlib>
#include <memory>
#include <typeinfo>

#include <cxxabi.h>

namespace Pellwick {

namespace {

QString statusMessage(int statusCode)
{
    if (statusCode == 401 || statusCode == 403)
        return QStringLiteral("Import permission expired. Sign in again, then retry.");
    if (statusCode == 408 || statusCode == 429 || (statusCode >= 500 && statusCode <= 599))
        return QStringLiteral("Pellwick service is unavailable. Retry later.");
    return QStringLiteral("Import upload could not complete. Keep source media and retry.");
}

QString genericMessage()
{
    return QStringLiteral("Import could not complete. Keep source media and retry.");
}

/// The folder of `folders` that holds `path` as the user knows it, "the Staging Area
/// (<root>)"; the innermost one when they nest (a default Ingest Cache lies in the library's
/// folder). Else the folder of the file itself.
QString placeOf(const QString &path, const ImportFeedback::Folders &folders)
{
    const QString file = QDir::cleanPath(path);
    const std::pair<QString, QString> named[] = {
        {QStringLiteral("the Staging Area"), folders.stagingArea},
        {QStringLiteral("the library"), folders.library},
        {QStringLiteral("the Ingest Cache"), folders.ingestCache},
    };
    QString place;
    qsizetype matched = -1;
    for (const auto &[name, root] : named) {
        const QString folder = QDir::cleanPath(root);
        if (!root.isEmpty() && folder.size() > matched && isSameOrInside(file, folder)) {
            place = QStringLiteral("%1 (%2)").arg(name, folder);
            matched = folder.size();
        }
    }
    return matched >= 0 ? place : QFileInfo(file).path();
}

QString diskFailureMessage(const FileSystemError &failure, const ImportFeedback::Folders &folders)
{
    const QString place = placeOf(failure.path, folders);
    const QString what
        = DiskFeedback::isOutOfFileEntries(failure)
              ? DiskFeedback::holdsNoMoreFiles(place, *failure.freeBytesWithoutFileEntries)
          : DiskFeedback::isNoSpace(failure.code)
              ? QStringLiteral("no space left in ") + place
              : QStringLiteral("%1 cannot be used (%2)")
                    .arg(place, DiskFeedback::reason(failure.code));
    return QStringLiteral("Import could not complete: ") + what
           + QStringLiteral(". Keep source media and retry.");
}

/// The unqualified name of the error's type, e.g. "DecodingError".
QString errorTypeName(const Error &error)
{
    const char *mangled
        = std::visit([](const auto &value) { return typeid(value).name(); }, error.value);
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), &std::free);
    const QString name = QString::fromLatin1(status == 0 && demangled ? demangled.get() : mangled);
    const qsizetype separator = name.lastIndexOf(QLatin1String("::"));
    return separator < 0 ? name : name.mid(separator + 2);
}

const QLoggingCategory &importCategory()
{
    static const QByteArray name
        = (PellwickIdentity::applicationIdentifier() + QStringLiteral(".import")).toUtf8();
    static const QLoggingCategory category(name.constData());
    return category;
}

} // namespace

QString ImportFeedback::message(const Error &error, const Folders &folders)
{
    if (const auto *importer = error.as<VerifiedBackupImporterError>();
        importer
        && std::holds_alternative<VerifiedBackupImporterError::StorageFull>(importer->value))
        return QStringLiteral("Storage Full");
    if (const auto *client = error.as<LibrarySessionClientError>()) {
        return std::visit(Overloaded{
                              [](const LibrarySessionClientError::ImportUnavailable &) {
                                  return QStringLiteral(
                                      "Import unavailable because your Paid Plan has expired. "
                                      "Renew it, then retry.");
                              },
                              [](const LibrarySessionClientError::StorageFull &full) {
                                  return shownBackendText(full.state.message);
                              },
                              [](const LibrarySessionClientError::UnexpectedStatus &unexpected) {
                                  return statusMessage(unexpected.statusCode);
                              },
                              [](const auto &) { return genericMessage(); },
                          },
                          client->value);
    }
    if (const auto *upload = error.as<PresignedURLUploadError>())
        return statusMessage(
            std::get<PresignedURLUploadError::UnexpectedStatus>(upload->value).status);
    if (const auto *transport = error.as<TransportError>();
        transport && isConnectionFailure(*transport))
        return connectionFailedMessage();
    if (const FileSystemError *fileSystem = DiskFeedback::fileSystemCause(error))
        return diskFailureMessage(*fileSystem, folders);
    return genericMessage();
}

QString ImportFeedback::connectionFailedMessage()
{
    return QStringLiteral("Connection failed. Check connection and retry.");
}

QString ImportFeedback::diagnostic(const Error &error)
{
    if (const auto *importer = error.as<VerifiedBackupImporterError>()) {
        return std::holds_alternative<VerifiedBackupImporterError::StorageFull>(importer->value)
                   ? QStringLiteral("verified_backup_importer_error=storage_full")
                   : QStringLiteral("verified_backup_importer_error=unrecoverable_staged_import");
    }
    if (const auto *client = error.as<LibrarySessionClientError>()) {
        if (std::holds_alternative<LibrarySessionClientError::ImportUnavailable>(client->value))
            return QStringLiteral("library_import_unavailable");
        if (const std::optional<int> code = client->unexpectedStatusCode())
            return QStringLiteral("library_http_status=%1").arg(*code);
    }
    if (const auto *upload = error.as<PresignedURLUploadError>()) {
        return QStringLiteral("upload_http_status=%1")
            .arg(std::get<PresignedURLUploadError::UnexpectedStatus>(upload->value).status);
    }
    if (const auto *transport = error.as<TransportError>())
        return QStringLiteral("url_error_code=%1").arg(transport->curlCode);
    if (const FileSystemError *fileSystem = DiskFeedback::fileSystemCause(error))
        return QStringLiteral("posix_error_code=%1").arg(fileSystem->code);
    return QStringLiteral("error_type=") + errorTypeName(error);
}

void ImportFeedback::log(const Error &error)
{
    qCCritical(importCategory(), "Confirmed Import failed: %s", qUtf8Printable(diagnostic(error)));
}

QString ImportFeedback::importReviewFailedMessage()
{
    return QStringLiteral("Import review failed");
}

QString
ImportFeedback::addedToIngestCacheMessage(qint64 added, qint64 alreadyArchived, qint64 alreadyHeld)
{
    // The plain success text keeps "files" for every count; the texts naming archived or cached
    // copies count in the singular for one.
    if (alreadyArchived == 0 && alreadyHeld == 0)
        return QStringLiteral("Added ") + QString::number(added)
               + QStringLiteral(" files to Ingest Cache");
    const auto files = [](qint64 count) -> QString {
        return QString::number(count)
               + (count == 1 ? QStringLiteral(" file") : QStringLiteral(" files"));
    };
    const auto were = [](qint64 count) -> QString {
        return count == 1 ? QStringLiteral(" was") : QStringLiteral(" were");
    };
    QString text;
    if (added > 0)
        text = QStringLiteral("Added ") + files(added) + QStringLiteral(" to Ingest Cache");
    if (alreadyArchived > 0) {
        const QString archived = files(alreadyArchived) + QStringLiteral(" already archived");
        text = text.isEmpty()
                   ? QString(archived + QStringLiteral("; nothing added to Ingest Cache"))
                   : QString(text + QStringLiteral("; ") + archived);
    }
    if (alreadyHeld == 0)
        return text;
    if (text.isEmpty())
        return files(alreadyHeld) + were(alreadyHeld)
               + QStringLiteral(" already in Ingest Cache; their copies were replaced.");
    return text + QStringLiteral("; ") + QString::number(alreadyHeld) + were(alreadyHeld)
           + QStringLiteral(" already there.");
}

QString ImportFeedback::ingestCacheCopyNeedsAttentionMessage()
{
    return QStringLiteral("Ingest Cache copy needs attention");
}

QString ImportFeedback::selectedCacheFilesChangedMessage()
{
    return QStringLiteral("Selected cache files changed or are missing; Import needs attention");
}

QString ImportFeedback::archivedMessage(qsizetype archived, qint64 pendingCleanups)
{
    return QString::number(archived) + QStringLiteral(" files safely archived; ")
           + (pendingCleanups > 0
                  ? QString::number(pendingCleanups) + QStringLiteral(" cache cleanups will retry")
                  : QStringLiteral("cache cleanup complete"));
}

QString ImportFeedback::archivedNeedingAttentionMessage(qsizetype archived,
                                                        qint64 pendingCleanups,
                                                        qsizetype needingAttention)
{
    return archivedMessage(archived, pendingCleanups) + QStringLiteral("; ")
           + QString::number(needingAttention) + QStringLiteral(" files need attention");
}

QString ImportFeedback::recoveringMessage()
{
    return QStringLiteral("Recovering interrupted Import");
}

QString ImportFeedback::recoveryNeedsAttentionMessage()
{
    return QStringLiteral("Import recovery needs attention");
}

QString ImportFeedback::recoveryCleanupNeedsAttentionMessage()
{
    return QStringLiteral("Archive verified; cache cleanup needs attention");
}

QString ImportFeedback::recoveryCleanupWillRetryMessage()
{
    return QStringLiteral("Archive verified; cache cleanup will retry");
}

QString ImportFeedback::sourceMediaChangedMessage()
{
    return QStringLiteral(
        "Source media changed; do not erase it until it is copied and archived again");
}

} // namespace Pellwick
