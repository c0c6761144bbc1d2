#pragma once

#include <PellwickCore/Backend/HttpFetch.h>

#include <QList>

#include <memory>

namespace Pellwick::Test {

/// A fetch function for unit tests: answers requests, in order, with the outcomes queued by the
/// test and records every request. A request beyond the script fails with a `TransportError`
/// whose message says so. Copies share one script; thread-safe.
class ScriptedFetch
{
public:
    ScriptedFetch();

    /// Queues an HTTP reply.
    ScriptedFetch &reply(int status, const QByteArray &body = {});
    /// Queues a reply that is not an HTTP response.
    ScriptedFetch &replyNotHttp();
    /// Queues a failure of the exchange itself.
    ScriptedFetch &fail(const Error &error);
    /// Queues an HTTP reply that is held back: the request waits on its thread until the test
    /// calls `release()`. Every held reply must be released before the test ends.
    ScriptedFetch &replyWhenReleased(int status, const QByteArray &body = {});
    /// Lets the oldest waiting held reply (or the next one to arrive) go.
    void release();
    /// How many requests wait for `release()` now.
    int waitingCount() const;

    /// The function to inject; it shares this script.
    HttpFetch function() const;
    /// The same script as a URL fetch (a GET of the URL).
    UrlFetch urlFunction() const;

    QList<HttpRequest> requests() const;
    /// The only request so far; fails the test process when there is not exactly one.
    HttpRequest onlyRequest() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace Pellwick::Test
