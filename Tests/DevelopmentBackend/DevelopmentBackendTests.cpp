#include "DevelopmentBackend.h"

#include "DevelopmentBackendProcess.h"

#include <PellwickCore/Backend/CurlFetch.h>
#include <PellwickCore/Backend/LibrarySessionClient.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

#include <Support/BackendArchiving.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>
#include <Support/TestObjectStore.h>
#include <sys/stat.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

/// The program, started over a state folder, hashing passwords quickly.
class BackendProcess : public DevelopmentBackendProcess
{
public:
    explicit BackendProcess(const QString &stateDirectory, const QStringList &extra = {})
        : DevelopmentBackendProcess(QStringLiteral(PELLWICK_DEV_BACKEND_PATH),
                                    stateDirectory,
                                    QStringList{u"--password-hash-iterations"_s, u"1000"_s} + extra)
    {}
};

/// How the accounts of a state folder came to be, and what happened to them then.
struct KeptPasswordCase
{
    /// The folder starts with a state file that keeps its passwords as typed.
    bool stateFileOfAnEarlierVersion = false;
    /// The password is then changed to this.
    std::optional<QString> changedPassword = std::nullopt;
};

/// The permission bits of the file or folder at `path`.
unsigned mode(const QString &path)
{
    struct stat status
    {};

    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return 0;
    return status.st_mode & 07777U;
}

/// Rewrites the state file as an earlier version wrote it: each account with its password as
/// typed in place of its hash.
void keepPasswordsAsTyped(const QString &file, const QString &password)
{
    QJsonObject state = QJsonDocument::fromJson(readFile(file)).object();
    QJsonArray accounts;
    for (const QJsonValue value : state[u"accounts"_s].toArray()) {
        QJsonObject account = value.toObject();
        account.remove(u"password_hash"_s);
        account.insert(u"password"_s, password);
        accounts.append(account);
    }
    state.insert(u"accounts"_s, accounts);
    writeFile(file, QJsonDocument(state).toJson());
}

LibrarySessionClient client(const QString &url)
{
    return LibrarySessionClient(QUrl(url), CurlFetch());
}

/// Registers `email` and gives the registration's reply: pending verification expected.
bool registersAsPending(const LibrarySessionClient &backend, const QString &email)
{
    const Result<SignInResult> registered
        = backend.registerAccount(email, u"secret-1"_s, u"secret-1"_s);
    return registered
           && std::holds_alternative<SignInResult::PendingVerification>(registered->value);
}

} // namespace

Q_DECLARE_METATYPE(KeptPasswordCase)

class DevelopmentBackendTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void accountsItemsRequestsAndObjectsSurviveARestart();
    void givenPortIsUsedOnLoopback();
    void passwordsAreKeptAsSaltedHashesForTheOwnerOnly_data();
    void passwordsAreKeptAsSaltedHashesForTheOwnerOnly();
    void damagedStateFileIsRefusedWithItsName_data();
    void damagedStateFileIsRefusedWithItsName();
    void objectFilesAreSinglePathComponents_data();
    void objectFilesAreSinglePathComponents();
    void killedWhileSavingRestartsWithAReadableState();
};

