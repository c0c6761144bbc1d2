#include "ShellViewModelFixture.h"

#include <PellwickApp/Workflows/Library/LibraryWorkflows.h>

#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <ctime>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

using Model = LibraryShellViewModel;
using Change = std::function<void(Model &)>;
using TimeFilter = LocalLibraryCaptureTimeFilter;
using LocationFilter = LocalLibraryCaptureLocationFilter;
using Duplicates = LocalLibraryDuplicateVisibility;

namespace {

Date at(const QString &iso)
{
    const QDateTime dateTime = QDateTime::fromString(iso, Qt::ISODateWithMs);
    Q_ASSERT(dateTime.isValid());
    return Date::fromDateTime(dateTime);
}

/// Every filter away from its default, and the window dates moved.
void setEveryFilter(Model &model)
{
    model.libraryState().setLocalLibrarySearchText(u"card"_s);
    model.libraryState().setLocalLibraryCaptureTimeFilter(TimeFilter::DateRange);
    model.libraryState().setLocalLibraryCaptureTimeStart(at(u"2026-01-10T12:00:00Z"_s));
    model.libraryState().setLocalLibraryCaptureTimeEnd(at(u"2026-01-12T12:00:00Z"_s));
    model.libraryState().setLocalLibraryCaptureLocationFilter(LocationFilter::Known);
    model.libraryState().setLocalLibraryImportStatusFilter(LibraryItemImportStatus::VerifiedBackup);
    model.libraryState().setLocalLibraryIngestSourceFilter(u"CARD_A"_s);
    model.libraryState().setLocalLibraryDuplicateVisibility(Duplicates::Only);
}

/// Sets TZ for this process and puts the previous value back when it goes.
class ScopedTimeZone
{
public:
    explicit ScopedTimeZone(const QByteArray &zone)
        : m_previous(qgetenv("TZ"))
        , m_wasSet(qEnvironmentVariableIsSet("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }

    ~ScopedTimeZone()
    {
        if (m_wasSet)
            qputenv("TZ", m_previous);
        else
            qunsetenv("TZ");
        tzset();
    }

    ScopedTimeZone(const ScopedTimeZone &) = delete;
    ScopedTimeZone &operator=(const ScopedTimeZone &) = delete;

private:
    QByteArray m_previous;
    bool m_wasSet;
};

} // namespace

class LocalLibraryFiltersTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void assignmentsRefreshTheVisibleItems_data();
    void assignmentsRefreshTheVisibleItems();
    void activeFiltersIgnoreTheWindowDates_data();
    void activeFiltersIgnoreTheWindowDates();
    void queryCarriesTheFilters_data();
    void queryCarriesTheFilters();
    void captureTimeWindowCoversWholeLocalDays_data();
    void captureTimeWindowCoversWholeLocalDays();
    void resetRefreshesOnceAndKeepsTheDates_data();
    void resetRefreshesOnceAndKeepsTheDates();

private:
    std::unique_ptr<ShellViewModelFixture> m_fixture;
};

void LocalLibraryFiltersTests::init()
{
    m_fixture = std::make_unique<ShellViewModelFixture>();
    QVERIFY(m_fixture->dir.isValid());
}

void LocalLibraryFiltersTests::assignmentsRefreshTheVisibleItems_data()
{
    QTest::addColumn<Change>("before");
    QTest::addColumn<Change>("change");
    QTest::addColumn<int>("refreshes");
    const Change nothing = [](Model &) {};
    QTest::newRow("a new search text")
        << nothing << Change([](Model &m) { m.libraryState().setLocalLibrarySearchText(u"a"_s); })
        << 1;
    QTest::newRow("the same search text")
        << Change([](Model &m) { m.libraryState().setLocalLibrarySearchText(u"a"_s); })
        << Change([](Model &m) { m.libraryState().setLocalLibrarySearchText(u"a"_s); }) << 0;
    QTest::newRow("a longer search text finding the same items")
        << Change([](Model &m) { m.libraryState().setLocalLibrarySearchText(u"a"_s); })
        << Change([](Model &m) { m.libraryState().setLocalLibrarySearchText(u"ab"_s); }) << 0;
    QTest::newRow("the same empty search text")
        << nothing
        << Change([](Model &m) { m.libraryState().setLocalLibrarySearchText(QString()); }) << 0;
    QTest::newRow("the same capture-location filter") << nothing << Change([](Model &m) {
        m.libraryState().setLocalLibraryCaptureLocationFilter(LocationFilter::Any);
    }) << 1;
    QTest::newRow("the same capture-time filter") << nothing << Change([](Model &m) {
        m.libraryState().setLocalLibraryCaptureTimeFilter(TimeFilter::Any);
    }) << 1;
    QTest::newRow("a window start while any capture time is shown")
        << nothing << Change([](Model &m) {
               m.libraryState().setLocalLibraryCaptureTimeStart(
                   m.libraryState().localLibraryCaptureTimeStart());
           })
        << 1;
    QTest::newRow("a window end") << nothing << Change([](Model &m) {
        m.libraryState().setLocalLibraryCaptureTimeEnd(at(u"2026-02-01T00:00:00Z"_s));
    }) << 1;
    QTest::newRow("the same empty import-status filter") << nothing << Change([](Model &m) {
        m.libraryState().setLocalLibraryImportStatusFilter(std::nullopt);
    }) << 1;
    QTest::newRow("the same empty ingest-source filter") << nothing << Change([](Model &m) {
        m.libraryState().setLocalLibraryIngestSourceFilter(std::nullopt);
    }) << 1;
    QTest::newRow("the same duplicate visibility") << nothing << Change([](Model &m) {
        m.libraryState().setLocalLibraryDuplicateVisibility(Duplicates::Hidden);
    }) << 1;
    QTest::newRow("every filter at once") << nothing << Change(setEveryFilter) << 8;
}

void LocalLibraryFiltersTests::assignmentsRefreshTheVisibleItems()
{
    QFETCH(Change, before);
    QFETCH(Change, change);
    QFETCH(int, refreshes);
    const auto model = m_fixture->make();
    before(*model);
    const qint64 revision = model->libraryState().localLibraryItemsRevision();
    QSignalSpy searchText(&model->libraryState(), &LibraryState::localLibrarySearchTextChanged);
    QSignalSpy items(&model->libraryState(), &LibraryState::localLibraryItemsChanged);
    change(*model);
    // Each refresh advances the revision by exactly one and publishes the items once.
    QCOMPARE(model->libraryState().localLibraryItemsRevision() - revision, refreshes);
    QCOMPARE(items.count(), refreshes);
    if (QByteArray(QTest::currentDataTag()).contains("search text"))
        QCOMPARE(searchText.count(), 1); // an unchanged text is still published
}

void LocalLibraryFiltersTests::activeFiltersIgnoreTheWindowDates_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<bool>("active");
    QTest::newRow("defaults") << Change([](Model &) {}) << false;
    QTest::newRow("only spaces and newlines")
        << Change([](Model &m) { m.libraryState().setLocalLibrarySearchText(u" \n\t\r\u2028 "_s); })
        << false;
    QTest::newRow("a search text")
        << Change([](Model &m) { m.libraryState().setLocalLibrarySearchText(u"  x "_s); }) << true;
    QTest::newRow("date range") << Change([](Model &m) {
        m.libraryState().setLocalLibraryCaptureTimeFilter(TimeFilter::DateRange);
    }) << true;
    QTest::newRow("unknown capture time") << Change([](Model &m) {
        m.libraryState().setLocalLibraryCaptureTimeFilter(TimeFilter::Unknown);
    }) << true;
    QTest::newRow("unknown location") << Change([](Model &m) {
        m.libraryState().setLocalLibraryCaptureLocationFilter(LocationFilter::Unknown);
    }) << true;
    QTest::newRow("an import status") << Change([](Model &m) {
        m.libraryState().setLocalLibraryImportStatusFilter(
            LibraryItemImportStatus::LocalCacheReady);
    }) << true;
    QTest::newRow("an empty ingest source")
        << Change([](Model &m) { m.libraryState().setLocalLibraryIngestSourceFilter(QString()); })
        << true;
    QTest::newRow("duplicates included") << Change([](Model &m) {
        m.libraryState().setLocalLibraryDuplicateVisibility(Duplicates::Included);
    }) << true;
    QTest::newRow("only the window dates moved") << Change([](Model &m) {
        m.libraryState().setLocalLibraryCaptureTimeStart(at(u"2020-01-01T00:00:00Z"_s));
        m.libraryState().setLocalLibraryCaptureTimeEnd(at(u"2020-01-02T00:00:00Z"_s));
    }) << false;
}

