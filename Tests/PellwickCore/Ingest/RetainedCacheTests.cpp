#include "Support/MigrationFixture.h"
#include "Support/ScopedBindMount.h"
#include "Support/StopAtCheckpoint.h"
#include "Support/TestErrors.h"
#include "Support/TestFiles.h"

#include <PellwickCore/Ingest/IngestCacheMigrator.h>

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <cerrno>
#include <cstdio>

using namespace Pellwick;
using namespace Pellwick::Test;

using Resolution = IngestCacheMigrationConflictResolution;

class RetainedCacheTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void synchronisationFollowsTheTable_data();
    void synchronisationFollowsTheTable();
    void conflictsAreListedInPathOrderNamingBothFiles();
    void removalWaitsUntilEveryConflictIsResolved_data();
    void removalWaitsUntilEveryConflictIsResolved();
    void keepingBothAddsAConflictCopyOnce();
    void conflictCopyNames_data();
    void conflictCopyNames();
    void emptyOrDeletedRetainedCachesAreRemoved();
    void removalTakesOnlyWhatItChecked_data();
    void removalTakesOnlyWhatItChecked();
    void keepingAVanishedVersionLosesNothing();
    void retainedCacheOverlappingTheActiveCacheIsRefused();
    void failedCopiesBecomeVerificationFailures();
    void listingAndHashingFailuresAreReported();
    void stoppedCopiesAreCancellationsAndLoseNothing_data();
    void stoppedCopiesAreCancellationsAndLoseNothing();
};

namespace {

const QString imagePath = QStringLiteral("2024/03/05-0a1b2c3d4e5f/IMG_0001.CR3");

struct RetainedFixture : MigrationFixture
{
    RetainedFixture()
        : old(directory.path() + QStringLiteral("/OldCache"))
    {
        QDir().mkpath(old);
    }

    QString oldFile(const QString &relative = imagePath) const
    {
        return old + QLatin1Char('/') + relative;
    }

    QString activeFile(const QString &relative = imagePath) const
    {
        return root + QLatin1Char('/') + relative;
    }

    Result<IngestCacheMigrationReconciliation> synchronize() const
    {
        return migrator().synchronizeRetainedCache(old, baseline);
    }

    Result<void> remove() const { return migrator().removeRetainedCache(old, baseline); }

    QString old;
    QHash<QString, QString> baseline;
};

const QByteArray retainedBytes = patternBytes(900, 11);
const QByteArray activeBytes = patternBytes(700, 12);
const QByteArray movedBytes = patternBytes(800, 13);

} // namespace

void RetainedCacheTests::synchronisationFollowsTheTable_data()
{
    QTest::addColumn<bool>("activePresent");
    QTest::addColumn<bool>("sameContent");
    QTest::addColumn<QString>("baseline"); // "none", "retained", "active" or "moved"
    QTest::addColumn<int>("synchronized");
    QTest::addColumn<bool>("conflict");
    QTest::addColumn<bool>("activeBecomesRetained");

    QTest::newRow("1 missing in the active cache")
        << false << false << "moved" << 1 << false << true;
    QTest::newRow("1 missing, no baseline") << false << false << "none" << 1 << false << true;
    QTest::newRow("2 same content, no baseline") << true << true << "none" << 0 << false << true;
    QTest::newRow("2 same content, both changed alike")
        << true << true << "moved" << 0 << false << true;
    QTest::newRow("3 different content, no baseline")
        << true << false << "none" << 0 << true << false;
    QTest::newRow("4 changed only in the retained cache")
        << true << false << "active" << 1 << false << true;
    QTest::newRow("5 changed only in the active cache")
        << true << false << "retained" << 0 << false << false;
    QTest::newRow("6 changed on both sides") << true << false << "moved" << 0 << true << false;
}

