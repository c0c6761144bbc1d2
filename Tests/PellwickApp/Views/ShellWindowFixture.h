#pragma once

#include "../Shell/ShellViewModelFixture.h"
#include "SaveGrab.h"

#include <PellwickApp/Shell/ShellOperations.h>
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

/// Records every operation the window runs, by name, in order. The asynchronous ones finish on
/// a later turn of the event loop, so a sequence that does not await each step would show up
/// out of order.
class RecordingShellOperations final : public ShellOperations
{
public:
    struct Shared
    {
        QStringList calls;
        std::optional<QString> checkoutURL;
        std::optional<QString> customerPortalURL;
    };

    explicit RecordingShellOperations(std::shared_ptr<Shared> shared)
        : m_shared(std::move(shared))
    {}

    QCoro::Task<> refresh() override { return record(QStringLiteral("refresh")); }

    QCoro::Task<> restoreRememberedSession() override
    {
        return record(QStringLiteral("restoreRememberedSession"));
    }

    QCoro::Task<> refreshActiveRestoreRequest() override
    {
        return record(QStringLiteral("refreshActiveRestoreRequest"));
    }

    QCoro::Task<> refreshVerification() override
    {
        return record(QStringLiteral("refreshVerification"));
    }

    QCoro::Task<> refreshLibrary() override { return record(QStringLiteral("refreshLibrary")); }

    QCoro::Task<std::optional<QString>> checkoutURL() override
    {
        return answer(QStringLiteral("checkoutURL"), m_shared, &Shared::checkoutURL);
    }

    QCoro::Task<std::optional<QString>> customerPortalURL() override
    {
        return answer(QStringLiteral("customerPortalURL"), m_shared, &Shared::customerPortalURL);
    }

    void updateRestorePolling(std::optional<RestoreRequest> /*request*/) override
    {
        m_shared->calls.append(QStringLiteral("updateRestorePolling"));
    }

    void scheduleUserManagedIngestCacheRefresh() override
    {
        m_shared->calls.append(QStringLiteral("scheduleUserManagedIngestCacheRefresh"));
    }

    QCoro::Task<> refreshSourceMediaSafetyNow() override
    {
        return record(QStringLiteral("refreshSourceMediaSafetyNow"));
    }

    void receiveMountedImportSource(std::optional<QString> url) override
    {
        m_shared->calls.append(QStringLiteral("mounted:") + url.value_or(QStringLiteral("none")));
    }

    void receiveUnmountedImportSource(std::optional<QString> url) override
    {
        m_shared->calls.append(QStringLiteral("unmounted:") + url.value_or(QStringLiteral("none")));
    }

    void acceptMountProposal() override
    {
        m_shared->calls.append(QStringLiteral("acceptMountProposal"));
    }

    void dismissMountProposal() override
    {
        m_shared->calls.append(QStringLiteral("dismissMountProposal"));
    }

    void setApplicationActive(bool active) override
    {
        m_shared->calls.append(QStringLiteral("active:")
                               + (active ? QStringLiteral("true") : QStringLiteral("false")));
    }

    void cancelRestorePolling() override
    {
        m_shared->calls.append(QStringLiteral("cancelRestorePolling"));
    }

private:
    /// Records `name` when called and again ("name:done") a turn of the event loop later.
    static QCoro::Task<> record(QString name, std::shared_ptr<Shared> shared)
    {
        shared->calls.append(name);
        QTimer timer;
        timer.setSingleShot(true);
        timer.start(0);
        co_await timer;
        shared->calls.append(name + QStringLiteral(":done"));
    }

    QCoro::Task<> record(const QString &name)
    {
        QString copy = name;
        return record(std::move(copy), m_shared);
    }

    static QCoro::Task<std::optional<QString>>
    answer(QString name, std::shared_ptr<Shared> shared, std::optional<QString> Shared::*field)
    {
        shared->calls.append(name);
        QTimer timer;
        timer.setSingleShot(true);
        timer.start(0);
        co_await timer;
        co_return (*shared).*field;
    }

    std::shared_ptr<Shared> m_shared;
};

/// A session as a sign-in would publish it.
inline AuthenticatedLibrarySession signedInSession()
{
    AuthenticatedLibrarySession session;
    session.token = QStringLiteral("token-1");
    session.user.email = QStringLiteral("ada@example.test");
    return session;
}

/// A window over a fresh view model whose operations are recorded; the session client's
/// requests are answered by `sessionBackend`.
struct ShellWindowFixture
{
    ShellViewModelFixture viewModelFixture;
    ScriptedFetch sessionBackend;
    std::shared_ptr<RecordingShellOperations::Shared> recorded
        = std::make_shared<RecordingShellOperations::Shared>();
    std::unique_ptr<LibraryShellWindow> window;

    explicit ShellWindowFixture(ShellSection initialSection = ShellSection::Overview)
    {
        PellwickControlStyles::install();
        viewModelFixture.sessionFetch = sessionBackend.function();
        std::unique_ptr<LibraryShellViewModel> viewModel = viewModelFixture.make();
        window = std::make_unique<LibraryShellWindow>(
            viewModel.release(),
            std::make_unique<RecordingShellOperations>(recorded),
            RestoreDestinationStore::nonPersistent(),
            initialSection);
    }

    LibraryShellViewModel &viewModel() const { return window->viewModel(); }

    template<typename T>
    T *find(const QString &name) const
    {
        return window->findChild<T *>(name);
    }
};

} // namespace Pellwick::Test
