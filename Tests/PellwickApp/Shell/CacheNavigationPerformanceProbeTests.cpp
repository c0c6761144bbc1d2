#include <PellwickApp/Shell/CacheNavigationPerformanceProbe.h>

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <Support/TestFiles.h>

using namespace Pellwick;
using namespace Qt::StringLiterals;

/// The probe's start instant is one for the whole process and is never cleared, so the slots run
/// in the order declared: the first ones check the state before any start.
class CacheNavigationPerformanceProbeTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void nothingIsRecordedBeforeTheFirstStart();
    void absentVariableTouchesNoFile();
    void missingFileIsNeverCreated_data();
    void missingFileIsNeverCreated();
    void eachNavigationAppendsOneLine_data();
    void eachNavigationAppendsOneLine();
    void recordingAgainMeasuresFromTheSameStart();

private:
    static void setMetricsFile(const std::optional<QString> &path);
    /// Waits, without sleeping, until at least `milliseconds` have passed on `timer`.
    static void spinUntil(const QElapsedTimer &timer, qint64 milliseconds);
    static QList<qint64> recordedMilliseconds(const QByteArray &content);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_previousDirectory;
};

void CacheNavigationPerformanceProbeTests::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_previousDirectory = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
}

void CacheNavigationPerformanceProbeTests::cleanup()
{
    setMetricsFile(std::nullopt);
    QDir::setCurrent(m_previousDirectory);
}

void CacheNavigationPerformanceProbeTests::setMetricsFile(const std::optional<QString> &path)
{
    if (path)
        qputenv("PELL_WICK_PERFORMANCE_METRICS_FILE", path->toUtf8());
    else
        qunsetenv("PELL_WICK_PERFORMANCE_METRICS_FILE");
}

void CacheNavigationPerformanceProbeTests::spinUntil(const QElapsedTimer &timer,
                                                     qint64 milliseconds)
{
    while (timer.elapsed() < milliseconds) {
    }
}

QList<qint64> CacheNavigationPerformanceProbeTests::recordedMilliseconds(const QByteArray &content)
{
    QList<qint64> values;
    static const QRegularExpression line(u"cache-usability-ms=(0|[1-9][0-9]*)\n"_s);
    auto matches = line.globalMatch(QString::fromUtf8(content));
    while (matches.hasNext())
        values.append(matches.next().captured(1).toLongLong());
    return values;
}

void CacheNavigationPerformanceProbeTests::nothingIsRecordedBeforeTheFirstStart()
{
    const QString metrics = m_dir->filePath(u"metrics.txt"_s);
    Test::writeFile(metrics, "existing\n");
    // A start while the variable is absent does not count.
    CacheNavigationPerformanceProbe::startNavigation();
    setMetricsFile(metrics);
    CacheNavigationPerformanceProbe::recordUsability();
    CacheNavigationPerformanceProbe::recordUsability();
    QCOMPARE(Test::readFile(metrics), QByteArray("existing\n"));
}

void CacheNavigationPerformanceProbeTests::absentVariableTouchesNoFile()
{
    const QString metrics = m_dir->filePath(u"metrics.txt"_s);
    Test::writeFile(metrics, "existing");
    setMetricsFile(metrics);
    CacheNavigationPerformanceProbe::startNavigation();
    setMetricsFile(std::nullopt);
    CacheNavigationPerformanceProbe::recordUsability();
    CacheNavigationPerformanceProbe::startNavigation();
    CacheNavigationPerformanceProbe::recordUsability();
    QCOMPARE(Test::readFile(metrics), QByteArray("existing"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{u"metrics.txt"_s});
}

void CacheNavigationPerformanceProbeTests::missingFileIsNeverCreated_data()
{
    QTest::addColumn<QString>("variable");
    QTest::newRow("absolute path") << u"%1/metrics.txt"_s;
    QTest::newRow("relative path") << u"metrics.txt"_s;
    QTest::newRow("in a missing folder") << u"%1/missing/metrics.txt"_s;
    QTest::newRow("empty") << QString();
}

void CacheNavigationPerformanceProbeTests::missingFileIsNeverCreated()
{
    QFETCH(QString, variable);
    setMetricsFile(variable.contains(u"%1"_s) ? variable.arg(m_dir->path()) : variable);
    CacheNavigationPerformanceProbe::startNavigation();
    CacheNavigationPerformanceProbe::recordUsability();
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
}

void CacheNavigationPerformanceProbeTests::eachNavigationAppendsOneLine_data()
{
    QTest::addColumn<QByteArray>("existing");
    QTest::addColumn<bool>("relative");
    QTest::newRow("empty file") << QByteArray() << false;
    QTest::newRow("earlier records") << QByteArray("cache-usability-ms=12\n") << false;
    QTest::newRow("no final newline") << QByteArray("harness header") << false;
    QTest::newRow("relative path") << QByteArray("x\n") << true;
}

void CacheNavigationPerformanceProbeTests::eachNavigationAppendsOneLine()
{
    QFETCH(QByteArray, existing);
    QFETCH(bool, relative);
    const QString metrics = m_dir->filePath(u"metrics.txt"_s);
    Test::writeFile(metrics, existing);
    setMetricsFile(relative ? u"metrics.txt"_s : metrics);

    QList<qint64> bounds;
    for (qint64 least : {20, 0}) {
        // The probe's interval lies between the inner and the outer timer's.
        QElapsedTimer outer;
        outer.start();
        CacheNavigationPerformanceProbe::startNavigation();
        QElapsedTimer inner;
        inner.start();
        spinUntil(inner, least);
        CacheNavigationPerformanceProbe::recordUsability();
        bounds << least << outer.elapsed();
    }

    const QByteArray content = Test::readFile(metrics);
    QVERIFY2(content.startsWith(existing), content.constData());
    const QByteArray added = content.mid(existing.size());
    const QList<qint64> values = recordedMilliseconds(added);
    QCOMPARE(values.size(), 2);
    QCOMPARE(added.count('\n'), 2);
    QVERIFY(added.endsWith('\n'));
    for (int i = 0; i < 2; ++i) {
        QVERIFY2(
            values[i] >= bounds[2 * i] && values[i] <= bounds[2 * i + 1],
            qPrintable(
                u"%1 outside [%2, %3]"_s.arg(values[i]).arg(bounds[2 * i]).arg(bounds[2 * i + 1])));
    }
}

void CacheNavigationPerformanceProbeTests::recordingAgainMeasuresFromTheSameStart()
{
    const QString metrics = m_dir->filePath(u"metrics.txt"_s);
    Test::writeFile(metrics, {});
    setMetricsFile(metrics);
    CacheNavigationPerformanceProbe::startNavigation();
    QElapsedTimer timer;
    timer.start();
    CacheNavigationPerformanceProbe::recordUsability();
    spinUntil(timer, 15);
    CacheNavigationPerformanceProbe::recordUsability();
    const QList<qint64> values = recordedMilliseconds(Test::readFile(metrics));
    QCOMPARE(values.size(), 2);
    QVERIFY(values[1] >= 15);
    QVERIFY(values[1] >= values[0]);
}

QTEST_GUILESS_MAIN(CacheNavigationPerformanceProbeTests)
#include "CacheNavigationPerformanceProbeTests.moc"
