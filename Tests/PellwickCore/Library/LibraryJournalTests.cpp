#include <PellwickCore/Ingest/IngestCache.h>
#include <PellwickCore/Library/LibraryFile_p.h>
#include <PellwickCore/Library/LibraryJournal_p.h>
#include <PellwickCore/Library/LibraryRecordEncoder_p.h>
#include <PellwickCore/Library/LocalLibraryCache.h>
#include <PellwickCore/Support/Json.h>
#include <PellwickCore/Support/UuidText.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <functional>
#include <limits>

#include <Support/FaultInjectingFileManager.h>
#include <Support/LibraryFixtures.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>
#include <xxhash.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(Pellwick::LocalLibraryItem)

class LibraryJournalTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void tornOrFlippedLastEntryLoadsAsBefore_data();
    void tornOrFlippedLastEntryLoadsAsBefore();
    void damagedEntryFollowedByOthersFailsTheLoad_data();
    void damagedEntryFollowedByOthersFailsTheLoad();
    void journalIsFoldedPastItsBound();
    void rewritingTheSameBytesRetiresTheJournal();
    void staleJournalNeverAppliesToAnEqualFile_data();
    void staleJournalNeverAppliesToAnEqualFile();
    void readersAgree_data();
    void readersAgree();
    void whatAnEarlierProcessLeftIsFlushedFirst_data();
    void whatAnEarlierProcessLeftIsFlushedFirst();
    void namesAgreeAcrossBlocks();
    void loadedRecordsShareEqualTexts();
    void firstVersionJournalsStillApply_data();
    void firstVersionJournalsStillApply();
    void entriesEncodeRecordsAsTheReferenceEncoder_data();
    void entriesEncodeRecordsAsTheReferenceEncoder();

private:
    LocalLibraryCache store(qint64 foldBytes = 0) const
    {
        return LocalLibraryCache(m_root, std::make_shared<LocalFileManager>(), {foldBytes});
    }

    QString journalPath() const { return m_root + QStringLiteral("/library-items.journal"); }

    /// Where the journal's entries end; zero bytes reserved for later entries may follow.
    qint64 journalEnd() const
    {
        return LibraryJournal::parse(readFile(journalPath())).value().validLength;
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_root;
};

namespace {

QList<LocalLibraryItem> library(int count)
{
    QList<LocalLibraryItem> items;
    for (int n = 0; n < count; ++n)
        items.append(filledLibraryItem(n));
    return items;
}

/// The block digest of `bytes`, computed plainly.
QByteArray blockDigestOf(const QByteArray &bytes)
{
    QByteArray digests;
    for (qint64 at = 0; at < bytes.size(); at += LibraryJournal::digestBlockSize) {
        const qint64 length = std::min(LibraryJournal::digestBlockSize, bytes.size() - at);
        XXH128_canonical_t canonical;
        XXH128_canonicalFromHash(&canonical,
                                 XXH3_128bits(bytes.constData() + at, static_cast<size_t>(length)));
        digests.append(reinterpret_cast<const char *>(canonical.digest), sizeof canonical.digest);
    }
    return QCryptographicHash::hash(digests, QCryptographicHash::Sha256);
}

} // namespace

void LibraryJournalTests::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_root = m_dir->filePath(QStringLiteral("library"));
}

void LibraryJournalTests::tornOrFlippedLastEntryLoadsAsBefore_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("cut at every byte of the last entry") << "cut";
    QTest::newRow("every byte of the last entry flipped") << "flip";
    QTest::newRow("last entry zero from every byte on") << "zero";
    QTest::newRow("last entry zero up to every byte") << "zero before";
}

void LibraryJournalTests::tornOrFlippedLastEntryLoadsAsBefore()
{
    QFETCH(QString, damage);
    const QList<LocalLibraryItem> items = library(3);
    {
        const LocalLibraryCache cache = store();
        PELLWICK_VERIFY_SUCCESS(cache.writeItems(items));
        PELLWICK_VERIFY_SUCCESS(
            cache.updateImportStatus(items[0].id, LibraryItemImportStatus::Uploading));
    }
    const QList<LocalLibraryItem> before = store().readItems().value();
    const qint64 lastEntry = journalEnd();
    PELLWICK_VERIFY_SUCCESS(store().appendItems({filledLibraryItem(40)}));
    const QByteArray whole = readFile(journalPath());
    const qint64 entryEnd = journalEnd();
    QVERIFY(entryEnd > lastEntry);

    // Zeroed parts cover the entry in steps: a tear leaves whole sectors.
    const qint64 step = damage.startsWith(QLatin1String("zero")) ? 11 : 1;
    for (qint64 at = lastEntry; at < entryEnd; at += step) {
        QByteArray damaged = whole;
        if (damage == QLatin1String("flip"))
            damaged[at] = static_cast<char>(damaged[at] ^ 0x5a);
        else if (damage == QLatin1String("cut"))
            damaged.truncate(at);
        else if (damage == QLatin1String("zero"))
            std::fill(damaged.begin() + at, damaged.begin() + entryEnd, '\0');
        else
            std::fill(damaged.begin() + lastEntry, damaged.begin() + at + 1, '\0');
        writeFile(journalPath(), damaged);
        const LocalLibraryCache cache = store();
        const Result<QList<LocalLibraryItem>> loaded = cache.readItems();
        QVERIFY2(loaded,
                 qPrintable(QStringLiteral("byte %1: ").arg(at)
                            + QString::fromLocal8Bit(failureText(loaded))));
        QCOMPARE(*loaded, before);
        if ((at - lastEntry) % (499 * step) != 0)
            continue;
        // The torn tail is cut off before the next entry, which then loads.
        PELLWICK_VERIFY_SUCCESS(
            cache.updateImportStatus(items[1].id, LibraryItemImportStatus::Duplicate));
        QList<LocalLibraryItem> expected = before;
        expected[1] = expected[1].replacingImportStatus(LibraryItemImportStatus::Duplicate);
        QCOMPARE(store().readItems().value(), expected);
    }
}

