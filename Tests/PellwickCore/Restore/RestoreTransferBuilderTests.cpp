#include <PellwickCore/Restore/RestoreTransferBuilder.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <Support/LibraryFixtures.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>

using namespace Pellwick;
using namespace Qt::StringLiterals;

namespace {

constexpr qint64 requestID = 7;
constexpr qint64 itemID = 42;

/// How the completed manifests handed to the builder differ from a reusable pair.
enum class Manifests {
    None,
    SameFolder,
    ThroughLink,
    OtherFolder,
    OtherRequest,
    OtherByteCount,
    OtherHash,
    Incomplete,
    OutsideFolder,
};

struct Fixture
{
    QTemporaryDir dir;
    QString folder = dir.filePath(u"Restored"_s);
    QString link = dir.filePath(u"Link"_s);
    QString other = dir.filePath(u"Other"_s);

    Fixture()
    {
        QDir(dir.path()).mkdir(u"Restored"_s);
        QDir(dir.path()).mkdir(u"Other"_s);
        QFile::link(folder, link);
    }

    void create(const QStringList &names) const
    {
        for (const QString &name : names) {
            QFile file(folder + u'/' + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
    }
};

RestoreTransferCapability capability(const QString &raw, const QString &sidecar)
{
    RestoreTransferCapability c{
        itemID, raw, 1000, u"https://store.example/raw?sig=a%2F"_s, Date{8e8}, std::nullopt};
    if (!sidecar.isNull()) {
        c.sidecar = RestoreTransferCapabilityFile{
            sidecar, 20, u"sidecarhash"_s, u"https://store.example/xmp"_s, Date{8e8 + 1}};
    }
    return c;
}

RestoreTransferManifest manifest(RestoreTransferArtifact artifact,
                                 const RestoreTransferCapability &c,
                                 const QString &hash,
                                 const QString &folder)
{
    const bool raw = artifact == RestoreTransferArtifact::Raw;
    RestoreTransferManifest m;
    m.id = {requestID, itemID, artifact};
    m.canonicalFilename = raw ? c.canonicalFilename : c.sidecar->canonicalFilename;
    m.destinationPath = folder + u'/' + m.canonicalFilename;
    m.expectedByteCount = raw ? c.byteCount : c.sidecar->byteCount;
    m.expectedContentHash = raw ? hash : c.sidecar->contentHash;
    m.isComplete = true;
    return m;
}

QByteArray rawBytes()
{
    return Test::patternBytes(1000, 11);
}

QByteArray sidecarBytes()
{
    return QByteArrayLiteral("<x:xmpmeta rating=\"4\"/>");
}

} // namespace

Q_DECLARE_METATYPE(Manifests)

class RestoreTransferBuilderTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void destinationsAreFreeOrReused_data();
    void destinationsAreFreeOrReused();
    void installedButUnrecordedIsReused_data();
    void installedButUnrecordedIsReused();
    void transferCarriesTheCapabilityAndTheLocalHash();
};

void RestoreTransferBuilderTests::destinationsAreFreeOrReused_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("sidecar");  // null: none
    QTest::addColumn<QString>("selected"); // null: none
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QStringList>("reserved");
    QTest::addColumn<Manifests>("manifests");
    // The two destination names, or the conflict's taken name and suggestion.
    QTest::addColumn<QString>("rawName");
    QTest::addColumn<QString>("sidecarName");
    QTest::addColumn<QString>("takenName");
    QTest::addColumn<QString>("suggested");

    const QString cr3 = u"IMG_0001.CR3"_s;
    const QString xmp = u"IMG_0001.xmp"_s;
    const QStringList both{cr3, xmp};
    const QString none;

