#include <PellwickCore/Ingest/SourceMediaEvidence.h>
#include <PellwickCore/Support/Json.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <Support/ContentHasherFakes.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>

using namespace Pellwick;
using namespace Pellwick::Test;

class SourceMediaEvidenceTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    // JSON form
    void writesEveryKeyAndLeavesOutAbsentSidecars();
    void readsBackEqual();
    void readsRecordsWrittenElsewhere();
    void refusesBrokenRecords_data();
    void refusesBrokenRecords();

    // Change detection
    void evidenceAlreadyChangedIsNotExamined();
    void unavailableSourceIsNoChange();
    void rawOriginalIsComparedByContent();
    void sidecarIsComparedAfterTheRawOriginal();
    void volumeIsFoundByItsUuidWhereverMounted();
    void anotherCardAtTheRecordedRootIsNotCompared();
    void sourceGoneWhileReadIsNoChange_data();
    void sourceGoneWhileReadIsNoChange();

private:
    SourceMediaEvidence evidenceForCard(bool withSidecar = true) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_card;
    LocalFileManager m_fileManager;
};

namespace {

const QByteArray rawBytes = patternBytes(64 * 1024, 11);
const QByteArray sidecarBytes = "<x:xmpmeta>rating 5</x:xmpmeta>";
const Error readError = FileSystemError{QStringLiteral("read"), QString(), EIO};

QJsonObject parsedObject(const QByteArray &json)
{
    Result<QJsonObject> object = Json::parseObject(json);
    if (!object)
        qFatal("bad fixture %s", json.constData());
    return *object;
}

const char *fullRecord = R"({
    "sourceRootURL": "file:///Volumes/CARD%20A/",
    "sourceIdentity": {"volume": {"uuid": "0A1B-2C3D"}},
    "rawRelativePath": "DCIM/100MEDIA/IMG_0001.CR3",
    "rawContentHash": "aaaa",
    "sidecarRelativePath": "DCIM/100MEDIA/IMG_0001.xmp",
    "sidecarContentHash": "bbbb",
    "safety": "changed"
})";

} // namespace

void SourceMediaEvidenceTests::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_card = m_dir->filePath(QStringLiteral("CARD"));
    writeFile(m_card + QStringLiteral("/DCIM/100MEDIA/IMG_0001.CR3"), rawBytes);
    writeFile(m_card + QStringLiteral("/DCIM/100MEDIA/IMG_0001.xmp"), sidecarBytes);
}

SourceMediaEvidence SourceMediaEvidenceTests::evidenceForCard(bool withSidecar) const
{
    SourceMediaEvidence evidence{
        m_card,
        ImportSourceIdentity::volume(QStringLiteral("0A1B-2C3D")),
        QStringLiteral("DCIM/100MEDIA/IMG_0001.CR3"),
        referenceSha256(rawBytes),
        std::nullopt,
        std::nullopt,
        SourceMediaSafety::Current,
    };
    if (withSidecar) {
        evidence.sidecarRelativePath = QStringLiteral("DCIM/100MEDIA/IMG_0001.xmp");
        evidence.sidecarContentHash = referenceSha256(sidecarBytes);
    }
    return evidence;
}

void SourceMediaEvidenceTests::writesEveryKeyAndLeavesOutAbsentSidecars()
{
    SourceMediaEvidence evidence{
        QStringLiteral("/Volumes/CARD A"),
        ImportSourceIdentity::volume(QStringLiteral("0A1B-2C3D")),
        QStringLiteral("DCIM/100MEDIA/IMG_0001.CR3"),
        QStringLiteral("aaaa"),
        QStringLiteral("DCIM/100MEDIA/IMG_0001.xmp"),
        QStringLiteral("bbbb"),
        SourceMediaSafety::Changed,
    };
    QJsonObject expected = parsedObject(fullRecord);
    expected.insert(QStringLiteral("sourceRootURL"), QStringLiteral("file:///Volumes/CARD%20A"));
    QCOMPARE(evidence.toJson(), expected);

    evidence.sidecarRelativePath.reset();
    evidence.sidecarContentHash.reset();
    evidence.safety = SourceMediaSafety::Current;
    expected.remove(QStringLiteral("sidecarRelativePath"));
    expected.remove(QStringLiteral("sidecarContentHash"));
    expected.insert(QStringLiteral("safety"), QStringLiteral("current"));
    QCOMPARE(evidence.toJson(), expected);
}

