#include <PellwickApp/Stores/RestoreDestinationStore.h>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Pellwick;
using namespace Qt::StringLiterals;

class RestoreDestinationStoreTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void persistentStoreRemembersTheLastFolder_data();
    void persistentStoreRemembersTheLastFolder();
    void onlyExactlyOneSelectsTheNonPersistentStore_data();
    void onlyExactlyOneSelectsTheNonPersistentStore();
    void nonPersistentStoreForgetsWithItself();
    void savedRelativePathIsIgnored_data();
    void savedRelativePathIsIgnored();

private:
    std::unique_ptr<QSettings> settings() const
    {
        return std::make_unique<QSettings>(m_dir->filePath(u"settings.ini"_s),
                                           QSettings::IniFormat);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void RestoreDestinationStoreTests::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void RestoreDestinationStoreTests::persistentStoreRemembersTheLastFolder_data()
{
    QTest::addColumn<QStringList>("recorded");
    QTest::newRow("nothing recorded") << QStringList();
    QTest::newRow("one folder") << QStringList{u"/home/ana/Restored"_s};
    QTest::newRow("spaces") << QStringList{u"/media/Backup Disk/Restored RAW"_s};
    QTest::newRow("last of several")
        << QStringList{u"/a"_s, u"/home/ana/Bilder/Wiederhergestellt ✓"_s};
}

void RestoreDestinationStoreTests::persistentStoreRemembersTheLastFolder()
{
    QFETCH(QStringList, recorded);
    RestoreDestinationStore store(settings());
    QVERIFY(store.isPersistent());
    QCOMPARE(store.lastDestination(), std::nullopt);
    QSignalSpy changed(&store, &RestoreDestinationStore::lastDestinationChanged);
    for (const QString &folder : recorded)
        store.record(folder);
    QCOMPARE(changed.count(), recorded.size());

    const std::optional<QString> expected
        = recorded.isEmpty() ? std::nullopt : std::optional(recorded.last());
    QCOMPARE(store.lastDestination(), expected);
    const RestoreDestinationStore reopened(settings());
    QCOMPARE(reopened.lastDestination(), expected);
    if (expected)
        QCOMPARE(settings()->value(RestoreDestinationStore::destinationKey()), QVariant(*expected));
}

void RestoreDestinationStoreTests::onlyExactlyOneSelectsTheNonPersistentStore_data()
{
    QTest::addColumn<std::optional<QString>>("value");
    QTest::addColumn<bool>("persistent");
    QTest::newRow("1") << std::optional(u"1"_s) << false;
    QTest::newRow("true") << std::optional(u"true"_s) << true;
    QTest::newRow("0") << std::optional(u"0"_s) << true;
    QTest::newRow("empty") << std::optional(QString()) << true;
    QTest::newRow("absent") << std::optional<QString>() << true;
}

void RestoreDestinationStoreTests::onlyExactlyOneSelectsTheNonPersistentStore()
{
    QFETCH(std::optional<QString>, value);
    QFETCH(bool, persistent);
    settings()->setValue(RestoreDestinationStore::destinationKey(), u"/saved"_s);
    QProcessEnvironment environment;
    if (value)
        environment.insert(u"PELL_WICK_USE_NON_PERSISTENT_RESTORE_DESTINATION_STORE"_s, *value);
    int opened = 0;
    const auto store = RestoreDestinationStore::forApplicationProcess(environment, [&] {
        ++opened;
        return settings();
    });
    QCOMPARE(store->isPersistent(), persistent);
    QCOMPARE(opened, persistent ? 1 : 0);
    QCOMPARE(store->lastDestination(), persistent ? std::optional(u"/saved"_s) : std::nullopt);
    store->record(u"/chosen"_s);
    QCOMPARE(store->lastDestination(), std::optional(u"/chosen"_s));
    QCOMPARE(settings()->value(RestoreDestinationStore::destinationKey()).toString(),
             persistent ? u"/chosen"_s : u"/saved"_s);
}

void RestoreDestinationStoreTests::nonPersistentStoreForgetsWithItself()
{
    {
        const auto store = RestoreDestinationStore::nonPersistent();
        QSignalSpy changed(store.get(), &RestoreDestinationStore::lastDestinationChanged);
        store->record(u"/one"_s);
        QCOMPARE(changed.count(), 1);
    }
    QCOMPARE(RestoreDestinationStore::nonPersistent()->lastDestination(), std::nullopt);
}

void RestoreDestinationStoreTests::savedRelativePathIsIgnored_data()
{
    QTest::addColumn<QString>("saved");
    QTest::newRow("relative") << u"Restored RAW"_s;
    QTest::newRow("empty") << QString();
}

void RestoreDestinationStoreTests::savedRelativePathIsIgnored()
{
    QFETCH(QString, saved);
    // Resolving it would depend on the folder the application was started from.
    settings()->setValue(RestoreDestinationStore::destinationKey(), saved);
    QCOMPARE(RestoreDestinationStore(settings()).lastDestination(), std::nullopt);
}

QTEST_GUILESS_MAIN(RestoreDestinationStoreTests)
#include "RestoreDestinationStoreTests.moc"
