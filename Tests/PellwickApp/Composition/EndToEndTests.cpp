#include "../../DevelopmentBackend/DevelopmentBackend.h"
#include "../../DevelopmentBackend/DevelopmentBackendProcess.h"
#include "../Shell/ManualTimers.h"
#include "../Views/SaveGrab.h"
#include "../Views/ScriptedFolderChooser.h"
#include "IsolatedAppEnvironment.h"
#include "WindowDriving.h"
#include "XvfbLaunchScript.h"

#include <PellwickApp/Composition/AppComposition.h>
#include <PellwickApp/Composition/AppConfiguration.h>
#include <PellwickApp/Shell/LibraryShellViewModel.h>
#include <PellwickApp/Shell/MountMonitor.h>
#include <PellwickApp/Shell/State/RestoreState.h>
#include <PellwickApp/Shell/State/SessionState.h>
#include <PellwickApp/Views/Shell/LibraryShellWindow.h>
#include <PellwickApp/Workflows/Restore/RestoreWorkflows.h>
#include <PellwickApp/Workflows/Workflow.h>
#include <PellwickCore/Library/LocalLibraryCache.h>

#include <QAbstractItemView>
#include <QDialog>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <Support/LoopDiskImage.h>
#include <Support/MountSystemFixture.h>
#include <Support/PrivateXServer.h>
#include <Support/TestFiles.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

constexpr int waitLimit = 30'000;
const QString password = u"end-to-end-secret"_s;

} // namespace

/// Runs one step of a test; a step that failed ends the test there.
#define STEP(call)                                                                                 \
    do {                                                                                           \
        call;                                                                                      \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

class EndToEndTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void cardToArchiveAndBack();
    void loopMountedCardToArchive();
    void realBinaryRestoresTheSession();

private:
    std::unique_ptr<LibraryShellWindow> makeWindow(const MountInfoSystemPaths &paths);
    bool grab(const QString &step);

    /// The card's files are byte-identical, with the times they had.
    bool sourceUnchanged() const { return snapshot(m_card) == m_cardSnapshot; }

    /// Registers through the signed-out page and signs in.
    void registerAndSignIn();
    void addCardToIngestCache(int files, bool firstRun);
    void importBatch(const QString &folder, int files, const QString &confirmation);
    /// The card's RAW originals and sidecars are verified backups among `verified` in all.
    void verifyArchived(int verified);
    void restoreWithConflicts();
    /// The SHA-256 of each of the card's files with one of `suffixes`, by relative path.
    QMap<QString, QString> cardHashes(const QStringList &suffixes) const;
    void selectInFinder(const QString &text);
    void goTo(const QString &section);
    QStringList requestLogLines() const;

    QTemporaryDir m_roots;
    std::unique_ptr<DevelopmentBackendProcess> m_backend;
    QString m_backendURL;
    QString m_output;
    QString m_card;
    QMap<QString, QString> m_cardSnapshot;
    ManualTimers m_timers;
    std::shared_ptr<ScriptedFolderChooser> m_chooser = std::make_shared<ScriptedFolderChooser>();
    std::unique_ptr<LibraryShellWindow> m_window;
    QString m_tokenFingerprint;
    QString m_grabPrefix;
};

