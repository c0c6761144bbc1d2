#include <PellwickApp/Shell/State/ImportState.h>
#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickApp/Shell/State/RestoreState.h>
#include <PellwickApp/Shell/State/SessionState.h>
#include <PellwickApp/Shell/State/ShellState.h>
#include <PellwickApp/Views/Kit/AlertStrip.h>
#include <PellwickApp/Views/Kit/PageHeader.h>
#include <PellwickApp/Views/Kit/StatusBadge.h>
#include <PellwickApp/Views/Overview/LibraryOverviewView.h>

#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QTest>

using namespace Pellwick;
using namespace Qt::StringLiterals;

namespace {

constexpr qint64 gigabyte = 1'000'000'000;

struct OverviewFixture
{
    SessionState session;
    ImportState imports;
    RestoreState restore;
    ShellState shell;
    LibraryState library;
    LibraryOverviewView page{{session, imports, restore, shell, library}};

    explicit OverviewFixture(const UserLibrary &userLibrary,
                             std::optional<QString> displayName = u"Ana Kowalski"_s)
    {
        session.setSession(AuthenticatedLibrarySession{
            .token = u"token"_s,
            .user = {.id = 7, .email = u"ana@example.com"_s, .displayName = displayName},
            .library = userLibrary});
    }

    template<typename Widget>
    Widget *find(const QString &name) const
    {
        return page.findChild<Widget *>(name);
    }

    QString text(const QString &name) const { return find<QLabel>(name)->text(); }
};

UserLibrary library(PaidPlanStatus status, TrialQuotaState trialQuota = {gigabyte, 2 * gigabyte})
{
    UserLibrary library;
    library.id = 12345;
    library.trialQuota = trialQuota;
    library.paidPlan.status = status;
    library.paidPlan.storageEntitlement = {gigabyte, 10 * gigabyte};
    library.paidPlan.restoreAllowance = {0, 10 * gigabyte};
    return library;
}

struct TextCase
{
    PaidPlanStatus status = PaidPlanStatus::Trial;
    std::optional<QString> displayName = u"Ana Kowalski"_s;
    QString locale = u"en_US"_s;
    QString header = u"Ana Kowalski - ana@example.com - Library #12345"_s;
    QString badge = u"No active Paid Plan"_s;
    LibraryPresentationTone tone = LibraryPresentationTone::Secondary;
    QString restoreUnit = u"restored this plan year"_s;
    QString readError = {};
};

struct MeterCase
{
    TrialQuotaState trialQuota;
    int value = 0;
    QString percent;
};

} // namespace

Q_DECLARE_METATYPE(TextCase)
Q_DECLARE_METATYPE(MeterCase)

class LibraryOverviewTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void texts_data()
    {
        QTest::addColumn<TextCase>("row");
        QTest::newRow("trial") << TextCase{.restoreUnit = u"restored under Trial Quota"_s};
        QTest::newRow("no display name")
            << TextCase{.displayName = std::nullopt,
                        .header = u"ana@example.com - ana@example.com - Library #12345"_s,
                        .restoreUnit = u"restored under Trial Quota"_s};
        QTest::newRow("paid") << TextCase{.status = PaidPlanStatus::Paid,
                                          .badge = u"$249/year active"_s,
                                          .tone = LibraryPresentationTone::Positive};
        QTest::newRow("expired, damaged library") << TextCase{
            .status = PaidPlanStatus::Expired, .readError = u"Cannot read the library."_s};
        QTest::newRow("payment failed, German")
            << TextCase{.status = PaidPlanStatus::PaymentFailed, .locale = u"de_DE"_s};
    }

    void texts()
    {
        QFETCH(TextCase, row);
        const QLocale before;
        QLocale::setDefault(QLocale(row.locale));
        OverviewFixture fixture(library(row.status), row.displayName);
        QLocale::setDefault(before);
        fixture.library.setLibraryReadErrorMessage(row.readError);

        QStringList headerTexts;
        for (const QLabel *label : fixture.page.header()->findChildren<QLabel *>())
            headerTexts.append(label->text());
        QVERIFY2(headerTexts.contains(row.header), qPrintable(headerTexts.join(u" | "_s)));
        const auto *badge = fixture.find<StatusBadge>(u"overview.paid-plan-status.badge"_s);
        QCOMPARE(badge->text(), row.badge);
        QCOMPARE(badge->tone(), row.tone);
        QVERIFY(fixture.text(u"overview.restore-allowance.usage"_s).contains(row.restoreUnit));
        QCOMPARE(fixture.page.readErrorStrip()->text(), row.readError);
        QCOMPARE(fixture.page.readErrorStrip()->isHidden(), row.readError.isEmpty());

        QStringList titles;
        for (const QLabel *title : fixture.page.findChildren<QLabel *>(u"utility-panel.title"_s))
            titles.append(title->text());
        QCOMPARE(titles,
                 QStringList({u"Storage Entitlement"_s,
                              u"Trial Quota"_s,
                              u"Paid Plan Status"_s,
                              u"Restore Allowance"_s,
                              u"System Status"_s}));
        QVERIFY(fixture.text(u"overview.storage-entitlement.usage"_s)
                    .contains(u"Managed Archive Storage"_s));
        QVERIFY(fixture.text(u"overview.trial-quota.usage"_s).contains(u" used ("_s));
    }

    void trialQuotaMeter_data()
    {
        QTest::addColumn<MeterCase>("row");
        QTest::newRow("limit 0") << MeterCase{.trialQuota = {gigabyte, 0}, .percent = u"(0%)"_s};
        QTest::newRow("above the limit") << MeterCase{
            .trialQuota = {3 * gigabyte, gigabyte}, .value = 1000, .percent = u"(100%)"_s};
    }

    void trialQuotaMeter()
    {
        QFETCH(MeterCase, row);
        OverviewFixture fixture(library(PaidPlanStatus::Trial, row.trialQuota));
        QCOMPARE(fixture.find<QProgressBar>(u"overview.trial-quota.meter"_s)->value(), row.value);
        QVERIFY(fixture.text(u"overview.trial-quota.usage"_s).endsWith(row.percent));
    }

    void columns_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("columns");
        QTest::newRow("narrow") << 360 << 1;
        QTest::newRow("wide") << 1000 << 3;
    }

    void columns()
    {
        QFETCH(int, width);
        QFETCH(int, columns);
        OverviewFixture fixture(library(PaidPlanStatus::Paid));
        fixture.page.resize(width, 700);
        fixture.page.show();
        QTRY_COMPARE(fixture.page.shownColumnCount(), columns);
    }
};

QTEST_MAIN(LibraryOverviewTests)
#include "LibraryOverviewTests.moc"