void LocalLibraryFiltersTests::activeFiltersIgnoreTheWindowDates()
{
    QFETCH(Change, change);
    QFETCH(bool, active);
    const auto model = m_fixture->make();
    change(*model);
    QCOMPARE(model->libraryWorkflows().hasActiveLocalLibraryFilters(), active);
}

void LocalLibraryFiltersTests::queryCarriesTheFilters_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<LocalLibrarySearchQuery>("expected");
    QTest::addColumn<bool>("hasWindow");
    LocalLibrarySearchQuery defaults;
    defaults.text = QString();
    QTest::newRow("defaults") << Change([](Model &) {}) << defaults << false;

    LocalLibrarySearchQuery whitespace = defaults;
    whitespace.text = u"  \n"_s;
    QTest::newRow("whitespace text as typed")
        << Change([](Model &m) { m.libraryState().setLocalLibrarySearchText(u"  \n"_s); })
        << whitespace << false;

    LocalLibrarySearchQuery unknownTime = defaults;
    unknownTime.captureTimeKnown = false;
    QTest::newRow("unknown capture time has no window") << Change([](Model &m) {
        m.libraryState().setLocalLibraryCaptureTimeFilter(TimeFilter::Unknown);
    }) << unknownTime << false;

    LocalLibrarySearchQuery emptySource = defaults;
    emptySource.ingestSourceName = QString();
    QTest::newRow("an empty ingest source as is")
        << Change([](Model &m) { m.libraryState().setLocalLibraryIngestSourceFilter(QString()); })
        << emptySource << false;

    LocalLibrarySearchQuery every;
    every.text = u"card"_s;
    every.captureTimeKnown = true;
    every.importStatus = LibraryItemImportStatus::VerifiedBackup;
    every.ingestSourceName = u"CARD_A"_s;
    every.captureLocationKnown = true;
    every.duplicateVisibility = Duplicates::Only;
    QTest::newRow("every filter") << Change(setEveryFilter) << every << true;

    LocalLibrarySearchQuery unknownLocation = defaults;
    unknownLocation.captureLocationKnown = false;
    unknownLocation.duplicateVisibility = Duplicates::Included;
    QTest::newRow("unknown location, duplicates included") << Change([](Model &m) {
        m.libraryState().setLocalLibraryCaptureLocationFilter(LocationFilter::Unknown);
        m.libraryState().setLocalLibraryDuplicateVisibility(Duplicates::Included);
    }) << unknownLocation << false;
}

