#include <PellwickApp/Feedback/BackendText.h>
#include <PellwickApp/Feedback/ImportFeedback.h>

#include <QTest>

#include <Support/BackendReplies.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

Error clientError(LibrarySessionClientError::UnexpectedStatus status)
{
    return LibrarySessionClientError{status};
}

Error uploadError(int status)
{
    return PresignedURLUploadError{PresignedURLUploadError::UnexpectedStatus{status}};
}

Error transportError(int curlCode, bool timedOut = false, bool cancelled = false)
{
    return TransportError{curlCode, cancelled, timedOut, u"reason"_s};
}

const StorageFullState fullState{90, 100, 10, u"Storage is full: 90 of 100 bytes used."_s};

QStringList captured;

void capture(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    captured.append(QStringLiteral("%1|%2|%3")
                        .arg(int(type))
                        .arg(QString::fromLatin1(context.category), message));
}

} // namespace

class ImportFeedbackTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void messageAndDiagnostic_data();
    void messageAndDiagnostic();
    void logWritesOnlyTheDiagnostic_data();
    void logWritesOnlyTheDiagnostic();
};

void ImportFeedbackTests::messageAndDiagnostic_data()
{
    QTest::addColumn<Error>("error");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("diagnostic");

    const QString expired = u"Import permission expired. Sign in again, then retry."_s;
    const QString unavailable = u"Pellwick service is unavailable. Retry later."_s;
    const QString uploadFailed
        = u"Import upload could not complete. Keep source media and retry."_s;
    const QString connection = u"Connection failed. Check connection and retry."_s;
    const QString generic = u"Import could not complete. Keep source media and retry."_s;

    QTest::newRow("importer storage full")
        << Error(VerifiedBackupImporterError::storageFull(fullState)) << u"Storage Full"_s
        << u"verified_backup_importer_error=storage_full"_s;
    QTest::newRow("unrecoverable staged import")
        << Error(VerifiedBackupImporterError::unrecoverableStagedImport()) << generic
        << u"verified_backup_importer_error=unrecoverable_staged_import"_s;
    QTest::newRow("import unavailable")
        << Error(LibrarySessionClientError{LibrarySessionClientError::ImportUnavailable{}})
        << u"Import unavailable because your Paid Plan has expired. Renew it, then retry."_s
        << u"library_import_unavailable"_s;
    QTest::newRow("client storage full")
        << Error(LibrarySessionClientError{LibrarySessionClientError::StorageFull{fullState}})
        << fullState.message << u"error_type=LibrarySessionClientError"_s;
    // The backend's own sentence stays one line of sensible length.
    const auto storageFull = [](const QString &text) {
        return Error(
            LibrarySessionClientError{LibrarySessionClientError::StorageFull{{90, 100, 10, text}}});
    };
    const QString longest(maximumShownBackendTextLength, u'x');
    QTest::newRow("storage message over lines")
        << storageFull(u"Storage is full.\r\n\tUpgrade\u0085now."_s)
        << u"Storage is full.   Upgrade now."_s << u"error_type=LibrarySessionClientError"_s;
    QTest::newRow("storage message of the longest shown length")
        << storageFull(longest) << longest << u"error_type=LibrarySessionClientError"_s;
    QTest::newRow("storage message longer than shown")
        << storageFull(longest + QString(1'000'000, u'y')) << longest + u"\u2026"_s
        << u"error_type=LibrarySessionClientError"_s;
    QTest::newRow("storage message cut before half a character")
        << storageFull(QString(maximumShownBackendTextLength - 1, u'x') + u"\U0001F4F7 full"_s)
        << QString(maximumShownBackendTextLength - 1, u'x') + u"\u2026"_s
        << u"error_type=LibrarySessionClientError"_s;

    const QList<std::pair<int, QString>> codes{
        {401, expired},      {403, expired},      {408, unavailable},  {429, unavailable},
        {500, unavailable},  {503, unavailable},  {599, unavailable},  {400, uploadFailed},
        {402, uploadFailed}, {404, uploadFailed}, {407, uploadFailed}, {409, uploadFailed},
        {418, uploadFailed}, {422, uploadFailed}, {428, uploadFailed}, {430, uploadFailed},
        {499, uploadFailed}, {600, uploadFailed}, {200, uploadFailed}, {-1, uploadFailed},
    };
    for (const auto &[code, text] : codes) {
        QTest::addRow("library %d", code)
            << clientError({code}) << text << u"library_http_status=%1"_s.arg(code);
        QTest::addRow("upload %d", code)
            << uploadError(code) << text << u"upload_http_status=%1"_s.arg(code);
    }

    QTest::newRow("timed out flag")
        << transportError(0, true) << connection << u"url_error_code=0"_s;
    QTest::newRow("curl timeout") << transportError(28) << connection << u"url_error_code=28"_s;
    QTest::newRow("connection lost (receive)")
        << transportError(56) << connection << u"url_error_code=56"_s;
    QTest::newRow("connection lost (send)")
        << transportError(55) << connection << u"url_error_code=55"_s;
    QTest::newRow("got nothing") << transportError(52) << connection << u"url_error_code=52"_s;
    QTest::newRow("partial file") << transportError(18) << connection << u"url_error_code=18"_s;
    QTest::newRow("not connected") << transportError(7) << connection << u"url_error_code=7"_s;
    QTest::newRow("host not found") << transportError(6) << generic << u"url_error_code=6"_s;
    QTest::newRow("TLS failure") << transportError(35) << generic << u"url_error_code=35"_s;
    QTest::newRow("cancelled") << transportError(42, false, true) << generic
                               << u"url_error_code=42"_s;

    const QString fullCache
        = u"Import could not complete: no space left in /cache. Keep source media and retry."_s;
    QTest::newRow("full disk") << Error(FileSystemError{u"write"_s, u"/cache/a"_s, 28}) << fullCache
                               << u"posix_error_code=28"_s;
    QTest::newRow("permission") << Error(FileSystemError{u"open"_s, u"/cache/a"_s, 13})
                                << u"Import could not complete: /cache cannot be used (permission "
                                   u"denied). Keep source media and retry."_s
                                << u"posix_error_code=13"_s;
    const FileSystemError fullDisk{u"write"_s, u"/cache/a"_s, 28};
    QTest::newRow("copy-in stopped by a full disk")
        << Error(IngestCacheError::verificationFailed(u"a"_s, ErrorCause(fullDisk))) << fullCache
        << u"posix_error_code=28"_s;
    QTest::newRow("full disk below two mappings") << Error(IngestCacheError::verificationFailed(
        u"a"_s, ErrorCause(IngestCacheError::verificationFailed(u"a"_s, ErrorCause(fullDisk)))))
                                                  << fullCache << u"posix_error_code=28"_s;
    QTest::newRow("copy-in without a cause") << Error(IngestCacheError::verificationFailed(u"a"_s))
                                             << generic << u"error_type=IngestCacheError"_s;
    QTest::newRow("copy-in stopped by a hash mismatch")
        << Error(IngestCacheError::verificationFailed(
               u"a"_s,
               ErrorCause(VerifiedFileCopyError{VerifiedFileCopyError::ContentHashMismatch{}})))
        << generic << u"error_type=IngestCacheError"_s;
    QTest::newRow("decoding") << Error(DecodingError{}) << generic << u"error_type=DecodingError"_s;
    QTest::newRow("cancellation") << Error(CancellationError{}) << generic
                                  << u"error_type=CancellationError"_s;
    QTest::newRow("restore allowance") << Error(LibrarySessionClientError{
        LibrarySessionClientError::RestoreAllowanceExceeded{RestoreAllowanceKind::Paid}})
                                       << generic << u"error_type=LibrarySessionClientError"_s;
    QTest::newRow("restore refused") << Error(LibrarySessionClientError{
        LibrarySessionClientError::RestoreRequestFailed{u"not_found"_s, {}, 404}})
                                     << generic << u"error_type=LibrarySessionClientError"_s;
    QTest::newRow("grace period over") << Error(
        LibrarySessionClientError{LibrarySessionClientError::RestoreUnavailableAfterGracePeriod{}})
                                       << generic << u"error_type=LibrarySessionClientError"_s;
    QTest::newRow("restore coordinator") << Error(
        RestoreRequestCoordinatorError{RestoreRequestCoordinatorError::LocalLibraryCacheConflict{}})
                                         << generic
                                         << u"error_type=RestoreRequestCoordinatorError"_s;
    QTest::newRow("restore transfer") << Error(RestoreTransferError{RestoreTransferError::Paused{}})
                                      << generic << u"error_type=RestoreTransferError"_s;
    QTest::newRow("unexpected exception") << Error(UnexpectedExceptionError{u"boom"_s}) << generic
                                          << u"error_type=UnexpectedExceptionError"_s;
}