void RetainedCacheTests::synchronisationFollowsTheTable()
{
    QFETCH(bool, activePresent);
    QFETCH(bool, sameContent);
    QFETCH(QString, baseline);
    QFETCH(int, synchronized);
    QFETCH(bool, conflict);
    QFETCH(bool, activeBecomesRetained);

    RetainedFixture fixture;
    writeFile(fixture.oldFile(), retainedBytes);
    if (activePresent)
        writeFile(fixture.activeFile(), sameContent ? retainedBytes : activeBytes);
    // Another file only in the active cache: never looked at, never removed.
    writeFile(fixture.activeFile(QStringLiteral("2024/only-active.CR3")), "a");
    const QMap<QString, QString> baselines{
        {QStringLiteral("retained"), referenceSha256(retainedBytes)},
        {QStringLiteral("active"), referenceSha256(activeBytes)},
        {QStringLiteral("moved"), referenceSha256(movedBytes)}};
    if (baseline != QLatin1String("none"))
        fixture.baseline.insert(imagePath, baselines.value(baseline));

    Result<IngestCacheMigrationReconciliation> reconciliation = fixture.synchronize();
    QVERIFY2(reconciliation, failureText(reconciliation).constData());
    QCOMPARE(reconciliation->synchronizedFileCount, synchronized);
    if (conflict) {
        const IngestCacheMigrationConflict expected{
            imagePath, fixture.oldFile(), fixture.activeFile()};
        QCOMPARE(reconciliation->conflicts, QList<IngestCacheMigrationConflict>{expected});
        QCOMPARE(reconciliation->conflicts.first().id(), imagePath);
    } else {
        QVERIFY(reconciliation->conflicts.isEmpty());
    }
    QCOMPARE(readFile(fixture.oldFile()), retainedBytes);
    const QByteArray expectedActive
        = activeBecomesRetained ? retainedBytes : (sameContent ? retainedBytes : activeBytes);
    QCOMPARE(readFile(fixture.activeFile()), expectedActive);
    QCOMPARE(readFile(fixture.activeFile(QStringLiteral("2024/only-active.CR3"))), "a");
}

void RetainedCacheTests::conflictsAreListedInPathOrderNamingBothFiles()
{
    RetainedFixture fixture;
    const QStringList paths{QStringLiteral("b/IMG_2.CR3"),
                            QStringLiteral("a/IMG_9.CR3"),
                            QStringLiteral("a-z.CR3"),
                            QStringLiteral("a/IMG_1.CR3")};
    for (const QString &path : paths) {
        writeFile(fixture.oldFile(path), retainedBytes);
        writeFile(fixture.activeFile(path), activeBytes);
    }
    writeFile(fixture.oldFile(QStringLiteral("a/new.CR3")), movedBytes);

    Result<IngestCacheMigrationReconciliation> reconciliation = fixture.synchronize();
    QVERIFY(reconciliation);
    QCOMPARE(reconciliation->synchronizedFileCount, 1);
    QStringList conflicted;
    for (const IngestCacheMigrationConflict &conflict : reconciliation->conflicts) {
        QCOMPARE(conflict.oldURL, fixture.oldFile(conflict.relativePath));
        QCOMPARE(conflict.activeURL, fixture.activeFile(conflict.relativePath));
        conflicted.append(conflict.relativePath);
    }
    QCOMPARE(conflicted,
             (QStringList{QStringLiteral("a-z.CR3"),
                          QStringLiteral("a/IMG_1.CR3"),
                          QStringLiteral("a/IMG_9.CR3"),
                          QStringLiteral("b/IMG_2.CR3")}));
    QCOMPARE(readFile(fixture.activeFile(QStringLiteral("a/new.CR3"))), movedBytes);
}

void RetainedCacheTests::removalWaitsUntilEveryConflictIsResolved_data()
{
    QTest::addColumn<Resolution>("resolution");
    QTest::addColumn<QByteArray>("kept");
    QTest::newRow("keep old") << Resolution::KeepOld << retainedBytes;
    QTest::newRow("keep new") << Resolution::KeepNew << activeBytes;
    QTest::newRow("keep both") << Resolution::KeepBoth << activeBytes;
}

