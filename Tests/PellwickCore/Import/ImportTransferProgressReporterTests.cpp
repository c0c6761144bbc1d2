#include <PellwickCore/Import/ImportTransferProgressReporter.h>

#include <QMutex>
#include <QTest>

#include <atomic>
#include <functional>
#include <thread>

using namespace Pellwick;
using namespace Qt::StringLiterals;

namespace {

/// The parts of a row that the steps change: phase, file name, file position, run counts.
struct Row
{
    TransferProgressPhase phase;
    std::optional<QString> filename;
    std::optional<qint64> fileCompleted;
    std::optional<qint64> fileTotal;
    qint64 completed;
    qint64 packages;

    bool operator==(const Row &) const = default;
};

using Steps = std::function<void(ImportTransferProgressReporter &)>;
using Rows = QList<Row>;

const QUuid transferID = QUuid::fromString(u"11111111-2222-4333-8444-555555555555");

/// Runs `steps` on a reporter of the given totals and collects its rows, checking the fields
/// every row shares.
Rows rowsOf(const Steps &steps, qint64 totalBytes = 160, qint64 totalPackages = 2)
{
    Rows rows;
    bool sharedFieldsHold = true;
    ImportTransferProgressReporter reporter(
        transferID, totalBytes, totalPackages, [&](const TransferProgress &row) {
            sharedFieldsHold = sharedFieldsHold && row.id == transferID
                               && row.operationName == u"Import to Archive" && !row.detail
                               && row.totalByteCount == totalBytes
                               && row.totalPackageCount == totalPackages;
            rows.append(Row{row.phase,
                            row.currentFilename,
                            row.currentFileCompletedByteCount,
                            row.currentFileTotalByteCount,
                            row.completedByteCount,
                            row.completedPackageCount});
        });
    steps(reporter);
    if (!sharedFieldsHold)
        rows.append(
            Row{TransferProgressPhase::Preparing, u"shared fields wrong"_s, {}, {}, -1, -1});
    return rows;
}

constexpr auto staging = TransferProgressPhase::Staging;
constexpr auto uploading = TransferProgressPhase::Uploading;
constexpr auto verifying = TransferProgressPhase::Verifying;

} // namespace

class ImportTransferProgressReporterTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rows_data();
    void rows();
    void countersMoveWithoutCallback();
    void twoThreadsAddUp();
};

void ImportTransferProgressReporterTests::rows_data()
{
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<Rows>("expected");

    const QString a = u"A.CR3"_s;
    const QString ax = u"A.xmp"_s;
    const QString ap = u"A.CR3.jpg"_s;
    const QString b = u"B.NEF"_s;
    QTest::newRow("two packages, 160 bytes") << Steps([=](ImportTransferProgressReporter &r) {
        r.stage(a);
        r.upload(a, 40, 100);
        r.upload(a, 100, 100);
        r.completeFile(100);
        r.upload(ax, 5, 10);
        r.completeFile(10);
        r.upload(ap, 0, 30);
        r.uploadPreview(ap, 30, 30);
        r.verify(a);
        r.finishPackage(110);
        r.stage(b);
        r.upload(b, 50, 50);
        r.completeFile(50);
        r.verify(b);
        r.finishPackage(50);
    })
                                             << Rows{{staging, a, {}, {}, 0, 0},
                                                     {uploading, a, 40, 100, 40, 0},
                                                     {uploading, a, 100, 100, 100, 0},
                                                     {uploading, ax, 5, 10, 105, 0},
                                                     {uploading, ap, 0, 30, 110, 0},
                                                     {uploading, ap, 30, 30, 110, 0},
                                                     {verifying, a, {}, {}, 0, 0},
                                                     {verifying, {}, {}, {}, 110, 1},
                                                     {staging, b, {}, {}, 110, 1},
                                                     {uploading, b, 50, 50, 160, 1},
                                                     {verifying, b, {}, {}, 110, 1},
                                                     {verifying, {}, {}, {}, 160, 2}};

    QTest::newRow("identical positions once, again after completeFile")
        << Steps([=](ImportTransferProgressReporter &r) {
               r.upload(a, 10, 100);
               r.upload(a, 10, 100);
               r.completeFile(100);
               r.upload(a, 10, 100);
           })
        << Rows{{uploading, a, 10, 100, 10, 0}, {uploading, a, 10, 100, 110, 0}};
    QTest::newRow("only the total changed") << Steps([=](ImportTransferProgressReporter &r) {
        r.upload(a, 10, 100);
        r.upload(a, 10, 101);
        r.upload(ax, 10, 101);
    })
                                            << Rows{{uploading, a, 10, 100, 10, 0},
                                                    {uploading, a, 10, 101, 10, 0},
                                                    {uploading, ax, 10, 101, 10, 0}};
    QTest::newRow("preview positions never suppressed")
        << Steps([=](ImportTransferProgressReporter &r) {
               r.uploadPreview(ap, 5, 30);
               r.uploadPreview(ap, 5, 30);
               r.upload(ap, 5, 30);
               r.uploadPreview(ap, 5, 30);
               r.upload(ap, 5, 30);
           })
        << Rows{{uploading, ap, 5, 30, 0, 0},
                {uploading, ap, 5, 30, 0, 0},
                {uploading, ap, 5, 30, 5, 0},
                {uploading, ap, 5, 30, 0, 0}};
    QTest::newRow("finish counts the completed files when larger")
        << Steps([](ImportTransferProgressReporter &r) {
               r.completeFile(60);
               r.completeFile(60);
               r.finishPackage(100);
               r.completeFile(60);
               r.finishPackage(100);
           })
        << Rows{{verifying, {}, {}, {}, 120, 1}, {verifying, {}, {}, {}, 220, 2}};
    QTest::newRow("finish leaves the last position")
        << Steps([=](ImportTransferProgressReporter &r) {
               r.upload(a, 10, 10);
               r.finishPackage(10);
               r.upload(a, 10, 10);
           })
        << Rows{{uploading, a, 10, 10, 10, 0}, {verifying, {}, {}, {}, 10, 1}};
    QTest::newRow("three packages count 0, 1, 2, 3")
        << Steps([=](ImportTransferProgressReporter &r) {
               for (int i = 0; i < 3; ++i) {
                   r.stage(a);
                   r.finishPackage(1);
               }
           })
        << Rows{{staging, a, {}, {}, 0, 0},
                {verifying, {}, {}, {}, 1, 1},
                {staging, a, {}, {}, 1, 1},
                {verifying, {}, {}, {}, 2, 2},
                {staging, a, {}, {}, 2, 2},
                {verifying, {}, {}, {}, 3, 3}};
}

