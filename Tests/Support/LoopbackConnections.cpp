#include "LoopbackConnections.h"

#include <cstdlib>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace Pellwick::Test {

namespace {

/// The local or peer port of an IPv4 socket, or 0 for anything else (a listening socket has no
/// peer).
quint16 socketPort(int fd, bool peer)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    auto *generic = reinterpret_cast<sockaddr *>(&address);
    const int result
        = peer ? ::getpeername(fd, generic, &length) : ::getsockname(fd, generic, &length);
    if (result != 0 || address.sin_family != AF_INET)
        return 0;
    return ntohs(address.sin_port);
}

} // namespace

void shutDownConnections(quint16 serverPort, std::optional<quint16> clientPort, bool reset)
{
    // The server runs in this process, so its sockets are among our own descriptors.
    DIR *fds = ::opendir("/proc/self/fd");
    if (fds == nullptr)
        return;
    while (const dirent *entry = ::readdir(fds)) {
        const int fd = std::atoi(entry->d_name);
        if (fd <= 2 || fd == ::dirfd(fds) || socketPort(fd, false) != serverPort)
            continue;
        const quint16 peer = socketPort(fd, true);
        if (peer == 0 || (clientPort && peer != *clientPort))
            continue;
        if (reset) {
            const linger abortive{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        }
        // Shut down rather than close: the server closes the descriptor itself, which with a
        // zero linger time sends the reset.
        ::shutdown(fd, SHUT_RDWR);
    }
    ::closedir(fds);
}

} // namespace Pellwick::Test
