#include "../Views/SaveGrab.h"

#include <PellwickApp/Views/Kit/PageHeader.h>
#include <PellwickApp/Views/Kit/PellwickBrandMark.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

using namespace Pellwick;
using namespace Qt::StringLiterals;

namespace {

struct HeaderCase
{
    bool hasActionBar = false;
    bool hasStatusRegion = false;
    /// Status content this tall.
    int statusHeight = 30;
};

} // namespace

Q_DECLARE_METATYPE(HeaderCase)

class PageHeaderTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { PellwickControlStyles::install(); }

    void regionsByFlags_data()
    {
        QTest::addColumn<HeaderCase>("row");
        QTest::newRow("title and description only") << HeaderCase{};
        QTest::newRow("action bar") << HeaderCase{.hasActionBar = true};
        QTest::newRow("status region") << HeaderCase{.hasStatusRegion = true};
        QTest::newRow("both") << HeaderCase{.hasActionBar = true, .hasStatusRegion = true};
        QTest::newRow("tall status scrolls inside 72")
            << HeaderCase{.hasStatusRegion = true, .statusHeight = 400};
    }

    void regionsByFlags()
    {
        QFETCH(HeaderCase, row);
        const QString description = u"Select an Import Source. Pellwick copies it locally before "
                                    u"any Archive Storage work."_s;
        PageHeader bare(u"Add to Ingest Cache"_s, description, false, false);
        PageHeader header(
            u"Add to Ingest Cache"_s, description, row.hasActionBar, row.hasStatusRegion);
        if (row.hasActionBar) {
            header.actionBar()->addWidget(new QPushButton(u"Choose Folder"_s));
        }
        // A status view passed without its flag takes no space and is dropped.
        auto *status = new QLabel(u"Status"_s);
        status->setMinimumHeight(row.statusHeight);
        header.setStatus(status);
        for (PageHeader *each : {&bare, &header}) {
            each->resize(700,
                         each->heightForWidth(700) > 0 ? each->heightForWidth(700)
                                                       : each->sizeHint().height());
            each->show();
            QVERIFY(QTest::qWaitForWindowExposed(each));
        }

        QCOMPARE(header.findChild<PellwickBrandMark *>(u"pellwick.brand-mark"_s) != nullptr, true);
        QCOMPARE(header.findChild<QLabel *>(u"page-header.title"_s)->text(),
                 u"Add to Ingest Cache"_s);
        QCOMPARE(header.actionBar() != nullptr, row.hasActionBar);
        QCOMPARE(header.statusRegion() != nullptr, row.hasStatusRegion);
        int expected = bare.sizeHint().height();
        if (row.hasActionBar) {
            auto *bar = header.findChild<QWidget *>(u"page-header.actions"_s);
            QVERIFY(bar->height() >= PageHeader::minimumActionBarHeight);
            expected += bar->height() + 12;
        }
        if (row.hasStatusRegion) {
            QScrollArea *region = header.statusRegion();
            QCOMPARE(region->height(), PageHeader::statusRegionHeight);
            QVERIFY(!region->verticalScrollBar()->isVisible());
            QVERIFY(!region->horizontalScrollBar()->isVisible());
            expected += PageHeader::statusRegionHeight + 12;
        }
        QCOMPARE(header.sizeHint().height(), expected);
        Test::saveGrab(header, u"page-header-"_s + QString::fromLatin1(QTest::currentDataTag()));
    }

    void longDescriptionWraps()
    {
        PageHeader header(
            u"Restore"_s, QString(40, u'x').append(u" word"_s).repeated(8), false, false);
        header.resize(400, 300);
        auto *description = header.findChild<QLabel *>(u"page-header.description"_s);
        QVERIFY(description->wordWrap());
        QVERIFY(header.minimumSizeHint().width() < 400);
    }
};

QTEST_MAIN(PageHeaderTests)
#include "PageHeaderTests.moc"