void ImportTransferProgressReporterTests::rows()
{
    QFETCH(Steps, steps);
    QFETCH(Rows, expected);
    const Rows actual = rowsOf(steps);
    QCOMPARE(actual.size(), expected.size());
    for (qsizetype i = 0; i < actual.size(); ++i)
        QVERIFY2(actual.at(i) == expected.at(i), qPrintable(u"row %1"_s.arg(i)));
}

void ImportTransferProgressReporterTests::countersMoveWithoutCallback()
{
    ImportTransferProgressReporter reporter(transferID, 10, 1);
    reporter.upload(u"a"_s, 5, 10);
    reporter.completeFile(10);
    reporter.finishPackage(4);
    QCOMPARE(reporter.completedByteCount(), 10);
    QCOMPARE(reporter.completedPackageCount(), 1);
}

void ImportTransferProgressReporterTests::twoThreadsAddUp()
{
    // One thread reports positions as an upload's progress callback would, while the importer's
    // thread completes files and packages.
    constexpr int packages = 200;
    constexpr qint64 fileBytes = 1000;
    QMutex mutex;
    QList<TransferProgress> rows;
    ImportTransferProgressReporter reporter(
        transferID, packages * fileBytes, packages, [&](const TransferProgress &row) {
            const QMutexLocker lock(&mutex);
            rows.append(row);
        });
    std::atomic<bool> done = false;
    std::thread progress([&] {
        qint64 position = 0;
        while (!done.load()) {
            reporter.upload(u"a"_s, position % fileBytes, fileBytes);
            ++position;
        }
    });
    for (int i = 0; i < packages; ++i) {
        reporter.completeFile(fileBytes);
        reporter.finishPackage(fileBytes);
    }
    done = true;
    progress.join();

    QCOMPARE(reporter.completedByteCount(), packages * fileBytes);
    QCOMPARE(reporter.completedPackageCount(), packages);
    // Finished packages never go backwards, and a row never claims more than the bytes of the
    // packages finished when it was built plus those of the package in progress.
    qint64 lastPackages = 0;
    for (const TransferProgress &row : rows) {
        QVERIFY(row.completedPackageCount >= lastPackages);
        lastPackages = row.completedPackageCount;
        QVERIFY(row.completedByteCount >= row.completedPackageCount * fileBytes);
        QVERIFY(row.completedByteCount <= (row.completedPackageCount + 2) * fileBytes);
    }
    QCOMPARE(rows.last().completedPackageCount, packages);
}

QTEST_GUILESS_MAIN(ImportTransferProgressReporterTests)
#include "ImportTransferProgressReporterTests.moc"