void LocalLibraryFiltersTests::queryCarriesTheFilters()
{
    QFETCH(Change, change);
    QFETCH(LocalLibrarySearchQuery, expected);
    QFETCH(bool, hasWindow);
    const auto model = m_fixture->make();
    change(*model);
    LocalLibrarySearchQuery query = model->libraryWorkflows().localLibraryQuery();
    QCOMPARE(query.captureTime.has_value(), hasWindow);
    QVERIFY(!query.importDate);
    query.captureTime.reset(); // its arithmetic is checked below
    QVERIFY(query == expected);
}

void LocalLibraryFiltersTests::captureTimeWindowCoversWholeLocalDays_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<Date>("start");
    QTest::addColumn<Date>("end");
    QTest::addColumn<std::optional<LocalLibraryDateRange>>("window");
    const auto window = [](const QString &lower, const QString &upper) {
        return std::optional(LocalLibraryDateRange{at(lower), at(upper)});
    };
    QTest::newRow("Berlin: the 23-hour day of the spring change ends by the calendar")
        << QByteArray("Europe/Berlin") << at(u"2026-03-28T10:00:00Z"_s)
        << at(u"2026-03-29T10:00:00Z"_s)
        << window(u"2026-03-28T00:00:00+01:00"_s, u"2026-03-29T23:59:59.999+02:00"_s);
    QTest::newRow("Berlin: start after end")
        << QByteArray("Europe/Berlin") << at(u"2026-10-25T12:00:00Z"_s)
        << at(u"2026-10-20T08:00:00Z"_s)
        << window(u"2026-10-20T00:00:00+02:00"_s, u"2026-10-25T23:59:59.999+01:00"_s);
    QTest::newRow("Berlin: start equal to end is one day")
        << QByteArray("Europe/Berlin") << at(u"2026-07-15T09:30:00Z"_s)
        << at(u"2026-07-15T09:30:00Z"_s)
        << window(u"2026-07-15T00:00:00+02:00"_s, u"2026-07-15T23:59:59.999+02:00"_s);
    QTest::newRow("Berlin: just after local midnight is the next day")
        << QByteArray("Europe/Berlin") << at(u"2026-06-30T22:30:00Z"_s)
        << at(u"2026-06-30T22:30:00Z"_s)
        << window(u"2026-07-01T00:00:00+02:00"_s, u"2026-07-01T23:59:59.999+02:00"_s);
    QTest::newRow("Sao Paulo: a day that starts at 01:00")
        << QByteArray("America/Sao_Paulo") << at(u"2018-11-04T12:00:00Z"_s)
        << at(u"2018-11-04T12:00:00Z"_s)
        << window(u"2018-11-04T01:00:00-02:00"_s, u"2018-11-04T23:59:59.999-02:00"_s);
    QTest::newRow("Sao Paulo: the day before ends where the short day starts")
        << QByteArray("America/Sao_Paulo") << at(u"2018-11-03T12:00:00Z"_s)
        << at(u"2018-11-02T12:00:00Z"_s)
        << window(u"2018-11-02T00:00:00-03:00"_s, u"2018-11-03T23:59:59.999-03:00"_s);
    QTest::newRow("a date that is not a number gives no window")
        << QByteArray("Europe/Berlin") << Date{std::nan("")} << at(u"2026-07-15T09:30:00Z"_s)
        << std::optional<LocalLibraryDateRange>();
    QTest::newRow("a date beyond every calendar gives no window")
        << QByteArray("UTC") << Date{-1e300} << at(u"2026-07-15T09:30:00Z"_s)
        << std::optional<LocalLibraryDateRange>();
}