void EndToEndTests::initTestCase()
{
    QVERIFY(m_roots.isValid());
    m_output = QCoreApplication::applicationDirPath() + QStringLiteral("/grabs/end-to-end");
    QDir(m_output).removeRecursively();
    QVERIFY(QDir().mkpath(m_output));
    m_backend = std::make_unique<DevelopmentBackendProcess>(
        QStringLiteral(PELLWICK_DEV_BACKEND_PATH),
        m_roots.filePath(u"backend"_s),
        QStringList{u"--port"_s,
                    u"0"_s,
                    u"--restore-ready-after-ms"_s,
                    u"1000"_s,
                    u"--request-log"_s,
                    m_roots.filePath(u"requests.log"_s)});
    m_backendURL = m_backend->firstLine();
    QVERIFY2(m_backendURL.startsWith(u"http://127.0.0.1:"_s), qPrintable(m_backend->errorOutput()));

    // The window reads its folders, settings and backend from the environment, as the
    // application does; the session token goes to the Secret Service the wrapper started.
    const QProcessEnvironment environment = isolatedAppEnvironment(QUrl(m_backendURL), m_roots);
    for (const char *name : {"PELL_WICK_BACKEND_URL",
                             "PELL_WICK_LOCAL_LIBRARY_CACHE_ROOT",
                             "PELL_WICK_STAGING_AREA_ROOT",
                             "PELL_WICK_RESTORE_TRANSFER_STATE_ROOT",
                             "HOME",
                             "XDG_CONFIG_HOME",
                             "XDG_DATA_HOME"}) {
        qputenv(name, environment.value(QString::fromLatin1(name)).toUtf8());
    }
    for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"})
        QDir().mkpath(qEnvironmentVariable(name));
}

void EndToEndTests::cleanupTestCase()
{
    m_window.reset();
    m_backend.reset();
}

void EndToEndTests::cleanup()
{
    if (QTest::currentTestFailed() && m_window) {
        saveGrab(
            *m_window, u"failed-"_s + QString::fromLatin1(QTest::currentTestFunction()), m_output);
        qInfo("%s", qPrintable(shownTextsEverywhere()));
        qInfo("%s", qPrintable(requestLogLines().join(u'\n')));
        qInfo("%s", qPrintable(m_backend->output() + m_backend->errorOutput()));
    }
    m_window.reset();
}

std::unique_ptr<LibraryShellWindow> EndToEndTests::makeWindow(const MountInfoSystemPaths &paths)
{
    AppSystemServices services;
    services.steadyClock
        = [timers = &m_timers] { return std::chrono::steady_clock::time_point(timers->now()); };
    services.timers = m_timers.factory();
    services.mountInfoPaths = paths;
    services.folderChooser = m_chooser;
    std::unique_ptr<LibraryShellWindow> window
        = AppComposition::makeWindow(AppConfiguration(), services);
    window->resize(1280, 820);
    window->show();
    // The application is active, as when the photographer works in its window.
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window.get()))
        qWarning("the window did not become active");
    return window;
}

bool EndToEndTests::grab(const QString &step)
{
    QDialog *dialog = openDialog();
    const QString name = m_grabPrefix + step;
    return saveGrab(*m_window, name, m_output)
           && (!dialog || saveGrab(*dialog, name + u"-dialog"_s, m_output));
}

void EndToEndTests::registerAndSignIn()
{
    QTRY_VERIFY_WITH_TIMEOUT(shown(u"page.signedOut"_s), waitLimit);
    const QWidget &page = *shown(u"page.signedOut"_s);
    click(page, u"registration.open"_s);
    const auto type = [&page](const QString &label, const QString &text) {
        auto *field = qobject_cast<QLineEdit *>(shownControl(page, label));
        QVERIFY2(field, qPrintable(label));
        QTest::keyClicks(field, text);
    };
    type(u"Email"_s, u"ada@example.test"_s);
    type(u"Password"_s, password);
    type(u"Confirm password"_s, password);
    click(page, u"registration.submit"_s);
    // The development backend verifies new accounts at once.
    QTRY_VERIFY_WITH_TIMEOUT(shown(u"signed-out.verification"_s), waitLimit);
    QVERIFY(grab(u"1-registered"_s));
    click(page, u"I verified my email"_s);
    QTRY_VERIFY_WITH_TIMEOUT(!shown(u"page.signedOut"_s), waitLimit);
    QTRY_VERIFY_WITH_TIMEOUT(showing(u"ada@example.test"_s), waitLimit);
}

void EndToEndTests::goTo(const QString &section)
{
    auto *list = shown<QAbstractItemView>(u"sidebar.list"_s);
    QVERIFY(list);
    const QModelIndexList rows = list->model()->match(
        list->model()->index(0, 0), Qt::DisplayRole, section, 1, Qt::MatchExactly);
    QVERIFY2(!rows.isEmpty(), qPrintable(section));
    QTest::mouseClick(
        list->viewport(), Qt::LeftButton, {}, list->visualRect(rows.first()).center());
}

