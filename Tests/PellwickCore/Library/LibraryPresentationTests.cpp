#include <PellwickCore/Library/LibraryPresentation.h>
#include <PellwickCore/Library/LocalLibraryItem.h>

#include <QLocale>
#include <QTest>

#include <clocale>

#include <Support/LibraryFixtures.h>

using namespace Pellwick;
using namespace Pellwick::Test;
namespace P = Pellwick::LibraryPresentation;
using Tone = LibraryPresentationTone;

class LibraryPresentationTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void importStatusTexts_data();
    void importStatusTexts();
    void safetyTitles_data();
    void safetyTitles();
    void restoreStatusTexts_data();
    void restoreStatusTexts();
    void restoreActions_data();
    void restoreActions();
    void importReviewRows_data();
    void importReviewRows();
    void importReviewHeaderAndFooter_data();
    void importReviewHeaderAndFooter();
    void byteTexts_data();
    void byteTexts();
    void byteTextsIgnoreLocales();
    void paidPlan();
};

Q_DECLARE_METATYPE(std::optional<RestoreRequestStatus>)
Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

using S = LibraryItemImportStatus;
using R = RestoreRequestStatus;

ImportReviewItem reviewItem(ImportReviewItemStatus status,
                            std::optional<ImportReviewSidecar> sidecar = std::nullopt,
                            qint64 bytes = 1000)
{
    return ImportReviewItem(QStringLiteral("CARD"),
                            QStringLiteral("/media/CARD/a"),
                            QStringLiteral("a"),
                            bytes,
                            status,
                            sidecar,
                            QStringLiteral("a"));
}

const ImportReviewItemStatus supported = ImportReviewItemStatus::supported();
const ImportReviewItemStatus unpaired
    = ImportReviewItemStatus::unsupported(ImportReviewUnsupportedReason::UnpairedSidecar);
const ImportReviewItemStatus excluded
    = ImportReviewItemStatus::unsupported(ImportReviewUnsupportedReason::ExcludedBackupTarget);

ImportReview review(int volumes, QList<ImportReviewItemStatus> statuses)
{
    ImportReview result;
    for (int i = 0; i < volumes; ++i) {
        result.volumes.append({QStringLiteral("Card %1").arg(i + 1),
                               QStringLiteral("/media/ana/Card %1").arg(i + 1),
                               std::nullopt});
    }
    for (const ImportReviewItemStatus &status : statuses)
        result.items.append(reviewItem(status));
    return result;
}

} // namespace

void LibraryPresentationTests::importStatusTexts_data()
{
    QTest::addColumn<S>("status");
    QTest::addColumn<QString>("title");
    QTest::addColumn<Tone>("tone");
    QTest::addColumn<QString>("symbol");

    QTest::newRow("ready") << S::LocalCacheReady << "Local Cache — Ready to Import" << Tone::Active
                           << "tray.full";
    QTest::newRow("uploading") << S::Uploading << "Local Cache — Uploading" << Tone::Active
                               << "arrow.up.circle";
    QTest::newRow("verifying") << S::Verifying << "Online Archive — Verifying" << Tone::Active
                               << "arrow.up.circle";
    QTest::newRow("verified") << S::VerifiedBackup << "Online Archive — Verified" << Tone::Positive
                              << "checkmark.icloud";
    QTest::newRow("cleanup") << S::CleanupPending << "Online Archive — Cache Cleanup Pending"
                             << Tone::Attention << "exclamationmark.triangle";
    QTest::newRow("attention") << S::NeedsAttention << "Local Cache — Needs Attention"
                               << Tone::Attention << "exclamationmark.triangle";
    QTest::newRow("duplicate") << S::Duplicate << "Online Archive — Already Archived"
                               << Tone::Secondary << "doc.on.doc";
}

void LibraryPresentationTests::importStatusTexts()
{
    QFETCH(S, status);
    QFETCH(QString, title);
    QFETCH(Tone, tone);
    QFETCH(QString, symbol);

    QCOMPARE(P::importStatusTitle(status).toUtf8(), title.toUtf8());
    QVERIFY(title.contains(QChar(0x2014)));
    QCOMPARE(P::importStatusTone(status), tone);
    QCOMPARE(P::importStatusSymbol(status), symbol);
}

