#include "../KeyboardNavigation.h"
#include "../PageInspection.h"

#include <PellwickApp/Views/ImportReview/ImportReviewHeader.h>
#include <PellwickApp/Views/ImportReview/ImportReviewTable.h>
#include <PellwickApp/Views/Kit/ElidedLabel.h>
#include <PellwickApp/Views/Kit/FoldingBox.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Kit/StatusBadge.h>
#include <PellwickApp/Views/Kit/TransferProgressRows.h>

#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include <Support/ImportReviewSamples.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

struct ByteCase
{
    qint64 bytes = 0;
    QString text;
};

struct HeaderCase
{
    std::optional<ImportReview> review{};
    bool isScanning = false;
    bool hasProgress = false;
    QString title = u"No Import Source selected"_s;
    QString badge = u"No source"_s;
    QString count = u"0 RAW Originals"_s;
    QString bytes = u"0 bytes"_s;
    QString description = u"Scan removable media or choose a folder."_s;
};

const ImportReview folderOfThree
    = sampleReview({sampleItem(SampleKind::Supported, u"A.CR3"_s, 512),
                    sampleItem(SampleKind::Supported, u"B.CR3"_s, 512),
                    sampleItem(SampleKind::Supported, u"C.CR3"_s, 512)},
                   {u"Shoot"_s});

} // namespace

class ImportReviewHeaderTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { PellwickControlStyles::install(); }

    void byteCountText_data()
    {
        QTest::addColumn<ByteCase>("row");
        QTest::newRow("zero") << ByteCase{.bytes = 0, .text = u"Zero KB"_s};
        QTest::newRow("one byte") << ByteCase{.bytes = 1, .text = u"1 byte"_s};
        QTest::newRow("1023") << ByteCase{.bytes = 1023, .text = u"1023 bytes"_s};
        QTest::newRow("1024") << ByteCase{.bytes = 1024, .text = u"1 KB"_s};
        QTest::newRow("1535 rounds down") << ByteCase{.bytes = 1535, .text = u"1 KB"_s};
        QTest::newRow("1536 rounds half up") << ByteCase{.bytes = 1536, .text = u"2 KB"_s};
        QTest::newRow("1537") << ByteCase{.bytes = 1537, .text = u"2 KB"_s};
        QTest::newRow("1024 KB is 1 MB") << ByteCase{.bytes = 1048575, .text = u"1 MB"_s};
        QTest::newRow("1.5 MB") << ByteCase{.bytes = 1572864, .text = u"1.5 MB"_s};
        QTest::newRow("10^9") << ByteCase{.bytes = 1000000000, .text = u"953.7 MB"_s};
        QTest::newRow("5 TiB") << ByteCase{.bytes = 5LL << 40, .text = u"5 TB"_s};
    }

    void byteCountText()
    {
        QFETCH(ByteCase, row);
        for (const QLocale &locale : {QLocale::c(), QLocale(QLocale::German)}) {
            QLocale::setDefault(locale);
            QCOMPARE(binaryByteCountText(row.bytes), row.text);
        }
        QLocale::setDefault(QLocale::c());
    }

    void sourceStatus_data()
    {
        QTest::addColumn<HeaderCase>("row");
        QTest::newRow("no review") << HeaderCase{};
        QTest::newRow("one folder") << HeaderCase{.review = folderOfThree,
                                                  .title = u"Import Source: Shoot"_s,
                                                  .badge = u"Scan Complete"_s,
                                                  .count = u"3 RAW Originals"_s,
                                                  .bytes = u"2 KB"_s,
                                                  .description = u"/media/Shoot"_s};
        QTest::newRow("two volumes") << HeaderCase{.review = sampleReview({}, {u"A"_s, u"B"_s}),
                                                   .title = u"Import Sources: A, B"_s,
                                                   .badge = u"Scan Complete"_s,
                                                   .bytes = u"Zero KB"_s,
                                                   .description = u"2 Import Sources selected"_s};
        QTest::newRow("markup in the source name")
            << HeaderCase{.review = sampleReview({}, {u"<b>x</b>"_s}),
                          .title = u"Import Source: <b>x</b>"_s,
                          .badge = u"Scan Complete"_s,
                          .bytes = u"Zero KB"_s,
                          .description = u"/media/<b>x</b>"_s};
        QTest::newRow("scanning over an old review")
            << HeaderCase{.review = folderOfThree,
                          .isScanning = true,
                          .title = u"Import Source: Shoot"_s,
                          .badge = u"Scanning"_s,
                          .count = u"3 RAW Originals"_s,
                          .bytes = u"2 KB"_s,
                          .description = u"/media/Shoot"_s};
        QTest::newRow("progress rows replace the source status") << HeaderCase{.hasProgress = true};
    }

    void sourceStatus()
    {
        QFETCH(HeaderCase, row);
        ImportReviewHeader header;
        header.setReview(row.review);
        header.setScanning(row.isScanning);
        TransferProgress progress;
        progress.id = QUuid::createUuid();
        header.setProgresses(row.hasProgress ? QList<TransferProgress>{progress}
                                             : QList<TransferProgress>{});
        header.resize(900, header.sizeHint().height());
        header.show();
        auto *title = header.findChild<ElidedLabel *>(u"importReview.sourceTitle"_s);
        auto *summary = header.findChild<QWidget *>(u"importReview.scanSummary"_s);
        QCOMPARE(title->isVisible(), !row.hasProgress);
        QCOMPARE(header.findChild<TransferProgressRows *>()->isVisible(), row.hasProgress);
        QCOMPARE(title->text(), row.title);
        QCOMPARE(title->accessibleName(), row.title);
        QCOMPARE(shownToolTip(title->toolTip()), row.title);
        QCOMPARE(summary->findChild<StatusBadge *>()->text(), row.badge);
        const QList<QLabel *> texts = summary->findChildren<QLabel *>();
        QCOMPARE(texts.at(0)->text(), row.count);
        QCOMPARE(texts.at(1)->text(), row.bytes);
        QCOMPARE(header.findChild<QLabel *>(u"page-header.description"_s)->text(), row.description);
    }

    void foldedActionsKeepOrderAndNames()
    {
        ImportReviewHeader header;
        QSignalSpy rescans(&header, &ImportReviewHeader::rescanRequested);
        QSignalSpy folders(&header, &ImportReviewHeader::chooseFolderRequested);
        header.resize(200, header.sizeHint().height());
        header.show();
        QVERIFY(header.actions()->bar()->isFolded());
        const QList<QAction *> items = header.actions()->menu()->actions();
        QCOMPARE(items.size(), 2);
        QCOMPARE(items[0]->text(), u"Rescan"_s);
        QCOMPARE(items[0]->objectName(), u"importReview.rescan"_s);
        QCOMPARE(items[1]->text(), u"Choose Folder"_s);
        QCOMPARE(items[1]->objectName(), u"importReview.chooseFolder"_s);
        items[0]->trigger();
        items[1]->trigger();
        QCOMPARE(rescans.size(), 1);
        QCOMPARE(folders.size(), 1);
    }

    void keyboardReachesActionsMenuAndTable()
    {
        QWidget window;
        auto *header = new ImportReviewHeader;
        auto *table = new ImportReviewTable;
        table->setReview(folderOfThree);
        auto *column = new QVBoxLayout(&window);
        column->addWidget(header);
        column->addWidget(table);
        QSignalSpy rescans(header, &ImportReviewHeader::rescanRequested);
        window.resize(1000, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        header->findChild<QPushButton *>(u"importReview.rescan"_s)->setFocus();
        QStringList reached;
        for (QWidget *widget : focusChain(window))
            reached.append(widget->objectName());
        QVERIFY(reached.contains(u"importReview.rescan"_s));
        QVERIFY(reached.contains(u"importReview.chooseFolder"_s));
        QVERIFY(reached.contains(u"importReview.rows"_s));

        window.resize(300, 600);
        auto *menuButton = header->findChild<QPushButton *>(u"importReview.actionsMenu"_s);
        QTRY_VERIFY(menuButton->isVisible());
        menuButton->setFocus();
        // The menu runs its own loop: choose its first item with the keyboard from inside it.
        QTimer::singleShot(0, [] {
            QWidget *popup = QApplication::activePopupWidget();
            QTest::keyClick(popup, Qt::Key_Down);
            QTest::keyClick(popup, Qt::Key_Return);
        });
        activateFocused(Qt::Key_Space);
        QTRY_COMPARE(rescans.size(), 1);
    }
};

QTEST_MAIN(ImportReviewHeaderTests)
#include "ImportReviewHeaderTests.moc"
