#include <PellwickCore/Import/ConfirmedImportLocalLibraryWriter.h>

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <Support/ContentHasherFakes.h>
#include <Support/ImporterFakes.h>
#include <Support/LibraryFixtures.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

/// Files with the same name hold the same bytes.
QByteArray contentOf(const QString &path)
{
    return patternBytes(700, qHash(lastPathComponent(path)));
}

} // namespace

/// Reviews of files under a source folder: ".CR3" files are supported, others unsupported (and
/// never written, so reading them would fail). Expected names write "{NAME}" for the first 12
/// characters of the content hash of the file NAME.
class ConfirmedImportLocalLibraryWriterTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void createItems_data();
    void createItems();
    void failureAppendsNothing_data();
    void failureAppendsNothing();

private:
    ImportReview review(const QStringList &files) const;
    LocalLibraryCache store() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_source;
};

void ConfirmedImportLocalLibraryWriterTests::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_source = m_dir->filePath(u"card"_s);
}

LocalLibraryCache ConfirmedImportLocalLibraryWriterTests::store() const
{
    return LocalLibraryCache(m_dir->filePath(u"library"_s), std::make_shared<LocalFileManager>());
}

ImportReview ConfirmedImportLocalLibraryWriterTests::review(const QStringList &files) const
{
    ImportReview review;
    for (const QString &file : files) {
        const QString url = m_source + QLatin1Char('/') + file;
        const bool supported = file.endsWith(u".CR3"_s);
        if (supported)
            writeFile(url, contentOf(url));
        review.items.append(ImportReviewItem(
            u"CARD"_s,
            url,
            lastPathComponent(url),
            700,
            supported
                ? ImportReviewItemStatus::supported()
                : ImportReviewItemStatus::unsupported(
                    file.endsWith(u".xmp"_s) ? ImportReviewUnsupportedReason::UnpairedSidecar
                                             : ImportReviewUnsupportedReason::ExcludedBackupTarget),
            std::nullopt,
            file));
    }
    return review;
}

void ConfirmedImportLocalLibraryWriterTests::createItems_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("namesInCache");
    QTest::addColumn<bool>("metadataKnown");
    QTest::addColumn<QString>("refusal"); // empty: the generator writes previews
    QTest::addColumn<QStringList>("expectedNames");

    QTest::newRow("no supported items") << texts({"DCIM/a.JPG", "DCIM/b.xmp"}) << QStringList{}
                                        << true << QString() << QStringList{};
    QTest::newRow("unsupported items skipped unread")
        << texts({"DCIM/a.JPG", "DCIM/IMG_1.CR3", "DCIM/b.xmp"}) << QStringList{} << true
        << QString() << texts({"20010101-000000_canon-eos-r5_img_1_{IMG_1.CR3}.cr3"});
    QTest::newRow("names coinciding in the run and taken in the cache")
        << texts({"A/IMG_1.CR3", "B/IMG_1.CR3", "A/IMG_2.CR3"})
        << texts({"20010101-000000_canon-eos-r5_img_2_{IMG_2.CR3}.cr3", "other.cr3"}) << true
        << QString()
        << texts({"20010101-000000_canon-eos-r5_img_1_{IMG_1.CR3}.cr3",
                  "20010101-000000_canon-eos-r5_img_1_{IMG_1.CR3}-2.cr3",
                  "20010101-000000_canon-eos-r5_img_2_{IMG_2.CR3}-2.cr3"});
    QTest::newRow("metadata cannot be read")
        << texts({"IMG_7.CR3"}) << QStringList{} << false << QString()
        << texts({"unknown-date_unknown-camera_img_7_{IMG_7.CR3}.cr3"});
    QTest::newRow("preview refused")
        << texts({"IMG_7.CR3", "IMG_8.CR3"}) << QStringList{} << true
        << u"The RAW original cannot be decoded."_s
        << texts({"20010101-000000_canon-eos-r5_img_7_{IMG_7.CR3}.cr3",
                  "20010101-000000_canon-eos-r5_img_8_{IMG_8.CR3}.cr3"});
}

