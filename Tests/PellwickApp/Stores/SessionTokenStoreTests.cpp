#include <PellwickApp/Stores/InMemorySessionTokenStore.h>
#include <PellwickApp/Stores/PellwickIdentity.h>
#include <PellwickApp/Stores/SessionTokenStore.h>

#include <QDirIterator>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

using namespace Pellwick;
using namespace Qt::StringLiterals;

/// The store in memory, and the keychain store where no Secret Service can be reached. The
/// keychain store against a real Secret Service: SessionTokenStoreKeychainTests.
class SessionTokenStoreTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void inMemoryStoreKeepsTheLastSavedToken_data();
    void inMemoryStoreKeepsTheLastSavedToken();
    void inMemoryStoreIsSafeAcrossThreads();
    void keychainItemIsNamedForTheApplication();
    void absentSecretServiceLoadsNothingAndNeverHangs();

private:
    QTemporaryDir m_home;
};

void SessionTokenStoreTests::initTestCase()
{
    // No session bus at all, as on a build machine, whatever this shell has.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/pellwick-test-bus");
    qunsetenv("DISPLAY");
    QVERIFY(m_home.isValid());
    qputenv("HOME", m_home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", m_home.filePath(u".config"_s).toUtf8());
    qputenv("XDG_DATA_HOME", m_home.filePath(u".local/share"_s).toUtf8());
}

void SessionTokenStoreTests::inMemoryStoreKeepsTheLastSavedToken_data()
{
    QTest::addColumn<QStringList>("operations"); // "save:<token>" or "remove"
    QTest::addColumn<std::optional<QString>>("loaded");
    QTest::newRow("fresh store") << QStringList() << std::optional<QString>();
    QTest::newRow("saved") << QStringList{u"save:abc"_s} << std::optional(u"abc"_s);
    QTest::newRow("non-ASCII") << QStringList{u"save:tøken–✓"_s} << std::optional(u"tøken–✓"_s);
    QTest::newRow("empty token") << QStringList{u"save:"_s} << std::optional(QString());
    QTest::newRow("second save wins")
        << QStringList{u"save:first"_s, u"save:second"_s} << std::optional(u"second"_s);
    QTest::newRow("removed") << QStringList{u"save:abc"_s, u"remove"_s} << std::optional<QString>();
    QTest::newRow("remove without token") << QStringList{u"remove"_s} << std::optional<QString>();
    QTest::newRow("saved after remove")
        << QStringList{u"save:a"_s, u"remove"_s, u"save:b"_s} << std::optional(u"b"_s);
}

void SessionTokenStoreTests::inMemoryStoreKeepsTheLastSavedToken()
{
    QFETCH(QStringList, operations);
    QFETCH(std::optional<QString>, loaded);
    const InMemorySessionTokenStore store;
    for (const QString &operation : operations) {
        if (operation == u"remove"_s)
            store.remove();
        else
            store.save(operation.mid(5));
    }
    QCOMPARE(store.load(), loaded);
    QCOMPARE(store.load(), loaded);
}

void SessionTokenStoreTests::inMemoryStoreIsSafeAcrossThreads()
{
    const InMemorySessionTokenStore store;
    QThreadPool pool;
    pool.setMaxThreadCount(4);
    const QList<int> writers{0, 1, 2, 3};
    QtConcurrent::blockingMap(&pool, writers, [&store](int writer) {
        for (int i = 0; i < 500; ++i) {
            store.save(u"token-%1-%2"_s.arg(writer).arg(i));
            const std::optional<QString> token = store.load();
            QVERIFY(token && token->startsWith(u"token-"_s));
        }
    });
    QVERIFY(store.load()->endsWith(u"-499"_s));
}

void SessionTokenStoreTests::keychainItemIsNamedForTheApplication()
{
    const SessionTokenStore store;
    QCOMPARE(store.service(), PellwickIdentity::applicationIdentifier() + u".session"_s);
    QCOMPARE(store.account(), u"current-user"_s);
}

void SessionTokenStoreTests::absentSecretServiceLoadsNothingAndNeverHangs()
{
    // The bound only keeps a hanging keychain from blocking this test for long; a working
    // implementation fails at once.
    const SessionTokenStore store(
        u"pellwick.test.session"_s, u"current-user"_s, std::chrono::seconds(5));
    QCOMPARE(store.load(), std::nullopt);
    store.save(u"secret-token"_s);
    QCOMPARE(store.load(), std::nullopt);
    store.remove();
    QCOMPARE(store.load(), std::nullopt);
    // Nothing fell back to a plain-text file in the home or configuration folders.
    QDirIterator files(m_home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(!file.readAll().contains("secret-token"), qPrintable(file.fileName()));
    }
}

QTEST_GUILESS_MAIN(SessionTokenStoreTests)
#include "SessionTokenStoreTests.moc"