void SourceMediaEvidenceTests::readsBackEqual()
{
    SourceMediaEvidence folder = evidenceForCard();
    folder.sourceRootURL = QStringLiteral("/home/ann/Bilder/Reise nach Köln #1");
    folder.sourceIdentity = ImportSourceIdentity::folder(folder.sourceRootURL, QString(64, u'c'));
    SourceMediaEvidence onlyHash = evidenceForCard(false);
    onlyHash.sidecarContentHash = QStringLiteral("dddd");
    for (const SourceMediaEvidence &evidence :
         {evidenceForCard(), evidenceForCard(false), folder, onlyHash}) {
        Result<QByteArray> written = Json::serialize(evidence.toJson(), Json::Format::Pretty);
        QVERIFY(written);
        Result<SourceMediaEvidence> read = SourceMediaEvidence::fromJson(parsedObject(*written));
        PELLWICK_VERIFY_SUCCESS(read);
        QCOMPARE(*read, evidence);
    }
}

void SourceMediaEvidenceTests::readsRecordsWrittenElsewhere()
{
    Result<SourceMediaEvidence> full = SourceMediaEvidence::fromJson(parsedObject(fullRecord));
    QVERIFY(full);
    QCOMPARE(full->sourceRootURL, QStringLiteral("/Volumes/CARD A"));
    QCOMPARE(full->sourceIdentity, ImportSourceIdentity::volume(QStringLiteral("0A1B-2C3D")));
    QCOMPARE(full->sidecarContentHash, std::optional<QString>(QStringLiteral("bbbb")));
    QCOMPARE(full->safety, SourceMediaSafety::Changed);

    // Missing and null sidecar keys alike read as no sidecar; unknown keys are ignored.
    QJsonObject json = parsedObject(fullRecord);
    json.remove(QStringLiteral("sidecarRelativePath"));
    json.insert(QStringLiteral("sidecarContentHash"), QJsonValue::Null);
    json.insert(QStringLiteral("importedBy"), QStringLiteral("someone"));
    Result<SourceMediaEvidence> withoutSidecar = SourceMediaEvidence::fromJson(json);
    QVERIFY(withoutSidecar);
    QCOMPARE(withoutSidecar->sidecarRelativePath, std::nullopt);
    QCOMPARE(withoutSidecar->sidecarContentHash, std::nullopt);
    QCOMPARE(withoutSidecar->rawRelativePath, QStringLiteral("DCIM/100MEDIA/IMG_0001.CR3"));
}

void SourceMediaEvidenceTests::refusesBrokenRecords_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QJsonValue>("value"); // undefined removes the key
    QTest::addColumn<DecodingError::Kind>("kind");
    QTest::addColumn<QString>("keyPath");
    const QJsonValue removed(QJsonValue::Undefined);
    QTest::newRow("unknown safety")
        << QStringLiteral("safety") << QJsonValue(QStringLiteral("unknown"))
        << DecodingError::Kind::DataCorrupted << QStringLiteral("evidence.safety");
    QTest::newRow("safety in capitals")
        << QStringLiteral("safety") << QJsonValue(QStringLiteral("Current"))
        << DecodingError::Kind::DataCorrupted << QStringLiteral("evidence.safety");
    QTest::newRow("no safety") << QStringLiteral("safety") << removed
                               << DecodingError::Kind::KeyNotFound
                               << QStringLiteral("evidence.safety");
    QTest::newRow("no raw path") << QStringLiteral("rawRelativePath") << removed
                                 << DecodingError::Kind::KeyNotFound
                                 << QStringLiteral("evidence.rawRelativePath");
    QTest::newRow("null raw hash")
        << QStringLiteral("rawContentHash") << QJsonValue(QJsonValue::Null)
        << DecodingError::Kind::ValueNotFound << QStringLiteral("evidence.rawContentHash");
    QTest::newRow("sidecar path not a string")
        << QStringLiteral("sidecarRelativePath") << QJsonValue(3)
        << DecodingError::Kind::TypeMismatch << QStringLiteral("evidence.sidecarRelativePath");
    QTest::newRow("no identity") << QStringLiteral("sourceIdentity") << removed
                                 << DecodingError::Kind::KeyNotFound
                                 << QStringLiteral("evidence.sourceIdentity");
    QTest::newRow("identity with both cases")
        << QStringLiteral("sourceIdentity")
        << QJsonValue(parsedObject(
               R"({"volume":{"uuid":"u"},"folder":{"canonicalPath":"/a","manifestHash":"h"}})"))
        << DecodingError::Kind::TypeMismatch << QStringLiteral("evidence.sourceIdentity");
    QTest::newRow("no root") << QStringLiteral("sourceRootURL") << removed
                             << DecodingError::Kind::KeyNotFound
                             << QStringLiteral("evidence.sourceRootURL");
    QTest::newRow("root not a file URL")
        << QStringLiteral("sourceRootURL") << QJsonValue(QStringLiteral("https://example.com/card"))
        << DecodingError::Kind::DataCorrupted << QStringLiteral("evidence.sourceRootURL");
    QTest::newRow("root a bare path")
        << QStringLiteral("sourceRootURL") << QJsonValue(QStringLiteral("/Volumes/CARD"))
        << DecodingError::Kind::DataCorrupted << QStringLiteral("evidence.sourceRootURL");
}

