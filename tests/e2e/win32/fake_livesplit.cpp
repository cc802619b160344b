// The fake LiveSplit server's sockets on Windows (the tests link ws2_32).
#include "e2e/fake_livesplit.h"

#include <winsock2.h>

static bool WaitReadable(intptr_t socket, int timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(static_cast<SOCKET>(socket), &readable);
    timeval wait{timeoutMs / 1000, timeoutMs % 1000 * 1000};
    return select(0, &readable, nullptr, nullptr, &wait) > 0;
}

intptr_t FakeServerListen(uint16_t* port) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{AF_INET, 0, {}, {}};
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(s, 4) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return FakeServerClose(s == INVALID_SOCKET ? -1 : static_cast<intptr_t>(s)), -1;
    *port = ntohs(address.sin_port);
    return static_cast<intptr_t>(s);
}

intptr_t FakeServerAccept(intptr_t listener, int timeoutMs) {
    const SOCKET s = WaitReadable(listener, timeoutMs) ? accept(static_cast<SOCKET>(listener), nullptr, nullptr)
                                                        : INVALID_SOCKET;
    return s == INVALID_SOCKET ? -1 : static_cast<intptr_t>(s);
}

int FakeServerReceive(intptr_t connection, char* buffer, int size, int timeoutMs) {
    if (!WaitReadable(connection, timeoutMs)) return 0;
    const int got = recv(static_cast<SOCKET>(connection), buffer, size, 0);
    return got > 0 ? got : -1;
}

void FakeServerClose(intptr_t socket) {
    if (socket != -1) closesocket(static_cast<SOCKET>(socket));
}
