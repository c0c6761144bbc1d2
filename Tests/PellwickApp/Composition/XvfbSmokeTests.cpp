#include "IsolatedAppEnvironment.h"
#include "XvfbLaunchScript.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <Support/TestBackend/TestBackend.h>

using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

class XvfbSmokeTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void windowIsMappedUnderXvfb_data();
    void windowIsMappedUnderXvfb();
};

void XvfbSmokeTests::windowIsMappedUnderXvfb_data()
{
    QTest::addColumn<bool>("stallingBackend");

    QTest::newRow("backend answering") << false;
    // Closing does not wait for a stalled health check.
    QTest::newRow("backend stalling") << true;
}

void XvfbSmokeTests::windowIsMappedUnderXvfb()
{
    QFETCH(bool, stallingBackend);

    const QString xvfbRun = QStandardPaths::findExecutable(u"xvfb-run"_s);
    if (xvfbRun.isEmpty())
        QSKIP("xvfb-run is not installed (scripts/install-dependencies installs it)");
    TestBackend backend;
    if (stallingBackend)
        backend.injectFault("GET", "/api/health", TestBackend::Fault::stall());
    QTemporaryDir roots;
    const QString screenshot
        = QDir(QCoreApplication::applicationDirPath())
              .filePath(stallingBackend ? u"grabs/xvfb-smoke-stalling-backend.png"_s
                                        : u"grabs/xvfb-smoke.png"_s);
    QDir().mkpath(QFileInfo(screenshot).path());
    QFile::remove(screenshot);

    QProcessEnvironment environment = isolatedAppEnvironment(backend.baseURL(), roots);
    environment.remove(u"QT_QPA_PLATFORM"_s); // the real X server of Xvfb
    environment.insert(u"PELLWICK_BINARY"_s, QStringLiteral(PELLWICK_APP_PATH));
    environment.insert(u"SCREENSHOT"_s, screenshot);

    QProcess smoke;
    smoke.setProcessEnvironment(environment);
    smoke.setProcessChannelMode(QProcess::MergedChannels);
    smoke.start(
        xvfbRun,
        {u"-a"_s, u"-s"_s, u"-screen 0 1400x900x24"_s, u"bash"_s, u"-c"_s, xvfbLaunchScript});
    QVERIFY(smoke.waitForFinished(90'000));
    const QString output = QString::fromUtf8(smoke.readAll());
    QVERIFY2(smoke.exitCode() == 0, qPrintable(output));
    QVERIFY(QFileInfo(screenshot).size() > 0);
}

QTEST_GUILESS_MAIN(XvfbSmokeTests)
#include "XvfbSmokeTests.moc"
