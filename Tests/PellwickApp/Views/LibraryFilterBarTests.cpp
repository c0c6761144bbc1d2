#include "../Shell/ShellViewModelFixture.h"

#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Kit/PellwickSelect.h>
#include <PellwickApp/Views/Library/LocalLibraryFilterBar.h>
#include <PellwickApp/Workflows/Library/LibraryWorkflows.h>

#include <QDateEdit>
#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

/// The filter bar over a real view model (an empty library).
struct Bar
{
    ShellViewModelFixture fixture;
    std::unique_ptr<LibraryShellViewModel> model = fixture.make();
    LocalLibraryFilterBar bar{model->libraryState(), model->libraryWorkflows()};

    PellwickMenuSelectorLabel &select(const QString &name) const
    {
        return *bar.findChild<PellwickMenuSelectorLabel *>(u"local-library-cache.filter."_s + name);
    }

    /// Chooses the option `text` of the selector `name`, as a click in its menu would.
    void choose(const QString &name, const QString &text) const
    {
        for (QAction *action : select(name).menu()->actions())
            if (action->text() == text)
                action->trigger();
    }

    bool resetEnabled() const
    {
        return bar.findChild<QPushButton *>(u"local-library-cache.reset-filters"_s)->isEnabled();
    }

    QDateEdit &date(const QString &name) const
    {
        return *bar.findChild<QDateEdit *>(u"local-library-cache.filter."_s + name);
    }
};

struct Change
{
    QString selector = {};
    QString option = {};
    QString search = {};
    bool active = true;
};

} // namespace

Q_DECLARE_METATYPE(Change)

class LibraryFilterBarTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { PellwickControlStyles::install(); }

    void resetFollowsTheFilters_data()
    {
        QTest::addColumn<Change>("c");
        QTest::newRow("defaults") << Change{.active = false};
        QTest::newRow("date range") << Change{u"capture-time"_s, u"Date Range"_s};
        QTest::newRow("unknown capture time")
            << Change{u"capture-time"_s, u"Unknown Capture Time"_s};
        QTest::newRow("GPS known") << Change{u"capture-location"_s, u"GPS Known"_s};
        QTest::newRow("a status") << Change{u"import-status"_s, u"Online Archive — Verified"_s};
        QTest::newRow("include duplicates") << Change{u"duplicates"_s, u"Include Duplicates"_s};
        QTest::newRow("only duplicates") << Change{u"duplicates"_s, u"Only Duplicates"_s};
        QTest::newRow("search text") << Change{.search = u" IMG "_s};
        QTest::newRow("blank search text") << Change{.search = u"  "_s, .active = false};
    }

    void resetFollowsTheFilters()
    {
        QFETCH(Change, c);
        Bar b;
        QVERIFY(!b.resetEnabled());
        if (!c.selector.isEmpty())
            b.choose(c.selector, c.option);
        b.model->libraryState().setLocalLibrarySearchText(c.search);
        QCOMPARE(b.resetEnabled(), c.active);
        if (!c.selector.isEmpty())
            QCOMPARE(b.select(c.selector).value(), c.option);

        b.bar.findChild<QPushButton *>(u"local-library-cache.reset-filters"_s)->click();
        QVERIFY(!b.resetEnabled());
        // Each closed selector shows its value under its title.
        QStringList values;
        for (const QString &name : {u"capture-time"_s,
                                    u"capture-location"_s,
                                    u"import-status"_s,
                                    u"import-source"_s,
                                    u"duplicates"_s}) {
            QString title;
            for (const QLabel *label : b.bar.findChildren<QLabel *>())
                if (label->buddy() == &b.select(name))
                    title = label->text();
            values.append(title + u": "_s + b.select(name).value());
        }
        QCOMPARE(values.join(u'|'),
                 u"Capture Time: Any Capture Time|Capture Location: Any Location|Import Status: "
                 u"All|Import Source: All Sources|Duplicates: Hide Duplicates"_s);
    }

    void dateRowFollowsDateRange()
    {
        Bar b;
        QVERIFY(!b.date(u"from"_s).isEnabled() && !b.date(u"to"_s).isEnabled());
        b.choose(u"capture-time"_s, u"Date Range"_s);
        QVERIFY(b.date(u"from"_s).isEnabled() && b.date(u"to"_s).isEnabled());
        b.date(u"from"_s).setDate(QDate(2026, 5, 3));
        b.date(u"to"_s).setDate(QDate(2026, 5, 1));
        for (const QString &other : {u"Any Capture Time"_s, u"Unknown Capture Time"_s}) {
            b.choose(u"capture-time"_s, other);
            QVERIFY(!b.date(u"from"_s).isEnabled());
        }
        b.bar.findChild<QPushButton *>(u"local-library-cache.reset-filters"_s)->click();
        b.choose(u"capture-time"_s, u"Date Range"_s);
        QCOMPARE(b.date(u"from"_s).date(), QDate(2026, 5, 3));
        QCOMPARE(b.date(u"to"_s).date(), QDate(2026, 5, 1));
    }
};

QTEST_MAIN(LibraryFilterBarTests)
#include "LibraryFilterBarTests.moc"