    QTest::newRow("empty folder") << cr3 << xmp << none << QStringList() << QStringList()
                                  << Manifests::None << cr3 << xmp << none << none;
    QTest::newRow("RAW present") << cr3 << xmp << none << QStringList{cr3} << QStringList()
                                 << Manifests::None << none << none << cr3
                                 << u"IMG_0001-restored.CR3"_s;
    QTest::newRow("RAW and restored sidecar present")
        << cr3 << xmp << none << QStringList{cr3, u"IMG_0001-restored.xmp"_s} << QStringList()
        << Manifests::None << none << none << cr3 << u"IMG_0001-restored-2.CR3"_s;
    QTest::newRow("sidecar present")
        << cr3 << xmp << none << QStringList{xmp} << QStringList() << Manifests::None << none
        << none << xmp << u"IMG_0001-restored.CR3"_s;
    QTest::newRow("RAW reserved in this run")
        << cr3 << xmp << none << QStringList() << QStringList{cr3} << Manifests::None << none
        << none << cr3 << u"IMG_0001-restored.CR3"_s;
    QTest::newRow("selected filename takes the sidecar along")
        << cr3 << xmp << u"IMG_0001-restored.CR3"_s << QStringList{cr3} << QStringList()
        << Manifests::None << u"IMG_0001-restored.CR3"_s << u"IMG_0001-restored.xmp"_s << none
        << none;
    QTest::newRow("selected canonical filename still pairs the sidecar")
        << cr3 << u"Sidecar.xmp"_s << cr3 << QStringList() << QStringList() << Manifests::None
        << cr3 << xmp << none << none;
    QTest::newRow("sidecar without extension")
        << cr3 << u"IMG_0001"_s << u"IMG_0001-restored.CR3"_s << QStringList() << QStringList()
        << Manifests::None << u"IMG_0001-restored.CR3"_s << u"IMG_0001-restored"_s << none << none;
    const QString renamed = u"20250602-100100_pw-1_img_0001_6b2541f99b97"_s;
    QTest::newRow("renamed RAW takes the card's sidecar along")
        << renamed + u".dng"_s << xmp << none << QStringList() << QStringList() << Manifests::None
        << renamed + u".dng"_s << renamed + u".xmp"_s << none << none;
    QTest::newRow("sidecar completed under the card's name is not reused")
        << renamed + u".dng"_s << xmp << none << QStringList{renamed + u".dng"_s, xmp}
        << QStringList() << Manifests::SameFolder << renamed + u".dng"_s << renamed + u".xmp"_s
        << none << none;
    QTest::newRow("no sidecar, no extension")
        << u"SCAN"_s << none << none << QStringList{u"SCAN"_s, u"SCAN-restored"_s} << QStringList()
        << Manifests::None << none << none << u"SCAN"_s << u"SCAN-restored-2"_s;

    QTest::newRow("completed into this folder: reused")
        << cr3 << xmp << none << both << QStringList() << Manifests::SameFolder << cr3 << xmp
        << none << none;
    QTest::newRow("completed through a symbolic link: reused")
        << cr3 << xmp << none << both << QStringList() << Manifests::ThroughLink << cr3 << xmp
        << none << none;
    QTest::newRow("completed into another folder")
        << cr3 << xmp << none << both << QStringList() << Manifests::OtherFolder << none << none
        << cr3 << u"IMG_0001-restored.CR3"_s;
    QTest::newRow("another request")
        << cr3 << xmp << none << both << QStringList() << Manifests::OtherRequest << none << none
        << cr3 << u"IMG_0001-restored.CR3"_s;
    QTest::newRow("another byte count")
        << cr3 << xmp << none << both << QStringList() << Manifests::OtherByteCount << none << none
        << cr3 << u"IMG_0001-restored.CR3"_s;
    QTest::newRow("another hash") << cr3 << xmp << none << both << QStringList()
                                  << Manifests::OtherHash << none << none << cr3
                                  << u"IMG_0001-restored.CR3"_s;
    QTest::newRow("incomplete") << cr3 << xmp << none << both << QStringList()
                                << Manifests::Incomplete << none << none << cr3
                                << u"IMG_0001-restored.CR3"_s;
    QTest::newRow("stored destination leaves the folder")
        << cr3 << xmp << none << both << QStringList() << Manifests::OutsideFolder << none << none
        << cr3 << u"IMG_0001-restored.CR3"_s;
    QTest::newRow("selected filename disables reuse")
        << cr3 << xmp << u"Mine.CR3"_s << both << QStringList() << Manifests::SameFolder
        << u"Mine.CR3"_s << u"Mine.xmp"_s << none << none;

