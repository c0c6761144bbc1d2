#include "ManualTimers.h"

#include <PellwickApp/Shell/IngestCacheDirectoryObserver.h>
#include <PellwickCore/Ingest/ContentHashing.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <Support/TestFiles.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace std::chrono_literals;

/// The observer over a small cache tree, on hand-driven timers: "batch/a.CR3", "batch/a.xmp",
/// "batch/sub/b.CR3", an empty folder "empty" and "elsewhere", a link to a folder outside the
/// cache. The handler records the clock's time of each call.
class IngestCacheDirectoryObserverTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void missingPathYieldsNone_data();
    void missingPathYieldsNone();
    void activity_data();
    void activity();
    void debounce_data();
    void debounce();
    void destructionCancelsPendingCall_data();
    void destructionCancelsPendingCall();
    void destructionClosesTheWatch();
    void handlerMayDestroyTheObserver();
    void realTimersCallOnceAfterTheDebounce();
    void folderFilledBeforeItsWatchIsWatched();
    void subtreeMovedOutAndBack();
    void folderSwappedForALinkIsNotFollowed();
    void cacheReachedThroughALinkIsWatchedWhole();
    void queueOverflowCountsAndWatchesNewFolders();

private:
    QString path(const QString &relative) const { return m_root + QLatin1Char('/') + relative; }

    void startObserver();
    /// Lets the observer read what the kernel queued; inotify queues an event before the system
    /// call that caused it returns, so no waiting is needed.
    static void deliverEvents();
    /// Delivers events and lets every pending timer expire; returns the calls made meanwhile.
    int flush();

    bool changeIsPending() const { return m_timers.activeCount() > 0; }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_root;
    QString m_outside;
    ManualTimers m_timers;
    std::unique_ptr<IngestCacheDirectoryObserver> m_observer;
    QList<qint64> m_calls;
};

void IngestCacheDirectoryObserverTests::init()
{
    m_observer.reset();
    m_calls.clear();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_root = m_dir->filePath(QStringLiteral("Pellwick Ingest Cache"));
    m_outside = m_dir->filePath(QStringLiteral("outside"));
    writeFile(path(QStringLiteral("batch/a.CR3")), patternBytes(300 * 1024, 1));
    writeFile(path(QStringLiteral("batch/a.xmp")), patternBytes(200, 2));
    writeFile(path(QStringLiteral("batch/sub/b.CR3")), patternBytes(4096, 3));
    QVERIFY(QDir().mkpath(path(QStringLiteral("empty"))));
    writeFile(m_outside + QStringLiteral("/x.CR3"), patternBytes(100, 4));
    QVERIFY(QFile::link(m_outside, path(QStringLiteral("elsewhere"))));
}

void IngestCacheDirectoryObserverTests::startObserver()
{
    // Watches and watch instances are counted per user across the machine: when tests running
    // beside this one hold them all, wait for one to be given back.
    QTRY_VERIFY2_WITH_TIMEOUT(
        (m_observer = IngestCacheDirectoryObserver::create(
             m_root, [this] { m_calls.append(m_timers.now().count()); }, m_timers.factory()))
            != nullptr,
        qPrintable(qt_error_string(errno)),
        10000);
}

void IngestCacheDirectoryObserverTests::deliverEvents()
{
    for (int round = 0; round < 3; ++round)
        QCoreApplication::processEvents();
}

int IngestCacheDirectoryObserverTests::flush()
{
    const qsizetype before = m_calls.size();
    deliverEvents();
    m_timers.advance(5s);
    return static_cast<int>(m_calls.size() - before);
}

void IngestCacheDirectoryObserverTests::missingPathYieldsNone_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<bool>("yieldsObserver");

    QTest::newRow("the cache folder") << QString() << true;
    QTest::newRow("a missing folder") << QStringLiteral("missing") << false;
    QTest::newRow("below a missing folder") << QStringLiteral("missing/deeper") << false;
    QTest::newRow("a single file") << QStringLiteral("batch/a.CR3") << true;
}

