// TCP sockets on POSIX: getaddrinfo, O_NONBLOCK, poll for the connect,
// MSG_NOSIGNAL so that a peer gone away fails the send instead of raising SIGPIPE.
#include "platform/socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

SocketResult Ok() { return SocketResult{true, 0, ""}; }
SocketResult Failed(const char* step, int error) { return SocketResult{false, error, step}; }

}  // namespace

SocketResult SocketStartup() { return Ok(); }

SocketResult SocketResolve(const char* host, uint16_t port, bool numericOnly, SocketAddress* address) {
    address->length = 0;
    char service[8];
    std::snprintf(service, sizeof service, "%u", static_cast<unsigned>(port));
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | (numericOnly ? AI_NUMERICHOST : 0);
    addrinfo* found = nullptr;
    const int status = getaddrinfo(host, service, &hints, &found);
    if (status != 0) return Failed("resolve", status);
    if (found == nullptr || found->ai_addrlen > sizeof address->bytes) {
        if (found != nullptr) freeaddrinfo(found);
        return Failed("resolve", EAI_FAMILY);
    }
    std::memcpy(address->bytes, found->ai_addr, found->ai_addrlen);
    address->length = static_cast<uint32_t>(found->ai_addrlen);
    freeaddrinfo(found);
    return Ok();
}

SocketResult SocketConnectStart(const SocketAddress& address, SocketHandle* socketOut) {
    *socketOut = kSocketNone;
    const auto* peer = reinterpret_cast<const sockaddr*>(address.bytes);
    const int fd = socket(peer->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return Failed("socket", errno);
    // One command a line, each wanted at once: no waiting to fill a segment.
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (connect(fd, peer, address.length) != 0 && errno != EINPROGRESS && errno != EINTR) {
        const int error = errno;
        close(fd);
        return Failed("connect", error);
    }
    *socketOut = fd;
    return Ok();
}

SocketResult SocketConnectDone(SocketHandle socket, bool* done) {
    *done = false;
    pollfd entry{static_cast<int>(socket), POLLOUT, 0};
    const int ready = poll(&entry, 1, 0);
    if (ready < 0) return errno == EINTR ? Ok() : Failed("connect", errno);
    if (ready == 0) return Ok();
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(static_cast<int>(socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    if (error != 0) return Failed("connect", error);
    *done = true;
    return Ok();
}

SocketResult SocketSend(SocketHandle socket, const char* data, size_t size, size_t* sent) {
    *sent = 0;
    const ssize_t wrote = send(static_cast<int>(socket), data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (wrote >= 0) {
        *sent = static_cast<size_t>(wrote);
        return Ok();
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return Ok();
    return Failed("send", errno);
}

SocketResult SocketDrain(SocketHandle socket, bool* closed) {
    *closed = false;
    char scratch[512];
    for (;;) {
        const ssize_t got = recv(static_cast<int>(socket), scratch, sizeof scratch, MSG_DONTWAIT);
        if (got > 0) continue;
        if (got == 0) {
            *closed = true;
            return Ok();
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return Ok();
        return Failed("receive", errno);
    }
}

SocketResult SocketListen(const SocketAddress& address, SocketHandle* listener) {
    *listener = kSocketNone;
    const auto* own = reinterpret_cast<const sockaddr*>(address.bytes);
    const int fd = socket(own->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return Failed("socket", errno);
    // A port left in TIME_WAIT by the last run is taken again at once; one
    // that a live program listens on still fails.
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const char* step = "bind";
    if (bind(fd, own, address.length) == 0) {
        step = "listen";
        if (listen(fd, 16) == 0) {
            *listener = fd;
            return Ok();
        }
    }
    const int error = errno;
    close(fd);
    return Failed(step, error);
}

SocketResult SocketLocalPort(SocketHandle listener, uint16_t* port) {
    sockaddr_storage own{};
    socklen_t length = sizeof own;
    if (getsockname(static_cast<int>(listener), reinterpret_cast<sockaddr*>(&own), &length) != 0)
        return Failed("listen", errno);
    *port = own.ss_family == AF_INET6 ? ntohs(reinterpret_cast<const sockaddr_in6*>(&own)->sin6_port)
                                      : ntohs(reinterpret_cast<const sockaddr_in*>(&own)->sin_port);
    return Ok();
}

SocketResult SocketAccept(SocketHandle listener, SocketHandle* connection) {
    *connection = kSocketNone;
    const int fd = accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        // A connection reset before it was taken is no failure of the listener.
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED) return Ok();
        return Failed("accept", errno);
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    *connection = fd;
    return Ok();
}

SocketResult SocketReceive(SocketHandle socket, char* data, size_t size, size_t* received, bool* closed) {
    *received = 0;
    *closed = false;
    const ssize_t got = recv(static_cast<int>(socket), data, size, MSG_DONTWAIT);
    if (got > 0) {
        *received = static_cast<size_t>(got);
        return Ok();
    }
    if (got == 0) {
        *closed = size > 0;
        return Ok();
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return Ok();
    return Failed("receive", errno);
}

void SocketClose(SocketHandle socket) {
    if (socket != kSocketNone) close(static_cast<int>(socket));
}
