#include "RestoreHarness.h"

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

struct ConflictCase
{
    QList<RestoreHarness::ArchivedItem> items = RestoreHarness::numberedItems(2, 1000);
    QStringList existing = {u"IMG_0001.CR3"_s};
    QStringList answers; ///< given in turn to each conflict published; empty takes the suggestion
    QStringList saved = {};                             ///< new files in the destination afterwards
    std::optional<QString> openConflict = std::nullopt; ///< its existing file's name
};

RestoreHarness::ArchivedItem sharingSidecar(const QString &raw, const char *sidecar, quint32 seed)
{
    return {{raw, patternBytes(3000, seed)}, TestBackend::ArchivedFile{u"IMG_0001.xmp"_s, sidecar}};
}

} // namespace

Q_DECLARE_METATYPE(ConflictCase)

class RestoreFilenameConflictTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { CurlFetch::initializeGlobally(); }

    void conflictsAreResolvedByName_data();
    void conflictsAreResolvedByName();
};

void RestoreFilenameConflictTests::conflictsAreResolvedByName_data()
{
    QTest::addColumn<ConflictCase>("c");
    const QString first = u"IMG_0001.CR3"_s;
    // clang-format off
    QTest::newRow("blanks and line breaks around") << ConflictCase{.answers = {u" \n\u0085Chosen.CR3\u2028\t"_s},
        .saved = {u"Chosen.CR3"_s, u"IMG_0002.CR3"_s}};
    QTest::newRow("blank") << ConflictCase{.answers = {u" \n "_s}, .openConflict = first};
    QTest::newRow("with a slash") << ConflictCase{.answers = {u"a/b.CR3"_s}, .openConflict = first};
    QTest::newRow("a dot") << ConflictCase{.answers = {u" . "_s}, .openConflict = first};
    QTest::newRow("two dots") << ConflictCase{.answers = {u".."_s}, .openConflict = first};
    QTest::newRow("chosen name taken too") << ConflictCase{.existing = {first, u"Taken.CR3"_s}, .answers = {u"Taken.CR3"_s},
        .openConflict = u"Taken.CR3"_s};
    QTest::newRow("two clashes resolved in turn") << ConflictCase{.existing = {first, u"IMG_0002.CR3"_s},
        .answers = {u"One.CR3"_s, u"Two.CR3"_s}, .saved = {u"One.CR3"_s, u"Two.CR3"_s}};
    QTest::newRow("shared sidecar name") << ConflictCase{.items = {sharingSidecar(u"IMG_0001.CR2"_s, "<x>1</x>", 1),
        sharingSidecar(u"IMG_0001.DNG"_s, "<x>2</x>", 2)}, .existing = {}, .answers = {{}}, .saved = {
        u"IMG_0001-restored.DNG"_s, u"IMG_0001-restored.xmp"_s, u"IMG_0001.CR2"_s, u"IMG_0001.xmp"_s}};
    // clang-format on
}

void RestoreFilenameConflictTests::conflictsAreResolvedByName()
{
    QFETCH(ConflictCase, c);
    RestoreHarness h(c.items);
    h.makeReady();
    const QMap<QString, QString> before = h.placeInDestination(c.existing);
    h.restoreInto();
    QCOMPARE(h.backend.objectStore().requests().size(), 0); // nothing downloaded before a choice
    for (const QString &answer : c.answers) {
        QVERIFY(h.restore().restoreFilenameConflict());
        const RestoreFilenameConflict conflict = *h.restore().restoreFilenameConflict();
        const QString name = answer.isEmpty() ? h.restore().restoreConflictFilename() : answer;
        QCoro::waitFor(h.model->restoreWorkflows().resolveRestoreFilenameConflict(conflict, name));
    }
    const std::optional<RestoreFilenameConflict> &open = h.restore().restoreFilenameConflict();
    QCOMPARE(open ? std::optional(open->existingFilename) : std::nullopt, c.openConflict);
    const QMap<QString, QString> saved = h.newFiles(before);
    QCOMPARE(saved.keys(), c.saved);
    for (const QString &hash : saved)
        QVERIFY(h.archivedContentHashes.contains(hash));
    QCOMPARE(QSet(saved.cbegin(), saved.cend()).size(), saved.size()); // no file saved twice
}

QTEST_GUILESS_MAIN(RestoreFilenameConflictTests)
#include "RestoreFilenameConflictTests.moc"
