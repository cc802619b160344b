// TCP sockets for the links to a runner's timer and the pages a stream shows:
// name resolution, a non-blocking connect, a non-blocking listener and its
// connections, non-blocking sends and receives, and a close. One backend per OS; on Windows the socket library is loaded the first
// time it is needed (SocketStartup), so a program that never connects loads no
// network code. Failures come back as values with the OS's error code (errno,
// WSAGetLastError); nothing here logs or blocks, except SocketResolve.
#pragma once

#include <cstddef>
#include <cstdint>

using SocketHandle = intptr_t;                   // a SOCKET or a file descriptor
inline constexpr SocketHandle kSocketNone = -1;

inline constexpr size_t kSocketAddressSize = 128; // bytes of the largest address kept (sockaddr_storage)
inline constexpr int kHostNameSize = 256;         // bytes of a host name, NUL included

struct SocketResult {
    bool ok;
    int32_t error;      // the OS's error code when !ok (for a resolution, getaddrinfo's)
    const char* step;   // what failed: "load", "resolve", "socket", "connect", "bind", "listen", "accept", "send", "receive"
};

// An address to connect to, as the OS keeps it.
struct SocketAddress {
    alignas(8) uint8_t bytes[kSocketAddressSize];
    uint32_t length;    // bytes in use; 0: none
};

// Once, before any other call: loads and starts the system's socket library
// where it is a library of its own (Windows). Harmless when repeated.
SocketResult SocketStartup();

// The first address of `host` (a name, an IPv4 or an IPv6 address) with
// `port`. With `numericOnly` only an address written as numbers is taken and
// the call never waits; otherwise a name is looked up, which may wait on the
// network for seconds: call it from a thread that may wait.
SocketResult SocketResolve(const char* host, uint16_t port, bool numericOnly, SocketAddress* address);

// Starts a connection to `address` on a new non-blocking socket, into
// `*socket` (kSocketNone on failure). A connection still under way is no
// failure: SocketConnectDone says when it is made.
SocketResult SocketConnectStart(const SocketAddress& address, SocketHandle* socket);

// Whether the connection that SocketConnectStart began is made (`*done`),
// without waiting. A refused or unreachable connection is a failure.
SocketResult SocketConnectDone(SocketHandle socket, bool* done);

// Sends what the socket's buffer takes of `size` bytes without waiting;
// `*sent` is how many (0 when the buffer is full). A connection that is gone
// is a failure.
SocketResult SocketSend(SocketHandle socket, const char* data, size_t size, size_t* sent);

// Reads and throws away whatever the peer sent, without waiting; `*closed`
// tells whether the peer has closed the connection.
SocketResult SocketDrain(SocketHandle socket, bool* closed);

// Listens on `address` with a new non-blocking socket, into `*listener`
// (kSocketNone on failure). A port another program holds fails at "bind"
// with the OS's "address in use" error.
SocketResult SocketListen(const SocketAddress& address, SocketHandle* listener);

// The port a listener took (the one asked for, or the one the OS chose for 0).
SocketResult SocketLocalPort(SocketHandle listener, uint16_t* port);

// Takes one waiting connection without waiting, into `*connection`
// (kSocketNone when none waits): non-blocking, no delay for small writes.
SocketResult SocketAccept(SocketHandle listener, SocketHandle* connection);

// Reads what has arrived, up to `size` bytes, without waiting; `*received` is
// how many (0 when nothing waits); `*closed` tells whether the peer has
// closed its side and everything before it was read.
SocketResult SocketReceive(SocketHandle socket, char* data, size_t size, size_t* received, bool* closed);

// Closes the socket; kSocketNone is ignored.
void SocketClose(SocketHandle socket);