void RetainedCacheTests::removalWaitsUntilEveryConflictIsResolved()
{
    QFETCH(Resolution, resolution);
    QFETCH(QByteArray, kept);
    RetainedFixture fixture;
    writeFile(fixture.oldFile(), retainedBytes);
    writeFile(fixture.activeFile(), activeBytes);
    writeFile(fixture.oldFile(QStringLiteral("2024/other.CR3")), movedBytes);
    const QMap<QString, QString> retainedBefore = fileManifest(fixture.old);

    Result<void> refused = fixture.remove();
    QVERIFY(!refused);
    QVERIFY(MigrationFixture::ingestCacheError<IngestCacheError::RetainedCacheConflicts>(
        refused.error()));
    QCOMPARE(fileManifest(fixture.old), retainedBefore);
    // The synchronisation done on the way still counts.
    QCOMPARE(readFile(fixture.activeFile(QStringLiteral("2024/other.CR3"))), movedBytes);

    Result<IngestCacheMigrationReconciliation> reconciliation = fixture.synchronize();
    QVERIFY(reconciliation && reconciliation->conflicts.size() == 1);
    QVERIFY(fixture.migrator().resolveRetainedCacheConflict(reconciliation->conflicts.first(),
                                                            resolution));
    QCOMPARE(readFile(fixture.activeFile()), kept);
    QCOMPARE(readFile(fixture.oldFile()), kept);

    Result<IngestCacheMigrationReconciliation> after = fixture.synchronize();
    QVERIFY(after);
    QVERIFY(after->conflicts.isEmpty());
    QVERIFY2(fixture.remove(), "removal after resolving");
    QVERIFY(!QFileInfo::exists(fixture.old));
    QCOMPARE(readFile(fixture.activeFile()), kept);
}

void RetainedCacheTests::keepingBothAddsAConflictCopyOnce()
{
    RetainedFixture fixture;
    writeFile(fixture.oldFile(), retainedBytes);
    writeFile(fixture.activeFile(), activeBytes);
    Result<IngestCacheMigrationReconciliation> reconciliation = fixture.synchronize();
    QVERIFY(reconciliation && reconciliation->conflicts.size() == 1);
    const IngestCacheMigrationConflict conflict = reconciliation->conflicts.first();

    QVERIFY(fixture.migrator().resolveRetainedCacheConflict(conflict, Resolution::KeepBoth));
    const QString copy = fixture.activeFile(
        QStringLiteral("2024/03/05-0a1b2c3d4e5f/IMG_0001.old-cache-conflict.CR3"));
    QCOMPARE(readFile(copy), retainedBytes);
    QCOMPARE(readFile(fixture.activeFile()), activeBytes);
    QCOMPARE(readFile(fixture.oldFile()), activeBytes);

    Result<void> again
        = fixture.migrator().resolveRetainedCacheConflict(conflict, Resolution::KeepBoth);
    QVERIFY(!again);
    const auto *failed
        = MigrationFixture::ingestCacheError<IngestCacheError::VerificationFailed>(again.error());
    QVERIFY(failed);
    QCOMPARE(failed->relativePath, QStringLiteral("IMG_0001.old-cache-conflict.CR3"));
    QCOMPARE(readFile(copy), retainedBytes);

    // The conflict copy is an ordinary file of the active cache.
    Result<IngestCacheMigrationReconciliation> after = fixture.synchronize();
    QVERIFY(after);
    QCOMPARE(after->synchronizedFileCount, 0);
    QVERIFY(after->conflicts.isEmpty());
    QVERIFY(QFileInfo::exists(copy));
}

void RetainedCacheTests::conflictCopyNames_data()
{
    QTest::addColumn<QString>("active");
    QTest::addColumn<QString>("copy");
    QTest::newRow("RAW original") << "/c/2024/IMG_0001.CR3"
                                  << "/c/2024/IMG_0001.old-cache-conflict.CR3";
    QTest::newRow("no extension") << "/c/notes"
                                  << "/c/notes.old-cache-conflict";
    QTest::newRow("two extensions") << "/c/a.tar.gz"
                                    << "/c/a.tar.old-cache-conflict.gz";
    QTest::newRow("hidden file") << "/c/.hidden"
                                 << "/c/.hidden.old-cache-conflict";
    QTest::newRow("trailing dot") << "/c/name."
                                  << "/c/name..old-cache-conflict";
}

void RetainedCacheTests::conflictCopyNames()
{
    QFETCH(QString, active);
    QFETCH(QString, copy);
    QCOMPARE(IngestCacheMigrator::conflictCopyURL(active), copy);
}

