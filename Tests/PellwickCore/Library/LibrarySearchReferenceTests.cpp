#include <PellwickCore/Library/LocalLibraryCacheRecords.h>
#include <PellwickCore/Library/LocalLibrarySearchResult.h>

#include <QRandomGenerator>
#include <QTest>
#include <QTextBoundaryFinder>

#include <Support/LibraryFixtures.h>

using namespace Pellwick;
using namespace Pellwick::Test;

/// The store's search against a plain reading of its rules: no indexes, one pass over the records.
class LibrarySearchReferenceTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void searchAgreesWithTheRules_data();
    void searchAgreesWithTheRules();
    void searchDuringChangesSeesOneLibrary();
};

namespace {

struct ReferenceKeys
{
    QString text;
    QSet<QString> exact;
    QSet<QString> prefixes;
};

QString stem(const QString &value)
{
    const qsizetype dot = value.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? value : value.left(dot);
}

ReferenceKeys referenceKeys(const LocalLibraryItem &item)
{
    QStringList values{item.originalFilename.toLower(), item.canonicalFilename.toLower()};
    if (auto model = item.metadata.cameraModel.knownModel())
        values.append(model->toLower());
    ReferenceKeys keys;
    keys.text = values.join(QChar(0));
    for (const QString &value : values) {
        keys.exact.insert(value);
        keys.exact.insert(stem(value));
    }
    const QString original = stem(values.first());
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, original);
    int characters = 0;
    for (qsizetype at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary()) {
        if (++characters >= 2)
            keys.prefixes.insert(original.left(at));
    }
    return keys;
}

QList<LocalLibraryItem> referenceSearch(const QList<LocalLibraryItem> &items,
                                        const QList<ReferenceKeys> &keys,
                                        const LocalLibrarySearchQuery &query)
{
    std::optional<QString> text;
    if (query.text && !query.text->trimmed().isEmpty())
        text = query.text->trimmed().toLower();
    const auto notDuplicate = [](const LocalLibraryItem &item) {
        return item.importStatus != LibraryItemImportStatus::Duplicate;
    };
    QList<LocalLibraryItem> result;
    if (query.hasNoFilters()) {
        for (const auto member : {&ReferenceKeys::exact, &ReferenceKeys::prefixes}) {
            if (!text)
                break;
            bool isKey = false;
            for (qsizetype i = 0; i < items.size(); ++i) {
                if ((keys[i].*member).contains(*text)) {
                    isKey = true;
                    if (notDuplicate(items[i]))
                        result.append(items[i]);
                }
            }
            if (isKey)
                return result;
        }
        for (qsizetype i = 0; i < items.size(); ++i) {
            if (notDuplicate(items[i]) && (!text || keys[i].text.contains(*text)))
                result.append(items[i]);
        }
        return result;
    }
    for (qsizetype i = 0; i < items.size(); ++i) {
        const LocalLibraryItem &item = items[i];
        if (text && !keys[i].text.contains(*text))
            continue;
        const auto captured = item.metadata.captureTime.knownDate();
        if (!captured) {
            if (query.captureTimeKnown ? *query.captureTimeKnown : query.captureTime.has_value())
                continue;
        } else if ((query.captureTimeKnown && !*query.captureTimeKnown)
                   || (query.captureTime
                       && (*captured < query.captureTime->first
                           || query.captureTime->second < *captured))) {
            continue;
        }
        if (query.importDate
            && (item.importDate < query.importDate->first
                || query.importDate->second < item.importDate))
            continue;
        if (query.importStatus && item.importStatus != *query.importStatus)
            continue;
        if (query.ingestSourceName
            && (!item.ingestSourceName || *item.ingestSourceName != *query.ingestSourceName))
            continue;
        if (query.captureLocationKnown
            && item.metadata.captureLocation.knownLocation().has_value()
                   != *query.captureLocationKnown)
            continue;
        if (query.importStatus != LibraryItemImportStatus::Duplicate) {
            const bool duplicate = !notDuplicate(item);
            if (query.duplicateVisibility == LocalLibraryDuplicateVisibility::Hidden && duplicate)
                continue;
            if (query.duplicateVisibility == LocalLibraryDuplicateVisibility::Only && !duplicate)
                continue;
        }
        result.append(item);
    }
    return result;
}

const QStringList stems = {QStringLiteral("IMG_0001"),
                           QStringLiteral("IMG_0012"),
                           QStringLiteral("img_0123"),
                           QStringLiteral("DSC01234"),
                           QStringLiteral("Ünïcödé_Bild"),
                           QStringLiteral("İstanbul"),
                           QStringLiteral("ΣΟΦΙΑ"),
                           QStringLiteral("e\u0301te\u0301"),
                           QStringLiteral("👨‍👩‍👧 family"),
                           QStringLiteral("🇩🇪flag"),
                           QStringLiteral("a"),
                           QStringLiteral(""),
                           QStringLiteral("x.y"),
                           QStringLiteral("Köln 北京"),
                           QStringLiteral("R5_A"),
                           QStringLiteral("r5_a")};