void LibraryJournalTests::damagedEntryFollowedByOthersFailsTheLoad_data()
{
    QTest::addColumn<int>("offsetInEntry");
    QTest::addColumn<bool>("cut");
    QTest::newRow("flipped magic") << 1 << false;
    QTest::newRow("flipped length") << 5 << false;
    QTest::newRow("flipped payload") << 60 << false;
    QTest::newRow("entry cut short in the middle") << 60 << true;
}

void LibraryJournalTests::damagedEntryFollowedByOthersFailsTheLoad()
{
    QFETCH(int, offsetInEntry);
    QFETCH(bool, cut);
    const QList<LocalLibraryItem> items = library(3);
    qint64 secondEntry = 0;
    {
        const LocalLibraryCache cache = store();
        PELLWICK_VERIFY_SUCCESS(cache.writeItems(items));
        PELLWICK_VERIFY_SUCCESS(
            cache.updateImportStatus(items[0].id, LibraryItemImportStatus::Uploading));
        secondEntry = journalEnd();
        PELLWICK_VERIFY_SUCCESS(
            cache.updateImportStatus(items[1].id, LibraryItemImportStatus::Uploading));
        PELLWICK_VERIFY_SUCCESS(
            cache.updateImportStatus(items[2].id, LibraryItemImportStatus::Uploading));
    }
    QByteArray journal = readFile(journalPath());
    const qint64 at = secondEntry + offsetInEntry;
    if (cut)
        journal.remove(at, 10);
    else
        journal[at] = static_cast<char>(journal[at] ^ 0x01);
    writeFile(journalPath(), journal);
    const QByteArray file = readFile(m_root + QStringLiteral("/library-items.json"));

    const LocalLibraryCache cache = store();
    const Result<QList<LocalLibraryItem>> loaded = cache.readItems();
    QVERIFY(!loaded);
    const DecodingError *error = loaded.error().as<DecodingError>();
    QVERIFY(error);
    QCOMPARE(error->keyPath, QStringLiteral("library-items.journal"));
    QVERIFY2(error->description.contains(QStringLiteral("offset %1 ").arg(secondEntry)),
             qPrintable(error->description));
    QVERIFY(!cache.appendItems({filledLibraryItem(9)}));
    QCOMPARE(readFile(journalPath()), journal);
    QCOMPARE(readFile(m_root + QStringLiteral("/library-items.json")), file);
}

void LibraryJournalTests::journalIsFoldedPastItsBound()
{
    const qint64 bound = 16 * 1024;
    const LocalLibraryCache cache = store(bound);
    PELLWICK_VERIFY_SUCCESS(cache.writeItems(library(4)));
    const QByteArray firstFile = readFile(m_root + QStringLiteral("/library-items.json"));
    int folds = 0;
    qint64 previousJournal = journalEnd();
    QCOMPARE(previousJournal, LibraryJournal::headerSize);
    for (int n = 0; n < 20; ++n) {
        PELLWICK_VERIFY_SUCCESS(cache.appendItems({filledLibraryItem(100 + n)}));
        const qint64 journal = journalEnd();
        QVERIFY(journal <= bound);
        if (journal < previousJournal)
            ++folds;
        previousJournal = journal;
    }
    QVERIFY2(folds >= 2, qPrintable(QString::number(folds)));
    QVERIFY(readFile(m_root + QStringLiteral("/library-items.json")) != firstFile);
    QCOMPARE(store().readItems().value(), cache.readItems().value());
    QCOMPARE(cache.readItems()->size(), 24);
    const QStringList hidden = QDir(m_root).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(hidden,
             QStringList(
                 {QStringLiteral("library-items.journal"), QStringLiteral("library-items.json")}));
}

void LibraryJournalTests::rewritingTheSameBytesRetiresTheJournal()
{
    const QList<LocalLibraryItem> items = library(2);
    const LocalLibraryCache cache = store();
    PELLWICK_VERIFY_SUCCESS(cache.writeItems(items));
    PELLWICK_VERIFY_SUCCESS(
        cache.updateImportStatus(items[0].id, LibraryItemImportStatus::Duplicate));
    // The same file bytes again: the old entries must not apply to them.
    PELLWICK_VERIFY_SUCCESS(cache.writeItems(items));
    QCOMPARE(store().readItems().value(), items);
    QCOMPARE(readFile(journalPath()).size(), LibraryJournal::headerSize);
}

void LibraryJournalTests::staleJournalNeverAppliesToAnEqualFile_data()
{
    // How the library file stopped being the one the store last wrote before the write that
    // gives it the old bytes again.
    QTest::addColumn<QString>("outside");
    QTest::newRow("the store's own file") << "none";
    QTest::newRow("file touched from outside") << "touched";
    QTest::newRow("file made unreadable from outside") << "unreadable";
    QTest::newRow("file replaced by a link to a copy") << "link";
    // Not stale but damaged: it would fail every load after the write.
    QTest::newRow("journal cut inside its header from outside") << "cut journal";
}

