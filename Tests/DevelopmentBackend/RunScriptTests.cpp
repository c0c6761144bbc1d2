#include <PellwickCore/Backend/CurlFetch.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <Support/PrivateXServer.h>
#include <Support/TestFiles.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

/// Stands in for the application: notes the backend URL it was given and whether that backend
/// answered its health check, then ends with exit code 7.
const QByteArray stubApplication = R"(#!/usr/bin/env bash
printf '%s' "${PELL_WICK_BACKEND_URL-unset}" > "$STUB_OUTPUT/url"
curl -s -o /dev/null -w '%{http_code}' --max-time 5 "$PELL_WICK_BACKEND_URL/api/health" \
    > "$STUB_OUTPUT/health" || true
exit 7
)";

/// Stands in for an application that runs until it is told to end: notes its backend URL, then
/// waits for SIGTERM, notes it and ends with exit code 5.
const QByteArray waitingApplication = R"(#!/usr/bin/env bash
trap 'printf term > "$STUB_OUTPUT/signal"; exit 5' TERM
printf '%s' "$PELL_WICK_BACKEND_URL" > "$STUB_OUTPUT/url"
while :; do sleep 0.1; done
)";

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("missing");
}

} // namespace

class RunScriptTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startsTheBackendOnlyWhenNoneIsConfigured_data();
    void startsTheBackendOnlyWhenNoneIsConfigured();
    void terminationReachesTheApplicationAndStopsTheBackend();
};

void RunScriptTests::startsTheBackendOnlyWhenNoneIsConfigured_data()
{
    QTest::addColumn<std::optional<QString>>("configuredURL");

    QTest::newRow("no backend configured") << std::optional<QString>();
    QTest::newRow("backend configured") << std::optional<QString>(u"http://127.0.0.1:9"_s);
}

void RunScriptTests::startsTheBackendOnlyWhenNoneIsConfigured()
{
    QFETCH(std::optional<QString>, configuredURL);

    QTemporaryDir dir;
    const QString stub = dir.filePath(u"pellwick-stub"_s);
    writeFile(stub, stubApplication);
    QFile::setPermissions(stub,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString stateHome = dir.filePath(u"state"_s);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(u"PELL_WICK_BACKEND_URL"_s);
    if (configuredURL)
        environment.insert(u"PELL_WICK_BACKEND_URL"_s, *configuredURL);
    environment.insert(u"PELLWICK_APP_BINARY"_s, stub);
    environment.insert(u"PELLWICK_DEV_BACKEND_BINARY"_s, QStringLiteral(PELLWICK_DEV_BACKEND_PATH));
    environment.insert(u"XDG_STATE_HOME"_s, stateHome);
    environment.insert(u"STUB_OUTPUT"_s, dir.path());
    QProcess run;
    run.setProcessEnvironment(environment);
    run.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (!startUnderPrivateXServer(run, {QStringLiteral(PELLWICK_RUN_SCRIPT)}))
        QSKIP("Xvfb is not installed (scripts/install-dependencies installs it)");
    QVERIFY(run.waitForFinished(60'000));
    const QString output = QString::fromUtf8(run.readAllStandardOutput());
    QCOMPARE(run.exitCode(), 7); // the application's own exit code

    const QString url = QString::fromUtf8(contents(dir.filePath(u"url"_s)));
    if (configuredURL) {
        QCOMPARE(url, *configuredURL);
        QVERIFY(!QDir(stateHome).exists()); // no backend was started
        return;
    }
    QVERIFY2(url.startsWith(u"http://127.0.0.1:"_s), qPrintable(url));
    QCOMPARE(contents(dir.filePath(u"health"_s)), QByteArray("200"));
    QVERIFY2(output.contains(url), qPrintable(output));
    QVERIFY(QDir(stateHome + u"/pellwick-dev-backend"_s).exists());
    // The backend ended with the application.
    const Result<HttpResponse> after = CurlFetch()(url + u"/api/health"_s, {});
    QVERIFY(!after);
}

void RunScriptTests::terminationReachesTheApplicationAndStopsTheBackend()
{
    QTemporaryDir dir;
    const QString stub = dir.filePath(u"pellwick-stub"_s);
    writeFile(stub, waitingApplication);
    QFile::setPermissions(stub,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(u"PELL_WICK_BACKEND_URL"_s);
    environment.insert(u"PELLWICK_APP_BINARY"_s, stub);
    environment.insert(u"PELLWICK_DEV_BACKEND_BINARY"_s, QStringLiteral(PELLWICK_DEV_BACKEND_PATH));
    environment.insert(u"XDG_STATE_HOME"_s, dir.filePath(u"state"_s));
    environment.insert(u"STUB_OUTPUT"_s, dir.path());
    QProcess run;
    run.setProcessEnvironment(environment);
    run.start(QStringLiteral(PELLWICK_RUN_SCRIPT), {});
    // The file exists from the shell's redirection on, before its contents are written.
    QTRY_VERIFY_WITH_TIMEOUT(contents(dir.filePath(u"url"_s)).startsWith("http"), 30'000);
    const QString url = QString::fromUtf8(contents(dir.filePath(u"url"_s)));
    QVERIFY(CurlFetch()(url + u"/api/health"_s, {}).has_value());

    run.terminate(); // SIGTERM to the script's process id
    QVERIFY(run.waitForFinished(30'000));
    QCOMPARE(run.exitCode(), 5);
    QCOMPARE(contents(dir.filePath(u"signal"_s)), QByteArray("term"));
    QVERIFY(!CurlFetch()(url + u"/api/health"_s, {}).has_value());
}

QTEST_GUILESS_MAIN(RunScriptTests)
#include "RunScriptTests.moc"
