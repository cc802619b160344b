// The fake LiveSplit server's sockets on POSIX.
#include "e2e/fake_livesplit.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

static bool WaitReadable(intptr_t fd, int timeoutMs) {
    pollfd entry{static_cast<int>(fd), POLLIN, 0};
    return poll(&entry, 1, timeoutMs) > 0;
}

intptr_t FakeServerListen(uint16_t* port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return FakeServerClose(fd), -1;
    *port = ntohs(address.sin_port);
    return fd;
}

intptr_t FakeServerAccept(intptr_t listener, int timeoutMs) {
    return WaitReadable(listener, timeoutMs) ? accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC) : -1;
}

int FakeServerReceive(intptr_t connection, char* buffer, int size, int timeoutMs) {
    if (!WaitReadable(connection, timeoutMs)) return 0;
    const ssize_t got = recv(static_cast<int>(connection), buffer, static_cast<size_t>(size), 0);
    return got > 0 ? static_cast<int>(got) : -1;
}

void FakeServerClose(intptr_t socket) {
    if (socket >= 0) close(static_cast<int>(socket));
}