const QStringList extensions = {QStringLiteral(".CR3"),
                                QStringLiteral(".nef"),
                                QStringLiteral(""),
                                QStringLiteral(".ARW"),
                                QStringLiteral(".")};
const QStringList cameras = {QStringLiteral("Canon EOS R5"),
                             QStringLiteral("NIKON Z 8"),
                             QStringLiteral("İPhone"),
                             QStringLiteral("ΣIGMA fp")};
const QStringList sources
    = {QStringLiteral("CARD A"), QStringLiteral("card a"), QStringLiteral("Fotos")};

LocalLibraryItem generatedItem(QRandomGenerator &random, int n)
{
    LocalLibraryItem item = minimalLibraryItem(n);
    item.id = QUuid::createUuidV5(QUuid(), QString::number(n) + QString::number(random.generate()));
    const QString base = stems[random.bounded(stems.size())];
    item.originalFilename = (random.bounded(9) == 0 ? QStringLiteral(".") : QString()) + base
                            + (random.bounded(3) == 0 ? QString::number(n % 50) : QString())
                            + extensions[random.bounded(extensions.size())];
    item.canonicalFilename
        = random.bounded(2)
              ? item.originalFilename
              : QStringLiteral("2024-05-%1_%2").arg(n % 28).arg(item.originalFilename);
    if (random.bounded(3))
        item.metadata.cameraModel
            = CameraModelMetadata::known(cameras[random.bounded(cameras.size())]);
    if (random.bounded(4))
        item.metadata.captureTime = CaptureTimeMetadata::known(Date{1000.0 * random.bounded(100)});
    if (random.bounded(2))
        item.metadata.captureLocation = CaptureLocationMetadata::known({1, 2});
    item.importStatus = static_cast<LibraryItemImportStatus>(random.bounded(7));
    item.importDate = Date{1000.0 * random.bounded(100)};
    if (random.bounded(4))
        item.ingestSourceName = sources[random.bounded(sources.size())];
    return item;
}

QString randomCase(QRandomGenerator &random, const QString &text)
{
    switch (random.bounded(3)) {
    case 0:
        return text.toUpper();
    case 1:
        return text.toLower();
    default:
        return text;
    }
}

LocalLibrarySearchQuery generatedQuery(QRandomGenerator &random,
                                       const QList<LocalLibraryItem> &items)
{
    LocalLibrarySearchQuery query;
    const LocalLibraryItem &item
        = items.isEmpty() ? minimalLibraryItem(0) : items[random.bounded(items.size())];
    switch (random.bounded(8)) {
    case 0:
        break;
    case 1:
        query.text = randomCase(random, item.originalFilename);
        break;
    case 2:
        query.text = randomCase(random, stem(item.canonicalFilename));
        break;
    case 3: {
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, item.originalFilename);
        QList<qsizetype> ends;
        for (qsizetype at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary())
            ends.append(at);
        if (!ends.isEmpty())
            query.text
                = randomCase(random, item.originalFilename.left(ends[random.bounded(ends.size())]));
        break;
    }
    case 4:
        query.text = cameras[random.bounded(cameras.size())];
        break;
    case 5: // a piece of a name, never half a surrogate pair: typed text is well formed
        query.text
            = item.canonicalFilename.mid(random.bounded(item.canonicalFilename.size() + 1), 3);
        if (!query.text->isValidUtf16())
            query.text = item.canonicalFilename;
        break;
    case 6:
        query.text = QStringLiteral(" \n\u2028")
                     + randomCase(random, stems[random.bounded(stems.size())])
                     + QStringLiteral("\u0085 ");
        break;
    default:
        query.text = QStringLiteral("  \n ");
        break;
    }
    if (random.bounded(2)) {
        if (random.bounded(3) == 0)
            query.captureTime = LocalLibraryDateRange{Date{20000}, Date{60000}};
        if (random.bounded(4) == 0)
            query.captureTimeKnown = random.bounded(2) == 0;
        if (random.bounded(4) == 0)
            query.importDate = LocalLibraryDateRange{Date{10000}, Date{50000}};
        if (random.bounded(4) == 0)
            query.importStatus = static_cast<LibraryItemImportStatus>(random.bounded(7));
        if (random.bounded(4) == 0)
            query.ingestSourceName = sources[random.bounded(sources.size())];
        if (random.bounded(4) == 0)
            query.captureLocationKnown = random.bounded(2) == 0;
        query.duplicateVisibility = static_cast<LocalLibraryDuplicateVisibility>(random.bounded(3));
    }
    return query;
}

} // namespace

