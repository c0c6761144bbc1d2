#include <QTest>

#include <cerrno>
#include <cstring>

#include <Support/TestErrors.h>

using namespace Pellwick;
using namespace Qt::StringLiterals;

namespace {

Error verificationFailed(ErrorCause cause = {})
{
    return IngestCacheError::verificationFailed(u"DCIM/IMG_0001.CR3"_s, std::move(cause));
}

const FileSystemError fullDisk{u"write"_s, u"/cache/.IMG_0001.CR3.pellwick-partial"_s, ENOSPC};

} // namespace

class ErrorTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void describeReachesEveryKind_data();
    void describeReachesEveryKind();
    void causeIsKeptButNotCompared_data();
    void causeIsKeptButNotCompared();
};

void ErrorTests::describeReachesEveryKind_data()
{
    QTest::addColumn<Error>("error");
    QTest::addColumn<QString>("text");

    QTest::newRow("decoding") << Error(
        DecodingError{DecodingError::Kind::KeyNotFound, u"user.id"_s, u"missing"_s})
                              << u"decoding failed (key not found) at \"user.id\": missing"_s;
    QTest::newRow("transport") << Error(TransportError{28, false, true, u"idle"_s})
                               << u"transport error 28 (timed out): idle"_s;
    QTest::newRow("cancellation") << Error(CancellationError{}) << u"cancelled"_s;
    QTest::newRow("verified copy")
        << Error(VerifiedFileCopyError{VerifiedFileCopyError::ContentHashMismatch{}})
        << u"content hash mismatch"_s;
    QTest::newRow("library session client")
        << Error(LibrarySessionClientError{LibrarySessionClientError::UnexpectedStatus{502}})
        << u"unexpected status 502"_s;
    QTest::newRow("presigned upload")
        << Error(PresignedURLUploadError{PresignedURLUploadError::UnexpectedStatus{403}})
        << u"upload_http_status=403"_s;
    QTest::newRow("ingest cache") << Error(IngestCacheError::insufficientCapacity(100, 40))
                                  << u"insufficient capacity: 100 bytes required, 40 available"_s;
    QTest::newRow("restore transfer")
        << Error(RestoreTransferError{RestoreTransferError::ByteCountMismatch{10, -1}})
        << u"byte count mismatch: 10 expected, -1 found"_s;
    QTest::newRow("verified backup importer")
        << Error(VerifiedBackupImporterError::unrecoverableStagedImport())
        << u"unrecoverable staged import"_s;
    QTest::newRow("restore request coordinator") << Error(
        RestoreRequestCoordinatorError{RestoreRequestCoordinatorError::NoRestorableItems{}})
                                                 << u"no restorable items"_s;
}

void ErrorTests::describeReachesEveryKind()
{
    QFETCH(Error, error);
    QFETCH(QString, text);
    QCOMPARE(describe(error), text);
    QCOMPARE(error.cause(), nullptr);
}

void ErrorTests::causeIsKeptButNotCompared_data()
{
    QTest::addColumn<Error>("error");
    QTest::addColumn<int>("causeCode");  ///< errno of the file-system failure kept, 0 for none
    QTest::addColumn<QString>("suffix"); ///< how the description ends

    QTest::newRow("no cause") << verificationFailed() << 0
                              << u"verification failed for DCIM/IMG_0001.CR3"_s;
    QTest::newRow("full disk") << verificationFailed(ErrorCause(fullDisk)) << ENOSPC
                               << u".pellwick-partial: %1 (errno %2))"_s
                                      .arg(QString::fromLocal8Bit(std::strerror(ENOSPC)))
                                      .arg(ENOSPC);
    QTest::newRow("hash mismatch") << verificationFailed(
        ErrorCause(VerifiedFileCopyError{VerifiedFileCopyError::ContentHashMismatch{}}))
                                   << 0 << u"(cause: content hash mismatch)"_s;
    QTest::newRow("cause of a cause")
        << verificationFailed(ErrorCause(verificationFailed(ErrorCause(fullDisk)))) << 0
        << u"(errno %1)))"_s.arg(ENOSPC);
}

void ErrorTests::causeIsKeptButNotCompared()
{
    QFETCH(Error, error);
    QFETCH(int, causeCode);
    QFETCH(QString, suffix);

    QCOMPARE(error, verificationFailed());
    const QString text = describe(error);
    QVERIFY2(text.startsWith(u"verification failed for DCIM/IMG_0001.CR3"_s), qPrintable(text));
    QVERIFY2(text.endsWith(suffix), qPrintable(text));
    const Error *cause = error.cause();
    const FileSystemError *fileSystem = cause ? cause->as<FileSystemError>() : nullptr;
    QCOMPARE(fileSystem ? fileSystem->code : 0, causeCode);

    // Copies share the kept failure.
    const Error copy = error;
    QCOMPARE(copy.cause(), error.cause());
}

QTEST_GUILESS_MAIN(ErrorTests)
#include "ErrorTests.moc"
