#include "LibraryToolbarFixture.h"

#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Library/OldCacheConflictList.h>

#include <QListView>
#include <QPushButton>
#include <QTest>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

const QString refresh = u"local-library-cache.refresh-cache"_s;
const QString move = u"local-library-cache.move-cache"_s;
const QString resume = u"local-library-cache.resume-cache-move"_s;
const QString chooseOther = u"local-library-cache.choose-cache-location"_s;
const QString check = u"local-library-cache.check-old-cache"_s;
const QString deleteOld = u"local-library-cache.delete-old-cache"_s;

QString disabled(const QString &id)
{
    return id + u" (disabled)"_s;
}

/// The state before the menu opens and, for the chooser, while it is open.
struct State
{
    bool pending = false;
    bool migrating = false;
    bool importing = false;
    bool startingImport = false;
    bool oldCache = false;
    bool conflicts = false;

    void apply(LibraryToolbarFixture &f) const
    {
        using Pending = IngestCacheLocationStoring::PendingMigration;
        f.ingestCache.setPendingIngestCacheMigration(
            pending ? std::optional(Pending{u"/cache"_s, u"/moving"_s}) : std::nullopt);
        f.ingestCache.setIsMigratingIngestCache(migrating);
        f.ingestCacheOperations.migrationPending = pending || migrating;
        f.imports.setIsImporting(importing);
        f.imports.setIsStartingImport(startingImport);
        f.importOperations.startingImport = startingImport;
        f.ingestCache.setRetainedIngestCacheURL(oldCache ? std::optional(u"/old"_s) : std::nullopt);
        if (conflicts)
            f.ingestCache.setRetainedIngestCacheConflicts(
                {{u"a/IMG_1.CR3"_s, u"/old/a/IMG_1.CR3"_s, u"/cache/a/IMG_1.CR3"_s},
                 {u"b/IMG_2.CR3"_s, u"/old/b/IMG_2.CR3"_s, u"/cache/b/IMG_2.CR3"_s}});
    }
};

struct Choice
{
    QString item = move;
    State before = {};
    State meanwhile = {};
    std::optional<QString> answer = u"/new"_s;
    QStringList calls = {u"beginIngestCacheMigration:/new"_s};
    QString cacheRoot = {};
    QString startFolder = {};
};

} // namespace

Q_DECLARE_METATYPE(State)
Q_DECLARE_METATYPE(Choice)

class IngestCacheMenuTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { PellwickControlStyles::install(); }

    void items_data()
    {
        QTest::addColumn<State>("state");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("no move, no old cache") << State{} << QStringList{refresh, move};
        QTest::newRow("import running")
            << State{.importing = true} << QStringList{refresh, disabled(move)};
        QTest::newRow("import starting")
            << State{.startingImport = true} << QStringList{refresh, disabled(move)};
        QTest::newRow("move pending")
            << State{.pending = true}
            << QStringList{disabled(refresh), disabled(move), resume, chooseOther};
        // Resuming a move that is still running is refused by the move itself.
        QTest::newRow("move running")
            << State{.pending = true, .migrating = true}
            << QStringList{disabled(refresh), disabled(move), disabled(resume), chooseOther};
        QTest::newRow("old cache kept")
            << State{.oldCache = true} << QStringList{refresh, move, check, deleteOld};
        QTest::newRow("old cache with conflicts")
            << State{.oldCache = true, .conflicts = true}
            << QStringList{refresh, move, check, disabled(deleteOld)};
        QTest::newRow("move pending, old cache kept") << State{.pending = true, .oldCache = true}
                                                      << QStringList{disabled(refresh),
                                                                     disabled(move),
                                                                     resume,
                                                                     chooseOther,
                                                                     disabled(check),
                                                                     disabled(deleteOld)};
    }

    void items()
    {
        QFETCH(State, state);
        QFETCH(QStringList, items);
        LibraryToolbarFixture f;
        state.apply(f);
        QCOMPARE(f.cacheMenuItems(), items);
        // A disabled item does nothing when triggered.
        for (const QString &id : {refresh, resume})
            if (items.contains(disabled(id)))
                f.triggerCacheMenuItem(id);
        QCOMPARE(f.actions(), QStringList());
    }

    void chooser_data()
    {
        QTest::addColumn<Choice>("c");
        QTest::newRow("move") << Choice{};
        QTest::newRow("starts beside the cache")
            << Choice{.cacheRoot = u"/photos/Ingest Cache/"_s, .startFolder = u"/photos"_s};
        QTest::newRow("cancelled") << Choice{.answer = std::nullopt, .calls = {}};
        QTest::newRow("move pending meanwhile")
            << Choice{.meanwhile = {.pending = true}, .calls = {}};
        QTest::newRow("import started meanwhile")
            << Choice{.meanwhile = {.importing = true}, .calls = {}};
        QTest::newRow("import starting meanwhile")
            << Choice{.meanwhile = {.startingImport = true}, .calls = {}};
        QTest::newRow("other location while a move runs")
            << Choice{.item = chooseOther,
                      .before = {.pending = true},
                      .meanwhile = {.pending = true, .migrating = true},
                      .calls = {}};
        QTest::newRow("other location while none runs")
            << Choice{.item = chooseOther,
                      .before = {.pending = true},
                      .meanwhile = {.pending = true, .importing = true}};
    }

    void chooser()
    {
        QFETCH(Choice, c);
        LibraryToolbarFixture f;
        c.before.apply(f);
        f.ingestCache.setIngestCacheRoot(c.cacheRoot);
        f.triggerCacheMenuItem(c.item);
        QCOMPARE(f.chooser.pendingCount(), 1);
        const FolderQuestion &asked = f.chooser.asked.constFirst();
        QVERIFY(asked.allowsNewFolders && asked.prompt.isEmpty());
        QCOMPARE(asked.message, u"Choose New Ingest Cache Location"_s);
        QCOMPARE(asked.startFolder, c.startFolder);
        c.meanwhile.apply(f);
        if (c.answer)
            f.chooser.answer(*c.answer);
        else
            f.chooser.cancel();
        QCOMPARE(f.actions(), c.calls);
    }

    void conflictList_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("keeping");
        QTest::newRow("keep old") << u"keep-old"_s << 0;
        QTest::newRow("keep new") << u"keep-new"_s << 1;
        QTest::newRow("keep both") << u"keep-both"_s << 2;
        QTest::newRow("return closes, keeping nothing") << u"return"_s << -1;
    }

    void conflictList()
    {
        QFETCH(QString, button);
        QFETCH(int, keeping);
        LibraryToolbarFixture f;
        State{.oldCache = true, .conflicts = true}.apply(f);
        OldCacheConflictList &list = *f.toolbar.conflictList();
        QVERIFY(!list.isVisible());
        f.triggerCacheMenuItem(check);
        QVERIFY(list.isVisible());
        QCOMPARE(list.list()->model()->rowCount(), 2);
        list.list()->setCurrentIndex(list.list()->model()->index(1, 0));
        if (button == u"return") {
            QTest::keyClick(list.list(), Qt::Key_Return);
            QCOMPARE(f.actions(), QStringList{u"synchronizeRetainedIngestCache"_s});
            QVERIFY(!list.isVisible());
            return;
        }
        list.findChild<QPushButton *>(button)->click();
        QCOMPARE(
            f.actions(),
            (QStringList{u"synchronizeRetainedIngestCache"_s,
                         u"resolveRetainedIngestCacheConflict:b/IMG_2.CR3:%1"_s.arg(keeping)}));
        // The new check found none left.
        f.ingestCache.setRetainedIngestCacheConflicts({});
        QVERIFY(!list.isVisible());
    }
};

QTEST_MAIN(IngestCacheMenuTests)
#include "IngestCacheMenuTests.moc"
