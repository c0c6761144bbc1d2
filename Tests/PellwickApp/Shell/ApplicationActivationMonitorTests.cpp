#include <PellwickApp/Shell/ApplicationActivationMonitor.h>

#include <QGuiApplication>
#include <QTest>

#include <Support/TestFiles.h>

using namespace Pellwick;
using namespace Pellwick::Test;

/// States are given by letter: "a" active, "i" inactive, "h" hidden, "s" suspended; signals are
/// recorded as "became" and "resigned".
class ApplicationActivationMonitorTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void signalsCrossingsOfTheActiveState_data();
    void signalsCrossingsOfTheActiveState();
    void startsFromTheApplicationsState();
};

void ApplicationActivationMonitorTests::signalsCrossingsOfTheActiveState_data()
{
    QTest::addColumn<QString>("states");
    QTest::addColumn<QStringList>("signalsSent");

    QTest::newRow("resign and become active again")
        << QStringLiteral("ia") << texts({"resigned", "became"});
    QTest::newRow("active again is no event") << QStringLiteral("aa") << QStringList{};
    QTest::newRow("inactive to hidden to suspended resigns once")
        << QStringLiteral("ihs") << texts({"resigned"});
    QTest::newRow("from suspended straight to active")
        << QStringLiteral("sa") << texts({"resigned", "became"});
    QTest::newRow("alternating") << QStringLiteral("iaia")
                                 << texts({"resigned", "became", "resigned", "became"});
}

void ApplicationActivationMonitorTests::signalsCrossingsOfTheActiveState()
{
    QFETCH(QString, states);
    QFETCH(QStringList, signalsSent);

    ApplicationActivationMonitor monitor;
    QVERIFY(monitor.isActive());
    QStringList recorded;
    connect(&monitor, &ApplicationActivationMonitor::becameActive, this, [&] {
        recorded.append(QStringLiteral("became"));
    });
    connect(&monitor, &ApplicationActivationMonitor::resignedActive, this, [&] {
        recorded.append(QStringLiteral("resigned"));
    });
    const QHash<QChar, Qt::ApplicationState> byLetter{
        {QLatin1Char('a'), Qt::ApplicationActive},
        {QLatin1Char('i'), Qt::ApplicationInactive},
        {QLatin1Char('h'), Qt::ApplicationHidden},
        {QLatin1Char('s'), Qt::ApplicationSuspended},
    };
    for (QChar letter : states)
        monitor.applicationStateChanged(byLetter.value(letter));
    QCOMPARE(recorded, signalsSent);
    QCOMPARE(monitor.isActive(), states.endsWith(QLatin1Char('a')));
}

void ApplicationActivationMonitorTests::startsFromTheApplicationsState()
{
    auto *application = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    QVERIFY(application);
    ApplicationActivationMonitor monitor(application);
    QCOMPARE(monitor.isActive(), application->applicationState() == Qt::ApplicationActive);
}

QTEST_MAIN(ApplicationActivationMonitorTests)
#include "ApplicationActivationMonitorTests.moc"
