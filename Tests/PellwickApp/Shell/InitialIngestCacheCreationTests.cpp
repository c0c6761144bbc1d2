#include "ImportRoadFixture.h"

#include <PellwickApp/Workflows/Import/ImportWorkflows.h>
#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>

#include <QSignalSpy>
#include <QTest>

#include <cerrno>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

const QString probePattern = u".pellwick-write-probe-*"_s;

} // namespace

class InitialIngestCacheCreationTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void gate_data();
    void gate();
    void createHere_data();
    void createHere();
    void chooseExistingFolder_data();
    void chooseExistingFolder();
};

struct GateCase
{
    enum class Root {
        Folder,
        PlainFile,
        Missing
    } root = Root::Folder;
    bool savedBefore = false;
    bool asks = false;
    std::optional<QString> message = {};
    bool prompt = false;
};

Q_DECLARE_METATYPE(GateCase)

void InitialIngestCacheCreationTests::gate_data()
{
    QTest::addColumn<GateCase>("c");
    QTest::newRow("an empty folder") << GateCase{};
    QTest::newRow("a plain file") << GateCase{.root = GateCase::Root::PlainFile};
    QTest::newRow("missing after a saved location") << GateCase{
        .root = GateCase::Root::Missing,
        .savedBefore = true,
        .asks = true,
        .message = u"Ingest Cache is unavailable. Reconnect it or choose a new location."_s};
    QTest::newRow("first run") << GateCase{
        .root = GateCase::Root::Missing, .asks = true, .prompt = true};
}

void InitialIngestCacheCreationTests::gate()
{
    QFETCH(GateCase, c);
    ImportRoadFixture fixture;
    fixture.locationStore = std::make_shared<InMemoryIngestCacheLocationStore>();
    if (c.savedBefore)
        QVERIFY(fixture.locationStore->save(fixture.cacheRoot()));
    QDir(fixture.cacheRoot()).removeRecursively();
    if (c.root == GateCase::Root::Folder)
        QDir().mkpath(fixture.cacheRoot());
    if (c.root == GateCase::Root::PlainFile)
        writeFile(fixture.cacheRoot(), "x");
    const auto model = fixture.make();

    QCOMPARE(QCoro::waitFor(model->importWorkflows().requestInitialIngestCacheCreationIfNeeded()),
             c.asks);

    QCOMPARE(model->importState().importErrorMessage(), c.message);
    QCOMPARE(model->importState().initialIngestCacheCreation(),
             c.prompt ? std::optional(InitialIngestCacheCreation{fixture.cacheRoot()})
                      : std::nullopt);
    QCOMPARE(QFileInfo::exists(fixture.cacheRoot()), c.root != GateCase::Root::Missing);
}

struct CreateCase
{
    QString location = u"new/parents/IngestCache"_s;
    std::optional<FileOperation> fault = {};
    bool probeLeft = false;
    QString message = u"Added 1 files to Ingest Cache"_s;
};

Q_DECLARE_METATYPE(CreateCase)

void InitialIngestCacheCreationTests::createHere_data()
{
    QTest::addColumn<CreateCase>("c");
    QTest::newRow("missing parents") << CreateCase{};
    QTest::newRow("an existing folder") << CreateCase{.location = u"Existing"_s};
    const QString attention = u"Ingest Cache location needs attention."_s;
    QTest::newRow("the folder cannot be made")
        << CreateCase{.fault = FileOperation::CreateDirectory, .message = attention};
    QTest::newRow("the probe cannot be created")
        << CreateCase{.fault = FileOperation::CreateFile, .message = attention};
    QTest::newRow("the probe cannot be removed")
        << CreateCase{.fault = FileOperation::RemoveItem, .probeLeft = true, .message = attention};
}