void SourceMediaEvidenceTests::refusesBrokenRecords()
{
    QFETCH(QString, key);
    QFETCH(QJsonValue, value);
    QFETCH(DecodingError::Kind, kind);
    QFETCH(QString, keyPath);
    QJsonObject json = parsedObject(fullRecord);
    if (value.isUndefined())
        json.remove(key);
    else
        json.insert(key, value);
    Result<SourceMediaEvidence> read
        = SourceMediaEvidence::fromJson(json, QStringLiteral("evidence"));
    QVERIFY(!read);
    const auto *error = read.error().as<DecodingError>();
    QVERIFY(error);
    QCOMPARE(error->kind, kind);
    QCOMPARE(error->keyPath, keyPath);
}

void SourceMediaEvidenceTests::evidenceAlreadyChangedIsNotExamined()
{
    SourceMediaEvidence evidence = evidenceForCard();
    CountingContentHasher hasher;
    QVERIFY(!evidence.detectsChange({}, m_fileManager, hasher));
    QCOMPARE(hasher.hashedPaths().size(), 2);

    evidence.safety = SourceMediaSafety::Changed;
    CountingContentHasher untouched;
    QVERIFY(!evidence.detectsChange({}, m_fileManager, untouched));
    QVERIFY(untouched.hashedPaths().isEmpty());
}

void SourceMediaEvidenceTests::unavailableSourceIsNoChange()
{
    CountingContentHasher hasher;
    // A volume that is neither listed nor at its recorded root: the card is not inserted.
    SourceMediaEvidence volume = evidenceForCard();
    volume.sourceRootURL = m_dir->filePath(QStringLiteral("EJECTED"));
    const QList<ImportScanVolume> others{{QStringLiteral("OTHER"),
                                          m_dir->filePath(QStringLiteral("OTHER")),
                                          QStringLiteral("FFFF")}};
    QVERIFY(!volume.detectsChange(others, m_fileManager, hasher));
    QVERIFY(!volume.detectsChange({}, m_fileManager, hasher));

    // A folder that was moved away; its canonical path and manifest are not consulted.
    SourceMediaEvidence folder = evidenceForCard();
    folder.sourceIdentity = ImportSourceIdentity::folder(m_card, QStringLiteral("stale"));
    QVERIFY(!folder.detectsChange({}, m_fileManager, hasher));
    QVERIFY(QDir().rename(m_card, m_dir->filePath(QStringLiteral("moved"))));
    QVERIFY(!folder.detectsChange({}, m_fileManager, hasher));
    QCOMPARE(hasher.hashedPaths().size(), 2); // only the one check that found the folder
}