void EndToEndTests::selectInFinder(const QString &text)
{
    QAbstractItemView *finder = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT(
        (finder = shown<QAbstractItemView>(u"local-library-cache.usable-content"_s)), waitLimit);
    QModelIndexList rows;
    QTRY_VERIFY_WITH_TIMEOUT(!(rows = finder->model()->match(finder->model()->index(0, 0),
                                                             Qt::DisplayRole,
                                                             text,
                                                             1,
                                                             Qt::MatchExactly | Qt::MatchRecursive))
                                  .isEmpty(),
                             waitLimit);
    finder->scrollTo(rows.first());
    const QPoint row = finder->visualRect(rows.first()).center();
    // A row still highlighted from before may offer no items any more: clicked afresh.
    if (finder->selectionModel()->isSelected(rows.first()))
        QTest::mouseClick(finder->viewport(), Qt::LeftButton, Qt::ControlModifier, row);
    QTest::mouseClick(finder->viewport(), Qt::LeftButton, {}, row);
}

void EndToEndTests::addCardToIngestCache(int files, bool firstRun)
{
    // The card appears in the mount table; the banner proposes it.
    m_window->findChild<MountMonitor *>()->mountTableChanged();
    QTRY_VERIFY_WITH_TIMEOUT(shown(u"mount-proposal"_s), waitLimit);
    QVERIFY(showing(u"New media detected: "_s));
    QVERIFY(grab(u"2-card-detected"_s));
    shown<QAbstractButton>(u"mount-proposal.review"_s)->click();
    QTRY_VERIFY_WITH_TIMEOUT(shown(u"page.importReview"_s), waitLimit);
    QTRY_VERIFY_WITH_TIMEOUT(shown<QAbstractButton>(u"importReview.confirm"_s)
                                 && shown<QAbstractButton>(u"importReview.confirm"_s)->isEnabled(),
                             waitLimit);
    QVERIFY(showing(u"%1 RAW Original"_s.arg(files)));
    QVERIFY(grab(u"2-import-review"_s));
    QVERIFY(sourceUnchanged());

    shown<QAbstractButton>(u"importReview.confirm"_s)->click();
    if (firstRun) {
        QTRY_VERIFY_WITH_TIMEOUT(shown(u"importReview.createIngestCache"_s), waitLimit);
        QVERIFY(grab(u"3-create-ingest-cache"_s));
        shown<QAbstractButton>(u"importReview.createIngestCache.createHere"_s)->click();
    }
    const QString added = u"Added %1 files to Ingest Cache"_s.arg(files);
    QTRY_VERIFY2_WITH_TIMEOUT(showing(added), qPrintable(shownTextsEverywhere()), waitLimit);
    QVERIFY(grab(u"3-added-to-ingest-cache"_s));
    QVERIFY(sourceUnchanged());
}

void EndToEndTests::importBatch(const QString &folder, int files, const QString &confirmation)
{
    STEP(goTo(u"Library"_s));
    QTRY_VERIFY_WITH_TIMEOUT(shown(u"page.localLibraryCache"_s), waitLimit);
    STEP(selectInFinder(folder));
    auto *start = shown<QAbstractButton>(u"local-library-cache.start-import"_s);
    QTRY_VERIFY_WITH_TIMEOUT(start->isEnabled(), waitLimit);
    const QAbstractItemModel &finder
        = *shown<QAbstractItemView>(u"local-library-cache.usable-content"_s)->model();
    QCOMPARE(rowsWithStatus(finder, u"Local Cache \u2014 Ready to Import"_s, {}), files);
    QVERIFY(grab(u"4-library-ready-to-import"_s));
    start->click();
    QTRY_VERIFY_WITH_TIMEOUT(shown(u"local-library-cache.import-confirmation"_s), waitLimit);
    QVERIFY(grab(u"4-start-import"_s));
    QDialog *dialog = openDialog();
    QCOMPARE(dialog->windowTitle(), u"Start Import?"_s);
    QCOMPARE(dialog->findChild<QLabel *>(u"message"_s)->text(), confirmation);
    click(*dialog, u"confirm"_s);
    // The outcome is told on the Overview page.
    STEP(goTo(u"Overview"_s));
    const QString archived = u"%1 files safely archived; cache cleanup complete"_s.arg(files);
    QTRY_VERIFY2_WITH_TIMEOUT(showing(archived), qPrintable(shownTextsEverywhere()), waitLimit);
    QVERIFY(grab(u"4-archived"_s));
    QVERIFY(sourceUnchanged());
}