void LibraryJournalTests::staleJournalNeverAppliesToAnEqualFile()
{
    QFETCH(QString, outside);
    // The fresh journal of each write cannot take the old one's place; the last write gives the
    // file the bytes again that the old journal, naming the first file, names.
    const QList<LocalLibraryItem> first = library(2);
    auto faults = std::make_shared<FaultInjectingFileManager>();
    const LocalLibraryCache cache(m_root, faults);
    PELLWICK_VERIFY_SUCCESS(cache.writeItems(first));
    PELLWICK_VERIFY_SUCCESS(
        cache.updateImportStatus(first[0].id, LibraryItemImportStatus::Verifying));
    QVERIFY(readFile(journalPath()).size() > LibraryJournal::headerSize);
    faults->failOperation(
        FileOperation::ReplaceItem, EIO, QStringLiteral("/library-items.journal"));
    const QString file = m_root + QStringLiteral("/library-items.json");
    QList<QList<LocalLibraryItem>> writes{first};
    if (outside == QLatin1String("none"))
        writes.prepend(library(3));
    if (outside == QLatin1String("touched")) {
        QFile touched(file);
        QVERIFY(touched.open(QIODevice::ReadWrite));
        QVERIFY(touched.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-3600),
                                    QFileDevice::FileModificationTime));
    }
    const LocalLibraryCache writer
        = outside == QLatin1String("unreadable") ? LocalLibraryCache(m_root, faults) : cache;
    if (outside == QLatin1String("unreadable")) {
        writeFile(file, "[{");
        QVERIFY(!writer.readItems());
    }
    if (outside == QLatin1String("cut journal"))
        writeFile(journalPath(), readFile(journalPath()).left(LibraryJournal::headerSize / 2));
    if (outside == QLatin1String("link")) {
        const QString copy = m_dir->filePath(QStringLiteral("copy.json"));
        QVERIFY(QFile::copy(file, copy));
        QVERIFY(QFile::remove(file));
        QVERIFY(QFile::link(copy, file));
    }
    for (const QList<LocalLibraryItem> &items : std::as_const(writes)) {
        PELLWICK_VERIFY_SUCCESS(writer.writeItems(items));
        const Result<QList<LocalLibraryItem>> reloaded = store().readItems();
        PELLWICK_VERIFY_SUCCESS(reloaded);
        QCOMPARE(*reloaded, writer.readItems().value());
    }
    QCOMPARE(writer.readItems().value(), first);
}

