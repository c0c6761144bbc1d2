#pragma once

#include <QString>

#include <memory>

namespace Pellwick::Test {

/// An HTTPS server on 127.0.0.1 (ephemeral port) whose certificate is self-signed, generated
/// afresh for each server, so no client that verifies peers may trust it. Answers every GET with
/// 200 and counts the requests that got through.
class TlsTestServer
{
public:
    TlsTestServer();
    ~TlsTestServer();

    TlsTestServer(const TlsTestServer &) = delete;
    TlsTestServer &operator=(const TlsTestServer &) = delete;

    /// "https://127.0.0.1:<port>/"
    QString url() const;
    int answeredRequests() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace Pellwick::Test