void DevelopmentBackendTests::accountsItemsRequestsAndObjectsSurviveARestart()
{
    QTemporaryDir state;
    const QByteArray raw = patternBytes(200'000, 7);
    qint64 itemID = 0;
    qint64 requestID = 0;
    {
        BackendProcess backend(state.path(), {u"--restore-ready-after-ms"_s, u"100"_s});
        const QString url = backend.firstLine();
        QVERIFY(url.startsWith(u"http://127.0.0.1:"_s));
        const LibrarySessionClient api = client(url);

        // The registration answers as the real service does, but needs no e-mail.
        QVERIFY(registersAsPending(api, u"ada@example.test"_s));
        const Result<AuthenticatedLibrarySession> session
            = api.signIn(u"ada@example.test"_s, u"secret-1"_s);
        PELLWICK_VERIFY_SUCCESS(session);
        QTRY_VERIFY(backend.output().contains(u"ada@example.test"_s)
                    && backend.output().contains(u"verified"_s));

        itemID = archiveThroughBackend(api, session->token, raw, u"finalized"_s);
        QVERIFY(itemID > 0);
        const Result<RestoreRequest> created = api.createRestoreRequest(session->token, {itemID});
        PELLWICK_VERIFY_SUCCESS(created);
        requestID = created->id;
        QCOMPARE(created->status, RestoreRequestStatus::Preparing);
        // Announced as it will be, not as a real archive's hours.
        QCOMPARE(created->preparationEstimate, std::optional(u"about 1 second"_s));
        // Ready by itself.
        QTRY_COMPARE_WITH_TIMEOUT(api.restoreRequest(session->token, requestID).value().status,
                                  RestoreRequestStatus::Ready,
                                  10'000);
        QCOMPARE(backend.closeInputAndWait(), 0);
    }

    BackendProcess restarted(state.path());
    const QString url = restarted.firstLine();
    QVERIFY(!url.isEmpty());
    const LibrarySessionClient api = client(url);
    const Result<AuthenticatedLibrarySession> session
        = api.signIn(u"ada@example.test"_s, u"secret-1"_s);
    PELLWICK_VERIFY_SUCCESS(session);
    const Result<QList<RemoteLibraryItem>> items = api.libraryItems(session->token);
    PELLWICK_VERIFY_SUCCESS(items);
    QCOMPARE(items->size(), 1);
    QCOMPARE(items->first().id, itemID);
    const Result<RestoreRequest> request = api.restoreRequest(session->token, requestID);
    PELLWICK_VERIFY_SUCCESS(request);
    QCOMPARE(request->status, RestoreRequestStatus::Ready);

    // The object, read back by a ranged GET.
    const Result<RestoreDownloads> downloads = api.restoreDownloads(session->token, requestID);
    PELLWICK_VERIFY_SUCCESS(downloads);
    QCOMPARE(downloads->downloads.size(), 1);
    HttpRequest ranged;
    ranged.url = downloads->downloads.first().downloadURL;
    ranged.headers.append("Range", "bytes=1000-1999");
    const Result<HttpResponse> part = CurlFetch()(ranged, {});
    PELLWICK_VERIFY_SUCCESS(part);
    QCOMPARE(part->statusCode, std::optional<int>(206));
    QCOMPARE(part->body, raw.mid(1000, 1000));
    QCOMPARE(restarted.closeInputAndWait(), 0);
}

void DevelopmentBackendTests::givenPortIsUsedOnLoopback()
{
    QTemporaryDir state;
    quint16 port = 0;
    {
        BackendProcess first(state.path());
        const QUrl url(first.firstLine());
        QCOMPARE(url.host(), u"127.0.0.1"_s);
        port = static_cast<quint16>(url.port());
        QCOMPARE(first.closeInputAndWait(), 0);
    }
    BackendProcess second(state.path(), {u"--port"_s, QString::number(port)});
    QCOMPARE(second.firstLine(), u"http://127.0.0.1:%1"_s.arg(port));
    QCOMPARE(second.closeInputAndWait(), 0);
}

void DevelopmentBackendTests::passwordsAreKeptAsSaltedHashesForTheOwnerOnly_data()
{
    QTest::addColumn<KeptPasswordCase>("testCase");

    QTest::newRow("registered accounts") << KeptPasswordCase{};
    QTest::newRow("a changed password") << KeptPasswordCase{.changedPassword = u"secret-2"_s};
    QTest::newRow("a state file of an earlier version")
        << KeptPasswordCase{.stateFileOfAnEarlierVersion = true};
}

void DevelopmentBackendTests::passwordsAreKeptAsSaltedHashesForTheOwnerOnly()
{
    QFETCH(KeptPasswordCase, testCase);

    QTemporaryDir root;
    const QString state = root.filePath(u"state"_s);
    const QString file = DevelopmentBackend::stateFile(state);
    const QStringList emails{u"ada@example.test"_s, u"bob@example.test"_s};
    {
        BackendProcess backend(state);
        const LibrarySessionClient api = client(backend.firstLine());
        for (const QString &email : emails)
            QVERIFY(registersAsPending(api, email));
        QCOMPARE(backend.closeInputAndWait(), 0);
    }
    // An earlier version made its folders and files readable by every user.
    const QString objects = QDir(state).filePath(u"objects"_s);
    const QString object = QDir(objects).filePath(u"kept-object"_s);
    if (testCase.stateFileOfAnEarlierVersion) {
        keepPasswordsAsTyped(file, u"secret-1"_s);
        writeFile(object, "kept");
        const QFileDevice::Permissions readable = QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                  | QFileDevice::ReadGroup | QFileDevice::ReadOther;
        const QFileDevice::Permissions entered
            = readable | QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;
        for (const QString &path : {file, object})
            QVERIFY(QFile::setPermissions(path, readable));
        for (const QString &path : {state, objects})
            QVERIFY(QFile::setPermissions(path, entered));
    }
    {
        BackendProcess backend(state);
        const LibrarySessionClient api = client(backend.firstLine());
        const Result<AuthenticatedLibrarySession> session
            = api.signIn(emails.first(), u"secret-1"_s);
        PELLWICK_VERIFY_SUCCESS(session);
        if (testCase.changedPassword) {
            PELLWICK_VERIFY_SUCCESS(api.changePassword(session->token,
                                                       u"secret-1"_s,
                                                       *testCase.changedPassword,
                                                       *testCase.changedPassword));
        }
        QCOMPARE(backend.closeInputAndWait(), 0);
    }

    // No password as typed; a hash of its own salt per account, though both chose the same one.
    const QByteArray saved = readFile(file);
    QVERIFY(!saved.contains("secret-"));
    QSet<QString> salts;
    QSet<QString> hashes;
    for (const QJsonValue account : QJsonDocument::fromJson(saved)[u"accounts"_s].toArray()) {
        QVERIFY(!account.toObject().contains(u"password"_s));
        const QJsonObject kept = account[u"password_hash"_s].toObject();
        QCOMPARE(QByteArray::fromBase64(kept[u"salt"_s].toString().toLatin1()).size(), 16);
        QCOMPARE(QByteArray::fromBase64(kept[u"hash"_s].toString().toLatin1()).size(), 32);
        QCOMPARE(kept[u"iterations"_s].toInt(), 1000);
        salts.insert(kept[u"salt"_s].toString());
        hashes.insert(kept[u"hash"_s].toString());
    }
    QCOMPARE(salts.size(), emails.size());
    QCOMPARE(hashes.size(), emails.size());
    // Only the owner reads the folder and its files.
    QCOMPARE(mode(state), 0700U);
    QCOMPARE(mode(objects), 0700U);
    QCOMPARE(mode(file), 0600U);
    if (testCase.stateFileOfAnEarlierVersion)
        QCOMPARE(mode(object), 0600U);

    // The hashes sign the accounts in after a restart, with nothing else.
    BackendProcess restarted(state);
    const LibrarySessionClient api = client(restarted.firstLine());
    const QString password = testCase.changedPassword.value_or(u"secret-1"_s);
    PELLWICK_VERIFY_SUCCESS(api.signIn(emails.first(), password));
    PELLWICK_VERIFY_SUCCESS(api.signIn(emails.last(), u"secret-1"_s));
    QVERIFY(!api.signIn(emails.first(), password + u'x'));
    QCOMPARE(restarted.closeInputAndWait(), 0);
}

void DevelopmentBackendTests::damagedStateFileIsRefusedWithItsName_data()
{
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("not JSON") << QByteArray("{\"accounts\": [");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("an array") << QByteArray("[]");
    QTest::newRow("accounts of the wrong type")
        << QByteArray(R"({"accounts":5,"sessions":{},"items":[],"reservations":[],)"
                      R"("restore_requests":[],"next_id":1,"next_token":1,"next_upload":1,)"
                      R"("next_billing_session":1,"next_restore_request_id":1})");
    QTest::newRow("a restore status no one knows")
        << QByteArray(R"({"accounts":[],"sessions":{},"items":[],"reservations":[],)"
                      R"("restore_requests":[{"id":1,"email":"a@b","status":"shipping",)"
                      R"("items":[]}],"next_id":1,"next_token":1,"next_upload":1,)"
                      R"("next_billing_session":1,"next_restore_request_id":1})");
}

void DevelopmentBackendTests::damagedStateFileIsRefusedWithItsName()
{
    QFETCH(QByteArray, content);

    QTemporaryDir state;
    const QString file = DevelopmentBackend::stateFile(state.path());
    writeFile(file, content);
    BackendProcess backend(state.path());
    QCOMPARE(backend.firstLine(), QString());
    QVERIFY(backend.process().state() == QProcess::NotRunning
            || backend.process().waitForFinished(10'000));
    QCOMPARE(backend.process().exitCode(), 1);
    QVERIFY2(backend.errorOutput().contains(file), qPrintable(backend.errorOutput()));
    // The user's data is left as it was.
    QFile kept(file);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), content);
}

void DevelopmentBackendTests::objectFilesAreSinglePathComponents_data()
{
    QTest::addColumn<QString>("key");

    QTest::newRow("parts of an upload") << u"upload-1/part-2"_s;
    QTest::newRow("parent folder") << u"../../escaped"_s;
    QTest::newRow("dot") << u"."_s;
    QTest::newRow("dot dot") << u".."_s;
    QTest::newRow("hidden") << u".hidden"_s;
    QTest::newRow("absolute") << u"/etc/passwd"_s;
    QTest::newRow("non-ASCII and spaces") << u"Å folder/ü file"_s;
}

void DevelopmentBackendTests::objectFilesAreSinglePathComponents()
{
    QFETCH(QString, key);

    QTemporaryDir dir;
    const QString objects = dir.filePath(u"objects"_s);
    {
        TestObjectStore store;
        PELLWICK_VERIFY_SUCCESS(store.keepObjectsIn(objects));
        store.putObject(key, "bytes of " + key.toUtf8());
    }
    // Exactly one file, directly in the folder, named without a leading dot.
    const QStringList outside
        = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    QCOMPARE(outside, QStringList{u"objects"_s});
    const QStringList names
        = QDir(objects).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    QCOMPARE(names.size(), 1);
    QVERIFY(!names.first().startsWith(u'.'));
    QVERIFY(!names.first().contains(u'/'));
    // A new store over the folder serves it again.
    TestObjectStore reopened;
    PELLWICK_VERIFY_SUCCESS(reopened.keepObjectsIn(objects));
    QCOMPARE(reopened.object(key), std::optional<QByteArray>("bytes of " + key.toUtf8()));
}

void DevelopmentBackendTests::killedWhileSavingRestartsWithAReadableState()
{
    QTemporaryDir state;
    constexpr int kills = 20;
    QStringList acknowledged;
    for (int run = 0; run < kills; ++run) {
        BackendProcess backend(state.path());
        const QString url = backend.firstLine();
        QVERIFY2(!url.isEmpty(), qPrintable(backend.errorOutput()));
        // Every registration saves the state; register until the kill ends the program.
        std::atomic<bool> stop = false;
        QStringList confirmed;
        std::thread registering([&] {
            const LibrarySessionClient api = client(url);
            for (int index = 0; !stop; ++index) {
                const QString email = u"user-%1-%2@example.test"_s.arg(run).arg(index);
                if (!registersAsPending(api, email))
                    return;
                confirmed.append(email);
            }
        });
        QTest::qWait(int(QRandomGenerator::global()->bounded(5, 60)));
        backend.kill();
        stop = true;
        registering.join();
        acknowledged += confirmed;
    }

    // Every answered registration was saved before it was answered.
    BackendProcess last(state.path());
    const QString url = last.firstLine();
    QVERIFY2(!url.isEmpty(), qPrintable(last.errorOutput()));
    QVERIFY(!acknowledged.isEmpty());
    const LibrarySessionClient api = client(url);
    for (const QString &email : {acknowledged.first(), acknowledged.last()})
        PELLWICK_VERIFY_SUCCESS(api.signIn(email, u"secret-1"_s));
    QCOMPARE(last.closeInputAndWait(), 0);
}

QTEST_GUILESS_MAIN(DevelopmentBackendTests)
#include "DevelopmentBackendTests.moc"