void LibraryJournalTests::readersAgree_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("sameError"); // false: both fail, each in its own words

    QJsonArray array;
    for (int n = 0; n < 700; ++n)
        array.append(filledLibraryItem(n).toJson());
    LocalLibraryItem odd
        = filledLibraryItem(3, QStringLiteral("/home/zoë/it's (1) a+b=c;d@e$f!g*h~i 100%"));
    odd.originalFilename = QStringLiteral("Köln \"quoted\" \\ tab\t line\n 北京 🎞.CR3");
    odd.restoreAttentionReason = QString(QChar(0)) + QStringLiteral("nul");
    array.append(odd.toJson());
    QJsonObject withExtras = minimalLibraryItem(4).toJson();
    withExtras.insert(QStringLiteral("futureKey"), QJsonObject{{QStringLiteral("x"), 1}});
    withExtras.insert(QStringLiteral("archiveByteCount"), 12.0);
    withExtras.insert(QStringLiteral("cacheRelativePath"), QJsonValue::Null);
    withExtras.insert(QStringLiteral("ingestCacheOriginalURL"),
                      QStringLiteral("file:///a/./b/../c%20d"));
    array.append(withExtras);
    const QByteArray pretty = Json::serialize(array, Json::Format::Pretty).value();
    const QByteArray compact = Json::serialize(array, Json::Format::Compact).value();
    QTest::newRow("pretty") << pretty << true;
    QTest::newRow("compact") << compact << true;
    QTest::newRow("empty array") << QByteArray(" [ ] \n") << true;
    QTest::newRow("escaped code points")
        << QByteArray(compact).replace("IMG_", "\\u0049MG_") << true;

    QTest::newRow("brackets, quotes and backslashes in names")
        << QByteArray(pretty).replace("IMG_", "{[\\\"]}\\\\IMG_") << true;
    QTest::newRow("CRLF line breaks") << QByteArray(pretty).replace("\n", "\r\n") << true;
    QTest::newRow("arrays as elements") << QByteArray("[\n[\n1\n],\n[]\n]") << false;
    QTest::newRow("raw line break inside a name")
        << QByteArray(pretty).replace("IMG_0001", "IMG\n0001") << false;
    QTest::newRow("missing comma between records")
        << QByteArray(pretty).replace("\n    },\n    {", "\n    }\n    {") << false;
    QTest::newRow("two arrays") << pretty + pretty << false;
    // Layouts where the lines between records do not mark where records end.
    const QByteArray separator("\n    },\n    {");
    const QByteArray lastRecordEnd("\n    }\n]");
    const QByteArray nestedList
        = QByteArray("\"futureList\": [\n    {") + separator + "\n    }\n],\n\"originalFilename\"";
    QTest::newRow("record separator inside a record")
        << QByteArray(pretty).replace("\"originalFilename\"", nestedList) << true;
    QTest::newRow("records on one line")
        << QByteArray(pretty).replace(separator, "\n    }, {") << true;
    QTest::newRow("two records on one line")
        << QByteArray(pretty).replace("IMG_0003.CR3\"\n    },\n    {", "IMG_0003.CR3\"}, {")
        << true;
    QTest::newRow("empty record after the last")
        << QByteArray(pretty).replace(lastRecordEnd, QByteArray(separator + "}\n]")) << true;
    QTest::newRow("comma after the last record")
        << QByteArray(pretty).replace(lastRecordEnd, "\n    },\n]") << false;
    QTest::newRow("text after the pretty array") << pretty + "x" << false;
    QTest::newRow("second array after a separator")
        << QByteArray(pretty).replace(lastRecordEnd, QByteArray("\n    }]," + separator + "}\n]"))
        << false;
    QByteArray badStatus = pretty;
    badStatus.replace("\"importStatus\": \"duplicate\"", "\"importStatus\": \"Duplicate\"");
    QTest::newRow("unknown status deep in the file") << badStatus << true;
    QByteArray badURL = compact;
    badURL.replace("file:///home", "https://home");
    QTest::newRow("http URL") << badURL << true;
    // File URLs the quick decoder takes as they stand, or leaves to the reference reader.
    const auto withURLs
        = [&](const char *root) { return QByteArray(compact).replace("file:///home", root); };
    QTest::newRow("URL with sub-delimiters") << withURLs("file:///h!$&'()*+,;=:@~-._ome") << true;
    QTest::newRow("URL with an empty component") << withURLs("file:////home") << true;
    QTest::newRow("URL with a dot component") << withURLs("file:///./home") << true;
    QTest::newRow("URL with a dot-dot component") << withURLs("file:///home/..") << true;
    QTest::newRow("URL with an escaped slash") << withURLs("file:///home%2F..") << true;
    QTest::newRow("URL with a fragment") << withURLs("file:///ho#me") << true;
    QTest::newRow("URL with a query") << withURLs("file:///ho?me") << true;
    QTest::newRow("URL with a space") << withURLs("file:///ho me") << true;
    // Hostile files: what the quick reader takes must be what the reference reader takes.
    const auto replaced = [&](const char *from, const QByteArray &to) {
        return QByteArray(pretty).replace(from, to);
    };
    const auto valueOf = [&](const char *key, const QByteArray &value) {
        return replaced(key, QByteArray(key) + value + ",\n\"replaced\": ");
    };
    QTest::newRow("number below the smallest double")
        << valueOf("\"importDate\": ", "1e-400") << true;
    QTest::newRow("number above the largest double")
        << valueOf("\"importDate\": ", "1e400") << true;
    // In records the quick reader takes itself: the number in place of a value of the second
    // record (the first has no capture time).
    const auto numberAt = [&](const char *anchor, const char *key, const QByteArray &number) {
        QByteArray file = pretty;
        const qsizetype start
            = file.indexOf(key, file.indexOf(anchor, file.indexOf(anchor) + 1)) + qstrlen(key);
        qsizetype end = start;
        while (file.at(end) != ',' && file.at(end) != '\n')
            ++end;
        return file.replace(start, end - start, number);
    };
    QTest::newRow("import date too small for a double")
        << numberAt("{", "\"importDate\": ", "2.4e-324") << true;
    QTest::newRow("capture time too small for a double")
        << numberAt("\"captureTime\"", "\"_0\": ", "1e-400") << true;
    QTest::newRow("latitude too small for a double")
        << numberAt("{", "\"latitude\": ", "2.4e-324") << true;
    QTest::newRow("smallest denormal number") << valueOf("\"importDate\": ", "4.9e-324") << true;
    QTest::newRow("integer with an exponent") << valueOf("\"archiveByteCount\": ", "1e2") << true;
    QTest::newRow("integer as a fraction") << valueOf("\"archiveByteCount\": ", "12.0") << true;
    QTest::newRow("negative zero integer") << valueOf("\"archiveByteCount\": ", "-0") << true;
    QTest::newRow("integer past 64 bits")
        << valueOf("\"archiveByteCount\": ", "9223372036854775808") << true;
    QTest::newRow("date past 64 bits")
        << valueOf("\"importDate\": ", "123456789012345678901234567890") << true;
    QTest::newRow("duplicate id")
        << valueOf("\"id\": ", "\"00000000-0000-0000-0000-000000000001\"").replace("replaced", "id")
        << true;
    QTest::newRow("null restore status") << valueOf("\"restoreStatus\": ", "null") << true;
    QTest::newRow("null evidence") << valueOf("\"sourceMediaEvidence\": ", "null") << true;
    QTest::newRow("null capture time") << valueOf("\"_0\": ", "null") << true;
    QTest::newRow("byte order mark") << QByteArray("\xef\xbb\xbf") + pretty << true;
    QTest::newRow("NUL after the array") << pretty + QByteArray(1, '\0') << true;
    QTest::newRow("long white space around the records")
        << "[" + QByteArray(300, ' ')
               + QByteArray(pretty)
                     .replace(lastRecordEnd, QByteArray("\n    }" + QByteArray(300, '\n') + "]"))
                     .mid(1)
               + QByteArray(300, ' ')
        << true;
    QTest::newRow("empty file") << QByteArray() << true;
    QTest::newRow("white space only") << QByteArray(" \n") << true;
    QTest::newRow("raw tab inside a name") << replaced("IMG_0002", "IMG\t0002") << false;
    QTest::newRow("raw control character inside a name") << replaced("IMG_0002",
                                                                     "IMG\x01"
                                                                     "0002")
                                                         << false;
    QTest::newRow("DEL and noncharacters in names")
        << replaced("IMG_", "\x7f\xef\xbf\xbf\xef\xbf\xbeIMG_") << true;
    QTest::newRow("escaped quote and line break in paths")
        << replaced("DCIM/", "DC\\\"IM\\n\\t\\/") << true;
    QTest::newRow("escaped code points, records in lines")
        << replaced("IMG_", "\\u0049MG_") << true;
    QTest::newRow("escaped quote as a code point") << replaced("DCIM/", "DC\\u0022IM/") << true;
    QTest::newRow("lone surrogate escapes") << replaced("IMG_", "\\ud83dIMG_\\udc37") << true;
    QTest::newRow("escaped backslash before u") << replaced("IMG_", "\\\\u0049MG_") << true;
    QTest::newRow("URL with an escaped noncharacter")
        << replaced("file:///home", "file:///%EF%BF%BFhome") << true;
    QTest::newRow("URL with an escaped noncharacter past the first plane")
        << replaced("file:///home", "file:///%F0%9F%BF%BEhome") << true;
    QTest::newRow("URL with an escaped line break")
        << replaced("file:///home", "file:///ho%0Ame") << true;
    QTest::newRow("URL with escaped control characters")
        << replaced("file:///home", "file:///h%01o%7Fm%C2%80e%E2%80%A8") << true;
    QTest::newRow("URL with an escape past the last code point")
        << replaced("file:///home", "file:///h%F4%90%80%80me") << true;
    QTest::newRow("upper-case id")
        << QByteArray(pretty).replace(uuidText(filledLibraryItem(5).id).toLatin1(),
                                      uuidText(filledLibraryItem(5).id).toUpper().toLatin1())
        << true;
    QTest::newRow("URL with escaped UTF-8")
        << replaced("file:///home", "file:///h%C3%A9me") << true;
    QTest::newRow("URL with an escaped surrogate")
        << replaced("file:///home", "file:///h%ED%A0%80me") << true;
    for (const int depth : {1020, 1021, 1022, 1023, 1024, 1025}) {
        QTest::addRow("nested %d deep", depth)
            << replaced("\"originalFilename\"",
                        "\"deep\": " + QByteArray(depth, '[') + QByteArray(depth, ']')
                            + ",\n\"originalFilename\"")
            << true;
    }
    QTest::newRow("record separator inside a nested object")
        << replaced("\"originalFilename\"",
                    "\"futureObject\": {\"a\": {" + separator + "\n    }},\n\"originalFilename\"")
        << true;
    QTest::newRow("not an array") << QByteArray("{\"id\": 1}") << true;
    QTest::newRow("element not an object") << QByteArray("[1]") << true;
    QTest::newRow("trailing comma") << QByteArray(compact).insert(compact.size() - 1, ",") << false;
    QTest::newRow("cut short") << compact.left(compact.size() / 2) << false;
    QTest::newRow("text after the array") << compact + "x" << false;
    QTest::newRow("bad token inside a record")
        << QByteArray(compact).replace("true", "tru").replace("\"known\"", "\"known\" x") << false;
    QTest::newRow("invalid UTF-8")
        << QByteArray(compact).replace("IMG_0001", "IMG_\xff\xfe") << false;
}