void LibraryPresentationTests::safetyTitles_data()
{
    QTest::addColumn<S>("status");
    // 0 none, 1 current, 2 changed, 3 current but naming a sidecar the archive does not hold
    QTest::addColumn<int>("evidence");
    QTest::addColumn<QString>("statusTitle");
    QTest::addColumn<QString>("itemTitle");

    const QString safe = QStringLiteral("Safe to erase source media");
    const QString keep = QStringLiteral("Keep source media");
    const QString cleanup = QStringLiteral("Archive verified; cache cleanup pending");
    QTest::newRow("verified without evidence") << S::VerifiedBackup << 0 << safe << safe;
    QTest::newRow("verified, current") << S::VerifiedBackup << 1 << safe << safe;
    QTest::newRow("verified, changed")
        << S::VerifiedBackup << 2 << safe
        << QStringLiteral("Do not erase source media — source changed");
    QTest::newRow("verified, source sidecar not archived")
        << S::VerifiedBackup << 3 << safe
        << QStringLiteral("Do not erase source media — source changed");
    QTest::newRow("cleanup pending, changed") << S::CleanupPending << 2 << cleanup << cleanup;
    QTest::newRow("duplicate") << S::Duplicate << 0 << keep << keep;
    QTest::newRow("ready") << S::LocalCacheReady << 1 << keep << keep;
    QTest::newRow("uploading") << S::Uploading << 1 << keep << keep;
    QTest::newRow("verifying") << S::Verifying << 1 << keep << keep;
    QTest::newRow("attention") << S::NeedsAttention << 2 << keep << keep;
}

void LibraryPresentationTests::safetyTitles()
{
    QFETCH(S, status);
    QFETCH(int, evidence);
    QFETCH(QString, statusTitle);
    QFETCH(QString, itemTitle);

    LocalLibraryItem item = filledLibraryItem(1).replacingImportStatus(status);
    if (evidence == 0)
        item.sourceMediaEvidence.reset();
    else if (evidence == 2)
        item = item.markingSourceMediaChanged();
    else if (evidence == 3)
        item = item.replacingArchiveSidecar(std::nullopt, std::nullopt, std::nullopt);
    QCOMPARE(P::safetyTitle(status).toUtf8(), statusTitle.toUtf8());
    QCOMPARE(P::safetyTitle(item).toUtf8(), itemTitle.toUtf8());
}

void LibraryPresentationTests::restoreStatusTexts_data()
{
    QTest::addColumn<std::optional<R>>("status");
    QTest::addColumn<std::optional<QString>>("title");
    QTest::addColumn<Tone>("tone");

    QTest::newRow("preparing") << std::optional(R::Preparing)
                               << std::optional(QStringLiteral("Restore Preparing"))
                               << Tone::Active;
    QTest::newRow("ready") << std::optional(R::Ready)
                           << std::optional(QStringLiteral("Restore Ready")) << Tone::Positive;
    QTest::newRow("downloaded") << std::optional(R::Downloaded)
                                << std::optional(QStringLiteral("Restore Downloaded"))
                                << Tone::Positive;
    QTest::newRow("attention") << std::optional(R::NeedsAttention)
                               << std::optional(QStringLiteral("Restore Needs Attention"))
                               << Tone::Attention;
    QTest::newRow("cancelled") << std::optional(R::Cancelled)
                               << std::optional(QStringLiteral("Restore Cancelled"))
                               << Tone::Positive;
    QTest::newRow("none") << std::optional<R>() << std::optional<QString>() << Tone::Secondary;
}

void LibraryPresentationTests::restoreStatusTexts()
{
    QFETCH(std::optional<R>, status);
    QFETCH(std::optional<QString>, title);
    QFETCH(Tone, tone);
    QCOMPARE(P::restoreStatusTitle(status), title);
    QCOMPARE(P::restoreStatusTone(status), tone);
}