QMap<QString, QString> EndToEndTests::cardHashes(const QStringList &suffixes) const
{
    QMap<QString, QString> hashes;
    QDirIterator it(m_card + u"/DCIM"_s, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (suffixes.contains(QFileInfo(path).suffix(), Qt::CaseInsensitive))
            hashes.insert(QDir(m_card).relativeFilePath(path), sha256(path));
    }
    return hashes;
}

void EndToEndTests::verifyArchived(int verified)
{
    // The backend holds the card's RAW originals and sidecars as verified backups: it checked
    // every assembled object against the announced SHA-256 when it finalized.
    QFile stateFile(DevelopmentBackend::stateFile(m_roots.filePath(u"backend"_s)));
    QVERIFY(stateFile.open(QIODevice::ReadOnly));
    QStringList rawHashes;
    QStringList sidecarHashes;
    for (const QJsonValue stored :
         QJsonDocument::fromJson(stateFile.readAll())[u"items"_s].toArray()) {
        const QJsonObject item = stored[u"item"_s].toObject();
        if (item[u"import_status"_s].toString() != u"verified_backup")
            continue;
        rawHashes.append(item[u"content_hash"_s].toString());
        if (!item[u"sidecar_content_hash"_s].isNull())
            sidecarHashes.append(item[u"sidecar_content_hash"_s].toString());
    }
    QCOMPARE(rawHashes.size(), verified);
    for (const QString &hash : cardHashes({u"DNG"_s, u"CR2"_s}))
        QVERIFY(rawHashes.contains(hash));
    for (const QString &hash : cardHashes({u"xmp"_s}))
        QVERIFY(sidecarHashes.contains(hash));
    // The shared sidecar was archived with both RAW originals of its pair.
    const QString shared = sha256(m_card + u"/DCIM/100TEST/IMG_0007.xmp"_s);
    QVERIFY(shared.isEmpty() || sidecarHashes.count(shared) == 2);
    // The cached packages are gone.
    QDirIterator cached(AppConfiguration().ingestCacheURL(),
                        QDir::Files | QDir::Hidden,
                        QDirIterator::Subdirectories);
    while (cached.hasNext()) {
        const QString path = cached.next();
        QVERIFY2(!QStringList({u"DNG"_s, u"CR2"_s, u"xmp"_s}).contains(QFileInfo(path).suffix()),
                 qPrintable(path));
    }
}