void ImportFeedbackTests::messageAndDiagnostic()
{
    QFETCH(Error, error);
    QFETCH(QString, message);
    QFETCH(QString, diagnostic);

    QCOMPARE(ImportFeedback::message(error), message);
    QCOMPARE(ImportFeedback::diagnostic(error), diagnostic);
}

void ImportFeedbackTests::logWritesOnlyTheDiagnostic_data()
{
    QTest::addColumn<Error>("error");
    QTest::addColumn<QString>("line");

    QTest::newRow("full disk") << Error(FileSystemError{u"write"_s, u"/x"_s, 28})
                               << u"Confirmed Import failed: posix_error_code=28"_s;
    QTest::newRow("copy-in stopped by a full disk")
        << Error(IngestCacheError::verificationFailed(
               u"a"_s, ErrorCause(FileSystemError{u"write"_s, u"/x"_s, 28})))
        << u"Confirmed Import failed: posix_error_code=28"_s;
    QTest::newRow("backend storage full")
        << Error(LibrarySessionClientError{LibrarySessionClientError::StorageFull{fullState}})
        << u"Confirmed Import failed: error_type=LibrarySessionClientError"_s;
}

void ImportFeedbackTests::logWritesOnlyTheDiagnostic()
{
    QFETCH(Error, error);
    QFETCH(QString, line);

    captured.clear();
    const QtMessageHandler previous = qInstallMessageHandler(capture);
    ImportFeedback::log(error);
    qInstallMessageHandler(previous);

    QCOMPARE(
        captured,
        QStringList{u"%1|example.pellwick.Pellwick.import|%2"_s.arg(int(QtCriticalMsg)).arg(line)});
    QVERIFY(!captured.first().contains(fullState.message));
}

QTEST_GUILESS_MAIN(ImportFeedbackTests)
#include "ImportFeedbackTests.moc"