void LibraryJournalTests::readersAgree()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, sameError);

    const QString path = m_dir->filePath(QStringLiteral("library-items.json"));
    writeFile(path, file);
    const Result<QList<LocalLibraryItem>> whole = LibraryFile::decodeDocument(file);
    // Whole-file pieces, and pieces so small that records and strings span several of them.
    for (const qint64 segmentBytes : {LibraryFile::defaultSegmentBytes, qint64(4096), qint64(97)}) {
        const Result<LibraryFile::Loaded> streamed
            = LibraryFile::read(LocalFileManager(), path, segmentBytes);
        QCOMPARE(streamed.has_value(), whole.has_value());
        if (!whole) {
            if (sameError)
                QCOMPARE(streamed.error(), whole.error());
            continue;
        }
        QCOMPARE(streamed->records.items(), *whole);
        QCOMPARE(streamed->name.length, file.size());
        QCOMPARE(streamed->name.blockDigest, blockDigestOf(file));
        QVERIFY(streamed->name.sha256.isEmpty());
    }
}

namespace {

struct EarlierProcess
{
    /// What an earlier process left: "journal" (the files with one entry), or "folder" (only
    /// the library folder, made by someone else).
    const char *left = "journal";
    /// Instead of two changes, a clean-up removes a redundant copy in "PARENT/cache" on the
    /// strength of the records, changing none.
    bool cleanUp = false;
    /// The flushes, journal writes and removals of two changes, with "ROOT", "PARENT" and
    /// "JOURNAL".
    QStringList expected;
};

} // namespace

Q_DECLARE_METATYPE(EarlierProcess)