void LocalLibraryFiltersTests::captureTimeWindowCoversWholeLocalDays()
{
    QFETCH(QByteArray, zone);
    QFETCH(Date, start);
    QFETCH(Date, end);
    QFETCH(std::optional<LocalLibraryDateRange>, window);
    const ScopedTimeZone timeZone(zone);
    const auto model = m_fixture->make();
    model->libraryState().setLocalLibraryCaptureTimeStart(start);
    model->libraryState().setLocalLibraryCaptureTimeEnd(end);
    QVERIFY(!model->libraryWorkflows().localLibraryQuery().captureTime);
    model->libraryState().setLocalLibraryCaptureTimeFilter(TimeFilter::DateRange);
    const std::optional<LocalLibraryDateRange> computed
        = model->libraryWorkflows().localLibraryQuery().captureTime;
    QCOMPARE(computed.has_value(), window.has_value());
    if (window) {
        QCOMPARE(computed->first.toDateTime(), window->first.toDateTime());
        QCOMPARE(computed->second.toDateTime(), window->second.toDateTime());
        QCOMPARE(computed->first, window->first);
        QCOMPARE(computed->second, window->second);
    }
}

void LocalLibraryFiltersTests::resetRefreshesOnceAndKeepsTheDates_data()
{
    QTest::addColumn<Change>("before");
    QTest::newRow("at the defaults") << Change([](Model &) {});
    QTest::newRow("every filter set") << Change(setEveryFilter);
}

void LocalLibraryFiltersTests::resetRefreshesOnceAndKeepsTheDates()
{
    QFETCH(Change, before);
    const auto model = m_fixture->make();
    before(*model);
    const Date start = model->libraryState().localLibraryCaptureTimeStart();
    const Date end = model->libraryState().localLibraryCaptureTimeEnd();
    const qint64 revision = model->libraryState().localLibraryItemsRevision();
    QSignalSpy searchText(&model->libraryState(), &LibraryState::localLibrarySearchTextChanged);
    QSignalSpy duplicates(&model->libraryState(),
                          &LibraryState::localLibraryDuplicateVisibilityChanged);

    model->libraryWorkflows().resetLocalLibraryFilters();

    QCOMPARE(model->libraryState().localLibraryItemsRevision() - revision, 1);
    QCOMPARE(searchText.count(), 1);
    QCOMPARE(duplicates.count(), 1);
    QVERIFY(!model->libraryWorkflows().hasActiveLocalLibraryFilters());
    LocalLibrarySearchQuery defaults;
    defaults.text = QString();
    QVERIFY(model->libraryWorkflows().localLibraryQuery() == defaults);
    QCOMPARE(model->libraryState().localLibraryCaptureTimeStart(), start);
    QCOMPARE(model->libraryState().localLibraryCaptureTimeEnd(), end);
    // After the reset, assignments refresh again.
    model->libraryState().setLocalLibraryCaptureTimeFilter(TimeFilter::DateRange);
    QCOMPARE(model->libraryState().localLibraryItemsRevision() - revision, 2);
    QVERIFY(model->libraryWorkflows().localLibraryQuery().captureTime);
}

QTEST_GUILESS_MAIN(LocalLibraryFiltersTests)
#include "LocalLibraryFiltersTests.moc"
