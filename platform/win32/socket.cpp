// TCP sockets on Windows. ws2_32.dll is loaded at run time by
// SocketStartup, its calls taken by GetProcAddress: ringwatch.exe imports
// nothing beyond KERNEL32 and msvcrt, and a player who never links the timer
// loads no network code. The headers give only the types.
#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

struct WinsockCalls {
    decltype(&::WSAStartup) startup;
    decltype(&::WSAGetLastError) lastError;
    decltype(&::getaddrinfo) getAddrInfo;
    decltype(&::freeaddrinfo) freeAddrInfo;
    decltype(&::socket) makeSocket;
    decltype(&::ioctlsocket) ioctl;
    decltype(&::setsockopt) setOption;
    decltype(&::getsockopt) getOption;
    decltype(&::connect) connectTo;
    decltype(&::select) selectOn;
    decltype(&::send) sendTo;
    decltype(&::recv) receive;
    decltype(&::closesocket) closeSocket;
    decltype(&::bind) bindTo;
    decltype(&::listen) listenOn;
    decltype(&::accept) acceptFrom;
    decltype(&::getsockname) ownName;
};

WinsockCalls g_calls{};
bool g_started = false;

SocketResult Ok() { return SocketResult{true, 0, ""}; }
SocketResult Failed(const char* step, int error) { return SocketResult{false, error, step}; }
SocketResult FailedLast(const char* step) { return Failed(step, g_calls.lastError()); }

template <typename Call>
bool Take(HMODULE library, const char* name, Call* call) {
    *call = reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    return *call != nullptr;
}

SOCKET AsSocket(SocketHandle socket) { return static_cast<SOCKET>(socket); }

}  // namespace

