#pragma once

#include <PellwickApp/Stores/SessionTokenStoring.h>

#include <chrono>

namespace Pellwick {

/// The token as one item of the desktop's Secret Service (through QtKeychain): the item named by
/// `service` and `account` holds the token's UTF-8 bytes. Nothing is cached and nothing is ever
/// written anywhere else (no plain-text fallback). Every failure is silent: an absent or locked
/// Secret Service, or one that does not answer within `timeout`, loads as no token and makes
/// `save` and `remove` do nothing more than they managed. Stored bytes that are not valid UTF-8
/// load as no token.
///
/// QtKeychain works asynchronously; every operation runs to completion on one keychain thread of
/// the process with its own event loop, while the calling thread waits at most `timeout`.
/// Operations keep the order in which they were asked for. Each call blocks its thread while the
/// keychain works, so the application calls it off the main thread.
class SessionTokenStore final : public SessionTokenStoring
{
public:
    /// The production item: the application identifier + ".session", account "current-user".
    SessionTokenStore();
    SessionTokenStore(QString service,
                      QString account,
                      std::chrono::milliseconds timeout = defaultTimeout);

    static constexpr std::chrono::milliseconds defaultTimeout = std::chrono::seconds(20);

    static QString defaultService();
    static QString defaultAccount();

    const QString &service() const { return m_service; }

    const QString &account() const { return m_account; }

    std::optional<QString> load() const override;
    /// Deletes the item, then writes the new one: when the write fails no token is stored at all.
    void save(const QString &token) const override;
    void remove() const override;

private:
    QString m_service;
    QString m_account;
    std::chrono::milliseconds m_timeout;
};

} // namespace Pellwick
