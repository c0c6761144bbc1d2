#include <PellwickApp/Feedback/TransferProgressPresentation.h>

#include <QLocale>
#include <QTest>

#include <limits>

using namespace Pellwick;
using namespace Qt::StringLiterals;

namespace {

using Phase = TransferProgressPhase;

struct MessageCase
{
    Phase phase = Phase::Copying;
    std::optional<QString> detail = std::nullopt;
    std::optional<QString> currentFilename = std::nullopt;
    std::optional<qint64> currentFileCompletedByteCount = std::nullopt;
    std::optional<qint64> currentFileTotalByteCount = std::nullopt;
    qint64 completedByteCount = 0;
    qint64 totalByteCount = 0;
    qint64 completedPackageCount = 0;
    qint64 totalPackageCount = 0;
    bool currentFileIsPreview = false;
    QString message = {};
};

TransferProgress progress(const MessageCase &row)
{
    TransferProgress value;
    value.id = QUuid::createUuid();
    value.operationName = u"Import"_s;
    value.phase = row.phase;
    value.detail = row.detail;
    value.currentFilename = row.currentFilename;
    value.currentFileCompletedByteCount = row.currentFileCompletedByteCount;
    value.currentFileTotalByteCount = row.currentFileTotalByteCount;
    value.completedByteCount = row.completedByteCount;
    value.totalByteCount = row.totalByteCount;
    value.completedPackageCount = row.completedPackageCount;
    value.totalPackageCount = row.totalPackageCount;
    value.currentFileIsPreview = row.currentFileIsPreview;
    return value;
}

constexpr qint64 largest = std::numeric_limits<qint64>::max();

} // namespace

Q_DECLARE_METATYPE(MessageCase)

class TransferProgressPresentationTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void message_data()
    {
        QTest::addColumn<MessageCase>("row");
        QTest::addColumn<bool>("german");
        const QList<std::pair<const char *, MessageCase>> rows{
            {"copying with every clause",
             {.currentFilename = u"IMG_0001.CR3"_s,
              .currentFileCompletedByteCount = 12582912,
              .currentFileTotalByteCount = 26214400,
              .completedByteCount = 1610612736,
              .totalByteCount = 4294967296,
              .completedPackageCount = 3,
              .totalPackageCount = 40,
              .message = u"Copying IMG_0001.CR3 — 12 MB of 25 MB current file; 1.5 GB of 4 GB, "
                         u"3 of 40 packages"_s}},
            {"uploading files",
             {.phase = Phase::Uploading,
              .totalByteCount = 2048,
              .message = u"Uploading files — 0 B of 2 KB"_s}},
            {"preparing with detail",
             {.phase = Phase::Preparing,
              .detail = u"in about 4 hours"_s,
              .totalPackageCount = 2,
              .message = u"Preparing — estimated ready in about 4 hours, 0 of 2 packages"_s}},
            {"preparing without detail",
             {.phase = Phase::Preparing, .currentFilename = u"a.CR3"_s, .message = u"Preparing"_s}},
            {"detail ignored outside preparing",
             {.phase = Phase::Verifying, .detail = u"soon"_s, .message = u"Verifying files"_s}},
            {"total packages 0",
             {.phase = Phase::Assembling,
              .completedPackageCount = 1,
              .message = u"Assembling files"_s}},
            {"total packages -1",
             {.phase = Phase::Assembling,
              .completedPackageCount = 1,
              .totalPackageCount = -1,
              .message = u"Assembling files"_s}},
            {"1 of 1 stays plural",
             {.phase = Phase::Staging,
              .completedPackageCount = 1,
              .totalPackageCount = 1,
              .message = u"Staging files, 1 of 1 packages"_s}},
            {"staging without filename",
             {.phase = Phase::Staging,
              .completedPackageCount = 2,
              .totalPackageCount = 5,
              .message = u"Staging files, 2 of 5 packages"_s}},
            {"only one current-file count",
             {.phase = Phase::Downloading,
              .currentFilename = u"IMG_0002.CR3"_s,
              .currentFileCompletedByteCount = 10,
              .completedByteCount = 1024,
              .totalByteCount = 1024,
              .message = u"Downloading IMG_0002.CR3 — 1 KB of 1 KB"_s}},
            {"a preview is named by its photo",
             {.phase = Phase::Uploading,
              .currentFilename = u"IMG_0015.DNG"_s,
              .currentFileCompletedByteCount = 0,
              .currentFileTotalByteCount = 60928,
              .currentFileIsPreview = true,
              .message = u"Uploading IMG_0015.DNG, preview — 0 B of 59.5 KB current file; 0 B of "
                         u"0 B"_s}},
            {"empty filename counts as present",
             {.currentFilename = u""_s, .message = u"Copying  — 0 B of 0 B"_s}},
            {"copying total 0", {.message = u"Copying files — 0 B of 0 B"_s}},
            {"negative counts",
             {.currentFileCompletedByteCount = -5,
              .currentFileTotalByteCount = -1,
              .completedByteCount = -100,
              .totalByteCount = -1,
              .completedPackageCount = -3,
              .totalPackageCount = 2,
              .message
              = u"Copying files — 0 B of 0 B current file; 0 B of 0 B, -3 of 2 packages"_s}},
            {"totals near 2^63",
             {.phase = Phase::Uploading,
              .completedByteCount = largest,
              .totalByteCount = largest,
              .completedPackageCount = 1234567,
              .totalPackageCount = largest,
              .message = u"Uploading files — 8589934592 GB of 8589934592 GB, 1234567 of "
                         u"9223372036854775807 packages"_s}},
        };
        for (const bool german : {false, true}) {
            for (const auto &[name, row] : rows) {
                QTest::addRow("%s%s", name, german ? " (German locale)" : "") << row << german;
            }
        }
    }

    void message()
    {
        QFETCH(MessageCase, row);
        QFETCH(bool, german);
        if (german)
            QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(TransferProgressPresentation::message(progress(row)), row.message);
    }
};

QTEST_GUILESS_MAIN(TransferProgressPresentationTests)
#include "TransferProgressPresentationTests.moc"
