#include "../Views/SaveGrab.h"

#include <PellwickApp/Views/Kit/BackendStatusToolbarItem.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/StatusBadge.h>
#include <PellwickApp/Views/Kit/StatusLine.h>
#include <PellwickApp/Views/Kit/UtilityPanel.h>

#include <QAccessible>
#include <QLabel>
#include <QTest>
#include <QVBoxLayout>

using namespace Pellwick;
using namespace Qt::StringLiterals;

namespace {

using Tone = LibraryPresentationTone;
using Appearance = PellwickTheme::Appearance;

struct ToneCase
{
    Tone tone = Tone::Positive;
    QColor light = {};
    QColor dark = {};
};

struct BadgeCase
{
    /// The width given, relative to the badge's hint.
    int widthChange = 0;
    bool shrunk = false;
    bool cut = false;
};

} // namespace

Q_DECLARE_METATYPE(ToneCase)
Q_DECLARE_METATYPE(BadgeCase)

class StatusViewsTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { PellwickControlStyles::install(); }

    void toneTable_data()
    {
        QTest::addColumn<ToneCase>("row");
        const auto both = [](Tone tone, QColor (*colour)(Appearance)) {
            return ToneCase{
                .tone = tone, .light = colour(Appearance::Light), .dark = colour(Appearance::Dark)};
        };
        QTest::newRow("positive is green") << both(Tone::Positive, &PellwickTheme::systemGreen);
        QTest::newRow("active is orange") << both(Tone::Active, &PellwickTheme::systemOrange);
        QTest::newRow("attention is the same orange")
            << both(Tone::Attention, &PellwickTheme::systemOrange);
        QTest::newRow("danger is red") << both(Tone::Danger, &PellwickTheme::systemRed);
        QTest::newRow("primary is blue") << both(Tone::Primary, &PellwickTheme::systemBlue);
        QTest::newRow("secondary is the secondary label")
            << both(Tone::Secondary, &PellwickTheme::secondaryLabel);
    }

    void toneTable()
    {
        QFETCH(ToneCase, row);
        QCOMPARE(PellwickTheme::toneColour(row.tone, Appearance::Light), row.light);
        QCOMPARE(PellwickTheme::toneColour(row.tone, Appearance::Dark), row.dark);
    }

    void badgeShrinksBeforeCutting_data()
    {
        QTest::addColumn<BadgeCase>("row");
        QTest::newRow("fits") << BadgeCase{};
        QTest::newRow("a little short: 85 %") << BadgeCase{.widthChange = -6, .shrunk = true};
        QTest::newRow("far too short: cut")
            << BadgeCase{.widthChange = -60, .shrunk = true, .cut = true};
    }

    void badgeShrinksBeforeCutting()
    {
        QFETCH(BadgeCase, row);
        const QString text = u"Needs Attention in Archive"_s;
        StatusBadge badge(text, Tone::Attention);
        badge.resize(badge.sizeHint().width() + row.widthChange, badge.sizeHint().height());
        const qreal full = badge.font().pointSizeF();
        QCOMPARE(badge.shownPointSize(), row.shrunk ? full * 0.85 : full);
        QCOMPARE(badge.shownText() != text, row.cut);
        if (row.cut)
            QVERIFY(badge.shownText().endsWith(u"…"_s));
    }

    void backendItemIsOneElement_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Tone>("tone");
        QTest::newRow("checking") << u"Checking backend"_s << Tone::Active;
        QTest::newRow("reachable") << u"Backend reachable"_s << Tone::Positive;
        QTest::newRow("unreachable") << u"Backend unreachable"_s << Tone::Danger;
    }

    void backendItemIsOneElement()
    {
        QFETCH(QString, text);
        QFETCH(Tone, tone);
        BackendStatusToolbarItem item;
        item.setStatus(text, tone);
        QCOMPARE(item.objectName(), u"backend-status"_s);
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&item);
        QCOMPARE(accessible->text(QAccessible::Name), u"Backend API"_s);
        QCOMPARE(accessible->text(QAccessible::Value), text);
        QCOMPARE(accessible->childCount(), 0);
        QVERIFY(item.findChildren<QLabel *>().isEmpty());
        Test::saveGrab(item, u"backend-status-"_s + QString::fromLatin1(QTest::currentDataTag()));
    }

    void statusLineTitleStaysNarrow()
    {
        StatusLine line(u"Source media safety of this import source"_s,
                        u"Safe to erase after verification"_s,
                        Tone::Positive);
        line.resize(360, line.heightForWidth(360) > 0 ? line.heightForWidth(360) : 60);
        line.show();
        QVERIFY(QTest::qWaitForWindowExposed(&line));
        QVERIFY(line.titleLabel()->width() <= StatusLine::maximumTitleWidth);
        QVERIFY(line.valueLabel()->width() > line.titleLabel()->width());
        QCOMPARE(line.valueLabel()->alignment() & Qt::AlignRight, Qt::AlignRight);
    }

    void utilityPanelKeepsItsHeight()
    {
        UtilityPanel panel(u"System Status"_s, u"server.rack"_s);
        panel.contentLayout()->addWidget(new QLabel(u"No active work"_s));
        panel.resize(300, panel.sizeHint().height());
        QVERIFY(panel.height() >= UtilityPanel::minimumPanelHeight);
        QCOMPARE(panel.minimumHeight(), UtilityPanel::minimumPanelHeight);
    }
};

QTEST_MAIN(StatusViewsTests)
#include "StatusViewsTests.moc"