    QTest::newRow("backend name climbing out")
        << u"../../x.CR3"_s << none << none << QStringList() << QStringList() << Manifests::None
        << none << none << u".._.._x.CR3"_s << u".._.._x-restored.CR3"_s;
    QTest::newRow("backend name with a folder")
        << u"a/b.CR3"_s << none << none << QStringList() << QStringList() << Manifests::None << none
        << none << u"a_b.CR3"_s << u"a_b-restored.CR3"_s;
    QTest::newRow("empty backend name")
        << QString(u""_s) << none << none << QStringList() << QStringList() << Manifests::None
        << none << none << u"file"_s << u"file-restored"_s;
    QTest::newRow("backend parent folder name")
        << u".."_s << none << none << QStringList() << QStringList() << Manifests::None << none
        << none << u"file"_s << u"file-restored"_s;
    QTest::newRow("sidecar name climbing out")
        << cr3 << u"../IMG_0001.xmp"_s << none << QStringList() << QStringList() << Manifests::None
        << cr3 << xmp << none << none;
    QTest::newRow("accepted suggestion after an unusable sidecar name")
        << cr3 << u"../IMG_0001.xmp"_s << u"IMG_0001-restored.CR3"_s << QStringList()
        << QStringList() << Manifests::None << u"IMG_0001-restored.CR3"_s
        << u"IMG_0001-restored.xmp"_s << none << none;
    QTest::newRow("typed name climbing out")
        << cr3 << xmp << u"../evil.CR3"_s << QStringList() << QStringList() << Manifests::None
        << none << none << u".._evil.CR3"_s << u".._evil-restored.CR3"_s;
}

void RestoreTransferBuilderTests::destinationsAreFreeOrReused()
{
    QFETCH(QString, raw);
    QFETCH(QString, sidecar);
    QFETCH(QString, selected);
    QFETCH(QStringList, existing);
    QFETCH(QStringList, reserved);
    QFETCH(Manifests, manifests);
    QFETCH(QString, rawName);
    QFETCH(QString, sidecarName);
    QFETCH(QString, takenName);
    QFETCH(QString, suggested);

    Fixture fixture;
    fixture.create(existing);
    LocalLibraryItem item = Test::minimalLibraryItem(1);
    item.backendLibraryItemID = itemID;

    RestoreTransferBuilder builder;
    builder.capability = capability(raw, sidecar);
    builder.localItem = item;
    builder.restoreRequestID = requestID;
    builder.destinationDirectory = fixture.folder;
    if (!selected.isNull())
        builder.selectedFilename = selected;
    for (const QString &name : reserved)
        builder.reservedDestinations.insert(fixture.folder + u'/' + name);
    if (manifests != Manifests::None) {
        const QString into = manifests == Manifests::ThroughLink   ? fixture.link
                             : manifests == Manifests::OtherFolder ? fixture.other
                                                                   : fixture.folder;
        auto rawManifest
            = manifest(RestoreTransferArtifact::Raw, builder.capability, item.contentHash, into);
        rawManifest.id.restoreRequestID += manifests == Manifests::OtherRequest ? 1 : 0;
        rawManifest.expectedByteCount += manifests == Manifests::OtherByteCount ? 1 : 0;
        if (manifests == Manifests::OtherHash)
            rawManifest.expectedContentHash = u"other"_s;
        rawManifest.isComplete = manifests != Manifests::Incomplete;
        if (manifests == Manifests::OutsideFolder)
            rawManifest.destinationPath = fixture.folder + u"/.."_s;
        builder.completedRawManifest = rawManifest;
        builder.completedSidecarManifest = manifest(
            RestoreTransferArtifact::Sidecar, builder.capability, item.contentHash, into);
    }
    const QSet<QString> reservedBefore = builder.reservedDestinations;

    const auto transfer = builder.build();
    if (!takenName.isNull()) {
        QVERIFY(!transfer);
        QCOMPARE(transfer.error(),
                 Error(RestoreRequestCoordinatorError{
                     RestoreRequestCoordinatorError::DestinationFilenameConflict{
                         itemID, fixture.folder + u'/' + takenName, suggested}}));
        QCOMPARE(builder.reservedDestinations, reservedBefore);
        return;
    }
    PELLWICK_VERIFY_SUCCESS(transfer);
    const QString into = manifests == Manifests::ThroughLink ? fixture.link : fixture.folder;
    QCOMPARE(transfer->destinationPath, into + u'/' + rawName);
    QSet<QString> expectedReserved = reservedBefore;
    expectedReserved.insert(transfer->destinationPath);
    if (sidecar.isNull()) {
        QVERIFY(!transfer->sidecar);
    } else {
        QVERIFY(transfer->sidecar);
        QCOMPARE(transfer->sidecar->destinationPath, into + u'/' + sidecarName);
        expectedReserved.insert(transfer->sidecar->destinationPath);
    }
    QCOMPARE(builder.reservedDestinations, expectedReserved);
}