void ConfirmedImportLocalLibraryWriterTests::createItems()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, namesInCache);
    QFETCH(bool, metadataKnown);
    QFETCH(QString, refusal);
    QFETCH(QStringList, expectedNames);

    QList<LocalLibraryItem> existing;
    for (const QString &name : namesInCache) {
        LocalLibraryItem item = minimalLibraryItem(static_cast<int>(existing.size()));
        item.canonicalFilename = name;
        item.canonicalFilename.replace(u"{IMG_2.CR3}"_s,
                                       referenceSha256(contentOf(u"IMG_2.CR3"_s)).left(12));
        existing.append(item);
    }
    PELLWICK_VERIFY_SUCCESS(store().writeItems(existing));

    PhotoMetadata metadata;
    metadata.captureTime = CaptureTimeMetadata::known(Date{0});
    metadata.cameraModel = CameraModelMetadata::known(u"Canon EOS R5"_s);
    const Result<PhotoMetadata> answer
        = metadataKnown
              ? Result<PhotoMetadata>(metadata)
              : Result<PhotoMetadata>(tl::unexpected<Error>(FileSystemError{u"read"_s, {}, EIO}));
    const auto previews = refusal.isEmpty() ? StubPreviewGenerator::writing("jpeg")
                                            : StubPreviewGenerator::refusing(refusal);
    const auto hasher = std::make_shared<CountingContentHasher>();
    const Date now{8.2e8};
    const ConfirmedImportLocalLibraryWriter writer(store(),
                                                   std::make_shared<FixedMetadataExtractor>(answer),
                                                   previews,
                                                   hasher,
                                                   std::make_shared<FixedImportClock>(now));

    const ImportReview confirmed = review(files);
    const Result<QList<LocalLibraryItem>> created = writer.createItems(confirmed);
    PELLWICK_VERIFY_SUCCESS(created);

    QStringList names;
    QStringList supportedURLs;
    for (const ImportReviewItem &item : confirmed.items) {
        if (item.status.isSupported())
            supportedURLs.append(item.url);
    }
    QCOMPARE(created->size(), supportedURLs.size());
    for (qsizetype i = 0; i < created->size(); ++i) {
        const LocalLibraryItem &item = created->at(i);
        const QString url = supportedURLs.at(i);
        QString name = expectedNames.at(i);
        static const QRegularExpression placeholder(u"\\{([^}]*)\\}"_s);
        const QRegularExpressionMatch match = placeholder.match(name);
        name.replace(match.captured(0), referenceSha256(contentOf(match.captured(1))).left(12));
        names.append(item.canonicalFilename);
        QCOMPARE(item.canonicalFilename, name);

        LocalLibraryItem expected;
        expected.id = item.id;
        expected.originalFilename = lastPathComponent(url);
        expected.canonicalFilename = name;
        expected.contentHash = referenceSha256(contentOf(url));
        expected.importDate = now;
        expected.importStatus = LibraryItemImportStatus::LocalCacheReady;
        expected.metadata = metadataKnown ? metadata : PhotoMetadata::unknown();
        expected.preview = refusal.isEmpty()
                               ? LocalPreviewState::available(u"previews/"_s + name + u".jpg"_s)
                               : LocalPreviewState::failed(refusal);
        QCOMPARE(item, expected);
        QVERIFY(!item.id.isNull());
        QCOMPARE(QFileInfo::exists(m_dir->filePath(u"library/previews/"_s + name + u".jpg"_s)),
                 refusal.isEmpty());
    }
    // Only supported files were read, each once.
    QCOMPARE(hasher->hashedPaths(), supportedURLs);
    QCOMPARE(previews->sources(), supportedURLs);
    QCOMPARE(store().readItems().value(), existing + *created);
}

void ConfirmedImportLocalLibraryWriterTests::failureAppendsNothing_data()
{
    QTest::addColumn<bool>("hashFails");

    QTest::newRow("hash of the second file fails") << true;
    QTest::newRow("preview generator fails") << false;
}

void ConfirmedImportLocalLibraryWriterTests::failureAppendsNothing()
{
    QFETCH(bool, hashFails);

    const QList<LocalLibraryItem> existing{minimalLibraryItem(1)};
    PELLWICK_VERIFY_SUCCESS(store().writeItems(existing));
    const Error error = FileSystemError{u"read"_s, u"IMG_2"_s, EIO};
    std::shared_ptr<const ContentHashing> hasher = std::make_shared<SHA256ContentHasher>();
    std::shared_ptr<const PreviewGenerating> previews = StubPreviewGenerator::writing("jpeg");
    if (hashFails)
        hasher = std::make_shared<FailingContentHasher>(u"IMG_2"_s, error);
    else
        previews = StubPreviewGenerator::failing(error);
    const ConfirmedImportLocalLibraryWriter writer(
        store(),
        std::make_shared<FixedMetadataExtractor>(PhotoMetadata::unknown()),
        previews,
        hasher,
        std::make_shared<FixedImportClock>(Date{1}));

    const Result<QList<LocalLibraryItem>> created
        = writer.createItems(review(texts({"IMG_1.CR3", "IMG_2.CR3", "IMG_3.CR3"})));
    QVERIFY(!created);
    QCOMPARE(created.error(), error);
    QCOMPARE(store().readItems().value(), existing);
}

QTEST_GUILESS_MAIN(ConfirmedImportLocalLibraryWriterTests)
#include "ConfirmedImportLocalLibraryWriterTests.moc"