void InitialIngestCacheCreationTests::createHere()
{
    QFETCH(CreateCase, c);
    ImportRoadFixture fixture;
    writeCard(fixture.card(0), 1);
    const QString location = fixture.dir.filePath(c.location);
    fixture.ingestCacheRoot = location;
    if (c.location == u"Existing"_s)
        QDir().mkpath(location);
    fixture.locationStore = std::make_shared<InMemoryIngestCacheLocationStore>();
    if (c.fault)
        fixture.files->failOperation(*c.fault, EACCES, c.location);
    const auto model = fixture.make();
    QVERIFY(scan(*model, {folderSource(fixture.card(0))}));
    QCOMPARE(QCoro::waitFor(model->importWorkflows().requestInitialIngestCacheCreationIfNeeded()),
             c.location != u"Existing"_s);
    model->importState().setInitialIngestCacheCreation(InitialIngestCacheCreation{location});

    QCoro::waitFor(model->importWorkflows().createInitialIngestCache(location));

    QCOMPARE(model->importState().importErrorMessage(), c.message);
    QCOMPARE(model->importState().initialIngestCacheCreation().has_value(), c.fault.has_value());
    QCOMPARE(fixture.locationStore->hasSavedLocation(), !c.fault);
    QCOMPARE(filesNamed(location, probePattern).size(), c.probeLeft ? 1 : 0);
    QCOMPARE(filesNamed(location, u"*.DNG"_s).size(), c.fault ? 0 : 1);
}

struct ChooseCase
{
    enum class Target {
        Folder,
        PlainFile,
        Missing
    } target = Target::Folder;
    bool probeFails = false;
    QString message = u"Added 1 files to Ingest Cache"_s;
};

Q_DECLARE_METATYPE(ChooseCase)

void InitialIngestCacheCreationTests::chooseExistingFolder_data()
{
    QTest::addColumn<ChooseCase>("c");
    QTest::newRow("a writable folder") << ChooseCase{};
    const QString notAFolder = u"Choose an existing folder for Ingest Cache."_s;
    QTest::newRow("a regular file")
        << ChooseCase{.target = ChooseCase::Target::PlainFile, .message = notAFolder};
    QTest::newRow("nothing there")
        << ChooseCase{.target = ChooseCase::Target::Missing, .message = notAFolder};
    QTest::newRow("a read-only folder") << ChooseCase{
        .probeFails = true, .message = u"Ingest Cache location needs to be writable."_s};
}

void InitialIngestCacheCreationTests::chooseExistingFolder()
{
    QFETCH(ChooseCase, c);
    ImportRoadFixture fixture;
    writeCard(fixture.card(0), 1);
    const QString chosen = fixture.dir.filePath(u"Chosen"_s);
    if (c.target == ChooseCase::Target::Folder)
        QDir().mkpath(chosen);
    if (c.target == ChooseCase::Target::PlainFile)
        writeFile(chosen, "x");
    if (c.probeFails)
        fixture.files->failOperation(FileOperation::CreateFile, EACCES, u"/Chosen/"_s);
    fixture.locationStore = std::make_shared<InMemoryIngestCacheLocationStore>();
    QDir(fixture.cacheRoot()).removeRecursively();
    const auto model = fixture.make();
    QVERIFY(scan(*model, {folderSource(fixture.card(0))}));
    QVERIFY(QCoro::waitFor(model->importWorkflows().requestInitialIngestCacheCreationIfNeeded()));
    QSignalSpy rootChanged(&model->ingestCacheState(), &IngestCacheState::ingestCacheRootChanged);

    QCoro::waitFor(model->importWorkflows().chooseInitialIngestCache(chosen));

    const bool adopted = c.target == ChooseCase::Target::Folder && !c.probeFails;
    QCOMPARE(model->importState().importErrorMessage(), c.message);
    QCOMPARE(model->ingestCacheWorkflows().ingestCache().rootURL(),
             adopted ? chosen : fixture.cacheRoot());
    QCOMPARE(model->ingestCacheState().ingestCacheRoot(),
             model->ingestCacheWorkflows().ingestCache().rootURL());
    QCOMPARE(rootChanged.count(), adopted ? 1 : 0);
    QCOMPARE(fixture.locationStore->hasSavedLocation(), adopted);
    QCOMPARE(model->importState().initialIngestCacheCreation().has_value(), !adopted);
    if (adopted) {
        QCOMPARE(rootChanged.first().first().toString(), chosen);
        QCOMPARE(filesNamed(chosen, u"*.DNG"_s).size(), 1);
        QVERIFY(filesNamed(chosen, probePattern).isEmpty());
    }
}

QTEST_GUILESS_MAIN(InitialIngestCacheCreationTests)
#include "InitialIngestCacheCreationTests.moc"