void RestoreTransferBuilderTests::installedButUnrecordedIsReused_data()
{
    QTest::addColumn<QString>("selected"); // null: none
    QTest::addColumn<QString>("installedAs");
    QTest::addColumn<QByteArray>("rawOnDisk");     // null: not written
    QTest::addColumn<QByteArray>("sidecarOnDisk"); // null: not written
    QTest::addColumn<bool>("rawComplete");
    QTest::addColumn<bool>("linkInsteadOfRaw");
    QTest::addColumn<QString>("takenName"); // null: both reused

    const QByteArray raw = rawBytes();
    const QByteArray xmp = sidecarBytes();
    const QString cr3 = u"IMG_0001.CR3"_s;
    const QString mine = u"Mine.CR3"_s;
    const QString none;
    QTest::newRow("both installed, neither recorded")
        << none << cr3 << raw << xmp << false << false << none;
    QTest::newRow("RAW recorded, sidecar installed unrecorded")
        << none << cr3 << raw << xmp << true << false << none;
    QTest::newRow("RAW installed unrecorded, sidecar not started")
        << none << cr3 << raw << QByteArray() << false << false << none;
    QTest::newRow("RAW of the same size but other bytes")
        << none << cr3 << QByteArray(raw).replace(0, 1, "!") << xmp << false << false << cr3;
    QTest::newRow("RAW shorter") << none << cr3 << raw.left(999) << xmp << false << false << cr3;
    QTest::newRow("sidecar of other bytes")
        << none << cr3 << raw << QByteArray(xmp).replace(0, 1, "!") << false << false
        << u"IMG_0001.xmp"_s;
    QTest::newRow("a link to the right bytes") << none << cr3 << raw << xmp << false << true << cr3;
    QTest::newRow("selected name, installed there")
        << mine << mine << raw << xmp << false << false << none;
    QTest::newRow("selected name, installed under another")
        << mine << cr3 << raw << xmp << false << false << none;
}