void LibraryPresentationTests::restoreActions_data()
{
    QTest::addColumn<int>("selected");
    QTest::addColumn<std::optional<R>>("status");
    QTest::addColumn<bool>("active");
    QTest::addColumn<bool>("paused");
    QTest::addColumn<bool>("failures");
    QTest::addColumn<bool>("canCreate");
    QTest::addColumn<bool>("canStart");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("help");

    const QString start = QStringLiteral("Start Restore Transfer");
    const QString select
        = QStringLiteral("Select Verified Backup RAW Originals to create a Restore Request.");
    const QString later
        = QStringLiteral("Restore Transfer becomes available when Restore Request is ready.");
    const QString retryHelp = QStringLiteral(
        "Retry RAW Originals that could not be saved using a confirmed Restore Destination.");
    const std::optional<R> none;
    QTest::newRow("nothing selected, no request")
        << 0 << none << false << false << false << false << false << start << select;
    QTest::newRow("selection, no request")
        << 2 << none << false << false << false << true << false << start << later;
    QTest::newRow("selection, downloaded") << 1 << std::optional(R::Downloaded) << false << false
                                           << false << true << false << start << later;
    QTest::newRow("selection, preparing") << 1 << std::optional(R::Preparing) << false << false
                                          << false << false << false << start << later;
    QTest::newRow("ready") << 0 << std::optional(R::Ready) << false << false << false << false
                           << true << start
                           << QStringLiteral("Save ready RAW Originals using Canonical Filenames.");
    QTest::newRow("ready, transfer active")
        << 0 << std::optional(R::Ready) << true << false << false << false << false << start
        << QStringLiteral("Save ready RAW Originals using Canonical Filenames.");
    QTest::newRow("ready, paused")
        << 0 << std::optional(R::Ready) << false << true << false << false << true
        << QStringLiteral("Continue Restore Transfer")
        << QStringLiteral("Save ready RAW Originals using Canonical Filenames.");
    QTest::newRow("paused with failures")
        << 0 << std::optional(R::Ready) << false << true << true << false << true
        << QStringLiteral("Continue Restore Transfer") << retryHelp;
    QTest::newRow("failures") << 0 << std::optional(R::Ready) << false << false << true << false
                              << true << QStringLiteral("Retry Failed Restore") << retryHelp;
    QTest::newRow("failures, nothing selected, no request")
        << 0 << none << false << false << true << false << false
        << QStringLiteral("Retry Failed Restore") << select;
    QTest::newRow("needs attention")
        << 0 << std::optional(R::NeedsAttention) << false << false << false << false << false
        << start
        << QStringLiteral(
               "Restore preparation needs attention. Review the reason, then retry preparation.");
    QTest::newRow("cancelled") << 3 << std::optional(R::Cancelled) << false << false << false
                               << false << false << start << later;
}

void LibraryPresentationTests::restoreActions()
{
    QFETCH(int, selected);
    QFETCH(std::optional<R>, status);
    QFETCH(bool, active);
    QFETCH(bool, paused);
    QFETCH(bool, failures);
    QFETCH(bool, canCreate);
    QFETCH(bool, canStart);
    QFETCH(QString, title);
    QFETCH(QString, help);

    const RestoreActionAvailability expected{canCreate, true, canStart, title, help};
    QCOMPARE(P::restoreActionAvailability(selected, status, active, paused, failures), expected);
}

void LibraryPresentationTests::importReviewRows_data()
{
    QTest::addColumn<ImportReviewItem>("item");
    QTest::addColumn<QString>("title");
    QTest::addColumn<Tone>("tone");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("sidecar");
    QTest::addColumn<QString>("bytes");

    const ImportReviewSidecar xmp{
        QStringLiteral("/media/CARD/a.xmp"), QStringLiteral("a.xmp"), 536};
    QTest::newRow("supported with sidecar")
        << reviewItem(supported, xmp, 1000) << "Ready" << Tone::Positive << "Supported RAW Original"
        << "a.xmp"
        << "1.5 KB";
    QTest::newRow("supported alone") << reviewItem(supported, std::nullopt, 1023) << "Ready"
                                     << Tone::Positive << "Supported RAW Original"
                                     << "No Sidecar"
                                     << "1023 B";
    QTest::newRow("unpaired sidecar")
        << reviewItem(unpaired) << "Needs Attention" << Tone::Attention << "Unpaired Sidecar"
        << "Unpaired Sidecar"
        << "Not counted";
    QTest::newRow("excluded") << reviewItem(excluded) << "Excluded" << Tone::Secondary
                              << "Excluded from Import"
                              << "Not used"
                              << "Not counted";
}