void IngestCacheDirectoryObserverTests::missingPathYieldsNone()
{
    QFETCH(QString, relative);
    QFETCH(bool, yieldsObserver);

    const QString url = relative.isEmpty() ? m_root : path(relative);
    const auto observer = IngestCacheDirectoryObserver::create(
        url, [] {}, m_timers.factory());
    QCOMPARE(observer != nullptr, yieldsObserver);
}

void IngestCacheDirectoryObserverTests::activity_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("countsAsChange");

    QTest::newRow("a file created") << QStringLiteral("create") << true;
    QTest::newRow("a file overwritten") << QStringLiteral("overwrite") << true;
    QTest::newRow("a file appended to") << QStringLiteral("append") << true;
    QTest::newRow("a file deleted") << QStringLiteral("delete") << true;
    QTest::newRow("a file renamed") << QStringLiteral("rename") << true;
    QTest::newRow("permissions changed") << QStringLiteral("chmod") << true;
    QTest::newRow("a folder created") << QStringLiteral("mkdir") << true;
    QTest::newRow("an empty folder removed") << QStringLiteral("rmdir") << true;
    QTest::newRow("a hidden marker written") << QStringLiteral("marker") << true;
    QTest::newRow("a file written in a nested folder") << QStringLiteral("nested") << true;
    QTest::newRow("every file read") << QStringLiteral("read") << false;
    QTest::newRow("every file hashed") << QStringLiteral("hash") << false;
    QTest::newRow("the tree listed and measured") << QStringLiteral("list") << false;
    QTest::newRow("a write behind a link out of the cache")
        << QStringLiteral("through link") << false;
    QTest::newRow("a write beside the cache") << QStringLiteral("beside") << false;
}

