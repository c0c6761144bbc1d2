#include <PellwickCore/Ingest/RemovableVolumeDetector.h>

#include <QTest>

using namespace Pellwick;

class RemovableVolumeDetectorTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keepRule_data();
    void keepRule();
    void keepsProviderOrderAndMapsFields();
    void providerErrorPassesThrough();
    void sourcesDifferingOnlyInUuidAreNotEqual();
};

namespace {

class FixedVolumeProvider final : public MountedVolumeProviding
{
public:
    explicit FixedVolumeProvider(Result<QList<MountedVolume>> volumes)
        : m_volumes(std::move(volumes))
    {}

    Result<QList<MountedVolume>> mountedVolumes() const override { return m_volumes; }

private:
    Result<QList<MountedVolume>> m_volumes;
};

MountedVolume volume(const QString &name,
                     bool removable,
                     bool ejectable,
                     bool local,
                     bool internal,
                     std::optional<QString> uuid = std::nullopt)
{
    return MountedVolume{name,
                         QStringLiteral("/media/") + name,
                         removable,
                         ejectable,
                         local,
                         internal,
                         std::move(uuid)};
}

RemovableVolumeDetector detectorFor(Result<QList<MountedVolume>> volumes)
{
    return RemovableVolumeDetector(std::make_shared<FixedVolumeProvider>(std::move(volumes)));
}

} // namespace

void RemovableVolumeDetectorTests::keepRule_data()
{
    QTest::addColumn<bool>("removable");
    QTest::addColumn<bool>("ejectable");
    QTest::addColumn<bool>("local");
    QTest::addColumn<bool>("internal");
    QTest::addColumn<bool>("kept");
    QTest::newRow("nothing reported") << false << false << false << false << false;
    QTest::newRow("removable only") << true << false << false << true << true;
    QTest::newRow("ejectable only") << false << true << false << true << true;
    QTest::newRow("external local disk") << false << false << true << false << true;
    QTest::newRow("internal local disk") << false << false << true << true << false;
    QTest::newRow("network volume") << false << false << false << false << false;
    QTest::newRow("removable network volume") << true << false << false << false << true;
}

void RemovableVolumeDetectorTests::keepRule()
{
    QFETCH(bool, removable);
    QFETCH(bool, ejectable);
    QFETCH(bool, local);
    QFETCH(bool, internal);
    QFETCH(bool, kept);
    const auto detector = detectorFor(
        QList<MountedVolume>{volume(QStringLiteral("V"), removable, ejectable, local, internal)});
    Result<QList<ImportScanVolume>> sources = detector.removableVolumes();
    QVERIFY(sources);
    QCOMPARE(sources->size(), kept ? 1 : 0);
}

void RemovableVolumeDetectorTests::keepsProviderOrderAndMapsFields()
{
    const auto detector = detectorFor(QList<MountedVolume>{
        volume(QStringLiteral("Z"), true, true, true, false, QStringLiteral("UUID-Z")),
        volume(QStringLiteral("System"), false, false, true, true),
        volume(QStringLiteral("A"), false, false, true, false),
        volume(QStringLiteral("Z"), true, false, true, false, QStringLiteral("UUID-Z")),
    });
    Result<QList<ImportScanVolume>> sources = detector.removableVolumes();
    QVERIFY(sources);
    const QList<ImportScanVolume> expected{
        {QStringLiteral("Z"), QStringLiteral("/media/Z"), QStringLiteral("UUID-Z")},
        {QStringLiteral("A"), QStringLiteral("/media/A"), std::nullopt},
        {QStringLiteral("Z"), QStringLiteral("/media/Z"), QStringLiteral("UUID-Z")},
    };
    QCOMPARE(*sources, expected);

    Result<QList<ImportScanVolume>> none = detectorFor(QList<MountedVolume>{}).removableVolumes();
    QVERIFY(none);
    QVERIFY(none->isEmpty());
}

void RemovableVolumeDetectorTests::providerErrorPassesThrough()
{
    const Error error = FileSystemError{QStringLiteral("open"), QStringLiteral("/proc/x"), EIO};
    Result<QList<ImportScanVolume>> sources
        = detectorFor(tl::unexpected<Error>(error)).removableVolumes();
    QVERIFY(!sources);
    QCOMPARE(sources.error(), error);
}

void RemovableVolumeDetectorTests::sourcesDifferingOnlyInUuidAreNotEqual()
{
    const ImportScanVolume withUuid{
        QStringLiteral("CARD"), QStringLiteral("/media/CARD"), QStringLiteral("1234")};
    ImportScanVolume withoutUuid = withUuid;
    withoutUuid.volumeUUID.reset();
    QVERIFY(withUuid != withoutUuid);
    QVERIFY(withoutUuid
            == (ImportScanVolume{QStringLiteral("CARD"), QStringLiteral("/media/CARD"), {}}));
}

QTEST_GUILESS_MAIN(RemovableVolumeDetectorTests)
#include "RemovableVolumeDetectorTests.moc"
