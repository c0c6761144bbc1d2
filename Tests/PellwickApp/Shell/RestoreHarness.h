#pragma once

#include "ManualTimers.h"
#include "ShellViewModelFixture.h"

#include <PellwickCore/Backend/CurlFetch.h>

#include <QCoro/QCoroTask>
#include <QTest>

#include <Support/LibraryFixtures.h>
#include <Support/TestBackend/TestBackend.h>

namespace QTest {
template<>
inline char *toString(const std::optional<QString> &text)
{
    return text ? QTest::toString(*text) : qstrdup("none");
}
} // namespace QTest

namespace Pellwick::Test {

/// A signed-in view model over the real curl client, coordinator and store, against a
/// `TestBackend` account holding `itemCount` archived RAW originals, each with its Verified
/// Backup record in the Local Library Cache. Its timers and steady clock move only by hand.
struct RestoreHarness
{
    static inline const QString email = QStringLiteral("ada@example.test");

    explicit RestoreHarness(int itemCount = 2,
                            qint64 itemBytes = 1000,
                            CurlFetch::Options fetchOptions = {})
    {
        TestBackend::Account account;
        account.email = email;
        backend.addAccount(account);
        token = backend.issueToken(email);
        for (int n = 1; n <= itemCount; ++n) {
            const QString name = QStringLiteral("IMG_%1.CR3").arg(n, 4, 10, QLatin1Char('0'));
            const QByteArray content(itemBytes, char('a' + n));
            const TestBackend::LibraryItem archived
                = backend.addArchivedItem(email, {name, content});
            LocalLibraryItem record = minimalLibraryItem(n);
            record.canonicalFilename = archived.canonicalFilename;
            record.contentHash = archived.contentHash;
            record.importStatus = LibraryItemImportStatus::VerifiedBackup;
            record.backendLibraryItemID = archived.id;
            record.archiveByteCount = itemBytes;
            records.append(record);
        }
        QVERIFY(fixture.library.writeItems(records));
        fixture.backendURL = backend.baseURL();
        fixture.sessionFetch = CurlFetch(fetchOptions);
        fixture.timers = timers.factory();
        fixture.steadyClock
            = [this] { return std::chrono::steady_clock::time_point(timers.now()); };
        model = fixture.make();
        model->sessionState().setSession(
            AuthenticatedLibrarySession{token, LibraryUser{1, email, {}}, {}});
    }

    RestoreState &restore() const { return model->restoreState(); }

    void selectAll() const
    {
        QSet<QUuid> ids;
        for (const LocalLibraryItem &record : records)
            ids.insert(record.id);
        model->libraryState().setSelectedLibraryItemIDs(ids);
    }

    /// Creates a Restore Request for every record; its id.
    qint64 createRequest() const
    {
        selectAll();
        QCoro::waitFor(model->requestRestoreForSelection());
        return restore().activeRestoreRequest() ? restore().activeRestoreRequest()->id : -1;
    }

    /// The requests the backend received whose path contains `path`.
    int requestCount(const QByteArray &method, const QByteArray &path) const
    {
        int count = 0;
        for (const RecordedRequest &request : backend.requests())
            count += request.method == method && request.path.contains(path) ? 1 : 0;
        return count;
    }

    TestBackend backend;
    ManualTimers timers;
    ShellViewModelFixture fixture;
    QString token;
    QList<LocalLibraryItem> records;
    std::unique_ptr<LibraryShellViewModel> model;
};

} // namespace Pellwick::Test