void IngestCacheDirectoryObserverTests::activity()
{
    QFETCH(QString, action);
    QFETCH(bool, countsAsChange);

    startObserver();
    if (action == QLatin1String("create")) {
        writeFile(path(QStringLiteral("batch/c.CR3")), "new");
    } else if (action == QLatin1String("overwrite")) {
        writeFile(path(QStringLiteral("batch/a.CR3")), "other");
    } else if (action == QLatin1String("append")) {
        appendToFile(path(QStringLiteral("batch/a.xmp")), "more");
    } else if (action == QLatin1String("delete")) {
        QVERIFY(QFile::remove(path(QStringLiteral("batch/a.xmp"))));
    } else if (action == QLatin1String("rename")) {
        QVERIFY(QFile::rename(path(QStringLiteral("batch/a.CR3")),
                              path(QStringLiteral("batch/c.CR3"))));
    } else if (action == QLatin1String("chmod")) {
        QVERIFY(
            QFile::setPermissions(path(QStringLiteral("batch/sub/b.CR3")), QFileDevice::ReadOwner));
    } else if (action == QLatin1String("mkdir")) {
        QVERIFY(QDir().mkdir(path(QStringLiteral("batch/new"))));
    } else if (action == QLatin1String("rmdir")) {
        QVERIFY(QDir().rmdir(path(QStringLiteral("empty"))));
    } else if (action == QLatin1String("marker")) {
        writeFile(path(QStringLiteral("batch/.copy-in-progress")), "{}");
    } else if (action == QLatin1String("nested")) {
        writeFile(path(QStringLiteral("batch/sub/c.CR3")), "new");
    } else if (action == QLatin1String("read")) {
        QCOMPARE(fileManifest(m_root).size(), 3);
    } else if (action == QLatin1String("hash")) {
        const SHA256ContentHasher hasher;
        QDirIterator files(m_root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (files.hasNext())
            QVERIFY(hasher.contentHash(files.next()).has_value());
    } else if (action == QLatin1String("list")) {
        QDirIterator entries(m_root,
                             QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                             QDirIterator::Subdirectories);
        qint64 total = 0;
        while (entries.hasNext())
            total += QFileInfo(entries.next()).size();
        QVERIFY(total > 0);
    } else if (action == QLatin1String("through link")) {
        writeFile(path(QStringLiteral("elsewhere/y.CR3")), "outside");
        QVERIFY(QFile::exists(m_outside + QStringLiteral("/y.CR3")));
    } else if (action == QLatin1String("beside")) {
        writeFile(m_dir->filePath(QStringLiteral("beside.CR3")), "outside");
    } else {
        QFAIL("unknown action");
    }
    deliverEvents();
    QCOMPARE(changeIsPending(), countsAsChange);
    QCOMPARE(flush(), countsAsChange ? 1 : 0);
}

void IngestCacheDirectoryObserverTests::debounce_data()
{
    QTest::addColumn<QList<int>>("eventTimes");
    QTest::addColumn<QList<qint64>>("callTimes");

    // A batch is collected for 250 ms; the call follows 500 ms after the last batch.
    QTest::newRow("one event") << QList<int>{0} << QList<qint64>{750};
    QTest::newRow("ten bursts 0.1 s apart")
        << QList<int>{0, 100, 200, 300, 400, 500, 600, 700, 800, 900} << QList<qint64>{1650};
    QTest::newRow("a batch before the call postpones it")
        << QList<int>{0, 400} << QList<qint64>{1150};
    QTest::newRow("a batch after the call was due calls again")
        << QList<int>{0, 600} << QList<qint64>{750, 1350};
    QTest::newRow("a burst after the call calls again")
        << QList<int>{0, 800} << QList<qint64>{750, 1550};
    QTest::newRow("bursts 2 s apart")
        << QList<int>{0, 2000, 4000} << QList<qint64>{750, 2750, 4750};
}

void IngestCacheDirectoryObserverTests::debounce()
{
    QFETCH(QList<int>, eventTimes);
    QFETCH(QList<qint64>, callTimes);

    startObserver();
    for (qsizetype i = 0; i < eventTimes.size(); ++i) {
        m_timers.advance(std::chrono::milliseconds(eventTimes.at(i)) - m_timers.now());
        writeFile(path(QStringLiteral("batch/burst-%1.CR3").arg(i)), "burst");
        deliverEvents();
    }
    m_timers.advance(10s);
    QCOMPARE(m_calls, callTimes);
}

void IngestCacheDirectoryObserverTests::destructionCancelsPendingCall_data()
{
    QTest::addColumn<int>("destroyAfter");

    QTest::newRow("while the batch is collected") << 100;
    QTest::newRow("while the debounce runs") << 600;
}

void IngestCacheDirectoryObserverTests::destructionCancelsPendingCall()
{
    QFETCH(int, destroyAfter);

    startObserver();
    writeFile(path(QStringLiteral("batch/c.CR3")), "new");
    deliverEvents();
    m_timers.advance(std::chrono::milliseconds(destroyAfter));
    QVERIFY(changeIsPending());
    m_observer.reset();
    QCOMPARE(m_timers.activeCount(), 0);
    m_timers.advance(10s);
    QVERIFY(m_calls.isEmpty());
}

void IngestCacheDirectoryObserverTests::destructionClosesTheWatch()
{
    const int before = openDescriptorCount();
    startObserver();
    QCOMPARE(openDescriptorCount(), before + 1);
    m_observer.reset();
    QCOMPARE(openDescriptorCount(), before);
}

void IngestCacheDirectoryObserverTests::handlerMayDestroyTheObserver()
{
    QTRY_VERIFY_WITH_TIMEOUT((m_observer = IngestCacheDirectoryObserver::create(
                                  m_root, [this] { m_observer.reset(); }, m_timers.factory()))
                                 != nullptr,
                             10000);
    writeFile(path(QStringLiteral("batch/c.CR3")), "new");
    deliverEvents();
    m_timers.advance(5s);
    QVERIFY(!m_observer);
    QCOMPARE(m_timers.activeCount(), 0);
}

void IngestCacheDirectoryObserverTests::realTimersCallOnceAfterTheDebounce()
{
    int calls = 0;
    QElapsedTimer sinceWrite;
    qint64 callAfter = -1;
    const auto observer = IngestCacheDirectoryObserver::create(m_root, [&] {
        ++calls;
        callAfter = sinceWrite.elapsed();
    });
    QVERIFY(observer);
    writeFile(path(QStringLiteral("batch/c.CR3")), "new");
    sinceWrite.start();
    QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 10000);
    QVERIFY2(callAfter >= 500, qPrintable(QString::number(callAfter)));
}