void RetainedCacheTests::emptyOrDeletedRetainedCachesAreRemoved()
{
    RetainedFixture fixture;
    Result<IngestCacheMigrationReconciliation> empty = fixture.synchronize();
    QVERIFY(empty);
    QCOMPARE(*empty, IngestCacheMigrationReconciliation{});
    QVERIFY(fixture.remove());
    QVERIFY(!QFileInfo::exists(fixture.old));

    // Already deleted by the user: synchronises to nothing and counts as removed.
    Result<IngestCacheMigrationReconciliation> missing = fixture.synchronize();
    QVERIFY(missing);
    QCOMPARE(*missing, IngestCacheMigrationReconciliation{});
    QVERIFY2(fixture.remove(), "a deleted retained cache is removed");

    // On a volume that is not there: kept, so it can be reconciled once it is back.
    RetainedFixture unplugged;
    unplugged.old = unplugged.directory.path() + QStringLiteral("/Volume/OldCache");
    Result<void> away = unplugged.remove();
    QVERIFY(!away);
    QCOMPARE(MigrationFixture::fileSystemCode(away.error()), ENOENT);
}

struct RemovalCase
{
    /// Passes of the removal before whose first deletion the sidecar grows by a byte and a new
    /// file appears in the old cache, as an editor still saving there would do.
    int changes = 0;
    bool sidecarSavedAsItGoes = false; ///< saved anew by a rename as the sidecar is unlinked
    bool bindActiveAtOld = false;      ///< the old path is the active cache, mounted there again
    /// The old cache is "Drive/OldCache" and is missing: "Drive" is a mount point of the file
    /// systems table that is not mounted.
    bool onConfiguredDrive = false;
    /// The old cache was "media/DISK", a drive mounted in a folder of removable drives; DISK is
    /// missing.
    bool onRemovableDrive = false;
    std::optional<IngestCacheError> error = std::nullopt;
};

Q_DECLARE_METATYPE(RemovalCase)

void RetainedCacheTests::removalTakesOnlyWhatItChecked_data()
{
    QTest::addColumn<RemovalCase>("c");
    QTest::newRow("checked and unchanged") << RemovalCase{};
    QTest::newRow("a file created and a sidecar changed after the check")
        << RemovalCase{.changes = 1};
    QTest::newRow("a sidecar saved by a rename as it goes")
        << RemovalCase{.sidecarSavedAsItGoes = true};
    QTest::newRow("changes at every pass are kept and named")
        << RemovalCase{.changes = 3,
                       .error = IngestCacheError{IngestCacheError::RetainedCacheChanged{
                           {QStringLiteral("2024/03/05-0a1b2c3d4e5f/IMG_0000-3.CR3"),
                            QStringLiteral("2024/03/05-0a1b2c3d4e5f/IMG_0001.xmp")}}}};
    QTest::newRow("the active cache bound at the old path")
        << RemovalCase{.bindActiveAtOld = true,
                       .error = IngestCacheError{IngestCacheError::InvalidMigrationTarget{}}};
    QTest::newRow("on a configured drive that is not mounted")
        << RemovalCase{.onConfiguredDrive = true,
                       .error = IngestCacheError{IngestCacheError::RetainedCacheNotFound{}}};
    QTest::newRow("on a removable drive that is away")
        << RemovalCase{.onRemovableDrive = true,
                       .error = IngestCacheError{IngestCacheError::RetainedCacheNotFound{}}};
}

