#include "IsolatedAppEnvironment.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <Support/TestBackend/TestBackend.h>

using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

/// The bit of `signalNumber` in a signal mask line of /proc/<pid>/status ("SigIgn:", "SigCgt:").
bool maskHas(qint64 pid, const QByteArray &field, int signalNumber)
{
    QFile status(u"/proc/%1/status"_s.arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (!line.startsWith(QByteArray(field + ':')))
            continue;
        bool ok = false;
        const qulonglong mask = line.mid(field.size() + 1).trimmed().toULongLong(&ok, 16);
        return ok && (mask & (qulonglong(1) << (signalNumber - 1))) != 0;
    }
    return false;
}

} // namespace

class TerminationSignalTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void signalEndsTheApplicationAsAClosedWindow_data();
    void signalEndsTheApplicationAsAClosedWindow();
};

void TerminationSignalTests::signalEndsTheApplicationAsAClosedWindow_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("ignoredByStarter");
    QTest::addColumn<bool>("stallingBackend");
    QTest::addColumn<bool>("afterAKilledCopy");

    QTest::newRow("SIGTERM") << int(SIGTERM) << false << false << false;
    QTest::newRow("SIGINT") << int(SIGINT) << false << false << false;
    // The terminal that started the application closed.
    QTest::newRow("SIGHUP") << int(SIGHUP) << false << false << false;
    QTest::newRow("SIGTERM during a stalled health check")
        << int(SIGTERM) << false << true << false;
    QTest::newRow("SIGHUP during a stalled health check") << int(SIGHUP) << false << true << false;
    // Started with nohup, or as a background job of a script: the signal stays ignored, and
    // SIGTERM still ends the application.
    QTest::newRow("SIGHUP ignored by the starter") << int(SIGHUP) << true << false << false;
    QTest::newRow("SIGINT ignored by the starter") << int(SIGINT) << true << false << false;
    // The copy before was killed on the same folders: what it held is not held any more.
    QTest::newRow("SIGTERM after a killed copy") << int(SIGTERM) << false << false << true;
}

void TerminationSignalTests::signalEndsTheApplicationAsAClosedWindow()
{
    QFETCH(int, signalNumber);
    QFETCH(bool, ignoredByStarter);
    QFETCH(bool, stallingBackend);
    QFETCH(bool, afterAKilledCopy);

    TestBackend backend;
    if (stallingBackend)
        backend.injectFault("GET", "/api/health", TestBackend::Fault::stall());
    QTemporaryDir roots;
    QProcessEnvironment environment = isolatedAppEnvironment(backend.baseURL(), roots);
    environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);

    if (afterAKilledCopy) {
        QProcess killed;
        killed.setProcessEnvironment(environment);
        killed.setProcessChannelMode(QProcess::MergedChannels);
        killed.start(QStringLiteral(PELLWICK_APP_PATH), {});
        QTRY_VERIFY_WITH_TIMEOUT(!backend.requests().isEmpty(), 20'000);
        killed.kill();
        QVERIFY(killed.waitForFinished(10'000));
        backend.clearRequests();
    }

    QProcess app;
    app.setProcessEnvironment(environment);
    app.setProcessChannelMode(QProcess::MergedChannels);
    if (ignoredByStarter)
        app.setChildProcessModifier([signalNumber] { std::signal(signalNumber, SIG_IGN); });
    app.start(QStringLiteral(PELLWICK_APP_PATH), {});
    QVERIFY(app.waitForStarted());
    // The first health check shows the window is up and its event loop runs.
    QTRY_VERIFY2_WITH_TIMEOUT(
        !backend.requests().isEmpty(), qPrintable(QString::fromUtf8(app.readAll())), 20'000);

    const qint64 pid = app.processId();
    if (ignoredByStarter) {
        QVERIFY(maskHas(pid, "SigIgn", signalNumber));
        QVERIFY(!maskHas(pid, "SigCgt", signalNumber));
        QCOMPARE(::kill(pid_t(pid), SIGTERM), 0);
    } else {
        QVERIFY(maskHas(pid, "SigCgt", signalNumber));
        QCOMPARE(::kill(pid_t(pid), signalNumber), 0);
    }
    QVERIFY2(app.waitForFinished(10'000), qPrintable(QString::fromUtf8(app.readAll())));
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QVERIFY2(app.exitCode() == 0, qPrintable(QString::fromUtf8(app.readAll())));
    backend.releaseStalls();
}

QTEST_GUILESS_MAIN(TerminationSignalTests)
#include "TerminationSignalTests.moc"