void SourceMediaEvidenceTests::rawOriginalIsComparedByContent()
{
    const SourceMediaEvidence evidence = evidenceForCard(false);
    const QString raw = m_card + QStringLiteral("/DCIM/100MEDIA/IMG_0001.CR3");
    CountingContentHasher hasher;
    QVERIFY(!evidence.detectsChange({}, m_fileManager, hasher));
    QCOMPARE(hasher.hashedPaths(), QStringList{raw});

    // Rewritten with identical bytes: dates changed, content did not.
    QFile::remove(raw);
    writeFile(raw, rawBytes);
    QVERIFY(!evidence.detectsChange({}, m_fileManager, hasher));

    const FailingContentHasher failing(QStringLiteral("IMG_0001.CR3"), readError);
    QVERIFY(evidence.detectsChange({}, m_fileManager, failing));

    QByteArray changed = rawBytes;
    changed[1000] = static_cast<char>(changed[1000] ^ 1);
    writeFile(raw, changed);
    QVERIFY(evidence.detectsChange({}, m_fileManager, hasher));

    QVERIFY(QFile::remove(raw));
    QVERIFY(evidence.detectsChange({}, m_fileManager, hasher));

    // A folder source with its one file deleted.
    SourceMediaEvidence folder = evidence;
    folder.sourceIdentity = ImportSourceIdentity::folder(m_card, QStringLiteral("h"));
    QVERIFY(folder.detectsChange({}, m_fileManager, hasher));
}

void SourceMediaEvidenceTests::sidecarIsComparedAfterTheRawOriginal()
{
    const QString raw = m_card + QStringLiteral("/DCIM/100MEDIA/IMG_0001.CR3");
    const QString sidecar = m_card + QStringLiteral("/DCIM/100MEDIA/IMG_0001.xmp");
    const SourceMediaEvidence evidence = evidenceForCard();
    CountingContentHasher hasher;
    QVERIFY(!evidence.detectsChange({}, m_fileManager, hasher));
    QCOMPARE(hasher.hashedPaths(), (QStringList{raw, sidecar}));

    // Only one of path and hash recorded: a broken record counts as a change.
    SourceMediaEvidence pathOnly = evidence;
    pathOnly.sidecarContentHash.reset();
    QVERIFY(pathOnly.detectsChange({}, m_fileManager, hasher));
    SourceMediaEvidence hashOnly = evidence;
    hashOnly.sidecarRelativePath.reset();
    QVERIFY(hashOnly.detectsChange({}, m_fileManager, hasher));

    const FailingContentHasher failing(QStringLiteral(".xmp"), readError);
    QVERIFY(evidence.detectsChange({}, m_fileManager, failing));

    writeFile(sidecar, sidecarBytes + "rating 1");
    QVERIFY(evidence.detectsChange({}, m_fileManager, hasher));
    QVERIFY(QFile::remove(sidecar));
    QVERIFY(evidence.detectsChange({}, m_fileManager, hasher));

    // The sidecar is not read when the RAW original already differs.
    writeFile(raw, "other");
    CountingContentHasher rawOnly;
    QVERIFY(evidence.detectsChange({}, m_fileManager, rawOnly));
    QCOMPARE(rawOnly.hashedPaths(), QStringList{raw});
}

void SourceMediaEvidenceTests::volumeIsFoundByItsUuidWhereverMounted()
{
    SourceMediaEvidence evidence = evidenceForCard();
    evidence.sourceRootURL = m_dir->filePath(QStringLiteral("OLD MOUNT"));
    const QList<ImportScanVolume> sources{
        {QStringLiteral("USB"), m_dir->filePath(QStringLiteral("USB")), std::nullopt},
        {QStringLiteral("CARD"), m_card, QStringLiteral("0A1B-2C3D")},
    };
    CountingContentHasher hasher;
    QVERIFY(!evidence.detectsChange(sources, m_fileManager, hasher));
    QCOMPARE(hasher.hashedPaths().value(0), m_card + QStringLiteral("/DCIM/100MEDIA/IMG_0001.CR3"));

    writeFile(m_card + QStringLiteral("/DCIM/100MEDIA/IMG_0001.xmp"), "edited");
    QVERIFY(evidence.detectsChange(sources, m_fileManager, hasher));

    // UUIDs are compared exactly.
    SourceMediaEvidence lowerCase = evidence;
    lowerCase.sourceIdentity = ImportSourceIdentity::volume(QStringLiteral("0a1b-2c3d"));
    QVERIFY(!lowerCase.detectsChange(sources, m_fileManager, hasher));

    // With no list at all, whatever is mounted at the recorded root is compared.
    evidence.sourceRootURL = m_card;
    QVERIFY(evidence.detectsChange({}, m_fileManager, hasher));
    writeFile(m_card + QStringLiteral("/DCIM/100MEDIA/IMG_0001.xmp"), sidecarBytes);
    QVERIFY(!evidence.detectsChange({}, m_fileManager, hasher));
}

