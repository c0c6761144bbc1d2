#include "ScriptedFetch.h"

#include <QMutex>
#include <QMutexLocker>
#include <QQueue>
#include <QWaitCondition>

namespace Pellwick::Test {

struct ScriptedFetch::State
{
    QMutex mutex;
    QWaitCondition released;
    QQueue<Result<HttpResponse>> outcomes;
    QQueue<bool> held;
    QList<HttpRequest> requests;
    int waiting = 0;
    int releases = 0;

    void enqueue(Result<HttpResponse> outcome, bool isHeld = false)
    {
        QMutexLocker lock(&mutex);
        outcomes.enqueue(std::move(outcome));
        held.enqueue(isHeld);
    }

    Result<HttpResponse> answer(const HttpRequest &request)
    {
        QMutexLocker lock(&mutex);
        requests.append(request);
        if (outcomes.isEmpty()) {
            return failure(TransportError{0, false, false, QStringLiteral("unscripted request")});
        }
        Result<HttpResponse> outcome = outcomes.dequeue();
        if (held.dequeue()) {
            ++waiting;
            while (releases == 0)
                released.wait(&mutex);
            --releases;
            --waiting;
        }
        return outcome;
    }
};

ScriptedFetch::ScriptedFetch()
    : m_state(std::make_shared<State>())
{}

ScriptedFetch &ScriptedFetch::reply(int status, const QByteArray &body)
{
    m_state->enqueue(HttpResponse::http(status, body));
    return *this;
}

ScriptedFetch &ScriptedFetch::replyNotHttp()
{
    m_state->enqueue(HttpResponse::notHttp());
    return *this;
}

ScriptedFetch &ScriptedFetch::fail(const Error &error)
{
    m_state->enqueue(tl::unexpected<Error>(error));
    return *this;
}

ScriptedFetch &ScriptedFetch::replyWhenReleased(int status, const QByteArray &body)
{
    m_state->enqueue(HttpResponse::http(status, body), true);
    return *this;
}

void ScriptedFetch::release()
{
    QMutexLocker lock(&m_state->mutex);
    ++m_state->releases;
    m_state->released.wakeAll();
}

int ScriptedFetch::waitingCount() const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->waiting;
}

HttpFetch ScriptedFetch::function() const
{
    return [state = m_state](const HttpRequest &request, std::stop_token) {
        return state->answer(request);
    };
}

UrlFetch ScriptedFetch::urlFunction() const
{
    return [state = m_state](const QString &url, std::stop_token) {
        HttpRequest request;
        request.url = url;
        return state->answer(request);
    };
}

QList<HttpRequest> ScriptedFetch::requests() const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->requests;
}

HttpRequest ScriptedFetch::onlyRequest() const
{
    const QList<HttpRequest> all = requests();
    if (all.size() != 1)
        qFatal("expected exactly one request, got %d", int(all.size()));
    return all.first();
}

} // namespace Pellwick::Test