void LibraryJournalTests::whatAnEarlierProcessLeftIsFlushedFirst_data()
{
    QTest::addColumn<EarlierProcess>("process");
    // Entries read back from the page cache may never have reached the disk, nor the journal's
    // name its folder: both are flushed before anything is built upon them.
    QTest::newRow("journal entries") << EarlierProcess{.expected = {u"synchronizeData JOURNAL"_s,
                                                                    u"synchronizeDirectory ROOT"_s,
                                                                    u"write JOURNAL"_s,
                                                                    u"synchronizeData JOURNAL"_s,
                                                                    u"write JOURNAL"_s,
                                                                    u"synchronizeData JOURNAL"_s}};
    QTest::newRow("journal entries, then a clean-up")
        << EarlierProcess{.cleanUp = true,
                          .expected = {u"synchronizeData JOURNAL"_s,
                                       u"synchronizeDirectory ROOT"_s,
                                       u"removeItem PARENT/cache/b0/IMG.CR3"_s,
                                       u"synchronizeDirectory PARENT/cache"_s}};
    // Found existing, the folder's own name is flushed into its parent, once.
    QTest::newRow("library folder") << EarlierProcess{.left = "folder",
                                                      .expected = {u"synchronizeDirectory PARENT"_s,
                                                                   u"synchronizeDirectory ROOT"_s,
                                                                   u"synchronizeDirectory ROOT"_s,
                                                                   u"synchronizeDirectory ROOT"_s}};
}

void LibraryJournalTests::whatAnEarlierProcessLeftIsFlushedFirst()
{
    QFETCH(EarlierProcess, process);
    QList<LocalLibraryItem> items = library(3);
    const QString cacheFolder = m_dir->filePath(u"cache"_s);
    if (process.cleanUp) {
        // A ready record's copy, and an earlier one of the same bytes that no record names.
        for (const QString &batch : {u"b0"_s, u"b1"_s})
            writeFile(cacheFolder + u'/' + batch + u"/IMG.CR3"_s, "raw");
        for (LocalLibraryItem &item : items)
            item = item.replacingIngestCachePackage(std::nullopt);
        items[1].importStatus = LibraryItemImportStatus::LocalCacheReady;
        items[1].contentHash = referenceSha256("raw");
        items[1].ingestCacheOriginalURL = cacheFolder + u"/b1/IMG.CR3"_s;
    }
    if (QByteArray(process.left) == "journal") {
        PELLWICK_VERIFY_SUCCESS(store().writeItems(items));
        PELLWICK_VERIFY_SUCCESS(
            store().updateImportStatus(items[0].id, LibraryItemImportStatus::Duplicate));
    } else {
        QVERIFY(QDir().mkpath(m_root));
    }
    const auto fileManager = std::make_shared<FaultInjectingFileManager>();
    const LocalLibraryCache cache(m_root, fileManager);
    PELLWICK_VERIFY_SUCCESS(cache.readItems());
    if (process.cleanUp) {
        const QString copy = cacheFolder + u"/b0/IMG.CR3"_s;
        QCOMPARE(cache.removeRedundantIngestCacheCopies(
                     {ImportReviewItem(u"Ingest Cache"_s,
                                       copy,
                                       u"IMG.CR3"_s,
                                       3,
                                       ImportReviewItemStatus::supported(),
                                       std::nullopt,
                                       u"b0/IMG.CR3"_s)},
                     IngestCache(cacheFolder, fileManager, std::make_shared<SHA256ContentHasher>()),
                     {}),
                 1);
    }
    for (const LibraryItemImportStatus status :
         {LibraryItemImportStatus::NeedsAttention, LibraryItemImportStatus::VerifiedBackup}) {
        if (process.cleanUp)
            break;
        if (QByteArray(process.left) == "journal")
            PELLWICK_VERIFY_SUCCESS(cache.updateImportStatus(items[1].id, status));
        else
            PELLWICK_VERIFY_SUCCESS(LocalLibraryCache(m_root, fileManager).writeItems(items));
    }
    QStringList seen;
    for (const QString &line : fileManager->log()) {
        if (line.startsWith(u"synchronize") || line == u"write " + journalPath()
            || line.startsWith(u"removeItem " + cacheFolder))
            seen.append(QString(line)
                            .replace(journalPath(), u"JOURNAL"_s)
                            .replace(m_root, u"ROOT"_s)
                            .replace(m_dir->path(), u"PARENT"_s));
    }
    // Files written whole are flushed too; only the order around the names above matters.
    seen.removeIf([](const QString &line) { return line.contains(u"ROOT/"); });
    QCOMPARE(seen, process.expected);
}

void LibraryJournalTests::namesAgreeAcrossBlocks()
{
    // A file of several digest blocks, named alike by its writer and by every way of reading it:
    // otherwise the journal would not apply and acknowledged changes would be lost.
    const QList<LocalLibraryItem> items = library(2200);
    PELLWICK_VERIFY_SUCCESS(store().writeItems(items));
    const QString path = m_root + QStringLiteral("/library-items.json");
    const QByteArray file = readFile(path);
    QVERIFY(file.size() > LibraryJournal::digestBlockSize);
    for (const qint64 segmentBytes : {LibraryFile::defaultSegmentBytes,
                                      LibraryJournal::digestBlockSize * 2,
                                      qint64(3) * 1024 * 1024}) {
        const Result<LibraryFile::Loaded> streamed
            = LibraryFile::read(LocalFileManager(), path, segmentBytes, true);
        PELLWICK_VERIFY_SUCCESS(streamed);
        QCOMPARE(streamed->name.blockDigest, blockDigestOf(file));
        QCOMPARE(streamed->name.sha256, QCryptographicHash::hash(file, QCryptographicHash::Sha256));
    }
    PELLWICK_VERIFY_SUCCESS(
        store().updateImportStatus(items[2199].id, LibraryItemImportStatus::Duplicate));
    QCOMPARE(store().readItems()->at(2199).importStatus, LibraryItemImportStatus::Duplicate);
}

