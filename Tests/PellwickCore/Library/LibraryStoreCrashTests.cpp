#include "LibraryStoreScript.h"

#include <PellwickCore/Library/LocalLibraryCache.h>

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <Support/ChildProcess.h>
#include <Support/KillPoints.h>
#include <Support/TestErrors.h>

using namespace Pellwick;
using namespace Pellwick::Test;

class LibraryStoreCrashTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void killedAtEveryFileOperation();
    void killedAtRandomMoments();

private:
    /// Runs the child in a new folder and checks what a fresh store loads afterwards.
    void runAndCheck(const QStringList &killArgument,
                     std::optional<std::chrono::microseconds> killAfter,
                     const QString &context);

    QList<QList<LocalLibraryItem>> m_states; ///< the library after each prefix of the script
    int m_operations = 0;
    QTemporaryDir m_dir{killTestDirectoryTemplate(QStringLiteral("LibraryStoreCrashTests"))};
    int m_run = 0;
};

namespace {

const QString child = QStringLiteral(PELLWICK_LIBRARY_CRASH_CHILD);

QStringList ackLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

void LibraryStoreCrashTests::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // The expected library after every prefix of the script, from an uninterrupted run here.
    const LocalLibraryCache reference(m_dir.filePath(QStringLiteral("reference")),
                                      std::make_shared<LocalFileManager>(),
                                      {LibraryStoreScript::foldBytes});
    m_states.append(QList<LocalLibraryItem>());
    for (int step = 0; step < LibraryStoreScript::stepCount(); ++step) {
        PELLWICK_VERIFY_SUCCESS(LibraryStoreScript::runStep(reference, step));
        const Result<QList<LocalLibraryItem>> items = reference.readItems();
        PELLWICK_VERIFY_SUCCESS(items);
        m_states.append(*items);
    }
    // The same run in a child tells how many file operations the script takes.
    const QString root = m_dir.filePath(QStringLiteral("counted"));
    const QString acks = m_dir.filePath(QStringLiteral("counted.acks"));
    const ChildRun run = runChildProcess(child, {root, acks});
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = ackLines(acks);
    QVERIFY(!lines.isEmpty() && lines.last().startsWith(QStringLiteral("operations ")));
    m_operations = lines.last().mid(11).toInt();
    QVERIFY(m_operations > 100);
    const LocalLibraryCache fresh(root, std::make_shared<LocalFileManager>());
    QCOMPARE(fresh.readItems().value(), m_states.last());
}

void LibraryStoreCrashTests::runAndCheck(const QStringList &killArgument,
                                         std::optional<std::chrono::microseconds> killAfter,
                                         const QString &context)
{
    const QString root = m_dir.filePath(QStringLiteral("run%1").arg(m_run));
    const QString acks = m_dir.filePath(QStringLiteral("run%1.acks").arg(m_run));
    ++m_run;
    const ChildRun run = runChildProcess(child, QStringList{root, acks} + killArgument, killAfter);
    QVERIFY2(run.killed || run.exitCode == 0, qPrintable(context));
    int acknowledged = 0;
    for (const QString &line : ackLines(acks)) {
        if (!line.startsWith(QStringLiteral("operations")))
            acknowledged = line.toInt();
    }

    const LocalLibraryCache fresh(root, std::make_shared<LocalFileManager>());
    const Result<QList<LocalLibraryItem>> items = fresh.readItems();
    QVERIFY2(
        items,
        qPrintable(context + QStringLiteral(": ") + QString::fromLocal8Bit(failureText(items))));
    const bool acknowledgedState = *items == m_states[acknowledged];
    const bool oneMore = acknowledged + 1 < m_states.size() && *items == m_states[acknowledged + 1];
    QVERIFY2(acknowledgedState || oneMore,
             qPrintable(QStringLiteral("%1: %2 changes acknowledged, %3 records loaded")
                            .arg(context)
                            .arg(acknowledged)
                            .arg(items->size())));

    // The store goes on from whatever it found.
    PELLWICK_VERIFY_SUCCESS(fresh.appendItems({LibraryStoreScript::scriptItem(9999)}));
    const LocalLibraryCache again(root, std::make_shared<LocalFileManager>());
    QCOMPARE(again.readItems().value(), fresh.readItems().value());
    QFile::remove(acks);
}

void LibraryStoreCrashTests::killedAtEveryFileOperation()
{
    for (const int operation : killPoints(m_operations)) {
        runAndCheck(
            {QString::number(operation)},
            std::nullopt,
            QStringLiteral("killed at operation %1 of %2").arg(operation).arg(m_operations));
        if (QTest::currentTestFailed())
            return;
    }
}

void LibraryStoreCrashTests::killedAtRandomMoments()
{
    QRandomGenerator random(20261207);
    qint64 runTime = 0;
    (void) runChildProcess(
        child,
        {m_dir.filePath(QStringLiteral("timed")), m_dir.filePath(QStringLiteral("timed.acks"))},
        std::nullopt,
        &runTime);
    for (int i = 0; i < randomKillCount(); ++i) {
        const auto delay
            = std::chrono::microseconds(random.bounded(std::max<qint64>(runTime, 1000)));
        runAndCheck({}, delay, QStringLiteral("killed after %1 µs").arg(delay.count()));
        if (QTest::currentTestFailed())
            return;
    }
}

QTEST_GUILESS_MAIN(LibraryStoreCrashTests)
#include "LibraryStoreCrashTests.moc"