void LibrarySearchReferenceTests::searchAgreesWithTheRules_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("size");
    QTest::newRow("empty library") << 1u << 0;
    QTest::newRow("small library") << 2u << 40;
    QTest::newRow("a few thousand records") << 3u << 3000;
    QTest::newRow("another few thousand") << 4u << 2000;
}

void LibrarySearchReferenceTests::searchAgreesWithTheRules()
{
    QFETCH(quint32, seed);
    QFETCH(int, size);
    QRandomGenerator random(seed);
    QList<LocalLibraryItem> items;
    for (int n = 0; n < size; ++n)
        items.append(generatedItem(random, n));
    LocalLibraryCacheRecords records(items);

    for (int round = 0; round < 6; ++round) {
        QList<ReferenceKeys> keys;
        for (const LocalLibraryItem &item : items)
            keys.append(referenceKeys(item));
        for (int q = 0; q < 400; ++q) {
            const LocalLibrarySearchQuery query = generatedQuery(random, items);
            const QList<LocalLibraryItem> expected = referenceSearch(items, keys, query);
            const QList<LocalLibraryItem> found = records.search(query).items();
            if (found != expected) {
                QFAIL(qPrintable(
                    QStringLiteral("round %1, query \"%2\" (filters: %3): %4 found, %5 expected")
                        .arg(round)
                        .arg(query.text.value_or(QStringLiteral("<none>")))
                        .arg(!query.hasNoFilters())
                        .arg(found.size())
                        .arg(expected.size())));
            }
        }
        // Change the library: appends, updates in place, a removal, a renamed record.
        QList<std::pair<qsizetype, LocalLibraryItem>> assignments;
        QSet<QUuid> removed;
        if (!items.isEmpty() && round % 2 == 1)
            removed.insert(items[random.bounded(items.size())].id);
        for (const LocalLibraryItem &item : std::as_const(items)) {
            if (removed.contains(item.id))
                continue;
        }
        QList<LocalLibraryItem> next;
        for (const LocalLibraryItem &item : std::as_const(items)) {
            if (!removed.contains(item.id))
                next.append(item);
        }
        for (int i = 0; i < 5 && !next.isEmpty(); ++i) {
            const qsizetype p = random.bounded(next.size());
            next[p] = next[p].replacingImportStatus(
                static_cast<LibraryItemImportStatus>(random.bounded(7)));
            assignments.append({p, next[p]});
        }
        if (round == 4 && !next.isEmpty()) {
            next[0] = generatedItem(random, 9000);
            assignments.append({0, next[0]});
        }
        for (int i = 0; i < 30; ++i) {
            next.append(generatedItem(random, 10000 + round * 100 + i));
            assignments.append({next.size() - 1, next.last()});
        }
        records = records.changed(removed, assignments);
        items = next;
        QCOMPARE(records.items(), items);
    }
}

void LibrarySearchReferenceTests::searchDuringChangesSeesOneLibrary()
{
    QRandomGenerator random(99);
    QList<LocalLibraryItem> items;
    for (int n = 0; n < 500; ++n)
        items.append(
            generatedItem(random, n).replacingImportStatus(LibraryItemImportStatus::Uploading));
    LocalLibraryCacheRecords records(items);
    // Each version of the library has every record in one status; a search sees one version.
    LocalLibrarySearchQuery query;
    query.duplicateVisibility = LocalLibraryDuplicateVisibility::Included;
    std::atomic<bool> stop = false;
    std::atomic<int> mixed = 0;
    std::mutex mutex;
    std::thread searcher([&] {
        while (!stop) {
            LocalLibraryCacheRecords current;
            {
                const std::lock_guard lock(mutex);
                current = records;
            }
            QSet<int> statuses;
            for (const LocalLibraryItem &item : current.search(query))
                statuses.insert(int(item.importStatus));
            if (statuses.size() > 1)
                ++mixed;
        }
    });
    for (int version = 0; version < 20; ++version) {
        QList<std::pair<qsizetype, LocalLibraryItem>> assignments;
        const auto status = static_cast<LibraryItemImportStatus>(version % 6);
        for (qsizetype p = 0; p < records.size(); ++p)
            assignments.append({p, records.at(p).replacingImportStatus(status)});
        const LocalLibraryCacheRecords next = records.changed({}, assignments);
        const std::lock_guard lock(mutex);
        records = next;
    }
    stop = true;
    searcher.join();
    QCOMPARE(mixed.load(), 0);
}

QTEST_GUILESS_MAIN(LibrarySearchReferenceTests)
#include "LibrarySearchReferenceTests.moc"
