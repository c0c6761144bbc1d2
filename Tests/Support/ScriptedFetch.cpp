#include "ScriptedFetch.h"

#include <QMutex>
#include <QMutexLocker>
#include <QQueue>

namespace Pellwick::Test {

struct ScriptedFetch::State
{
    QMutex mutex;
    QQueue<Result<HttpResponse>> outcomes;
    QList<HttpRequest> requests;

    Result<HttpResponse> answer(const HttpRequest &request)
    {
        QMutexLocker lock(&mutex);
        requests.append(request);
        if (outcomes.isEmpty()) {
            return failure(TransportError{0, false, false, QStringLiteral("unscripted request")});
        }
        return outcomes.dequeue();
    }
};

ScriptedFetch::ScriptedFetch()
    : m_state(std::make_shared<State>())
{}

ScriptedFetch &ScriptedFetch::reply(int status, const QByteArray &body)
{
    QMutexLocker lock(&m_state->mutex);
    m_state->outcomes.enqueue(HttpResponse::http(status, body));
    return *this;
}

ScriptedFetch &ScriptedFetch::replyNotHttp()
{
    QMutexLocker lock(&m_state->mutex);
    m_state->outcomes.enqueue(HttpResponse::notHttp());
    return *this;
}

ScriptedFetch &ScriptedFetch::fail(const Error &error)
{
    QMutexLocker lock(&m_state->mutex);
    m_state->outcomes.enqueue(tl::unexpected<Error>(error));
    return *this;
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
