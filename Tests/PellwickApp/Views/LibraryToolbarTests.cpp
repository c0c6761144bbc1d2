#include "LibraryToolbarFixture.h"

#include <PellwickApp/Views/Kit/AlertStrip.h>
#include <PellwickApp/Views/Kit/PageHeader.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Kit/PellwickSelect.h>
#include <PellwickApp/Views/Library/ConfirmationDialog.h>
#include <PellwickApp/Views/Library/LocalLibraryFilterBar.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <Support/LibraryFixtures.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

using Read = std::function<QString(LibraryToolbarFixture &)>;

QString text(LibraryToolbarFixture &f, const QString &id)
{
    return f.toolbar.findChild<QPushButton *>(id)->text();
}

QString menuTexts(const QMenu &menu)
{
    QStringList texts;
    for (const QAction *action : menu.actions())
        texts.append(action->text());
    return texts.join(u'|');
}

QString selectorMenu(LibraryToolbarFixture &f, const QString &id)
{
    const auto *select = f.toolbar.filterBar()->findChild<PellwickMenuSelectorLabel *>(id);
    return select->title() + u": "_s + select->value() + u" ["_s + menuTexts(*select->menu())
           + u']';
}

struct Actions
{
    int importItems = 0;
    QList<std::optional<qint64>> restoreArchiveBytes = {};
    int removableItems = 0;
    bool importing = false;
    bool migrationPending = false;
    bool recovering = false;
    QList<bool> enabled = {false, false, false};
};

} // namespace

Q_DECLARE_METATYPE(Read)
Q_DECLARE_METATYPE(Actions)

class LibraryToolbarTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { PellwickControlStyles::install(); }

    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void texts_data()
    {
        QTest::addColumn<Read>("read");
        QTest::addColumn<QString>("expected");
        const auto confirmation = [](int count, qint64 bytes, qint64 remaining) {
            return LocalLibraryToolbar::importConfirmationMessage({count, bytes, remaining});
        };
        QTest::newRow("title and search") << Read([](auto &f) -> QString {
            return f.toolbar.template findChild<PageHeaderTitle *>()->title() + u'|'
                   + f.toolbar.template findChild<QLineEdit *>(u"local-library-cache.search"_s)
                         ->placeholderText();
        }) << u"Library|Search filenames"_s;
        QTest::newRow("actions") << Read([](auto &f) -> QString {
            return QStringList{text(f, u"local-library-cache.filters"_s),
                               text(f, u"local-library-cache.start-import"_s),
                               text(f, u"local-library-cache.restore-selected"_s),
                               text(f, u"local-library-cache.remove-selected"_s)}
                .join(u'|');
        }) << u"Filters|Start Import|Restore Selected|Remove from Cache"_s;
        QTest::newRow("import message, 1")
            << Read([=](auto &) -> QString { return confirmation(1, 2048, 0); })
            << u"1 package, 2 KB. 0 B archive capacity remains."_s;
        QTest::newRow("import message, 3")
            << Read([=](auto &) -> QString { return confirmation(3, 3 << 20, 5LL << 30); })
            << u"3 packages, 3 MB. 5 GB archive capacity remains."_s;
        QTest::newRow("import dialog") << Read([](auto &f) -> QString {
            const ConfirmationDialog &d = *f.toolbar.importConfirmation();
            return d.title() + u'|' + d.actionButton()->text() + u'|' + d.cancelButton()->text();
        }) << u"Start Import?|Reserve Capacity and Start Import|Cancel"_s;
        QTest::newRow("old cache dialog")
            << Read([](auto &f) -> QString {
                   const ConfirmationDialog &d = *f.toolbar.oldCacheDeletion();
                   return d.title() + u'|' + d.actionButton()->text() + u'|' + d.message();
               })
            << u"Delete old Ingest Cache?|Delete Old Cache|Pellwick will delete the old cache only "
               u"after verifying every remaining file exists in the active cache."_s;
        QTest::newRow("removal dialog, none")
            << Read([](auto &f) -> QString {
                   const ConfirmationDialog &d = *f.toolbar.removalConfirmation();
                   return d.title() + u'|' + d.actionButton()->text() + u'|' + d.message();
               })
            << u"Remove 0 cache packages?|Remove from Ingest Cache|This permanently removes 0 B "
               u"from Ingest Cache. Online Archive files cannot be removed here."_s;
        QTest::newRow("removal dialog, 1")
            << Read([](auto &f) -> QString {
                   f.ingestCache.setIngestCacheRemovalConfirmation(
                       IngestCacheRemovalConfirmation{1, 2048, {}});
                   const ConfirmationDialog &d = *f.toolbar.removalConfirmation();
                   return d.title() + u'|' + d.message();
               })
            << u"Remove 1 cache package?|This permanently removes 2 KB from Ingest Cache. Online "
               u"Archive files cannot be removed here."_s;
        QTest::newRow("capture time") << Read([](auto &f) -> QString {
            return selectorMenu(f, u"local-library-cache.filter.capture-time"_s);
        }) << u"Capture Time: Any Capture Time [Any Capture Time|Date Range|Unknown Capture Time]"_s;
        QTest::newRow("capture location") << Read([](auto &f) -> QString {
            return selectorMenu(f, u"local-library-cache.filter.capture-location"_s);
        }) << u"Capture Location: Any Location [Any Location|GPS Known|Unknown Location]"_s;
        QTest::newRow("import status")
            << Read([](auto &f) -> QString {
                   return selectorMenu(f, u"local-library-cache.filter.import-status"_s);
               })
            << u"Import Status: All [All|Local Cache — Ready to Import|Local Cache — Uploading|"
               u"Online Archive — Verifying|Online Archive — Verified|Online Archive — Cache "
               u"Cleanup Pending|Local Cache — Needs Attention|Online Archive — Already Archived]"_s;
        QTest::newRow("duplicates") << Read([](auto &f) -> QString {
            f.library.setLocalLibraryDuplicateVisibility(LocalLibraryDuplicateVisibility::Only);
            return selectorMenu(f, u"local-library-cache.filter.duplicates"_s);
        }) << u"Duplicates: Only Duplicates [Hide Duplicates|Include Duplicates|Only Duplicates]"_s;
        QTest::newRow("reset") << Read([](auto &f) -> QString {
            return text(f, u"local-library-cache.reset-filters"_s);
        }) << u"Reset Filters"_s;
        QTest::newRow("move failure in the attention tone") << Read([](auto &f) -> QString {
            f.ingestCache.setIngestCacheMigrationFailure(u"No space left in /media/ext."_s);
            const AlertStrip &alert = *f.toolbar.migrationAlert();
            const bool attention = alert.tone() == LibraryPresentationTone::Attention;
            return alert.text() + (attention && !alert.isHidden() ? u"|attention"_s : u""_s)
                   + (f.toolbar
                              .template findChild<QLabel *>(
                                  u"local-library-cache.migration-message"_s)
                              ->isHidden()
                          ? u""_s
                          : u"|grey text too"_s);
        }) << u"No space left in /media/ext.|attention"_s;
        QTest::newRow("cache menu")
            << Read([](auto &f) -> QString {
                   f.ingestCache.setPendingIngestCacheMigration({{u"/a"_s, u"/b"_s}});
                   f.ingestCache.setRetainedIngestCacheURL(u"/old"_s);
                   f.cacheMenuItems();
                   const QMenu &menu = *f.toolbar.cacheMenu()->menu();
                   return f.toolbar.cacheMenu()->title() + u": "_s + menuTexts(menu);
               })
            << u"Cache: Refresh Cache|Move Cache|Resume Cache Move|Choose Different Cache "
               u"Location||Check Old Cache|Delete Old Cache"_s;
    }

    void texts()
    {
        QFETCH(Read, read);
        QFETCH(QString, expected);
        for (const QLocale &locale : {QLocale::c(), QLocale(QLocale::German, QLocale::Germany)}) {
            QLocale::setDefault(locale);
            LibraryToolbarFixture f;
            QCOMPARE(read(f), expected);
        }
    }

    void actionRules_data()
    {
        QTest::addColumn<Actions>("c");
        QTest::newRow("no selection") << Actions{};
        QTest::newRow("ready items") << Actions{.importItems = 2, .enabled = {true, false, false}};
        QTest::newRow("import running") << Actions{.importItems = 2, .importing = true};
        QTest::newRow("move running or pending")
            << Actions{.importItems = 2, .migrationPending = true};
        QTest::newRow("archived") << Actions{.restoreArchiveBytes = {10, 20},
                                             .enabled = {false, true, false}};
        QTest::newRow("one without archive bytes")
            << Actions{.restoreArchiveBytes = {10, std::nullopt}};
        QTest::newRow("removable") << Actions{.removableItems = 1, .enabled = {false, false, true}};
        QTest::newRow("interrupted imports recovering")
            << Actions{.importItems = 2, .removableItems = 1, .recovering = true};
    }

    void actionRules()
    {
        QFETCH(Actions, c);
        LibraryToolbarFixture f;
        for (int n = 0; n < c.importItems; ++n)
            f.importOperations.importItems.append(minimalLibraryItem(n));
        for (const std::optional<qint64> &bytes : c.restoreArchiveBytes) {
            LocalLibraryItem item = minimalLibraryItem(int(f.restoreOperations.selected.size()));
            item.archiveByteCount = bytes;
            f.restoreOperations.selected.append(item);
        }
        for (int n = 0; n < c.removableItems; ++n)
            f.ingestCacheOperations.removableItems.append(minimalLibraryItem(n));
        f.ingestCacheOperations.migrationPending = c.migrationPending;
        f.imports.setIsImporting(c.importing);
        f.imports.setIsRecoveringInterruptedImports(c.recovering);
        f.ingestCache.setIsMigratingIngestCache(c.migrationPending);
        f.library.setSelectedLibraryItemIDs({});
        QSignalSpy restores(&f.toolbar, &LocalLibraryToolbar::restoreRequested);

        const QStringList ids{u"local-library-cache.start-import"_s,
                              u"local-library-cache.restore-selected"_s,
                              u"local-library-cache.remove-selected"_s};
        QList<bool> enabled;
        for (const QString &id : ids) {
            auto *button = f.toolbar.findChild<QPushButton *>(id);
            enabled.append(button->isEnabled());
            button->click();
        }
        QCOMPARE(enabled, c.enabled);
        QStringList expected;
        if (c.enabled[0])
            expected.append(u"requestSelectedImportConfirmation"_s);
        if (c.enabled[2])
            expected.append(u"requestSelectedIngestCacheRemovalConfirmation"_s);
        QCOMPARE(f.actions(), expected);
        QCOMPARE(restores.size(), c.enabled[1] ? 1 : 0);
    }

    void confirmations_data()
    {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("import confirmed")
            << u"import"_s << true << QStringList{u"cleared"_s, u"startSelectedImports"_s};
        QTest::newRow("import dismissed") << u"import"_s << false << QStringList{u"cleared"_s};
        QTest::newRow("removal confirmed")
            << u"removal"_s << true
            << QStringList{u"cleared"_s, u"removeSelectedIngestCachePackages"_s};
        QTest::newRow("removal dismissed") << u"removal"_s << false << QStringList{u"cleared"_s};
        QTest::newRow("old cache confirmed")
            << u"old cache"_s << true << QStringList{u"deleteRetainedIngestCache"_s};
        QTest::newRow("old cache dismissed") << u"old cache"_s << false << QStringList{};
    }

    void confirmations()
    {
        QFETCH(QString, dialog);
        QFETCH(bool, confirm);
        QFETCH(QStringList, calls);
        LibraryToolbarFixture f;
        ConfirmationDialog *shown = nullptr;
        if (dialog == u"import"_s) {
            f.imports.setImportSelectionConfirmation(ImportSelectionConfirmation{2, 10, 20});
            connect(&f.imports, &ImportState::importSelectionConfirmationChanged, this, [&] {
                f.importOperations.calls.append(u"cleared"_s);
            });
            shown = f.toolbar.importConfirmation();
            QCOMPARE(shown->message(), u"2 packages, 10 B. 20 B archive capacity remains."_s);
        } else if (dialog == u"removal"_s) {
            f.ingestCache.setIngestCacheRemovalConfirmation(
                IngestCacheRemovalConfirmation{2, 10, {}});
            connect(&f.ingestCache,
                    &IngestCacheState::ingestCacheRemovalConfirmationChanged,
                    this,
                    [&] { f.ingestCacheOperations.calls.append(u"cleared"_s); });
            shown = f.toolbar.removalConfirmation();
        } else {
            f.ingestCache.setRetainedIngestCacheURL(u"/old"_s);
            f.triggerCacheMenuItem(u"local-library-cache.delete-old-cache"_s);
            QVERIFY(f.toolbar.confirmsOldCacheDeletion());
            shown = f.toolbar.oldCacheDeletion();
        }
        QVERIFY(shown->isVisible());
        QCOMPARE(shown->windowModality(), Qt::WindowModal);
        (confirm ? shown->actionButton() : shown->cancelButton())->click();
        QVERIFY(!shown->isVisible());
        QVERIFY(!f.toolbar.confirmsOldCacheDeletion());
        QVERIFY(!f.imports.importSelectionConfirmation()
                && !f.ingestCache.ingestCacheRemovalConfirmation());
        QCOMPARE(f.actions(), calls);
    }
};

QTEST_MAIN(LibraryToolbarTests)
#include "LibraryToolbarTests.moc"