void SourceMediaEvidenceTests::anotherCardAtTheRecordedRootIsNotCompared()
{
    // Another card with the same label now sits where the recorded card was mounted; it does not
    // hold the recorded files, but it says nothing about the recorded card.
    const SourceMediaEvidence evidence = evidenceForCard();
    QVERIFY(QFile::remove(m_card + QStringLiteral("/DCIM/100MEDIA/IMG_0001.CR3")));
    CountingContentHasher hasher;
    const QList<ImportScanVolume> otherCard{
        {QStringLiteral("CARD"), m_card, QStringLiteral("9999-0000")}};
    QVERIFY(!evidence.detectsChange(otherCard, m_fileManager, hasher));
    // The same when the mount point is listed in another spelling of the same path.
    const QList<ImportScanVolume> trailingSlash{
        {QStringLiteral("CARD"), m_card + QLatin1Char('/'), QStringLiteral("9999-0000")}};
    QVERIFY(!evidence.detectsChange(trailingSlash, m_fileManager, hasher));
    QVERIFY(hasher.hashedPaths().isEmpty());

    // A source at the recorded root without a UUID cannot be told apart: the recorded root is
    // compared, as it is when no list is given.
    const QList<ImportScanVolume> noUuid{{QStringLiteral("CARD"), m_card, std::nullopt}};
    QVERIFY(evidence.detectsChange(noUuid, m_fileManager, hasher));
    QVERIFY(evidence.detectsChange({}, m_fileManager, hasher));
}

void SourceMediaEvidenceTests::sourceGoneWhileReadIsNoChange_data()
{
    // Before hash call `call` (1: RAW original, 2: sidecar), `removed` is taken away: the whole
    // source ("source") or only the folder of its files ("files").
    QTest::addColumn<bool>("folderSource");
    QTest::addColumn<int>("call");
    QTest::addColumn<QString>("removed");
    QTest::addColumn<bool>("change");

    QTest::newRow("card ejected while its RAW original is read") << false << 1 << "source" << false;
    QTest::newRow("card ejected before its sidecar is read") << false << 2 << "source" << false;
    QTest::newRow("folder removed while read") << true << 1 << "source" << false;
    QTest::newRow("card still there, its files deleted") << false << 1 << "files" << true;
    QTest::newRow("card still there, its sidecar deleted") << false << 2 << "files" << true;
    QTest::newRow("folder still there, its files deleted") << true << 1 << "files" << true;
}

void SourceMediaEvidenceTests::sourceGoneWhileReadIsNoChange()
{
    QFETCH(bool, folderSource);
    QFETCH(int, call);
    QFETCH(QString, removed);
    QFETCH(bool, change);

    SourceMediaEvidence evidence = evidenceForCard();
    if (folderSource)
        evidence.sourceIdentity = ImportSourceIdentity::folder(m_card, QStringLiteral("h"));
    const QList<ImportScanVolume> sources{
        {QStringLiteral("CARD"), m_card, QStringLiteral("0A1B-2C3D")}};
    const QString gone
        = removed == QStringLiteral("source") ? m_card : m_card + QStringLiteral("/DCIM/100MEDIA");
    int calls = 0;
    ScriptedContentHasher hasher;
    hasher.setBeforeEachCall([&](const QString &) {
        if (++calls == call)
            QVERIFY(QDir(gone).removeRecursively());
    });
    QCOMPARE(evidence.detectsChange(sources, m_fileManager, hasher), change);
    QCOMPARE(calls, call);
}

QTEST_GUILESS_MAIN(SourceMediaEvidenceTests)
#include "SourceMediaEvidenceTests.moc"