void RetainedCacheTests::removalTakesOnlyWhatItChecked()
{
    QFETCH(RemovalCase, c);
    RetainedFixture fixture;
    const QString sidecar = QStringLiteral("2024/03/05-0a1b2c3d4e5f/IMG_0001.xmp");
    for (const QString &file : {fixture.activeFile(), fixture.oldFile()})
        writeFile(file, retainedBytes);
    for (const QString &file : {fixture.activeFile(sidecar), fixture.oldFile(sidecar)})
        writeFile(file, "sidecar");
    fixture.baseline
        = {{imagePath, referenceSha256(retainedBytes)}, {sidecar, referenceSha256("sidecar")}};
    const QString base = fixture.directory.path();
    if (c.onConfiguredDrive) {
        QDir().mkpath(base + QStringLiteral("/Drive"));
        writeFile(fixture.mountTables.fileSystemTable,
                  "LABEL=PHOTOS " + QFile::encodeName(base) + "/Drive ext4 defaults,nofail 0 2\n");
        fixture.old = base + QStringLiteral("/Drive/OldCache");
    }
    if (c.onRemovableDrive) {
        QDir().mkpath(base + QStringLiteral("/media"));
        fixture.mountTables.removableMountBases = {base + QStringLiteral("/media")};
        fixture.old = base + QStringLiteral("/media/DISK");
    }
    const QMap<QString, QString> active = fileManifest(fixture.root);
    std::unique_ptr<ScopedBindMount> bound;
    if (c.bindActiveAtOld) {
        QVERIFY(QDir(fixture.old).removeRecursively());
        bound = ScopedBindMount::create(fixture.root, fixture.old);
        if (!bound)
            QSKIP("a bind mount needs the administrator");
    }
    QByteArray edited = "sidecar";
    int changed = 0;
    // Before a removal of anything but the sidecar, which is checked again just before it goes.
    const auto created
        = [](int n) { return QStringLiteral("2024/03/05-0a1b2c3d4e5f/IMG_0000-%1.CR3").arg(n); };
    fixture.fileManager->beforeOperation(
        FileOperation::RemoveItem, QStringLiteral("/OldCache"), [&](const QString &path) {
            if (changed == c.changes || path.contains(QLatin1String(".xmp")))
                return;
            edited += '+';
            writeFile(fixture.oldFile(sidecar), edited);
            writeFile(fixture.oldFile(created(++changed)), "new");
        });
    if (c.sidecarSavedAsItGoes) {
        fixture.fileManager->beforeOperation(
            FileOperation::RemoveItem, QStringLiteral("IMG_0001.xmp"), [&](const QString &) {
                if (edited.endsWith('!'))
                    return;
                edited += '!';
                const QString saving = fixture.oldFile(sidecar) + QStringLiteral(".saving");
                writeFile(saving, edited);
                QVERIFY(std::rename(QFile::encodeName(saving).constData(),
                                    QFile::encodeName(fixture.oldFile(sidecar)).constData())
                        == 0);
            });
    }

    const Result<void> removed = fixture.remove();
    if (c.error) {
        QVERIFY(!removed);
        QVERIFY2(removed.error() == Error(*c.error), qPrintable(describe(removed.error())));
    } else {
        QVERIFY2(removed, failureText(removed).constData());
        QVERIFY(!QFileInfo::exists(fixture.old));
    }
    // Every version written survives, in the active cache or in the old one.
    const auto survives = [&](const QString &file, const QByteArray &bytes) {
        return (QFileInfo::exists(fixture.activeFile(file))
                && readFile(fixture.activeFile(file)) == bytes)
               || (QFileInfo::exists(fixture.oldFile(file))
                   && readFile(fixture.oldFile(file)) == bytes);
    };
    QVERIFY(survives(sidecar, edited));
    for (int n = 1; n <= changed; ++n)
        QVERIFY(survives(created(n), "new"));
    if (changed == 0 && !c.sidecarSavedAsItGoes) {
        bound.reset();
        QCOMPARE(fileManifest(fixture.root), active);
    }
}

void RetainedCacheTests::keepingAVanishedVersionLosesNothing()
{
    RetainedFixture fixture;
    writeFile(fixture.oldFile(), retainedBytes);
    writeFile(fixture.activeFile(), activeBytes);
    Result<IngestCacheMigrationReconciliation> reconciliation = fixture.synchronize();
    QVERIFY(reconciliation && reconciliation->conflicts.size() == 1);
    QVERIFY(QFile::remove(fixture.oldFile()));

    Result<void> kept = fixture.migrator().resolveRetainedCacheConflict(
        reconciliation->conflicts.first(), Resolution::KeepOld);
    QVERIFY(!kept);
    QCOMPARE(MigrationFixture::fileSystemCode(kept.error()), ENOENT);
    QCOMPARE(readFile(fixture.activeFile()), activeBytes);
}