void LibraryPresentationTests::importReviewRows()
{
    QFETCH(ImportReviewItem, item);
    QFETCH(QString, title);
    QFETCH(Tone, tone);
    QFETCH(QString, detail);
    QFETCH(QString, sidecar);
    QFETCH(QString, bytes);

    QCOMPARE(P::importReviewStatusTitle(item.status), title);
    QCOMPARE(P::importReviewStatusTone(item.status), tone);
    QCOMPARE(P::importReviewStatusDetail(item.status), detail);
    QCOMPARE(P::importReviewSidecarText(item), sidecar);
    QCOMPARE(P::importReviewSupportedBytesText(item), bytes);
}

void LibraryPresentationTests::importReviewHeaderAndFooter_data()
{
    QTest::addColumn<std::optional<ImportReview>>("review");
    QTest::addColumn<bool>("storageWarning");
    QTest::addColumn<QString>("sourceTitle");
    QTest::addColumn<QString>("sourceDetail");
    QTest::addColumn<QString>("confirmHelp");
    QTest::addColumn<QString>("attention");
    QTest::addColumn<std::optional<QString>>("warning");

    const QString noSource = QStringLiteral("No Import Source selected");
    const QString scan = QStringLiteral("Scan removable media or choose a folder.");
    const QString begins
        = QStringLiteral("Confirm Import begins backup work. Pellwick never deletes source media.");
    const QString noneFound = QStringLiteral("No supported RAW Originals found.");
    const QString disabled = QStringLiteral(
        "Confirm Import is disabled while Storage Full would block Verified Backup.");
    QTest::newRow("no review")
        << std::optional<ImportReview>() << false << noSource << scan
        << "Choose a folder or insert removable media to build an Import Review."
        << "None" << std::optional<QString>();
    QTest::newRow("review without volumes")
        << std::optional(review(0, {supported})) << false << noSource << scan << begins << "None"
        << std::optional<QString>();
    QTest::newRow("one unpaired sidecar")
        << std::optional(review(1, {supported, unpaired, excluded})) << false
        << "Import Source: Card 1"
        << "/media/ana/Card 1" << begins << "1 item"
        << std::optional(QStringLiteral("Needs Attention: 1 item has an unpaired Sidecar. Review "
                                        "before confirming Import."));
    QTest::newRow("three unpaired sidecars")
        << std::optional(review(1, {unpaired, supported, unpaired, unpaired})) << true
        << "Import Source: Card 1"
        << "/media/ana/Card 1" << disabled << "3 items"
        << std::optional(QStringLiteral("Needs Attention: 3 items have unpaired Sidecars. Review "
                                        "before confirming Import."));
    QTest::newRow("only excluded items")
        << std::optional(review(1, {excluded, excluded})) << false << "Import Source: Card 1"
        << "/media/ana/Card 1" << noneFound << "None" << std::optional<QString>();
    QTest::newRow("two volumes, nothing supported")
        << std::optional(review(2, {excluded})) << false << "Import Sources: Card 1, Card 2"
        << "2 Import Sources selected" << noneFound << "None" << std::optional<QString>();
    QTest::newRow("two volumes, storage warning")
        << std::optional(review(2, {excluded})) << true << "Import Sources: Card 1, Card 2"
        << "2 Import Sources selected" << disabled << "None" << std::optional<QString>();
}

