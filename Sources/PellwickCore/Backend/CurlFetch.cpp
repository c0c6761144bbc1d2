#include "CurlFetch.h"

#include <PellwickCore/Support/CurlTransfer.h>

#include <algorithm>

namespace Pellwick {

void CurlFetch::initializeGlobally()
{
    CurlTransfer::initializeGlobally();
}

Result<HttpResponse> CurlFetch::operator()(const QString &url, std::stop_token stop) const
{
    HttpRequest request;
    request.url = url;
    request.timeoutInterval = m_options.idleLimit;
    return (*this)(request, std::move(stop));
}

Result<HttpResponse> CurlFetch::operator()(const HttpRequest &request, std::stop_token stop) const
{
    CurlTransfer::Request transfer;
    transfer.url = request.url;
    transfer.method = request.effectiveMethod();
    transfer.headers = request.headers;
    if (request.body)
        transfer.body = CurlTransfer::Source::memory(*request.body);
    transfer.sink = CurlTransfer::Sink::memory(m_options.maximumBodySize);
    transfer.idleLimit = std::min(request.timeoutInterval, m_options.idleLimit);

    PELLWICK_TRY_ASSIGN(CurlTransfer::Reply reply, CurlTransfer::perform(transfer, stop));
    if (!reply.status)
        return HttpResponse::notHttp();
    return HttpResponse::http(*reply.status, std::move(reply.body), std::move(reply.headers));
}

} // namespace Pellwick