void LibraryJournalTests::loadedRecordsShareEqualTexts()
{
    // A large library stays small in memory only if the texts a record repeats, and the names,
    // cameras and cards many records repeat, are held once.
    QList<LocalLibraryItem> items;
    for (int n = 0; n < 40; ++n) {
        items.append(filledLibraryItem(n));
        // Two cards taking turns: each name comes back after the other's.
        items.back().ingestSourceName = QStringLiteral("CARD %1").arg(n % 2);
    }
    PELLWICK_VERIFY_SUCCESS(store().writeItems(items));
    const QString path = m_root + QStringLiteral("/library-items.json");
    for (const qint64 segmentBytes : {LibraryFile::defaultSegmentBytes, qint64(4096)}) {
        const Result<LibraryFile::Loaded> loaded
            = LibraryFile::read(LocalFileManager(), path, segmentBytes);
        PELLWICK_VERIFY_SUCCESS(loaded);
        const QList<LocalLibraryItem> records = loaded->records.items();
        QCOMPARE(records, items);
        const auto same = [](const QString &a, const QString &b) {
            return a == b && a.constData() == b.constData();
        };
        for (const LocalLibraryItem &record : records) {
            const SourceMediaEvidence &evidence = *record.sourceMediaEvidence;
            QVERIFY(same(evidence.rawContentHash, record.contentHash));
            QVERIFY(same(evidence.rawRelativePath, *record.sourceRelativePath));
            QVERIFY(same(*evidence.sidecarContentHash, *record.ingestCacheSidecarContentHash));
            QVERIFY(same(*record.archiveSidecarContentHash, *record.ingestCacheSidecarContentHash));
        }
        // Neighbours, and records with another between.
        const auto volumeOf = [](const LocalLibraryItem &record) {
            return std::get<ImportSourceIdentity::Volume>(
                       record.sourceMediaEvidence->sourceIdentity.value)
                .uuid;
        };
        const auto cameraOf = [](const LocalLibraryItem &record) {
            return std::get<CameraModelMetadata::Known>(record.metadata.cameraModel.value).model;
        };
        QVERIFY(same(*records[0].ingestSourceName, *records[2].ingestSourceName));
        QVERIFY(same(*records[1].ingestSourceName, *records[39].ingestSourceName));
        for (const qsizetype other : {qsizetype(1), qsizetype(4)}) {
            const LocalLibraryItem &first = records[0];
            const LocalLibraryItem &second = records[other];
            QVERIFY(same(first.sourceMediaEvidence->sourceRootURL,
                         second.sourceMediaEvidence->sourceRootURL));
            QVERIFY(same(volumeOf(first), volumeOf(second)));
            QVERIFY(same(cameraOf(first), cameraOf(second)));
        }
        QVERIFY(same(*records[0].restoreAttentionReason, *records[5].restoreAttentionReason));
    }
}

void LibraryJournalTests::firstVersionJournalsStillApply_data()
{
    QTest::addColumn<bool>("namesTheFile");
    QTest::newRow("naming the file") << true;
    QTest::newRow("naming other bytes") << false;
}

void LibraryJournalTests::firstVersionJournalsStillApply()
{
    // Journals written before the block digest name the file by its SHA-256.
    QFETCH(bool, namesTheFile);
    const QList<LocalLibraryItem> items = library(3);
    PELLWICK_VERIFY_SUCCESS(store().writeItems(items));
    PELLWICK_VERIFY_SUCCESS(
        store().updateImportStatus(items[1].id, LibraryItemImportStatus::Verifying));
    const QByteArray file = readFile(m_root + QStringLiteral("/library-items.json"));
    const QByteArray entries = readFile(journalPath()).mid(LibraryJournal::headerSize);
    QByteArray header("PWLJRNL1");
    const auto length = static_cast<quint64>(file.size());
    for (int byte = 0; byte < 8; ++byte)
        header.append(static_cast<char>((length >> (8 * byte)) & 0xff));
    header.append(
        QCryptographicHash::hash(namesTheFile ? file : file + " ", QCryptographicHash::Sha256));
    header.append(QCryptographicHash::hash(header, QCryptographicHash::Sha256));
    writeFile(journalPath(), header + entries);

    QList<LocalLibraryItem> expected = items;
    if (namesTheFile)
        expected[1] = expected[1].replacingImportStatus(LibraryItemImportStatus::Verifying);
    const LocalLibraryCache cache = store();
    QCOMPARE(cache.readItems().value(), expected);
    PELLWICK_VERIFY_SUCCESS(
        cache.updateImportStatus(items[2].id, LibraryItemImportStatus::Duplicate));
    expected[2] = expected[2].replacingImportStatus(LibraryItemImportStatus::Duplicate);
    QCOMPARE(store().readItems().value(), expected);
}

QTEST_GUILESS_MAIN(LibraryJournalTests)
#include "LibraryJournalTests.moc"

