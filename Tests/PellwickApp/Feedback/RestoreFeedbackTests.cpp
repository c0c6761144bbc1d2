#include <PellwickApp/Feedback/BackendText.h>
#include <PellwickApp/Feedback/RestoreFeedback.h>

#include <QTest>

using namespace Pellwick;
using namespace Qt::StringLiterals;

namespace {

Error status(int code)
{
    return LibrarySessionClientError{LibrarySessionClientError::UnexpectedStatus{code}};
}

Error refused(const QString &code,
              std::optional<QString> reason = std::nullopt,
              int statusCode = 422)
{
    return LibrarySessionClientError{
        LibrarySessionClientError::RestoreRequestFailed{code, std::move(reason), statusCode}};
}

Error clientCase(LibrarySessionClientError error)
{
    return error;
}

} // namespace

class RestoreFeedbackTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void message_data();
    void message();
    void operationMessage_data();
    void operationMessage();
};

void RestoreFeedbackTests::message_data()
{
    QTest::addColumn<Error>("error");
    QTest::addColumn<QString>("expected");

    QTest::newRow("401") << status(
        401) << u"Restore Request failed because sign-in expired. Sign in again, then try again."_s;
    QTest::newRow("403")
        << status(403)
        << u"Restore Request was denied (HTTP 403). Check plan and sign-in status, then try again."_s;
    QTest::newRow("404")
        << status(404)
        << u"Restore Request could not start (HTTP 404). Refresh Local Library Cache, then try again."_s;
    QTest::newRow("422")
        << status(422)
        << u"Restore Request could not start (HTTP 422). Refresh Local Library Cache, then try again."_s;
    QTest::newRow("408")
        << status(408)
        << u"Restore Request could not start because service is busy. Wait a moment, then try again."_s;
    QTest::newRow("429")
        << status(429)
        << u"Restore Request could not start because service is busy. Wait a moment, then try again."_s;
    QTest::newRow("500")
        << status(500)
        << u"Restore Request could not start because Pellwick service is unavailable. Try again later."_s;
    QTest::newRow("503")
        << status(503)
        << u"Restore Request could not start because Pellwick service is unavailable. Try again later."_s;
    QTest::newRow("599")
        << status(599)
        << u"Restore Request could not start because Pellwick service is unavailable. Try again later."_s;
    QTest::newRow("418")
        << status(418)
        << u"Restore Request failed (HTTP 418). Try again; if it continues, contact support."_s;
    QTest::newRow("402")
        << status(402)
        << u"Restore Request failed (HTTP 402). Try again; if it continues, contact support."_s;
    QTest::newRow("600")
        << status(600)
        << u"Restore Request failed (HTTP 600). Try again; if it continues, contact support."_s;
    QTest::newRow("-1") << status(
        -1) << u"Restore Request failed (HTTP -1). Try again; if it continues, contact support."_s;
    QTest::newRow("storage full")
        << clientCase({LibrarySessionClientError::StorageFull{}})
        << u"Restore Request could not start because Managed Archive Storage is full. Review storage plan, then try again."_s;
    QTest::newRow("paid allowance")
        << clientCase(
               {LibrarySessionClientError::RestoreAllowanceExceeded{RestoreAllowanceKind::Paid}})
        << u"Restore Allowance reached. Wait for next plan year or contact support."_s;
    QTest::newRow("trial allowance")
        << clientCase(
               {LibrarySessionClientError::RestoreAllowanceExceeded{RestoreAllowanceKind::Trial}})
        << u"Trial Restore Allowance reached. Start a Paid Plan to restore more RAW Originals."_s;
    QTest::newRow("import unavailable")
        << clientCase({LibrarySessionClientError::ImportUnavailable{}})
        << u"Restore Request could not start because Imports are unavailable. Check plan status, then try again."_s;
    QTest::newRow("grace period")
        << clientCase({LibrarySessionClientError::RestoreUnavailableAfterGracePeriod{}})
        << u"Restore unavailable: Billing Grace Period ended. Renew plan to restore RAW Originals."_s;

    using C = RestoreRequestCoordinatorError;
    const QString localConflict
        = u"Restore cannot continue because Local Library Cache has conflicting items. Refresh Local Library Cache, then try again."_s;
    const QString requestConflict
        = u"Restore cannot continue because Restore Request has conflicting items. Contact support, then try again."_s;
    QTest::newRow("local library conflict")
        << Error(C{C::LocalLibraryCacheConflict{}}) << localConflict;
    QTest::newRow("request item conflict")
        << Error(C{C::RestoreRequestItemConflict{}}) << requestConflict;
    QTest::newRow("no restorable items")
        << Error(C{C::NoRestorableItems{}})
        << u"Restore Request could not start. Check internet connection, then try again."_s;
    QTest::newRow("destination conflict")
        << Error(C{C::DestinationFilenameConflict{7, u"/r/a.NEF"_s, u"a-restored.NEF"_s}})
        << u"Restore Request could not start. Check internet connection, then try again."_s;

    const QString network
        = u"Restore Request could not start. Check internet connection, then try again."_s;
    QTest::newRow("network") << Error(TransportError{7, false, false, {}}) << network;
    QTest::newRow("timed out") << Error(TransportError{28, false, true, {}}) << network;
    QTest::newRow("decoding") << Error(DecodingError{}) << network;
    QTest::newRow("file system") << Error(FileSystemError{u"open"_s, u"/x"_s, 28})
                                 << u"Restore Request could not start: /x: no space left."_s;
    QTest::newRow("upload status")
        << Error(PresignedURLUploadError{PresignedURLUploadError::UnexpectedStatus{404}})
        << network;
}