void EndToEndTests::restoreWithConflicts()
{
    STEP(goTo(u"Library"_s));
    STEP(selectInFinder(u"100TEST"_s));
    auto *restore = shown<QAbstractButton>(u"local-library-cache.restore-selected"_s);
    QTRY_VERIFY_WITH_TIMEOUT(restore->isEnabled(), waitLimit);
    restore->click();
    QTRY_VERIFY_WITH_TIMEOUT(shown(u"page.restore"_s), waitLimit);
    auto *request = shown<QAbstractButton>(u"restore.request-selected"_s);
    QTRY_VERIFY_WITH_TIMEOUT(request->isEnabled(), waitLimit);
    QVERIFY(grab(u"5-restore-selected"_s));
    request->click();
    QTRY_VERIFY_WITH_TIMEOUT(openDialog(), waitLimit);
    QVERIFY(grab(u"5-restore-request"_s));
    click(*openDialog(), u"Start Restore Request"_s);
    QTRY_VERIFY2_WITH_TIMEOUT(
        showing(u"Restore preparing"_s), qPrintable(shownTextsEverywhere()), waitLimit);
    QVERIFY(grab(u"5-restore-preparing"_s));
    // Focus comes back to the window once the dialog is gone (the offscreen platform leaves
    // the application inactive until asked); polling runs while the application is active.
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    QTRY_VERIFY_WITH_TIMEOUT(m_window->viewModel().restoreWorkflows().restorePollingTask(),
                             waitLimit);

    // The backend readies the request after its short delay; the polling waits on the
    // workflow clock, which the test moves on until the request is ready.
    auto *transfer = shown<QAbstractButton>(u"restore.start-transfer"_s);
    QTRY_VERIFY2_WITH_TIMEOUT((m_timers.advance(std::chrono::seconds(5)), transfer->isEnabled()),
                              qPrintable(shownTextsEverywhere()),
                              waitLimit);
    QVERIFY(grab(u"5-restore-ready"_s));

    // The destination already holds a file named as the first item.
    const RestoreState &state = m_window->viewModel().restoreState();
    const QString first = state.activeRestoreRequest()->items.value(0).canonicalFilename;
    const QString destination = m_roots.filePath(u"restored"_s);
    writeFile(destination + u'/' + first, "kept by the photographer");
    transfer->click();
    QTRY_COMPARE_WITH_TIMEOUT(m_chooser->pendingCount(), 1, waitLimit);
    m_chooser->answer(destination);

    // The conflict stops the run with a suggested "-restored" name, confirmed as offered. The
    // shared sidecar takes the name of each RAW original, so it conflicts with nothing.
    QTRY_VERIFY2_WITH_TIMEOUT(
        shown(u"restore.filename-prompt"_s), qPrintable(shownTextsEverywhere()), waitLimit);
    auto *prompt = shown<QDialog>(u"restore.filename-prompt"_s);
    QCOMPARE(state.restoreFilenameConflict()->existingFilename, first);
    const QString suggested = shown<QLineEdit>(u"restore.conflict-filename"_s)->text();
    QVERIFY2(suggested.contains(u"-restored"_s), qPrintable(suggested));
    QVERIFY(showing(first + u" already exists at the destination."_s));
    QVERIFY(grab(u"6-filename-conflict"_s));
    click(*prompt, u"Restore"_s);
    QTRY_VERIFY2_WITH_TIMEOUT(showing(u"Restore complete: 13 item(s) saved"_s),
                              qPrintable(shownTextsEverywhere()),
                              waitLimit);
    QVERIFY(grab(u"6-restore-complete"_s));

    // Every saved file is one of the card's, the photographer's file is untouched, and both
    // RAW originals of the pair got the shared sidecar under names of their own.
    QCOMPARE(readFile(destination + u'/' + first), QByteArray("kept by the photographer"));
    QStringList saved;
    QDirIterator it(destination, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (QFileInfo(path).fileName() != first)
            saved.append(sha256(path));
    }
    const QStringList card = cardHashes({u"DNG"_s, u"CR2"_s, u"xmp"_s}).values();
    for (const QString &hash : std::as_const(saved))
        QVERIFY(card.contains(hash));
    QCOMPARE(saved.size(), 13 + 10); // the shared sidecar twice
    QCOMPARE(saved.count(sha256(m_card + u"/DCIM/100TEST/IMG_0007.xmp"_s)), 2);

    // The library knows when each photo was taken, the RAW originals came back under their
    // canonical names, and no staged copy is left behind.
    const QList<LocalLibraryItem> items
        = LocalLibraryCache(AppConfiguration().localLibraryCacheURL(),
                            std::make_shared<LocalFileManager>())
              .readItems()
              .value();
    QCOMPARE(items.size(), 13);
    for (const LocalLibraryItem &item : items)
        QVERIFY2(item.metadata.captureTime.knownDate(), qPrintable(item.originalFilename));
    const QRegularExpression canonical(u"^20240517-103015_pw-1_img_\\d{4}_[0-9a-f]{12}"_s);
    QDirIterator raws(destination, {u"*.dng"_s, u"*.cr2"_s, u"*.DNG"_s, u"*.CR2"_s}, QDir::Files);
    int restoredRaws = 0;
    while (raws.hasNext()) {
        const QString name = QFileInfo(raws.next()).fileName();
        QVERIFY2(canonical.match(name).hasMatch(), qPrintable(name));
        restoredRaws += name == first ? 0 : 1;
    }
    QCOMPARE(restoredRaws, 13);
    // Each sidecar lies beside its RAW original under the same stem, where editors look for it.
    QDirIterator sidecars(destination, {u"*.xmp"_s}, QDir::Files);
    while (sidecars.hasNext()) {
        const QString stem = QFileInfo(sidecars.next()).completeBaseName();
        QVERIFY2(!QDir(destination).entryList({stem + u".dng"_s, stem + u".cr2"_s}).isEmpty(),
                 qPrintable(stem));
    }
    QCOMPARE(QDir(AppConfiguration().stagingAreaURL())
                 .entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
}

QStringList EndToEndTests::requestLogLines() const
{
    QFile log(m_roots.filePath(u"requests.log"_s));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

void EndToEndTests::cardToArchiveAndBack()
{
    MountSystemFixture system;
    m_card = m_roots.filePath(u"media/PELLCARD"_s);
    writeCard(m_card, u"100TEST"_s, 11, 8, true, 1);
    // A byte copy of a RAW original kept for a second edit, with a sidecar of its own.
    const QString folder = m_card + u"/DCIM/100TEST/"_s;
    writeFile(folder + u"IMG_0012.DNG"_s, readFile(folder + u"IMG_0001.DNG"_s));
    writeFile(folder + u"IMG_0012.xmp"_s, "<x:xmpmeta>second edit</x:xmpmeta>\n");
    m_cardSnapshot = snapshot(m_card);
    system.addBlockDevice(u"254:0"_s, u"pci0000:00/0000:00:05.0/virtio0/block/vda"_s, false, "0");
    system.addBlockDevice(u"179:1"_s,
                          u"platform/soc/fe340000.mmc/mmc_host/mmc0/mmc0:aaaa/block/mmcblk0/"
                          "mmcblk0p1"_s,
                          true,
                          "0");
    system.addDiskLink(u"by-uuid"_s, u"3A1F-0C22"_s, u"mmcblk0p1"_s);
    system.addDiskLink(u"by-label"_s, u"PELLCARD"_s, u"mmcblk0p1"_s);
    const QString root = mountInfoLine(22, u"254:0"_s, u"/"_s, u"ext4"_s, u"/dev/vda"_s);
    system.writeMountInfo(QStringList{root});

    m_window = makeWindow(system.paths());
    STEP(registerAndSignIn());
    m_tokenFingerprint = DevelopmentBackend::tokenFingerprint(
        m_window->viewModel().sessionState().session()->token.toUtf8());
    QVERIFY(grab(u"1-signed-in"_s));

    system.writeMountInfo(
        QStringList{root, mountInfoLine(40, u"179:1"_s, m_card, u"vfat"_s, u"/dev/mmcblk0p1"_s)});
    STEP(addCardToIngestCache(13, true));
    STEP(
        importBatch(u"100TEST"_s, 13, u"13 packages, 70.9 KB. 4.7 GB archive capacity remains."_s));
    STEP(verifyArchived(13));
    STEP(restoreWithConflicts());
    QVERIFY(sourceUnchanged());
}

void EndToEndTests::loopMountedCardToArchive()
{
    if (::geteuid() != 0 || QStandardPaths::findExecutable(u"losetup"_s).isEmpty())
        QSKIP("a real card needs the administrator and losetup");
    // The mount is the system's own (a private mount namespace would hold only this thread,
    // not the workers that scan and copy); it is removed by name in every outcome.
    const QString imagePath = m_roots.filePath(u"card.img"_s);
    const std::unique_ptr<LoopDiskImage> image = LoopDiskImage::create(imagePath);
    const auto removeImage = qScopeGuard([&imagePath] { QFile::remove(imagePath); });
    if (!image)
        QSKIP("no disk image could be attached to a loop device");
    m_grabPrefix = u"loop-"_s;
    m_window = makeWindow({});
    // The session kept by the first run is restored.
    QTRY_VERIFY_WITH_TIMEOUT(showing(u"ada@example.test"_s), waitLimit);

    m_card = m_roots.filePath(u"LOOPCARD"_s);
    const QByteArray target = QFile::encodeName(m_card);
    QVERIFY(QDir().mkpath(m_card));
    if (::mount(QFile::encodeName(image->device()).constData(),
                target.constData(),
                image->type().constData(),
                0,
                nullptr)
        != 0) {
        QSKIP("the image could not be mounted");
    }
    const auto unmount = qScopeGuard([&target] { ::umount2(target.constData(), MNT_DETACH); });
    writeCard(m_card, u"101LOOP"_s, 2, 1, false, 2);
    m_cardSnapshot = snapshot(m_card);
    STEP(addCardToIngestCache(2, false));
    STEP(importBatch(u"101LOOP"_s, 2, u"2 packages, 10.9 KB. 4.7 GB archive capacity remains."_s));
    STEP(verifyArchived(15));
    QVERIFY(sourceUnchanged());
}

void EndToEndTests::realBinaryRestoresTheSession()
{
    QVERIFY2(!m_tokenFingerprint.isEmpty(), "the window road signed in no one");
    const QString screenshot = QDir(m_output).filePath(u"7-relaunched-under-xvfb.png"_s);
    const QString log = m_roots.filePath(u"requests.log"_s);
    const qsizetype before = requestLogLines().size();

    // The same folders, settings and keychain session as the window road; only the screen is
    // another one.
    QProcessEnvironment environment = isolatedAppEnvironment(QUrl(m_backendURL), m_roots);
    for (const char *name : {"PELL_WICK_USE_NON_PERSISTENT_SESSION_TOKEN_STORE",
                             "PELL_WICK_USE_NON_PERSISTENT_INGEST_CACHE_LOCATION_STORE",
                             "PELL_WICK_INGEST_CACHE_ROOT",
                             "QT_QPA_PLATFORM"}) {
        environment.remove(QString::fromLatin1(name));
    }
    environment.insert(u"PELLWICK_BINARY"_s, QStringLiteral(PELLWICK_APP_PATH));
    environment.insert(u"SCREENSHOT"_s, screenshot);
    environment.insert(u"WAIT_FOR_LINE"_s, u"GET /api/library token="_s + m_tokenFingerprint);
    environment.insert(u"WAIT_IN_FILE"_s, log);

    QProcess launch;
    launch.setProcessEnvironment(environment);
    launch.setProcessChannelMode(QProcess::MergedChannels);
    // Its own process group, so the server, the script and the application end with it.
    launch.setChildProcessModifier([] { ::setsid(); });
    const auto end = qScopeGuard([&launch] {
        if (launch.state() != QProcess::NotRunning) {
            ::kill(-pid_t(launch.processId()), SIGKILL);
            launch.waitForFinished(10'000);
        }
    });
    if (!startUnderPrivateXServer(launch, {u"bash"_s, u"-c"_s, xvfbLaunchScript}))
        QSKIP("Xvfb is not installed (scripts/install-dependencies installs it)");
    QVERIFY(launch.waitForFinished(90'000));
    const QString output = QString::fromUtf8(launch.readAll());
    QVERIFY2(launch.exitStatus() == QProcess::NormalExit && launch.exitCode() == 0,
             qPrintable(output));
    QVERIFY(QFileInfo(screenshot).size() > 0);

    // The relaunch asked for the library with the kept session and never signed in again.
    const QStringList relaunch = requestLogLines().mid(before);
    QVERIFY2(relaunch.contains(u"GET /api/library token="_s + m_tokenFingerprint),
             qPrintable(relaunch.join(u'\n')));
    for (const QString &line : relaunch)
        QVERIFY2(!line.startsWith(u"POST /api/auth"_s), qPrintable(line));
}

QTEST_MAIN(EndToEndTests)
#include "EndToEndTests.moc"
