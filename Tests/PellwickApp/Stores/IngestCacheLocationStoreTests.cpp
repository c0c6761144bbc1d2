#include <PellwickApp/Stores/InMemoryIngestCacheLocationStore.h>
#include <PellwickApp/Stores/IngestCacheLocationStore.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <Support/TestFiles.h>

using namespace Pellwick;
using namespace Qt::StringLiterals;

using PendingMigration = IngestCacheLocationStoring::PendingMigration;
using Manifest = QHash<QString, QString>;

class IngestCacheLocationStoreTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void bothStoresKeepWhatWasSaved_data();
    void bothStoresKeepWhatWasSaved();
    void savedPathThatIsNotAbsoluteCountsAsNotSaved_data();
    void savedPathThatIsNotAbsoluteCountsAsNotSaved();
    void pathsAreStoredAsPlainText();
    void noneRemovesTheEntry_data();
    void noneRemovesTheEntry();
    void undecodableEntriesReadAsEmptyAndStay_data();
    void undecodableEntriesReadAsEmptyAndStay();
    void pendingMigrationIsCompactJsonWithFileURLs();
    void inMemoryStoreStartsEmptyAndStoresNoneAsEmptyManifest();

private:
    std::unique_ptr<QSettings> settings() const
    {
        return std::make_unique<QSettings>(m_dir->filePath(u"settings.ini"_s),
                                           QSettings::IniFormat);
    }

    std::shared_ptr<const IngestCacheLocationStoring> store(bool persistent) const
    {
        if (persistent)
            return std::make_shared<IngestCacheLocationStore>(settings());
        return std::make_shared<InMemoryIngestCacheLocationStore>();
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void IngestCacheLocationStoreTests::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void IngestCacheLocationStoreTests::bothStoresKeepWhatWasSaved_data()
{
    QTest::addColumn<bool>("persistent");
    QTest::addColumn<QString>("path");
    QTest::addColumn<Manifest>("manifest");
    const Manifest manifest{{u"2026/A 001.NEF"_s, QString(u'a').repeated(64)},
                            {u"2026/A 001.xmp"_s, QString(u'b').repeated(64)},
                            {u"ünï/cödé%20.CR3"_s, QString(u'c').repeated(64)}};
    for (bool persistent : {true, false}) {
        const char *kind = persistent ? "persistent" : "in memory";
        QTest::addRow("%s, plain path", kind) << persistent << u"/Volumes/Cache"_s << manifest;
        QTest::addRow("%s, spaces and percent", kind)
            << persistent << u"/media/Card 1/Cache %20 #1"_s << Manifest();
        QTest::addRow("%s, non-ASCII", kind)
            << persistent << u"/home/ana/Bilder/Pellwick Ingest Cache ✓"_s << manifest;
    }
}

void IngestCacheLocationStoreTests::bothStoresKeepWhatWasSaved()
{
    QFETCH(bool, persistent);
    QFETCH(QString, path);
    QFETCH(Manifest, manifest);
    const auto writer = store(persistent);
    QVERIFY(!writer->hasSavedLocation());
    QCOMPARE(writer->load(u"/default"_s), u"/default"_s);
    const PendingMigration migration{path, path + u" (new)"_s};
    QVERIFY(writer->save(path));
    QVERIFY(writer->saveRetained(path + u".old"_s));
    QVERIFY(writer->saveRetainedManifest(manifest));
    QVERIFY(writer->savePendingMigration(migration));

    // The persistent store is read back through a second store over the same file.
    const auto reader = persistent ? store(true) : writer;
    QVERIFY(reader->hasSavedLocation());
    QCOMPARE(reader->load(u"/default"_s), path);
    QCOMPARE(reader->retained(), std::optional(path + u".old"_s));
    QCOMPARE(reader->retainedManifest(), manifest);
    QCOMPARE(reader->pendingMigration(), std::optional(migration));
}

void IngestCacheLocationStoreTests::savedPathThatIsNotAbsoluteCountsAsNotSaved_data()
{
    QTest::addColumn<QVariant>("saved");
    QTest::addColumn<bool>("isSaved");

    QTest::newRow("empty") << QVariant(QString()) << false;
    QTest::newRow("relative") << QVariant(u"Pictures/Ingest Cache"_s) << false;
    QTest::newRow("dot") << QVariant(u"."_s) << false;
    QTest::newRow("home shorthand is not expanded") << QVariant(u"~/Ingest Cache"_s) << false;
    QTest::newRow("list") << QVariant(QStringList{u"/a"_s, u"/b"_s}) << false;
    QTest::newRow("number") << QVariant(7) << false;
    QTest::newRow("absolute") << QVariant(u"/media/Cache Disk/Ingest Cache"_s) << true;
    QTest::newRow("absolute, not clean") << QVariant(u"/media/../media/c//d/"_s) << true;
}

void IngestCacheLocationStoreTests::savedPathThatIsNotAbsoluteCountsAsNotSaved()
{
    QFETCH(QVariant, saved);
    QFETCH(bool, isSaved);

    settings()->setValue(IngestCacheLocationStore::locationKey(), saved);
    settings()->setValue(IngestCacheLocationStore::retainedLocationKey(), saved);
    const IngestCacheLocationStore store(settings());
    QCOMPARE(store.hasSavedLocation(), isSaved);
    QCOMPARE(store.load(u"/default"_s), isSaved ? saved.toString() : u"/default"_s);
    QCOMPARE(store.retained(), isSaved ? std::optional(saved.toString()) : std::nullopt);
    // Left in place, as every entry that does not decode.
    QVERIFY(settings()->contains(IngestCacheLocationStore::locationKey()));
}

void IngestCacheLocationStoreTests::pathsAreStoredAsPlainText()
{
    const IngestCacheLocationStore store(settings());
    QVERIFY(store.save(u"/media/My Card/Ingest Cache"_s));
    QVERIFY(store.saveRetained(u"/media/Old Disk/Cache"_s));
    const auto reader = settings();
    QCOMPARE(reader->value(IngestCacheLocationStore::locationKey()),
             QVariant(u"/media/My Card/Ingest Cache"_s));
    QCOMPARE(reader->value(IngestCacheLocationStore::retainedLocationKey()),
             QVariant(u"/media/Old Disk/Cache"_s));
    const QByteArray file = Test::readFile(m_dir->filePath(u"settings.ini"_s));
    QVERIFY2(file.contains("/media/My Card/Ingest Cache"), file.constData());
    QVERIFY(!file.contains("%20"));
}

void IngestCacheLocationStoreTests::noneRemovesTheEntry_data()
{
    QTest::addColumn<QString>("key");
    QTest::newRow("retained location") << IngestCacheLocationStore::retainedLocationKey();
    QTest::newRow("retained manifest") << IngestCacheLocationStore::retainedManifestKey();
    QTest::newRow("pending migration") << IngestCacheLocationStore::pendingMigrationKey();
}

void IngestCacheLocationStoreTests::noneRemovesTheEntry()
{
    QFETCH(QString, key);
    const IngestCacheLocationStore store(settings());
    QVERIFY(store.save(u"/cache"_s));
    QVERIFY(store.saveRetained(u"/old"_s));
    QVERIFY(store.saveRetainedManifest(Manifest{{u"a"_s, u"b"_s}}));
    QVERIFY(store.savePendingMigration(PendingMigration{u"/old"_s, u"/cache"_s}));
    if (key == IngestCacheLocationStore::retainedLocationKey())
        QVERIFY(store.saveRetained(std::nullopt));
    else if (key == IngestCacheLocationStore::retainedManifestKey())
        QVERIFY(store.saveRetainedManifest(std::nullopt));
    else
        QVERIFY(store.savePendingMigration(std::nullopt));

    const auto reader = settings();
    QVERIFY(!reader->contains(key));
    QCOMPARE(reader->allKeys().size(), 3);
    QCOMPARE(store.retained().has_value(), key != IngestCacheLocationStore::retainedLocationKey());
    QCOMPARE(store.retainedManifest().isEmpty(),
             key == IngestCacheLocationStore::retainedManifestKey());
    QCOMPARE(store.pendingMigration().has_value(),
             key != IngestCacheLocationStore::pendingMigrationKey());
}

void IngestCacheLocationStoreTests::undecodableEntriesReadAsEmptyAndStay_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("stored");
    const QString manifest = IngestCacheLocationStore::retainedManifestKey();
    const QString migration = IngestCacheLocationStore::pendingMigrationKey();
    const QString location = IngestCacheLocationStore::locationKey();
    const QString retained = IngestCacheLocationStore::retainedLocationKey();

    QTest::newRow("manifest not JSON") << manifest << QVariant(QByteArray("\x01garbage\xff"));
    QTest::newRow("manifest empty data") << manifest << QVariant(QByteArray());
    QTest::newRow("manifest JSON array") << manifest << QVariant(QByteArray("[\"a\",\"b\"]"));
    QTest::newRow("manifest number value") << manifest << QVariant(QByteArray(R"({"a":1})"));
    QTest::newRow("manifest null value") << manifest << QVariant(QByteArray(R"({"a":null})"));
    QTest::newRow("manifest as text") << manifest << QVariant(u"{\"a\":\"b\"}"_s);
    QTest::newRow("manifest truncated") << manifest << QVariant(QByteArray(R"({"a":"b")"));
    QTest::newRow("migration not JSON") << migration << QVariant(QByteArray("garbage"));
    QTest::newRow("migration missing new root")
        << migration << QVariant(QByteArray(R"({"oldRootURL":"file:///a"})"));
    QTest::newRow("migration root not a string")
        << migration << QVariant(QByteArray(R"({"oldRootURL":"file:///a","newRootURL":7})"));
    QTest::newRow("migration web URL")
        << migration
        << QVariant(QByteArray(R"({"oldRootURL":"file:///a","newRootURL":"https://x/b"})"));
    QTest::newRow("migration relative URL")
        << migration << QVariant(QByteArray(R"({"oldRootURL":"file:///a","newRootURL":"b"})"));
    QTest::newRow("migration remote file URL")
        << migration
        << QVariant(QByteArray(R"({"oldRootURL":"file:///a","newRootURL":"file://host/b"})"));
    QTest::newRow("migration as text")
        << migration << QVariant(u"{\"oldRootURL\":\"file:///a\",\"newRootURL\":\"file:///b\"}"_s);
    QTest::newRow("location list") << location << QVariant(QStringList{u"/a"_s, u"/b"_s});
    QTest::newRow("location data") << location << QVariant(QByteArray("/a"));
    QTest::newRow("retained location number") << retained << QVariant(42);
}

void IngestCacheLocationStoreTests::undecodableEntriesReadAsEmptyAndStay()
{
    QFETCH(QString, key);
    QFETCH(QVariant, stored);
    settings()->setValue(key, stored);
    const QByteArray before = Test::readFile(m_dir->filePath(u"settings.ini"_s));

    const IngestCacheLocationStore store(settings());
    QCOMPARE(store.retainedManifest(), Manifest());
    QCOMPARE(store.pendingMigration(), std::nullopt);
    if (key == IngestCacheLocationStore::locationKey()) {
        QVERIFY(!store.hasSavedLocation());
        QCOMPARE(store.load(u"/default"_s), u"/default"_s);
    }
    QCOMPARE(store.retained(), std::nullopt);
    QCOMPARE(Test::readFile(m_dir->filePath(u"settings.ini"_s)), before);
}

void IngestCacheLocationStoreTests::pendingMigrationIsCompactJsonWithFileURLs()
{
    const IngestCacheLocationStore store(settings());
    QVERIFY(
        store.savePendingMigration(PendingMigration{u"/media/Old Card/Cache"_s, u"/srv/ñew#1"_s}));
    const QByteArray stored
        = settings()->value(IngestCacheLocationStore::pendingMigrationKey()).toByteArray();
    const QByteArray expected = "{\"oldRootURL\":\"file:///media/Old%20Card/Cache\","
                                "\"newRootURL\":\"file:///srv/%C3%B1ew%231\"}";
    QCOMPARE(stored, expected);
    QVERIFY(store.saveRetainedManifest(Manifest{{u"a b"_s, u"h"_s}}));
    QCOMPARE(settings()->value(IngestCacheLocationStore::retainedManifestKey()).toByteArray(),
             QByteArray(R"({"a b":"h"})"));
}

void IngestCacheLocationStoreTests::inMemoryStoreStartsEmptyAndStoresNoneAsEmptyManifest()
{
    const InMemoryIngestCacheLocationStore store;
    QVERIFY(!store.hasSavedLocation());
    QCOMPARE(store.retained(), std::nullopt);
    QCOMPARE(store.retainedManifest(), Manifest());
    QCOMPARE(store.pendingMigration(), std::nullopt);
    QVERIFY(store.saveRetainedManifest(Manifest{{u"a"_s, u"b"_s}}));
    QVERIFY(store.saveRetainedManifest(std::nullopt));
    QCOMPARE(store.retainedManifest(), Manifest());
    QVERIFY(store.save(QString()));
    QVERIFY(store.hasSavedLocation());
    QCOMPARE(store.load(u"/default"_s), QString());
}

QTEST_GUILESS_MAIN(IngestCacheLocationStoreTests)
#include "IngestCacheLocationStoreTests.moc"