SocketResult SocketStartup() {
    if (g_started) return Ok();
    HMODULE library = LoadLibraryExW(L"ws2_32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library == nullptr) return Failed("load", static_cast<int>(GetLastError()));
    WinsockCalls calls{};
    const bool all = Take(library, "WSAStartup", &calls.startup) &&
                     Take(library, "WSAGetLastError", &calls.lastError) && Take(library, "getaddrinfo", &calls.getAddrInfo) &&
                     Take(library, "freeaddrinfo", &calls.freeAddrInfo) && Take(library, "socket", &calls.makeSocket) &&
                     Take(library, "ioctlsocket", &calls.ioctl) && Take(library, "setsockopt", &calls.setOption) &&
                     Take(library, "getsockopt", &calls.getOption) && Take(library, "connect", &calls.connectTo) &&
                     Take(library, "select", &calls.selectOn) && Take(library, "send", &calls.sendTo) &&
                     Take(library, "recv", &calls.receive) && Take(library, "closesocket", &calls.closeSocket) &&
                     Take(library, "bind", &calls.bindTo) && Take(library, "listen", &calls.listenOn) &&
                     Take(library, "accept", &calls.acceptFrom) && Take(library, "getsockname", &calls.ownName);
    if (!all) return Failed("load", static_cast<int>(GetLastError()));
    WSADATA data;
    const int status = calls.startup(MAKEWORD(2, 2), &data);
    if (status != 0) return Failed("load", status);
    g_calls = calls;
    g_started = true;
    return Ok();
}

SocketResult SocketResolve(const char* host, uint16_t port, bool numericOnly, SocketAddress* address) {
    address->length = 0;
    if (!g_started) return Failed("resolve", WSANOTINITIALISED);
    char service[8];
    std::snprintf(service, sizeof service, "%u", static_cast<unsigned>(port));
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | (numericOnly ? AI_NUMERICHOST : 0);
    addrinfo* found = nullptr;
    const int status = g_calls.getAddrInfo(host, service, &hints, &found);
    if (status != 0) return Failed("resolve", status);
    if (found == nullptr || found->ai_addrlen > sizeof address->bytes) {
        if (found != nullptr) g_calls.freeAddrInfo(found);
        return Failed("resolve", WSAEAFNOSUPPORT);
    }
    std::memcpy(address->bytes, found->ai_addr, found->ai_addrlen);
    address->length = static_cast<uint32_t>(found->ai_addrlen);
    g_calls.freeAddrInfo(found);
    return Ok();
}

SocketResult SocketConnectStart(const SocketAddress& address, SocketHandle* socketOut) {
    *socketOut = kSocketNone;
    if (!g_started) return Failed("socket", WSANOTINITIALISED);
    const auto* peer = reinterpret_cast<const sockaddr*>(address.bytes);
    const SOCKET socket = g_calls.makeSocket(peer->sa_family, SOCK_STREAM, IPPROTO_TCP);
    if (socket == INVALID_SOCKET) return FailedLast("socket");
    u_long nonBlocking = 1;
    if (g_calls.ioctl(socket, FIONBIO, &nonBlocking) != 0) {
        const SocketResult failed = FailedLast("socket");
        g_calls.closeSocket(socket);
        return failed;
    }
    // One command a line, each wanted at once: no waiting to fill a segment.
    const BOOL on = TRUE;
    g_calls.setOption(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    if (g_calls.connectTo(socket, peer, static_cast<int>(address.length)) != 0) {
        const int error = g_calls.lastError();
        if (error != WSAEWOULDBLOCK) {
            g_calls.closeSocket(socket);
            return Failed("connect", error);
        }
    }
    *socketOut = static_cast<SocketHandle>(socket);
    return Ok();
}

SocketResult SocketConnectDone(SocketHandle socket, bool* done) {
    *done = false;
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(AsSocket(socket), &writable);
    FD_SET(AsSocket(socket), &failed);
    timeval now{0, 0};
    const int ready = g_calls.selectOn(0, nullptr, &writable, &failed, &now);
    if (ready == SOCKET_ERROR) return FailedLast("connect");
    if (ready == 0) return Ok();
    // A connect that failed is told in the exception set; its error in SO_ERROR.
    int error = 0;
    int length = sizeof error;
    if (g_calls.getOption(AsSocket(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
        error = g_calls.lastError();
    if (error != 0) return Failed("connect", error);
    // The set holds the one socket when it failed (FD_ISSET would import __WSAFDIsSet).
    if (failed.fd_count != 0) return Failed("connect", WSAECONNREFUSED);
    *done = true;
    return Ok();
}

SocketResult SocketSend(SocketHandle socket, const char* data, size_t size, size_t* sent) {
    *sent = 0;
    const int chunk = size > 0x10000 ? 0x10000 : static_cast<int>(size);
    const int wrote = g_calls.sendTo(AsSocket(socket), data, chunk, 0);
    if (wrote != SOCKET_ERROR) {
        *sent = static_cast<size_t>(wrote);
        return Ok();
    }
    const int error = g_calls.lastError();
    if (error == WSAEWOULDBLOCK) return Ok();
    return Failed("send", error);
}

SocketResult SocketDrain(SocketHandle socket, bool* closed) {
    *closed = false;
    char scratch[512];
    for (;;) {
        const int got = g_calls.receive(AsSocket(socket), scratch, sizeof scratch, 0);
        if (got > 0) continue;
        if (got == 0) {
            *closed = true;
            return Ok();
        }
        const int error = g_calls.lastError();
        if (error == WSAEWOULDBLOCK) return Ok();
        return Failed("receive", error);
    }
}

SocketResult SocketListen(const SocketAddress& address, SocketHandle* listener) {
    *listener = kSocketNone;
    if (!g_started) return Failed("socket", WSANOTINITIALISED);
    const auto* own = reinterpret_cast<const sockaddr*>(address.bytes);
    const SOCKET socket = g_calls.makeSocket(own->sa_family, SOCK_STREAM, IPPROTO_TCP);
    if (socket == INVALID_SOCKET) return FailedLast("socket");
    // No SO_REUSEADDR: on Windows it would let two programs share the port.
    // Connections taken from a non-blocking listener are non-blocking too.
    u_long nonBlocking = 1;
    const char* step = "socket";
    if (g_calls.ioctl(socket, FIONBIO, &nonBlocking) == 0) {
        step = "bind";
        if (g_calls.bindTo(socket, own, static_cast<int>(address.length)) == 0) {
            step = "listen";
            if (g_calls.listenOn(socket, 16) == 0) {
                *listener = static_cast<SocketHandle>(socket);
                return Ok();
            }
        }
    }
    const SocketResult failed = FailedLast(step);
    g_calls.closeSocket(socket);
    return failed;
}

SocketResult SocketLocalPort(SocketHandle listener, uint16_t* port) {
    sockaddr_storage own{};
    int length = sizeof own;
    if (g_calls.ownName(AsSocket(listener), reinterpret_cast<sockaddr*>(&own), &length) != 0)
        return FailedLast("listen");
    // The port in network order, read without ntohs (another import).
    const auto* bytes = reinterpret_cast<const uint8_t*>(
        own.ss_family == AF_INET6 ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(&own)->sin6_port)
                                  : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(&own)->sin_port));
    *port = static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
    return Ok();
}

SocketResult SocketAccept(SocketHandle listener, SocketHandle* connection) {
    *connection = kSocketNone;
    const SOCKET socket = g_calls.acceptFrom(AsSocket(listener), nullptr, nullptr);
    if (socket == INVALID_SOCKET) {
        const int error = g_calls.lastError();
        if (error == WSAEWOULDBLOCK || error == WSAECONNRESET || error == WSAEINTR) return Ok();
        return Failed("accept", error);
    }
    const BOOL on = TRUE;
    g_calls.setOption(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    *connection = static_cast<SocketHandle>(socket);
    return Ok();
}

SocketResult SocketReceive(SocketHandle socket, char* data, size_t size, size_t* received, bool* closed) {
    *received = 0;
    *closed = false;
    const int chunk = size > 0x10000 ? 0x10000 : static_cast<int>(size);
    const int got = g_calls.receive(AsSocket(socket), data, chunk, 0);
    if (got > 0) {
        *received = static_cast<size_t>(got);
        return Ok();
    }
    if (got == 0) {
        *closed = chunk > 0;
        return Ok();
    }
    const int error = g_calls.lastError();
    if (error == WSAEWOULDBLOCK || error == WSAEINTR) return Ok();
    return Failed("receive", error);
}

void SocketClose(SocketHandle socket) {
    if (socket != kSocketNone && g_started) g_calls.closeSocket(AsSocket(socket));
}
