#include "SaveGrab.h"

#include <PellwickApp/Views/Kit/AlertStrip.h>
#include <PellwickApp/Views/Kit/ElidedLabel.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/StatusLine.h>
#include <PellwickApp/Views/Library/LocalLibraryInspectorView.h>

#include <QLabel>
#include <QTest>

#include <ctime>

#include <Support/LibraryFixtures.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

using Status = LibraryItemImportStatus;
using Restore = RestoreRequestStatus;
using Tone = LibraryPresentationTone;

namespace {

struct Case
{
    Status status = Status::LocalCacheReady;
    std::optional<Restore> restore = {};
    bool sourceChanged = false;
    std::optional<QDateTime> captured = {};
    bool gps = false;
    /// The batch of its cached original has not finished its copy-in.
    bool unfinishedCopy = false;
    /// The card's IMG_0007.xmp beside the photo, and the archived sidecar: their hashes.
    std::optional<QString> cardSidecar = {};
    std::optional<QString> archivedSidecar = {};

    QString importTitle = u"Local Cache — Ready to Import"_s;
    Tone importTone = Tone::Active;
    QString restoreText = u"None"_s;
    Tone restoreTone = Tone::Secondary;
    QString safety = u"Keep source media"_s;
    bool safe = false;
    QString captureTime = u"Unknown Capture Time"_s;
    QString location = u"Unknown Location"_s;
    std::optional<QString> attentionReason = {};
};

} // namespace

Q_DECLARE_METATYPE(Case)

class LocalLibraryInspectorTests : public QObject
{
    Q_OBJECT

    template<typename W>
    static W *find(const LocalLibraryInspector &inspector, const char *name)
    {
        return inspector.findChild<W *>(QLatin1String("library-inspector.") + QLatin1String(name));
    }

private Q_SLOTS:

    void initTestCase()
    {
        qputenv("TZ", "UTC");
        tzset();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    void texts_data()
    {
        QTest::addColumn<Case>("testCase");
        QTest::newRow("ready") << Case{};
        QTest::newRow("uploading")
            << Case{.status = Status::Uploading, .importTitle = u"Local Cache — Uploading"_s};
        QTest::newRow("verifying")
            << Case{.status = Status::Verifying, .importTitle = u"Online Archive — Verifying"_s};
        QTest::newRow("verified, safe") << Case{.status = Status::VerifiedBackup,
                                                .importTitle = u"Online Archive — Verified"_s,
                                                .importTone = Tone::Positive,
                                                .safety = u"Safe to erase source media"_s,
                                                .safe = true};
        QTest::newRow("verified, source changed")
            << Case{.status = Status::VerifiedBackup,
                    .sourceChanged = true,
                    .importTitle = u"Online Archive — Verified"_s,
                    .importTone = Tone::Positive,
                    .safety = u"Do not erase source media — source changed"_s};
        QTest::newRow("cleanup pending")
            << Case{.status = Status::CleanupPending,
                    .importTitle = u"Online Archive — Cache Cleanup Pending"_s,
                    .importTone = Tone::Attention,
                    .safety = u"Archive verified; cache cleanup pending"_s};
        QTest::newRow("needs attention") << Case{.status = Status::NeedsAttention,
                                                 .importTitle = u"Local Cache — Needs Attention"_s,
                                                 .importTone = Tone::Attention};
        QTest::newRow("needs attention, copy-in unfinished")
            << Case{.status = Status::NeedsAttention,
                    .unfinishedCopy = true,
                    .importTitle = u"Local Cache — Needs Attention"_s,
                    .importTone = Tone::Attention,
                    .attentionReason = u"The copy into the Ingest Cache was interrupted. Add the "
                                       u"card again to finish it."_s};
        QTest::newRow("needs attention, sidecar changed in the cache")
            << Case{.status = Status::NeedsAttention,
                    .cardSidecar = u"s1"_s,
                    .importTitle = u"Local Cache — Needs Attention"_s,
                    .importTone = Tone::Attention,
                    .attentionReason
                    = u"The sidecar in the Ingest Cache changed after it was copied. The changed "
                      u"copy is listed as a photo of its own; add the card again to archive the "
                      u"card's own sidecar too."_s};
        QTest::newRow("duplicate") << Case{.status = Status::Duplicate,
                                           .importTitle = u"Online Archive — Already Archived"_s,
                                           .importTone = Tone::Secondary};
        QTest::newRow("duplicate whose sidecar the archive lacks")
            << Case{.status = Status::Duplicate,
                    .cardSidecar = u"s1"_s,
                    .archivedSidecar = u"s2"_s,
                    .importTitle = u"Online Archive — Already Archived"_s,
                    .importTone = Tone::Secondary,
                    .attentionReason = u"The sidecar IMG_0007.xmp is not in the archive."_s};
        QTest::newRow("restore preparing") << Case{.restore = Restore::Preparing,
                                                   .restoreText = u"Restore Preparing"_s,
                                                   .restoreTone = Tone::Active};
        QTest::newRow("restore ready") << Case{.restore = Restore::Ready,
                                               .restoreText = u"Restore Ready"_s,
                                               .restoreTone = Tone::Positive};
        QTest::newRow("restore downloaded") << Case{.restore = Restore::Downloaded,
                                                    .restoreText = u"Restore Downloaded"_s,
                                                    .restoreTone = Tone::Positive};
        QTest::newRow("restore needs attention")
            << Case{.restore = Restore::NeedsAttention,
                    .restoreText = u"Restore Needs Attention"_s,
                    .restoreTone = Tone::Attention};
        QTest::newRow("restore cancelled") << Case{.restore = Restore::Cancelled,
                                                   .restoreText = u"Restore Cancelled"_s,
                                                   .restoreTone = Tone::Positive};
        QTest::newRow("capture time and place")
            << Case{.captured = QDateTime(QDate(2026, 6, 1), QTime(15, 4), Qt::UTC),
                    .gps = true,
                    .captureTime = u"Jun 1, 2026, 3:04 PM"_s,
                    .location = u"GPS Known"_s};
    }

    void texts()
    {
        QFETCH(Case, testCase);
        LocalLibraryItem item = minimalLibraryItem(7);
        item.importStatus = testCase.status;
        item.restoreStatus = testCase.restore;
        item.ingestCacheOriginalURL = u"/cache/Card/IMG_0007.CR3"_s;
        if (testCase.cardSidecar) {
            item.sourceMediaEvidence = SourceMediaEvidence();
            item.sourceMediaEvidence->rawContentHash = item.contentHash;
            item.sourceMediaEvidence->sidecarRelativePath = u"DCIM/IMG_0007.xmp"_s;
            item.sourceMediaEvidence->sidecarContentHash = testCase.cardSidecar;
            item.archiveSidecarContentHash = testCase.archivedSidecar;
        }
        if (testCase.sourceChanged) {
            item.sourceMediaEvidence = SourceMediaEvidence();
            item.sourceMediaEvidence->rawContentHash = item.contentHash;
            item = item.markingSourceMediaChanged();
        }
        if (testCase.captured)
            item.metadata.captureTime
                = CaptureTimeMetadata::known(Date::fromDateTime(*testCase.captured));
        if (testCase.gps)
            item.metadata.captureLocation = CaptureLocationMetadata::known({48.1, 11.6});

        LocalLibraryInspector inspector;
        inspector.setItem(LocalLibraryItem{}); // in place over an earlier item
        inspector.setItem(item, testCase.unfinishedCopy ? QSet{u"/cache/Card"_s} : QSet<QString>());
        QVERIFY(find<QLabel>(inspector, "hint")->isHidden());
        const QLabel *reason = find<QLabel>(inspector, "attention-reason");
        QCOMPARE(reason->isHidden(), !testCase.attentionReason);
        QCOMPARE(reason->text(), testCase.attentionReason.value_or(QString()));
        QCOMPARE(find<ElidedLabel>(inspector, "original-filename")->text(), item.originalFilename);
        QCOMPARE(find<ElidedLabel>(inspector, "canonical-filename")->text(),
                 item.canonicalFilename);
        QCOMPARE(find<AlertStrip>(inspector, "safety")->text(), testCase.safety);
        const LocalLibraryInspector::SafetyAlert safety = LocalLibraryInspector::safetyAlert(item);
        QCOMPARE(safety.tone, testCase.safe ? Tone::Positive : Tone::Attention);
        QCOMPARE(safety.systemImage,
                 testCase.safe ? u"checkmark.shield"_s : u"exclamationmark.triangle"_s);
        const auto line = [&](const char *name, const QString &value, Tone tone) {
            const QLabel *label = find<StatusLine>(inspector, name)->valueLabel();
            QCOMPARE(label->text(), value);
            QCOMPARE(label->palette().color(QPalette::WindowText), PellwickTheme::toneColour(tone));
        };
        line("import-status", testCase.importTitle, testCase.importTone);
        line("restore", testCase.restoreText, testCase.restoreTone);
        line("capture-time", testCase.captureTime, Tone::Secondary);
        line("capture-location", testCase.location, Tone::Secondary);
        saveGrab(inspector, u"inspector-"_s + QString::fromLatin1(QTest::currentDataTag()));
    }

    void withoutItemOnlyTheHint()
    {
        LocalLibraryInspector inspector;
        inspector.setItem(minimalLibraryItem(1));
        inspector.setItem(std::nullopt);
        QVERIFY(!find<QLabel>(inspector, "hint")->isHidden());
        QVERIFY(find<AlertStrip>(inspector, "safety")->isHidden()
                || !find<AlertStrip>(inspector, "safety")->isVisibleTo(&inspector));
        QCOMPARE(LocalLibraryInspector::statusTone(std::nullopt), Tone::Secondary);
        QCOMPARE(LocalLibraryInspector::restoreStatusText(std::nullopt), u"None"_s);
        QCOMPARE(LocalLibraryInspector::captureTimeText(std::nullopt), u"Unknown Capture Time"_s);
        saveGrab(inspector, u"inspector-no-item"_s);
    }
};

QTEST_MAIN(LocalLibraryInspectorTests)
#include "LocalLibraryInspectorTests.moc"