void RestoreTransferBuilderTests::installedButUnrecordedIsReused()
{
    QFETCH(QString, selected);
    QFETCH(QString, installedAs);
    QFETCH(QByteArray, rawOnDisk);
    QFETCH(QByteArray, sidecarOnDisk);
    QFETCH(bool, rawComplete);
    QFETCH(bool, linkInsteadOfRaw);
    QFETCH(QString, takenName);

    // A run cut short after installing a file and before recording it complete: the file there
    // is the verified content, so running the restore again takes it rather than asking for a
    // "-restored" copy. Any other file at the name stays a conflict.
    Fixture fixture;
    LocalLibraryItem item = Test::minimalLibraryItem(1);
    item.backendLibraryItemID = itemID;
    item.contentHash = SHA256ContentHasher::contentHash(rawBytes());
    RestoreTransferBuilder builder;
    builder.capability = capability(u"IMG_0001.CR3"_s, u"IMG_0001.xmp"_s);
    builder.capability.byteCount = rawBytes().size();
    builder.capability.sidecar->byteCount = sidecarBytes().size();
    builder.capability.sidecar->contentHash = SHA256ContentHasher::contentHash(sidecarBytes());
    builder.localItem = item;
    builder.restoreRequestID = requestID;
    builder.destinationDirectory = fixture.folder;
    if (!selected.isNull())
        builder.selectedFilename = selected;

    RestoreTransferManifest rawManifest = manifest(
        RestoreTransferArtifact::Raw, builder.capability, item.contentHash, fixture.folder);
    rawManifest.destinationPath = fixture.folder + u'/' + installedAs;
    rawManifest.isComplete = rawComplete;
    RestoreTransferManifest sidecarManifest = manifest(
        RestoreTransferArtifact::Sidecar, builder.capability, item.contentHash, fixture.folder);
    sidecarManifest.destinationPath = RestoreDestinationResolver::destinationPath(
        fixture.folder,
        RestoreDestinationResolver::pairedSidecarFilename(installedAs, u"IMG_0001.xmp"_s));
    sidecarManifest.isComplete = false;
    builder.completedRawManifest = rawManifest;
    if (!sidecarOnDisk.isNull()) {
        builder.completedSidecarManifest = sidecarManifest;
        Test::writeFile(sidecarManifest.destinationPath, sidecarOnDisk);
    }
    if (linkInsteadOfRaw) {
        Test::writeFile(fixture.other + u"/elsewhere"_s, rawOnDisk);
        QVERIFY(QFile::link(fixture.other + u"/elsewhere"_s, rawManifest.destinationPath));
    } else {
        Test::writeFile(rawManifest.destinationPath, rawOnDisk);
    }

    const auto transfer = builder.build();
    if (!takenName.isNull()) {
        QVERIFY(!transfer);
        const auto *conflict = transfer.error().as<RestoreRequestCoordinatorError>();
        QVERIFY2(conflict, qPrintable(describe(transfer.error())));
        QCOMPARE(
            std::get<RestoreRequestCoordinatorError::DestinationFilenameConflict>(conflict->value)
                .existingURL,
            fixture.folder + u'/' + takenName);
        return;
    }
    PELLWICK_VERIFY_SUCCESS(transfer);
    const bool reusedHere = selected.isNull() || selected == installedAs;
    const QString rawName = reusedHere ? installedAs : selected;
    QCOMPARE(transfer->destinationPath, fixture.folder + u'/' + rawName);
    QVERIFY(transfer->sidecar);
    QCOMPARE(transfer->sidecar->destinationPath,
             RestoreDestinationResolver::destinationPath(
                 fixture.folder,
                 RestoreDestinationResolver::pairedSidecarFilename(rawName, u"IMG_0001.xmp"_s)));
}

void RestoreTransferBuilderTests::transferCarriesTheCapabilityAndTheLocalHash()
{
    Fixture fixture;
    LocalLibraryItem item = Test::minimalLibraryItem(3);
    RestoreTransferBuilder builder;
    builder.capability = capability(u"IMG_0001.CR3"_s, u"IMG_0001.xmp"_s);
    builder.localItem = item;
    builder.restoreRequestID = requestID;
    builder.destinationDirectory = fixture.folder;

    const auto transfer = builder.build();
    PELLWICK_VERIFY_SUCCESS(transfer);
    const RestoreTransferCapability &c = builder.capability;
    QCOMPARE(transfer->id,
             (RestoreTransferIdentifier{requestID, itemID, RestoreTransferArtifact::Raw}));
    QCOMPARE(transfer->canonicalFilename, c.canonicalFilename);
    QCOMPARE(transfer->expectedByteCount, c.byteCount);
    QCOMPARE(transfer->expectedContentHash, item.contentHash);
    QCOMPARE(transfer->transferURL, c.transferURL);
    QCOMPARE(transfer->capabilityExpiresAt, c.expiresAt);
    const RestoreTransferFile expectedSidecar{{requestID, itemID, RestoreTransferArtifact::Sidecar},
                                              c.sidecar->canonicalFilename,
                                              fixture.folder + u"/IMG_0001.xmp"_s,
                                              c.sidecar->byteCount,
                                              c.sidecar->contentHash,
                                              c.sidecar->transferURL,
                                              c.sidecar->expiresAt};
    QCOMPARE(transfer->sidecar, std::optional(expectedSidecar));
}

QTEST_GUILESS_MAIN(RestoreTransferBuilderTests)
#include "RestoreTransferBuilderTests.moc"