void RestoreFeedbackTests::message()
{
    QFETCH(Error, error);
    QFETCH(QString, expected);
    QCOMPARE(RestoreFeedback::message(error), expected);
}

void RestoreFeedbackTests::operationMessage_data()
{
    QTest::addColumn<Error>("error");
    QTest::addColumn<QString>("operation"); // empty: `message(for:)`
    QTest::addColumn<QString>("expected");

    const QString retry = u"Restore retry"_s;
    const QString refresh = u"Restore refresh"_s;
    const QString rebuild = u"Local Library Cache rebuild"_s;

    QTest::newRow("429 retry")
        << status(429) << retry
        << u"Restore retry failed because service is busy. Wait a moment, then try again."_s;
    QTest::newRow("408 refresh")
        << status(408) << refresh
        << u"Restore refresh failed because service is busy. Wait a moment, then try again."_s;
    QTest::newRow("401 cancellation")
        << status(401) << u"Restore cancellation"_s
        << u"Restore cancellation failed because sign-in expired. Sign in again, then try again."_s;
    QTest::newRow("403 library refresh")
        << status(403) << u"Library refresh"_s
        << u"Library refresh was denied (HTTP 403). Check plan and sign-in status, then try again."_s;
    QTest::newRow("404 rebuild")
        << status(404) << rebuild
        << u"Local Library Cache rebuild failed (HTTP 404). Refresh Local Library Cache, then try again."_s;
    QTest::newRow("422 refresh")
        << status(422) << refresh
        << u"Restore refresh failed (HTTP 422). Refresh Local Library Cache, then try again."_s;
    QTest::newRow("503 refresh")
        << status(503) << refresh
        << u"Restore refresh failed because Pellwick service is unavailable. Try again later."_s;
    QTest::newRow("418 refresh")
        << status(418) << refresh
        << u"Restore refresh failed (HTTP 418). Try again; if it continues, contact support."_s;
    QTest::newRow("-1 refresh")
        << status(-1) << refresh
        << u"Restore refresh failed (HTTP -1). Try again; if it continues, contact support."_s;
    QTest::newRow("storage full with operation")
        << clientCase({LibrarySessionClientError::StorageFull{}}) << retry
        << u"Restore Request could not start because Managed Archive Storage is full. Review storage plan, then try again."_s;
    QTest::newRow("paid allowance with operation")
        << clientCase(
               {LibrarySessionClientError::RestoreAllowanceExceeded{RestoreAllowanceKind::Paid}})
        << retry << u"Restore Allowance reached. Wait for next plan year or contact support."_s;
    QTest::newRow("trial allowance with operation")
        << clientCase(
               {LibrarySessionClientError::RestoreAllowanceExceeded{RestoreAllowanceKind::Trial}})
        << retry
        << u"Trial Restore Allowance reached. Start a Paid Plan to restore more RAW Originals."_s;
    QTest::newRow("import unavailable with operation")
        << clientCase({LibrarySessionClientError::ImportUnavailable{}}) << refresh
        << u"Restore Request could not start because Imports are unavailable. Check plan status, then try again."_s;
    QTest::newRow("grace period with operation")
        << clientCase({LibrarySessionClientError::RestoreUnavailableAfterGracePeriod{}}) << refresh
        << u"Restore unavailable: Billing Grace Period ended. Renew plan to restore RAW Originals."_s;
    QTest::newRow("local library conflict with operation")
        << Error(RestoreRequestCoordinatorError{
               RestoreRequestCoordinatorError::LocalLibraryCacheConflict{}})
        << refresh
        << u"Restore cannot continue because Local Library Cache has conflicting items. Refresh Local Library Cache, then try again."_s;
    QTest::newRow("request item conflict with operation")
        << Error(RestoreRequestCoordinatorError{
               RestoreRequestCoordinatorError::RestoreRequestItemConflict{}})
        << retry
        << u"Restore cannot continue because Restore Request has conflicting items. Contact support, then try again."_s;
    QTest::newRow("no restorable items with operation")
        << Error(
               RestoreRequestCoordinatorError{RestoreRequestCoordinatorError::NoRestorableItems{}})
        << retry << u"Restore retry failed. Check internet connection, then try again."_s;
    QTest::newRow("network with operation")
        << Error(TransportError{56, false, false, {}}) << u"Restore cancellation"_s
        << u"Restore cancellation failed. Check internet connection, then try again."_s;
    QTest::newRow("decoding with operation")
        << Error(DecodingError{}) << rebuild
        << u"Local Library Cache rebuild failed. Check internet connection, then try again."_s;

    // Every backend error word, with and without an operation.
    struct Word
    {
        const char *code;
        QString withOperation;
        QString without;
    };

    const QList<Word> words{
        {"active_restore_request",
         u"Another Restore Request is active. Refresh Restore, then finish or cancel it before starting another."_s,
         {}},
        {"not_verified_backup",
         u"Selected RAW Original is not a Verified Backup. Refresh Local Library Cache, choose a Verified Backup, then try again."_s,
         {}},
        {"not_found",
         u"Restore Request no longer exists. Refresh Local Library Cache, then create a new Restore Request."_s,
         u"Selected RAW Original is no longer in your Library. Refresh Local Library Cache, then choose it again."_s},
        {"empty_restore_request",
         u"Choose at least one Verified Backup before starting Restore."_s,
         {}},
        {"restore_request_not_cancellable",
         u"Restore Request already completed before it could be stopped. Refresh Restore to see its final status."_s,
         {}},
        {"restore_request_not_retryable",
         u"Restore Request can retry only when it Needs Attention. Refresh Restore to see current status."_s,
         {}},
        {"restore_not_ready",
         u"Restore Request is still preparing. Wait for Ready before starting Restore Transfer."_s,
         {}},
        {"teapot",
         u"Restore refresh failed (HTTP 418). Try again; if it continues, contact support."_s,
         u"Restore Request could not start (HTTP 418). Try again; if it continues, contact support."_s},
        {"Not_Found",
         u"Restore refresh failed (HTTP 418). Try again; if it continues, contact support."_s,
         u"Restore Request could not start (HTTP 418). Try again; if it continues, contact support."_s},
    };
    for (const Word &word : words) {
        const Error error = refused(QString::fromLatin1(word.code), u"ignored_reason"_s, 418);
        QTest::addRow("%s with operation", word.code) << error << refresh << word.withOperation;
        QTest::addRow("%s without operation", word.code)
            << error << QString() << (word.without.isEmpty() ? word.withOperation : word.without);
    }

    const QString twoWords
        = u"Restore unavailable: two words. Check plan status, then try again."_s;
    const QString noReason
        = u"Restore unavailable: no reason returned. Check plan status, then try again."_s;
    QTest::newRow("restore_unavailable two_words")
        << refused(u"restore_unavailable"_s, u"two_words"_s) << QString() << twoWords;
    QTest::newRow("restore_unavailable two_words with operation")
        << refused(u"restore_unavailable"_s, u"two_words"_s) << retry << twoWords;
    QTest::newRow("restore_unavailable no reason")
        << refused(u"restore_unavailable"_s) << QString() << noReason;
    QTest::newRow("restore_unavailable no reason with operation")
        << refused(u"restore_unavailable"_s) << retry << noReason;
    QTest::newRow("restore_unavailable every underscore")
        << refused(u"restore_unavailable"_s, u"_plan__expired_"_s) << QString()
        << u"Restore unavailable:  plan  expired . Check plan status, then try again."_s;
    QTest::newRow("restore_unavailable empty reason")
        << refused(u"restore_unavailable"_s, QString()) << QString()
        << u"Restore unavailable: . Check plan status, then try again."_s;
    // Whatever a backend sends as its reason stays one line of sensible length.
    QTest::newRow("restore_unavailable reason with line breaks and controls")
        << refused(u"restore_unavailable"_s, u"plan\r\nexpired\t\x1b[2J"_s) << retry
        << u"Restore unavailable: plan  expired  [2J. Check plan status, then try again."_s;
    const QString longest(maximumShownBackendTextLength, u'x');
    QTest::newRow("restore_unavailable reason of the longest shown length")
        << refused(u"restore_unavailable"_s, longest) << QString()
        << u"Restore unavailable: "_s + longest + u". Check plan status, then try again."_s;
    QTest::newRow("restore_unavailable reason longer than shown")
        << refused(u"restore_unavailable"_s, longest + QString(100'000, u'y')) << QString()
        << u"Restore unavailable: "_s + longest + u"\u2026. Check plan status, then try again."_s;
}

void RestoreFeedbackTests::operationMessage()
{
    QFETCH(Error, error);
    QFETCH(QString, operation);
    QFETCH(QString, expected);

    if (operation.isEmpty())
        QCOMPARE(RestoreFeedback::message(error), expected);
    else
        QCOMPARE(RestoreFeedback::operationMessage(error, operation), expected);
}

QTEST_GUILESS_MAIN(RestoreFeedbackTests)
#include "RestoreFeedbackTests.moc"