void LibraryJournalTests::entriesEncodeRecordsAsTheReferenceEncoder_data()
{
    QTest::addColumn<LocalLibraryItem>("item");
    for (const int n : {0, 1, 2, 3, 5, 11, 13, 499, 500, 1001, 1502, 65'535, 99'999})
        QTest::addRow("generated %d", n) << filledLibraryItem(n);
    QTest::addRow("minimal") << minimalLibraryItem(7);

    const auto varied = [](const std::function<void(LocalLibraryItem &)> &change) {
        LocalLibraryItem item = filledLibraryItem(42);
        change(item);
        return item;
    };
    const QString awkward = QStringLiteral("q\"b\\s/\b\f\n\r\t\x01\x1f\x7f Caf\u00e9 \u65e5\u672c ")
                            + QString::fromUtf8("\xf0\x9f\x93\xb7");
    QTest::addRow("escapes and code points") << varied([&](LocalLibraryItem &item) {
        item.originalFilename = awkward;
        item.ingestSourceName = awkward;
        item.sourceMediaEvidence->rawRelativePath = awkward;
        item.metadata.cameraModel = CameraModelMetadata::known(awkward);
        item.preview = LocalPreviewState::failed(awkward);
    });
    QTest::addRow("lone surrogates") << varied([](LocalLibraryItem &item) {
        item.restoreAttentionReason
            = QString(QChar(0xD83D)) + QStringLiteral("x") + QString(QChar(0xDC37));
    });
    QTest::addRow("NUL, noncharacters and separators") << varied([](LocalLibraryItem &item) {
        item.originalFilename = QString(QChar(0)) + QChar(0xFFFE) + QChar(0xFFFF) + QChar(0x2028)
                                + QChar(0xFDD0) + QChar(0x80) + QChar(0x7FF) + QChar(0x800);
        item.restoreAttentionReason = QString(QChar(0xDC00)) + QChar(0xD800);
        item.ingestCacheOriginalURL = QStringLiteral("/a\nb/\u00e9");
    });
    QTest::addRow("paths with spaces, percent and non-ASCII")
        << varied([&](LocalLibraryItem &item) {
               item.ingestCacheOriginalURL = QStringLiteral("/home/ana/100% Caf\u00e9 #1/a?b.CR3");
               item.sourceMediaEvidence->sourceRootURL = QStringLiteral("/media/ana/EOS DIGITAL");
           });
    QTest::addRow("folder source, no sidecar") << varied([](LocalLibraryItem &item) {
        item.sourceMediaEvidence->sourceIdentity = ImportSourceIdentity::folder(
            QStringLiteral("/home/ana/Card copy"), QStringLiteral("ab").repeated(32));
        item.sourceMediaEvidence->sidecarRelativePath.reset();
        item.sourceMediaEvidence->sidecarContentHash.reset();
        item.ingestCacheSidecarURL.reset();
    });
    QTest::addRow("unknown metadata, no evidence") << varied([](LocalLibraryItem &item) {
        item.metadata = PhotoMetadata::unknown();
        item.sourceMediaEvidence.reset();
        item.restoreStatus.reset();
    });
    for (const double value : {0.0,
                               -0.0,
                               0.1,
                               42.0,
                               -7.5e8,
                               7.2e8,
                               1e15,
                               1e16,
                               9007199254740992.0,
                               9007199254740994.0,
                               -9007199254740996.0,
                               9.2233720368547758e18,
                               18446744073709551616.0,
                               1e20,
                               1e21,
                               1.7976931348623157e308,
                               5e-324,
                               1e-7,
                               123456789.123456789}) {
        QTest::addRow("number %.17g", value) << varied([&](LocalLibraryItem &item) {
            item.importDate = Date{value};
            item.metadata.captureTime = CaptureTimeMetadata::known(Date{value});
            item.metadata.captureLocation = CaptureLocationMetadata::known({value, -value});
        });
    }
    for (const double value :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        QTest::addRow("not finite %g", value)
            << varied([&](LocalLibraryItem &item) { item.importDate = Date{value}; });
    }
    for (const qint64 value : {qint64{0},
                               qint64{-1},
                               std::numeric_limits<qint64>::max(),
                               std::numeric_limits<qint64>::min()}) {
        QTest::addRow("integer %lld", static_cast<long long>(value))
            << varied([&](LocalLibraryItem &item) {
                   item.archiveByteCount = value;
                   item.backendLibraryItemID = value;
               });
    }
}

void LibraryJournalTests::entriesEncodeRecordsAsTheReferenceEncoder()
{
    QFETCH(LocalLibraryItem, item);
    QByteArray written;
    if (!std::isfinite(item.importDate.secondsSinceReferenceDate)) {
        QVERIFY(!LibraryRecordEncoder::appendCompact(written, item));
        return;
    }
    QVERIFY(LibraryRecordEncoder::appendCompact(written, item));
    QCOMPARE(written, QJsonDocument(item.toJson()).toJson(QJsonDocument::Compact));

    // A store writes the record into its journal and reads it back.
    const LocalLibraryCache cache(m_root, std::make_shared<LocalFileManager>());
    QVERIFY(cache.writeItems({minimalLibraryItem(1), item}));
    LocalLibraryItem changed = item;
    changed.importStatus = LibraryItemImportStatus::NeedsAttention;
    QVERIFY(cache.updateImportStatus(item.id, changed.importStatus));
    const LocalLibraryCache fresh(m_root, std::make_shared<LocalFileManager>());
    const Result<QList<LocalLibraryItem>> read = fresh.readItems();
    QVERIFY(read);
    QCOMPARE(read->size(), 2);
    QVERIFY(read->at(1) == changed);
}