void RetainedCacheTests::retainedCacheOverlappingTheActiveCacheIsRefused()
{
    RetainedFixture fixture;
    writeFile(fixture.activeFile(), activeBytes);
    const QMap<QString, QString> active = fileManifest(fixture.root);
    QVERIFY(QFile::link(fixture.root, fixture.directory.path() + QStringLiteral("/Link")));
    for (const QString &old : QStringList{fixture.root,
                                          fixture.directory.path(),
                                          fixture.root + QStringLiteral("/2024"),
                                          fixture.directory.path() + QStringLiteral("/Link")}) {
        Result<void> removed = fixture.migrator().removeRetainedCache(old, {});
        QVERIFY2(!removed, qPrintable(old));
        QVERIFY(MigrationFixture::ingestCacheError<IngestCacheError::InvalidMigrationTarget>(
            removed.error()));
    }
    QCOMPARE(fileManifest(fixture.root), active);
}

void RetainedCacheTests::failedCopiesBecomeVerificationFailures()
{
    // Copying a missing file back: the copy's error becomes a verification failure.
    RetainedFixture fixture;
    writeFile(fixture.oldFile(), retainedBytes);
    fixture.fileManager->failOperation(
        FileOperation::CreateFile, EIO, QStringLiteral(".pellwick-partial"), 1);
    Result<IngestCacheMigrationReconciliation> failed = fixture.synchronize();
    QVERIFY(!failed);
    const auto *verification
        = MigrationFixture::ingestCacheError<IngestCacheError::VerificationFailed>(failed.error());
    QVERIFY(verification);
    QCOMPARE(verification->relativePath, QStringLiteral("IMG_0001.CR3"));
    QVERIFY(verification->cause && verification->cause.get()->is<VerifiedFileCopyError>());
    QVERIFY(!QFileInfo::exists(fixture.activeFile()));
    QVERIFY(fixture.synchronize());
    QCOMPARE(readFile(fixture.activeFile()), retainedBytes);

    // Replacing an unchanged active file: it is gone when the copy fails, and the next
    // synchronisation brings it back from the retained cache.
    RetainedFixture replacing;
    writeFile(replacing.oldFile(), retainedBytes);
    writeFile(replacing.activeFile(), activeBytes);
    replacing.baseline.insert(imagePath, referenceSha256(activeBytes));
    replacing.fileManager->failOperation(
        FileOperation::Write, ENOSPC, QStringLiteral("/Cache/"), 1);
    Result<IngestCacheMigrationReconciliation> full = replacing.synchronize();
    QVERIFY(!full);
    QVERIFY(MigrationFixture::ingestCacheError<IngestCacheError::VerificationFailed>(full.error()));
    const Error *cause = full.error().cause();
    QVERIFY(cause);
    QCOMPARE(MigrationFixture::fileSystemCode(*cause), ENOSPC);
    QCOMPARE(readFile(replacing.oldFile()), retainedBytes);
    Result<IngestCacheMigrationReconciliation> recovered = replacing.synchronize();
    QVERIFY(recovered);
    QCOMPARE(recovered->synchronizedFileCount, 1);
    QCOMPARE(readFile(replacing.activeFile()), retainedBytes);
}

void RetainedCacheTests::listingAndHashingFailuresAreReported()
{
    RetainedFixture fixture;
    writeFile(fixture.oldFile(), retainedBytes);
    writeFile(fixture.activeFile(), activeBytes);
    QVERIFY(QFile::link(fixture.oldFile(), fixture.oldFile(QStringLiteral("2024/link.CR3"))));
    Result<IngestCacheMigrationReconciliation> linked = fixture.synchronize();
    QVERIFY(!linked);
    const auto *unsupported
        = MigrationFixture::ingestCacheError<IngestCacheError::UnsupportedMigrationItem>(
            linked.error());
    QVERIFY(unsupported);
    QCOMPARE(unsupported->relativePath, QStringLiteral("2024/link.CR3"));
    QVERIFY(fixture.remove().error() == linked.error());
    QVERIFY(QFileInfo::exists(fixture.oldFile()));

    QVERIFY(QFile::remove(fixture.oldFile(QStringLiteral("2024/link.CR3"))));
    auto failing = std::make_shared<FailingContentHasher>(
        QStringLiteral("/OldCache/"), Error(FileSystemError{QStringLiteral("read"), {}, EIO}));
    Result<IngestCacheMigrationReconciliation> unreadable
        = fixture.migrator({}, failing).synchronizeRetainedCache(fixture.old, {});
    QVERIFY(!unreadable);
    QCOMPARE(MigrationFixture::fileSystemCode(unreadable.error()), EIO);
    // The retained file is hashed first: the active one was never read.
    QCOMPARE(failing->hashedPaths(), QStringList{fixture.oldFile()});
}

