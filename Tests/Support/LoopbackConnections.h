#pragma once

#include <QtGlobal>

#include <optional>

namespace Pellwick::Test {

/// Shuts down the server side of connections that an in-process test server accepted on
/// `serverPort`: every one, or only the one from `clientPort`. With `reset`, the peer sees a TCP
/// reset instead of an orderly close. The server still owns and closes the descriptors.
///
/// A server stopping shuts down every connection first: a client that keeps idle connections
/// open for reuse would otherwise hold the server's threads for its whole keep-alive time.
void shutDownConnections(quint16 serverPort,
                         std::optional<quint16> clientPort = std::nullopt,
                         bool reset = false);

} // namespace Pellwick::Test