void IngestCacheDirectoryObserverTests::folderFilledBeforeItsWatchIsWatched()
{
    startObserver();
    // The whole tree exists, files included, before the observer reads the creation of its top.
    writeFile(path(QStringLiteral("card/DCIM/100CANON/IMG_0001.CR3")), "copied by another tool");
    QCOMPARE(flush(), 1);
    writeFile(path(QStringLiteral("card/DCIM/100CANON/IMG_0002.CR3")), "copied later");
    deliverEvents();
    QVERIFY(changeIsPending());
    QCOMPARE(flush(), 1);
}

void IngestCacheDirectoryObserverTests::subtreeMovedOutAndBack()
{
    startObserver();
    const qsizetype watched = m_observer->watchedFolderCount();
    QCOMPARE(watched, 4); // the root, "batch", "batch/sub", "empty"
    const QString away = m_outside + QStringLiteral("/batch");

    QVERIFY(QDir().rename(path(QStringLiteral("batch")), away));
    QCOMPARE(flush(), 1);
    QCOMPARE(m_observer->watchedFolderCount(), watched - 2);
    writeFile(away + QStringLiteral("/sub/c.CR3"), "outside now");
    deliverEvents();
    QVERIFY(!changeIsPending());

    QVERIFY(QDir().rename(away, path(QStringLiteral("batch"))));
    QCOMPARE(flush(), 1);
    QCOMPARE(m_observer->watchedFolderCount(), watched);
    writeFile(path(QStringLiteral("batch/sub/d.CR3")), "inside again");
    deliverEvents();
    QVERIFY(changeIsPending());
}

void IngestCacheDirectoryObserverTests::folderSwappedForALinkIsNotFollowed()
{
    startObserver();
    const qsizetype watched = m_observer->watchedFolderCount();
    // By the time the observer reads the folder's creation, a link out of the cache stands there:
    // its watch cannot be added, which counts as a change, and the link is not followed.
    QVERIFY(QDir().mkdir(path(QStringLiteral("swapped"))));
    QVERIFY(QDir().rmdir(path(QStringLiteral("swapped"))));
    QVERIFY(QFile::link(m_outside, path(QStringLiteral("swapped"))));
    QCOMPARE(flush(), 1);
    QCOMPARE(m_observer->watchedFolderCount(), watched);
    writeFile(m_outside + QStringLiteral("/y.CR3"), "outside");
    deliverEvents();
    QVERIFY(!changeIsPending());
}

void IngestCacheDirectoryObserverTests::cacheReachedThroughALinkIsWatchedWhole()
{
    const QString link = m_dir->filePath(QStringLiteral("Cache link"));
    QVERIFY(QFile::link(m_root, link));
    m_root = link;
    startObserver();
    QCOMPARE(m_observer->watchedFolderCount(), 4);
    writeFile(path(QStringLiteral("batch/sub/c.CR3")), "new");
    deliverEvents();
    QVERIFY(changeIsPending());
}

void IngestCacheDirectoryObserverTests::queueOverflowCountsAndWatchesNewFolders()
{
    startObserver();
    // Each empty file queues a creation and a close-after-write: enough to overflow the queue
    // (16384 events by default) before the observer reads it.
    const int limit
        = QString::fromLatin1(readFile(QStringLiteral("/proc/sys/fs/inotify/max_queued_events")))
              .trimmed()
              .toInt();
    if (limit <= 0 || limit > 100000)
        QSKIP("the event queue limit is unknown or too large to reach here");
    for (int i = 0; i <= limit / 2; ++i)
        QFile(path(QStringLiteral("batch/f%1").arg(i))).open(QIODevice::WriteOnly);
    // Its creation is lost in the overflow; only the rescan that follows can watch it.
    QVERIFY(QDir().mkpath(path(QStringLiteral("late/deeper"))));
    QCOMPARE(flush(), 1);
    writeFile(path(QStringLiteral("late/deeper/a.CR3")), "written after the overflow");
    deliverEvents();
    QVERIFY(changeIsPending());
}

QTEST_GUILESS_MAIN(IngestCacheDirectoryObserverTests)
#include "IngestCacheDirectoryObserverTests.moc"