void LibraryPresentationTests::importReviewHeaderAndFooter()
{
    QFETCH(std::optional<ImportReview>, review);
    QFETCH(bool, storageWarning);
    QFETCH(QString, sourceTitle);
    QFETCH(QString, sourceDetail);
    QFETCH(QString, confirmHelp);
    QFETCH(QString, attention);
    QFETCH(std::optional<QString>, warning);

    const std::optional<ImportReviewStorageWarning> warningValue
        = storageWarning ? std::optional(ImportReviewStorageWarning{10, 5}) : std::nullopt;
    QCOMPARE(P::importReviewSourceTitle(review), sourceTitle);
    QCOMPARE(P::importReviewSourceDetail(review), sourceDetail);
    QCOMPARE(P::importReviewConfirmHelpText(review, warningValue), confirmHelp);
    QCOMPARE(P::importReviewNeedsAttentionText(review), attention);
    QCOMPARE(P::importReviewNeedsAttentionWarningText(review), warning);
}

void LibraryPresentationTests::byteTexts_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("zero") << qint64(0) << "0 B";
    QTest::newRow("negative") << qint64(-5) << "0 B";
    QTest::newRow("1023") << qint64(1023) << "1023 B";
    QTest::newRow("1024") << qint64(1024) << "1 KB";
    QTest::newRow("1536") << qint64(1536) << "1.5 KB";
    QTest::newRow("unit chosen before rounding") << qint64(1048575) << "1024 KB";
    QTest::newRow("one MB") << qint64(1048576) << "1 MB";
    QTest::newRow("half rounds away from zero") << qint64(1310720) << "1.3 MB";
    QTest::newRow("5 GB") << qint64(5000000000) << "4.7 GB";
    QTest::newRow("no unit above GB") << qint64(5) * 1024 * 1024 * 1024 * 1024 << "5120 GB";
}

void LibraryPresentationTests::byteTexts()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(P::byteText(bytes), text);
}

void LibraryPresentationTests::byteTextsIgnoreLocales()
{
    QCOMPARE(P::byteProgressText(0, 0, QStringLiteral("archive")),
             QStringLiteral("0 B of 0 B archive (0%)"));
    QCOMPARE(P::byteProgressText(3072, 2048, QStringLiteral("restore")),
             QStringLiteral("3 KB of 2 KB restore (100%)"));
    QCOMPARE(P::byteProgressText(1536, 1048576 * 3, QStringLiteral("archive")),
             QStringLiteral("1.5 KB of 3 MB archive (0%)"));
    QCOMPARE(P::progressFraction(5, 0), 0.0);
    QCOMPARE(P::progressFraction(-5, 10), 0.0);
    QCOMPARE(P::progressFraction(15, 10), 1.0);
    QCOMPARE(P::progressFraction(5, 20), 0.25);

    QLocale::setDefault(QLocale::German);
    QCOMPARE(P::byteText(1536), QStringLiteral("1.5 KB"));
    QLocale::setDefault(QLocale::c());
    const char *previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        QSKIP("de_DE.UTF-8 is not installed");
    const QString text = P::byteText(1536);
    std::setlocale(LC_ALL, saved.c_str());
    QCOMPARE(text, QStringLiteral("1.5 KB"));
}

void LibraryPresentationTests::paidPlan()
{
    PaidPlanState plan;
    for (const PaidPlanStatus status :
         {PaidPlanStatus::Trial, PaidPlanStatus::Expired, PaidPlanStatus::PaymentFailed}) {
        plan.status = status;
        QCOMPARE(P::paidPlanTitle(plan), QStringLiteral("No active Paid Plan"));
    }
    QCOMPARE(P::paidPlanDetail(plan), QStringLiteral("$249/year Paid Plan not active"));
    plan.status = PaidPlanStatus::Paid;
    plan.billingPeriod = BillingPeriod{QStringLiteral("2026-01-01"), QStringLiteral("2027-01-01")};
    QCOMPARE(P::paidPlanTitle(plan), QStringLiteral("$249/year active"));
    QCOMPARE(P::paidPlanDetail(plan), QStringLiteral("Billing period 2026-01-01 to 2027-01-01"));
}

QTEST_GUILESS_MAIN(LibraryPresentationTests)
#include "LibraryPresentationTests.moc"
