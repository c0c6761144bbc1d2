#pragma once

#include "../Shell/ShellViewModelFixture.h"
#include "SaveGrab.h"

#include <PellwickApp/Stores/RestoreDestinationStore.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Shell/LibraryShellWindow.h>

#include <QCoro/QCoroTimer>
#include <QDir>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <Support/RecordingOperations.h>

namespace Pellwick::Test {

/// Every operation the window's own reactions run, by name, in order, whichever concern runs
/// it. The asynchronous ones finish on a later turn of the event loop and are recorded again as
/// "<name>:done", so a sequence that does not await each step would show up out of order.
struct ShellReactionJournal
{
    QStringList calls;
    std::optional<QString> checkoutURL;
    std::optional<QString> customerPortalURL;

    static QCoro::Task<> laterTurn()
    {
        QTimer timer;
        timer.setSingleShot(true);
        timer.start(0);
        co_await timer;
    }

    static QCoro::Task<> record(std::shared_ptr<ShellReactionJournal> journal, QString name)
    {
        journal->calls.append(name);
        co_await laterTurn();
        journal->calls.append(name + QStringLiteral(":done"));
    }

    static QCoro::Task<std::optional<QString>>
    answer(std::shared_ptr<ShellReactionJournal> journal,
           QString name,
           std::optional<QString> ShellReactionJournal::*field)
    {
        journal->calls.append(name);
        co_await laterTurn();
        co_return (*journal).*field;
    }
};

class JournalSessionOperations final : public RecordingSessionOperations
{
public:
    explicit JournalSessionOperations(std::shared_ptr<ShellReactionJournal> journal)
        : m_journal(std::move(journal))
    {}

    QCoro::Task<> refresh() override { return record(QStringLiteral("refresh")); }

    QCoro::Task<> restoreRememberedSession() override
    {
        return record(QStringLiteral("restoreRememberedSession"));
    }

    QCoro::Task<> refreshVerification() override
    {
        return record(QStringLiteral("refreshVerification"));
    }

    QCoro::Task<> refreshLibrary() override { return record(QStringLiteral("refreshLibrary")); }

    QCoro::Task<std::optional<QString>> checkoutURL() override
    {
        return ShellReactionJournal::answer(
            m_journal, QStringLiteral("checkoutURL"), &ShellReactionJournal::checkoutURL);
    }

    QCoro::Task<std::optional<QString>> customerPortalURL() override
    {
        return ShellReactionJournal::answer(m_journal,
                                            QStringLiteral("customerPortalURL"),
                                            &ShellReactionJournal::customerPortalURL);
    }

private:
    QCoro::Task<> record(QString name) { return ShellReactionJournal::record(m_journal, name); }

    std::shared_ptr<ShellReactionJournal> m_journal;
};

class JournalImportOperations final : public RecordingImportOperations
{
public:
    explicit JournalImportOperations(std::shared_ptr<ShellReactionJournal> journal)
        : m_journal(std::move(journal))
    {}

    QCoro::Task<> refreshSourceMediaSafetyNow() override
    {
        return ShellReactionJournal::record(m_journal,
                                            QStringLiteral("refreshSourceMediaSafetyNow"));
    }

    void receiveMountedImportSource(const std::optional<QString> &url) override
    {
        m_journal->calls.append(QStringLiteral("mounted:") + url.value_or(QStringLiteral("none")));
    }

    void receiveUnmountedImportSource(const std::optional<QString> &url) override
    {
        m_journal->calls.append(QStringLiteral("unmounted:")
                                + url.value_or(QStringLiteral("none")));
    }

    void acceptMountProposal() override
    {
        m_journal->calls.append(QStringLiteral("acceptMountProposal"));
    }

    void dismissMountProposal() override
    {
        m_journal->calls.append(QStringLiteral("dismissMountProposal"));
    }

private:
    std::shared_ptr<ShellReactionJournal> m_journal;
};

class JournalIngestCacheOperations final : public RecordingIngestCacheOperations
{
public:
    explicit JournalIngestCacheOperations(std::shared_ptr<ShellReactionJournal> journal)
        : m_journal(std::move(journal))
    {}

    void scheduleUserManagedIngestCacheRefresh() override
    {
        m_journal->calls.append(QStringLiteral("scheduleUserManagedIngestCacheRefresh"));
    }

private:
    std::shared_ptr<ShellReactionJournal> m_journal;
};

class JournalRestoreOperations final : public RecordingRestoreOperations
{
public:
    explicit JournalRestoreOperations(std::shared_ptr<ShellReactionJournal> journal)
        : m_journal(std::move(journal))
    {}

    QCoro::Task<> refreshActiveRestoreRequest() override
    {
        return ShellReactionJournal::record(m_journal,
                                            QStringLiteral("refreshActiveRestoreRequest"));
    }

    void updateRestorePolling(const std::optional<RestoreRequest> & /*request*/) override
    {
        m_journal->calls.append(QStringLiteral("updateRestorePolling"));
    }

    void cancelRestorePolling() override
    {
        m_journal->calls.append(QStringLiteral("cancelRestorePolling"));
    }

    void setApplicationActive(bool active) override
    {
        m_journal->calls.append(active ? QStringLiteral("active:true")
                                       : QStringLiteral("active:false"));
    }

private:
    std::shared_ptr<ShellReactionJournal> m_journal;
};

class JournalLibraryOperations final : public RecordingLibraryOperations
{
public:
    explicit JournalLibraryOperations(std::shared_ptr<ShellReactionJournal> journal)
        : m_journal(std::move(journal))
    {}

    QCoro::Task<> checkDataFolders() override
    {
        return ShellReactionJournal::record(m_journal, QStringLiteral("checkDataFolders"));
    }

private:
    std::shared_ptr<ShellReactionJournal> m_journal;
};

/// A session as a sign-in would publish it.
inline AuthenticatedLibrarySession signedInSession()
{
    AuthenticatedLibrarySession session;
    session.token = QStringLiteral("token-1");
    session.user.email = QStringLiteral("ada@example.test");
    return session;
}

/// A window over a fresh view model whose own reactions are recorded in `recorded` (the pages
/// run the view model's workflows); the session client's requests are answered by
/// `sessionBackend`.
struct ShellWindowFixture
{
    ShellViewModelFixture viewModelFixture;
    ScriptedFetch sessionBackend;
    std::shared_ptr<ShellReactionJournal> recorded = std::make_shared<ShellReactionJournal>();
    JournalSessionOperations session{recorded};
    JournalImportOperations imports{recorded};
    JournalIngestCacheOperations ingestCache{recorded};
    JournalRestoreOperations restore{recorded};
    JournalLibraryOperations library{recorded};
    std::unique_ptr<LibraryShellWindow> window;

    explicit ShellWindowFixture(ShellSection initialSection = ShellSection::Overview)
    {
        PellwickControlStyles::install();
        viewModelFixture.sessionFetch = sessionBackend.function();
        std::unique_ptr<LibraryShellViewModel> viewModel = viewModelFixture.make();
        window = std::make_unique<LibraryShellWindow>(
            viewModel.release(), RestoreDestinationStore::nonPersistent(), initialSection);
        window->setReactionOperations({&session, &imports, &ingestCache, &restore, &library});
    }

    LibraryShellViewModel &viewModel() const { return window->viewModel(); }

    template<typename T>
    T *find(const QString &name) const
    {
        return window->findChild<T *>(name);
    }
};

} // namespace Pellwick::Test
