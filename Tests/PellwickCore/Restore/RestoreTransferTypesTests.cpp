#include <PellwickCore/Restore/RestoreTransferStateLayout.h>
#include <PellwickCore/Restore/RestoreTransferTypes.h>

#include <QSet>
#include <QTest>

#include <limits>
#include <unordered_set>

using namespace Pellwick;
using namespace Qt::StringLiterals;

namespace {

constexpr qint64 maximum = std::numeric_limits<qint64>::max();
constexpr qint64 minimum = std::numeric_limits<qint64>::min();

} // namespace

class RestoreTransferTypesTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void stateFilesAreNamedForTheArtifact_data();
    void stateFilesAreNamedForTheArtifact();
    void byteCountsNeverOverflow_data();
    void byteCountsNeverOverflow();
    void byteSumsSaturate_data();
    void byteSumsSaturate();
    void identifiersKeyTables();
    void artifactRawValues();
    void defaultConfiguration();
};

void RestoreTransferTypesTests::stateFilesAreNamedForTheArtifact_data()
{
    QTest::addColumn<qint64>("request");
    QTest::addColumn<qint64>("item");
    QTest::addColumn<RestoreTransferArtifact>("artifact");
    QTest::addColumn<QString>("stem");

    QTest::newRow("raw") << qint64(12) << qint64(345) << RestoreTransferArtifact::Raw
                         << u"restore-request-12-item-345"_s;
    QTest::newRow("sidecar") << qint64(12) << qint64(345) << RestoreTransferArtifact::Sidecar
                             << u"restore-request-12-item-345-sidecar"_s;
    QTest::newRow("zero, no leading zeros")
        << qint64(0) << qint64(7) << RestoreTransferArtifact::Raw << u"restore-request-0-item-7"_s;
    QTest::newRow("largest ids")
        << maximum << maximum << RestoreTransferArtifact::Raw
        << u"restore-request-9223372036854775807-item-9223372036854775807"_s;
}

void RestoreTransferTypesTests::stateFilesAreNamedForTheArtifact()
{
    QFETCH(qint64, request);
    QFETCH(qint64, item);
    QFETCH(RestoreTransferArtifact, artifact);
    QFETCH(QString, stem);

    const RestoreTransferIdentifier id{request, item, artifact};
    QCOMPARE(id.fileStem(), stem);
    const RestoreTransferStateLayout layout{u"/state"_s};
    QCOMPARE(layout.manifestPath(id), u"/state/manifests/"_s + stem + u".json"_s);
    QCOMPARE(layout.partsPath(id), u"/state/parts/"_s + stem);
    QCOMPARE(layout.partPath(id, {16'777'216, 33'554'431}),
             u"/state/parts/"_s + stem + u"/16777216-33554431.part"_s);
    QCOMPARE(layout.partPath(id, {0, 16'777'215}),
             u"/state/parts/"_s + stem + u"/0-16777215.part"_s);
}

void RestoreTransferTypesTests::byteCountsNeverOverflow_data()
{
    QTest::addColumn<qint64>("start");
    QTest::addColumn<qint64>("end");
    QTest::addColumn<qint64>("count");

    QTest::newRow("one byte") << qint64(0) << qint64(0) << qint64(1);
    QTest::newRow("first chunk") << qint64(0) << qint64(16'777'215) << qint64(16'777'216);
    QTest::newRow("last byte of a chunk") << qint64(16'777'216) << qint64(16'777'216) << qint64(1);
    QTest::newRow("end before start") << qint64(10) << qint64(8) << qint64(-1);
    QTest::newRow("largest count") << qint64(0) << maximum - 1 << maximum;
    QTest::newRow("count one past 64 bits") << qint64(0) << maximum << qint64(0);
    QTest::newRow("difference past 64 bits") << minimum << maximum << qint64(0);
    QTest::newRow("negative difference past 64 bits") << maximum << minimum << qint64(0);
}

void RestoreTransferTypesTests::byteCountsNeverOverflow()
{
    QFETCH(qint64, start);
    QFETCH(qint64, end);
    QFETCH(qint64, count);
    QCOMPARE((RestoreByteRange{start, end}.byteCount()), count);
}

void RestoreTransferTypesTests::byteSumsSaturate_data()
{
    QTest::addColumn<qint64>("a");
    QTest::addColumn<qint64>("b");
    QTest::addColumn<qint64>("sum");

    QTest::newRow("plain") << qint64(3) << qint64(4) << qint64(7);
    QTest::newRow("negative counts as zero") << qint64(-5) << qint64(4) << qint64(4);
    QTest::newRow("at the limit") << maximum - 1 << qint64(1) << maximum;
    QTest::newRow("past the limit") << maximum << maximum << maximum;
}

void RestoreTransferTypesTests::byteSumsSaturate()
{
    QFETCH(qint64, a);
    QFETCH(qint64, b);
    QFETCH(qint64, sum);
    QCOMPARE(saturatingByteSum(a, b), sum);
}

void RestoreTransferTypesTests::identifiersKeyTables()
{
    const QList<RestoreTransferIdentifier> ids{
        {12, 345, RestoreTransferArtifact::Raw},
        {12, 345, RestoreTransferArtifact::Sidecar},
        {12, 346, RestoreTransferArtifact::Raw},
        {13, 345, RestoreTransferArtifact::Raw},
    };
    QSet<RestoreTransferIdentifier> set;
    std::unordered_set<RestoreTransferIdentifier> standard;
    for (const RestoreTransferIdentifier &id : ids) {
        set.insert(id);
        set.insert(id);
        standard.insert(id);
    }
    QCOMPARE(set.size(), ids.size());
    QCOMPARE(qsizetype(standard.size()), ids.size());
    QVERIFY(set.contains({12, 345, RestoreTransferArtifact::Sidecar}));
    QVERIFY(!set.contains({12, 346, RestoreTransferArtifact::Sidecar}));
}

void RestoreTransferTypesTests::artifactRawValues()
{
    QCOMPARE(toRaw(RestoreTransferArtifact::Raw), u"raw"_s);
    QCOMPARE(toRaw(RestoreTransferArtifact::Sidecar), u"sidecar"_s);
    QCOMPARE(restoreTransferArtifactFromRaw(u"sidecar"_s), RestoreTransferArtifact::Sidecar);
    QCOMPARE(restoreTransferArtifactFromRaw(u"Raw"_s), std::nullopt);
}

void RestoreTransferTypesTests::defaultConfiguration()
{
    const auto configuration = RestoreTransferConfiguration::defaultConfiguration();
    QCOMPARE(configuration.chunkSizeBytes, qint64(16'777'216));
    QCOMPARE(configuration.maximumParallelChunks, 4);
}

QTEST_GUILESS_MAIN(RestoreTransferTypesTests)
#include "RestoreTransferTypesTests.moc"