void RetainedCacheTests::stoppedCopiesAreCancellationsAndLoseNothing_data()
{
    // Which operation copies a retained version over, stopped as its copy writes.
    QTest::addColumn<QString>("operation");
    for (const char *operation : {"copy back", "replace", "keep old", "keep new", "keep both"})
        QTest::addRow("%s", operation) << QString::fromLatin1(operation);
}

void RetainedCacheTests::stoppedCopiesAreCancellationsAndLoseNothing()
{
    QFETCH(QString, operation);
    // Big enough that the copy looks at the stop request between its chunks.
    const QByteArray oldBig = patternBytes(3 * 1024 * 1024, 21);
    const QByteArray activeBig = patternBytes(3 * 1024 * 1024 + 5, 22);
    RetainedFixture fixture;
    writeFile(fixture.oldFile(), oldBig);
    if (operation != QLatin1String("copy back"))
        writeFile(fixture.activeFile(), activeBig);
    if (operation == QLatin1String("replace"))
        fixture.baseline.insert(imagePath, referenceSha256(activeBig));
    const IngestCacheMigrationConflict conflict{imagePath, fixture.oldFile(), fixture.activeFile()};

    StopAtCheckpoint stop(1);
    fixture.fileManager->beforeOperation(FileOperation::Write,
                                         QStringLiteral(".pellwick-partial"),
                                         [&](const QString &) { stop.checkpoint(); });
    const IngestCacheMigrator migrator = fixture.migrator({}, {}, stop.token());
    const Result<void> stopped = stop.run([&]() -> Result<void> {
        if (operation == QLatin1String("keep old"))
            return migrator.resolveRetainedCacheConflict(conflict, Resolution::KeepOld);
        if (operation == QLatin1String("keep new"))
            return migrator.resolveRetainedCacheConflict(conflict, Resolution::KeepNew);
        if (operation == QLatin1String("keep both"))
            return migrator.resolveRetainedCacheConflict(conflict, Resolution::KeepBoth);
        Result<IngestCacheMigrationReconciliation> synchronized
            = migrator.synchronizeRetainedCache(fixture.old, fixture.baseline);
        if (!synchronized)
            return tl::unexpected<Error>(synchronized.error());
        return {};
    });
    QVERIFY(stop.stopped());
    QVERIFY(!stopped);
    QVERIFY2(stopped.error() == Error(CancellationError{}), qPrintable(describe(stopped.error())));

    // The version to keep is still whole somewhere, and no partial file is left. (A replaced
    // version may be gone: it was the one to be given up.)
    const QMap<QString, QByteArray> left = fileContents(fixture.directory.path());
    for (auto it = left.cbegin(); it != left.cend(); ++it)
        QVERIFY2(!it.key().endsWith(QLatin1String(".pellwick-partial")), qPrintable(it.key()));
    QVERIFY(left.values().contains(operation == QLatin1String("keep new") ? activeBig : oldBig));
    if (operation == QLatin1String("keep both"))
        QVERIFY(left.values().contains(activeBig));

    // Once the stop is lifted, the same operation completes.
    const IngestCacheMigrator again = fixture.migrator();
    if (operation == QLatin1String("keep old") || operation == QLatin1String("keep new")) {
        const auto keeping
            = operation == QLatin1String("keep old") ? Resolution::KeepOld : Resolution::KeepNew;
        QVERIFY(again.resolveRetainedCacheConflict(conflict, keeping));
    } else if (operation != QLatin1String("keep both")) {
        QVERIFY(again.synchronizeRetainedCache(fixture.old, fixture.baseline));
    }
    if (operation != QLatin1String("keep both")) {
        QCOMPARE(readFile(fixture.activeFile()),
                 operation == QLatin1String("keep new") ? activeBig : oldBig);
        QCOMPARE(readFile(fixture.oldFile()), readFile(fixture.activeFile()));
    }
}

QTEST_GUILESS_MAIN(RetainedCacheTests)

#include "RetainedCacheTests.moc"
