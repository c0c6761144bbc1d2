#include "IsolatedAppEnvironment.h"
#include "XvfbLaunchScript.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

#include <Support/PrivateXServer.h>
#include <Support/TestBackend/TestBackend.h>

using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

struct SmokeCase
{
    bool stallingBackend = false;
    /// Started at the same moment, each from its own process under its own X server.
    int launches = 1;
};

} // namespace

class XvfbSmokeTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void windowIsMappedUnderXvfb_data();
    void windowIsMappedUnderXvfb();
};

void XvfbSmokeTests::windowIsMappedUnderXvfb_data()
{
    QTest::addColumn<SmokeCase>("smoke");

    QTest::newRow("backend answering") << SmokeCase{};
    // Closing does not wait for a stalled health check.
    QTest::newRow("backend stalling") << SmokeCase{.stallingBackend = true};
    QTest::newRow("two X servers started at the same moment") << SmokeCase{.launches = 2};
}

void XvfbSmokeTests::windowIsMappedUnderXvfb()
{
    QFETCH(SmokeCase, smoke);

    TestBackend backend;
    if (smoke.stallingBackend)
        backend.injectFault("GET", "/api/health", TestBackend::Fault::stall());
    std::vector<std::unique_ptr<QTemporaryDir>> roots;
    std::vector<std::unique_ptr<QProcess>> launches;
    QStringList screenshots;
    for (int launch = 0; launch < smoke.launches; ++launch) {
        const QString screenshot
            = QDir(QCoreApplication::applicationDirPath())
                  .filePath(
                      u"grabs/xvfb-smoke-%1-%2.png"_s
                          .arg(QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-'))
                          .arg(launch));
        QDir().mkpath(QFileInfo(screenshot).path());
        QFile::remove(screenshot);
        screenshots.append(screenshot);

        roots.push_back(std::make_unique<QTemporaryDir>());
        QProcessEnvironment environment = isolatedAppEnvironment(backend.baseURL(), *roots.back());
        environment.remove(u"QT_QPA_PLATFORM"_s); // the real X server of Xvfb
        environment.insert(u"PELLWICK_BINARY"_s, QStringLiteral(PELLWICK_APP_PATH));
        environment.insert(u"SCREENSHOT"_s, screenshot);
        launches.push_back(std::make_unique<QProcess>());
        launches.back()->setProcessEnvironment(environment);
        launches.back()->setProcessChannelMode(QProcess::MergedChannels);
    }
    for (const std::unique_ptr<QProcess> &launch : launches) {
        if (!startUnderPrivateXServer(*launch, {u"bash"_s, u"-c"_s, xvfbLaunchScript}))
            QSKIP("Xvfb is not installed (scripts/install-dependencies installs it)");
    }
    for (int launch = 0; launch < smoke.launches; ++launch) {
        QVERIFY(launches[launch]->waitForFinished(90'000));
        const QString output = QString::fromUtf8(launches[launch]->readAll());
        QVERIFY2(launches[launch]->exitCode() == 0, qPrintable(output));
        QVERIFY(QFileInfo(screenshots[launch]).size() > 0);
    }
}

QTEST_GUILESS_MAIN(XvfbSmokeTests)
#include "XvfbSmokeTests.moc"
