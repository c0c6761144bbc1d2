#include "../Views/PageInspection.h"

#include <PellwickApp/Views/Kit/ElidedLabel.h>
#include <PellwickApp/Views/Kit/FoldingBox.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Kit/ProgressStatusLine.h>
#include <PellwickApp/Views/Kit/TransferProgressRows.h>

#include <QAccessible>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <limits>

using namespace Pellwick;
using namespace Qt::StringLiterals;

namespace {

struct ElisionCase
{
    int lines = 1;
    int width = 120;
    QString accessibleName = {}; ///< given by a caller; empty: the label's own (its text)
};

struct BarCase
{
    qint64 completed = 0;
    qint64 total = 100;
    int value = 0;
};

TransferProgress copying(const QString &name, qint64 completed = 0)
{
    TransferProgress progress;
    progress.id = QUuid::createUuid();
    progress.operationName = name;
    progress.phase = TransferProgressPhase::Copying;
    progress.completedByteCount = completed;
    progress.totalByteCount = 1000;
    return progress;
}

QList<QLabel *> titles(const TransferProgressRows &rows)
{
    return rows.findChildren<QLabel *>(u"transfer-progress-title"_s);
}

constexpr qint64 largest = std::numeric_limits<qint64>::max();

} // namespace

Q_DECLARE_METATYPE(ElisionCase)
Q_DECLARE_METATYPE(BarCase)

class KitLayoutTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { PellwickControlStyles::install(); }

    void middleElisionKeepsStartAndExtension_data()
    {
        QTest::addColumn<ElisionCase>("row");
        QTest::newRow("one line") << ElisionCase{};
        QTest::newRow("two lines") << ElisionCase{.lines = 2};
        QTest::newRow("very narrow") << ElisionCase{.width = 50};
        QTest::newRow("named by its caller") << ElisionCase{.accessibleName = u"Original"_s};
    }

    void middleElisionKeepsStartAndExtension()
    {
        QFETCH(ElisionCase, row);
        const QString name = u"2026-06-01_Wedding_Ceremony_Second_Shooter_IMG_0001.CR3"_s;
        ElidedLabel label(name, row.lines);
        if (!row.accessibleName.isEmpty())
            label.setAccessibleName(row.accessibleName);
        label.resize(row.width, label.sizeHint().height());
        const QString shown = label.shownText();
        QVERIFY2(shown.endsWith(u"….CR3"_s) || shown.contains(u"…"_s), qPrintable(shown));
        QVERIFY2(shown.endsWith(u".CR3"_s), qPrintable(shown));
        QVERIFY2(shown.startsWith(name.left(1)), qPrintable(shown));
        QCOMPARE(Test::shownToolTip(label.toolTip()), name);
        QCOMPARE(label.accessibleName(), row.accessibleName.isEmpty() ? name : row.accessibleName);
        // Described by the plain text, and only when the name does not say it already.
        QCOMPARE(QAccessible::queryAccessibleInterface(&label)->text(QAccessible::Description),
                 row.accessibleName.isEmpty() ? QString() : name);
        const QFontMetrics metrics = label.fontMetrics();
        if (row.lines == 1) {
            QVERIFY(metrics.horizontalAdvance(shown) <= row.width);
        } else {
            const QRect bounds
                = metrics.boundingRect(QRect(0, 0, row.width, 1000), Qt::TextWrapAnywhere, shown);
            QVERIFY(bounds.height() <= 2 * metrics.lineSpacing());
            // Two lines hold more of the name than one.
            QVERIFY(shown.size() > ElidedLabel::elided(name, metrics, row.width, 1).size());
        }
        // A name that fits is shown whole.
        label.resize(label.sizeHint());
        QCOMPARE(label.shownText(), name);
    }

    void foldingBoxFoldsBelowItsRowWidth_data()
    {
        QTest::addColumn<int>("widthChange");
        QTest::addColumn<bool>("folded");
        QTest::newRow("one below the full width") << -1 << true;
        QTest::newRow("at the full width") << 0 << false;
        QTest::newRow("above it") << 40 << false;
    }

    void foldingBoxFoldsBelowItsRowWidth()
    {
        QFETCH(int, widthChange);
        QFETCH(bool, folded);
        auto *full = new QWidget;
        auto *row = new QHBoxLayout(full);
        row->addWidget(new QPushButton(u"Scan Removable Media"_s));
        row->addWidget(new QPushButton(u"Scan All Connected Media"_s));
        row->addWidget(new QPushButton(u"Choose Folder"_s));
        auto *menu = new QPushButton(u"Actions"_s);
        const std::unique_ptr<FoldingBox> folding(FoldingBox::alternating(full, menu));
        FoldingBox &bar = *folding;
        const int fullWidth = full->sizeHint().width();
        // Folding and unfolding again ends where the width says, whatever came before.
        bar.resize(fullWidth + widthChange, bar.sizeHint().height());
        bar.resize(10, bar.sizeHint().height());
        bar.resize(fullWidth + 100, bar.sizeHint().height());
        bar.resize(fullWidth + widthChange, bar.sizeHint().height());
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        QCOMPARE(bar.isFolded(), folded);
        QCOMPARE(full->isVisible(), !folded);
        QCOMPARE(menu->isVisible(), folded);
        QCOMPARE(bar.sizeHint().width(), fullWidth);
    }

    void progressRowsKeepTheirWidgetsById()
    {
        TransferProgressRows rows;
        QList<TransferProgress> list{copying(u"A"_s), copying(u"B"_s), copying(u"C"_s)};
        rows.setProgresses(list);
        const QList<QLabel *> before = titles(rows);
        QCOMPARE(rows.blocksBuilt(), 3);
        // Ten updates of every row build nothing.
        for (int step = 1; step <= 10; ++step) {
            for (TransferProgress &progress : list)
                progress.completedByteCount = step * 100;
            rows.setProgresses(list);
        }
        QCOMPARE(rows.blocksBuilt(), 3);
        QCOMPARE(titles(rows), before);
        QCOMPARE(rows.findChild<QProgressBar *>(u"transfer-progress-bar"_s)->value(), 10000);
        // The middle row goes: the others keep theirs, in order.
        list.removeAt(1);
        rows.setProgresses(list);
        QCOMPARE(rows.blocksBuilt(), 3);
        const QList<QLabel *> after = titles(rows);
        QCOMPARE(after.size(), 2);
        QCOMPARE(after.at(0), before.at(0));
        QCOMPARE(after.at(1), before.at(2));
        QCOMPARE(after.at(1)->text(), u"C"_s);
    }

    void meterClampsHostileValues_data()
    {
        QTest::addColumn<BarCase>("row");
        QTest::newRow("negative completed") << BarCase{.completed = -50};
        QTest::newRow("completed above total") << BarCase{.completed = 500, .value = 10000};
        QTest::newRow("half of a total near 2^63")
            << BarCase{.completed = largest / 2, .total = largest, .value = 5000};
        QTest::newRow("all of a total near 2^63")
            << BarCase{.completed = largest, .total = largest, .value = 10000};
        QTest::newRow("negative total") << BarCase{.completed = 5, .total = -1};
    }

    void meterClampsHostileValues()
    {
        QFETCH(BarCase, row);
        TransferProgressMeter meter;
        TransferProgress progress = copying(u"A"_s);
        progress.completedByteCount = row.completed;
        progress.totalByteCount = row.total;
        meter.setProgress(progress);
        QCOMPARE(meter.isDeterminate(), row.total > 0);
        if (row.total > 0)
            QCOMPARE(meter.bar()->value(), row.value);
        QVERIFY(!meter.accessibleName().isEmpty());
    }
};

QTEST_MAIN(KitLayoutTests)
#include "KitLayoutTests.moc"
