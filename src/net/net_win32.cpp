// The network layer on Windows: WinSock, every socket non-blocking. The device's sockets are waited
// for with select() in short slices (WaitForSocket); the program's own connections get an event
// (WSAEventSelect), so that their waits are handle waits like every other.
#include <winsock2.h>
//
#include <mstcpip.h>
#include <windows.h>
#include <ws2tcpip.h>

#include <cstring>

#include "net/net.h"

namespace {

// The events of the sockets that have one (NetWaitable): the line's connection and its listening
// socket, each kept by the thread that uses it.
struct SocketEvent {
    SOCKET socket = INVALID_SOCKET;
    HANDLE event = NULL;
};
struct SocketEvents {
    Lock lock;
    SocketEvent of[4];
} g_events;

// Makes the connection `s` non-blocking, sending each write at once, taking urgent data as data (so
// that select never reports it as an error) and noticing a peer that went silent for good.
SOCKET SetUpConnection(SOCKET s) {
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    BOOL on = TRUE;
    setsockopt(s, SOL_SOCKET, SO_OOBINLINE, reinterpret_cast<const char*>(&on), sizeof on);
    setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    tcp_keepalive alive = {1, kKeepIdleMs, kKeepProbeMs};
    DWORD ignored;
    WSAIoctl(s, SIO_KEEPALIVE_VALS, &alive, sizeof alive, NULL, 0, &ignored, NULL, NULL);
    return s;
}

const sockaddr* AddressOf(const NetAddress& a) {
    return reinterpret_cast<const sockaddr*>(a.bytes);
}

// Connects the non-blocking `s` to `to` (`size` bytes), waiting up to `ms` for the answer. Returns
// 1, or 0 with the NetFailure in `failure`.
int ConnectWithin(SOCKET s, const sockaddr* to, int size, unsigned ms, int* failure) {
    int error = connect(s, to, size) == 0 ? 0 : WSAGetLastError();
    // Writable means connected; an error condition, that the connection failed.
    int r = error == 0 ? 1 : error == WSAEWOULDBLOCK ? WaitForSocket(s, true, ms) : -2;
    if (error == WSAEWOULDBLOCK) {
        int length = sizeof error;
        error = 0;
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
    }
    *failure = error == WSAECONNREFUSED ? kNetRefused : r == -1 ? kNetStopped : kNetNoAnswer;
    return r == 1 && error == 0 ? 1 : 0;
}

// Sends from `bytes` until all `n` went, the socket failed, `deadline` (MonotonicMillis) passed or
// the stop signal came. Returns how many went.
size_t SendWithin(SOCKET s, const uint8_t* bytes, size_t n, uint64_t deadline) {
    size_t done = 0;
    while (done < n) {
        int w = send(s, reinterpret_cast<const char*>(bytes) + done, static_cast<int>(n - done), 0);
        if (w > 0) {
            done += static_cast<size_t>(w);
            continue;
        }
        uint64_t now = MonotonicMillis();
        unsigned ms = deadline == kNoDeadline ? kNoTimeLimit
                      : now < deadline        ? static_cast<unsigned>(deadline - now)
                                              : 0;
        if (w == 0 || WSAGetLastError() != WSAEWOULDBLOCK || ms == 0 ||
            WaitForSocket(s, true, ms) != 1) {
            break;
        }
    }
    return done;
}

// The entry of `s` in g_events, or null. The lock is held.
SocketEvent* EventOf(SOCKET s) {
    for (SocketEvent& e : g_events.of) {
        if (e.socket == s && s != INVALID_SOCKET) {
            return &e;
        }
    }
    return nullptr;
}

}  // namespace

int NetStartup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(1, 1), &data) == 0 ? 1 : 0;
}

void NetCleanup() {
    WSACleanup();
}

void NetCloseSocket(NetSocket s) {
    HANDLE event = NULL;
    {
        Held hold(g_events.lock);
        SocketEvent* e = EventOf(static_cast<SOCKET>(s));
        if (e != nullptr) {
            event = e->event;
            *e = SocketEvent{};
        }
    }
    closesocket(static_cast<SOCKET>(s));
    if (event != NULL) {
        CloseHandle(event);
    }
}

// --- The device's TCP sockets
// ----------------------------------------------------------------------

NetSocket NetOpenTcp() {
    SOCKET s = socket(2, 1, 6);  // IPv4, stream, TCP
    if (s == INVALID_SOCKET) {
        return kNoSocket;
    }
    // Non-blocking, so that every wait on it can be a select() that also watches the stop signal.
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
    return static_cast<NetSocket>(s);
}

int NetConnect(NetSocket s, uint16_t family, uint16_t port, const uint8_t address[4]) {
    if (family != AF_INET) {
        return 0;  // an IPv4 TCP socket connects to nothing else
    }
    sockaddr_in to;
    memset(&to, 0, sizeof to);
    to.sin_family = family;
    to.sin_port = htons(port);
    memcpy(&to.sin_addr, address, 4);
    int failure;
    return ConnectWithin(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&to), sizeof to,
                         kNoTimeLimit, &failure);
}

int NetSend(NetSocket s, const uint8_t* data, int count) {
    if (count < 0) {
        return -1;
    }
    // Send what fits; while the send buffer is full, wait for room as a blocking send would, and go
    // on until every byte is taken. The bytes already taken still go to the peer.
    size_t done = SendWithin(static_cast<SOCKET>(s), data, static_cast<size_t>(count), kNoDeadline);
    return done > 0 || count == 0 ? static_cast<int>(done) : -1;
}

int NetReceiveWithin(NetSocket s, uint8_t* bytes, size_t max, unsigned ms, bool peek) {
    // The socket is non-blocking: take what is there, and wait only when nothing is.
    char* into = reinterpret_cast<char*>(bytes);
    int flags = peek ? MSG_PEEK : 0;
    int r = recv(static_cast<SOCKET>(s), into, static_cast<int>(max), flags);
    if (r == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
        int ready = WaitForSocket(static_cast<uintptr_t>(s), false, ms);
        if (ready == 0 || ready == -1) {
            return ready;
        }
        r = recv(static_cast<SOCKET>(s), into, static_cast<int>(max),
                 flags);  // an error fails here
    }
    return r == SOCKET_ERROR ? -1 : r;
}

int NetLookUpNow(const char* name, uint8_t address[4]) {
    hostent* host = gethostbyname(name);
    if (host != NULL && host->h_addrtype == AF_INET && host->h_length == 4 &&
        host->h_addr_list[0] != NULL) {
        memcpy(address, host->h_addr_list[0], 4);
        return 1;
    }
    return 0;
}

// --- The program's own connections
// -----------------------------------------------------------------

NetSocket NetConnectWithin(const NetAddress& to, unsigned ms, int* failure) {
    SOCKET s = socket(AddressOf(to)->sa_family, SOCK_STREAM, IPPROTO_TCP);
    *failure = kNetNoAnswer;
    if (s != INVALID_SOCKET &&
        ConnectWithin(SetUpConnection(s), AddressOf(to), to.size, ms, failure)) {
        return static_cast<NetSocket>(s);
    }
    if (s != INVALID_SOCKET) {
        closesocket(s);
    }
    return kNoSocket;
}

NetSocket NetListenOn(const NetAddress& at, int* failure) {
    // A plain bind: on Windows it binds past the connections of an earlier listening that are
    // still closing, and SO_REUSEADDR would take the address from another program listening on it.
    SOCKET s = socket(AddressOf(at)->sa_family, SOCK_STREAM, IPPROTO_TCP);
    u_long nonBlocking = 1;
    if (s == INVALID_SOCKET || ioctlsocket(s, FIONBIO, &nonBlocking) != 0 ||
        bind(s, AddressOf(at), at.size) != 0 || listen(s, 1) != 0) {
        int e = WSAGetLastError();
        *failure = e == WSAEADDRNOTAVAIL ? kNetNotHere : e == WSAEACCES ? kNetDenied : kNetInUse;
        if (s != INVALID_SOCKET) {
            closesocket(s);
        }
        return kNoSocket;
    }
    return static_cast<NetSocket>(s);
}

NetSocket NetAcceptOne(NetSocket listener) {
    SOCKET s = accept(static_cast<SOCKET>(listener), NULL, NULL);
    return s != INVALID_SOCKET ? static_cast<NetSocket>(SetUpConnection(s)) : kNoSocket;
}

int NetSendAll(NetSocket s, const uint8_t* bytes, size_t n, uint64_t deadline) {
    return SendWithin(static_cast<SOCKET>(s), bytes, n, deadline) == n ? 1 : 0;
}

int NetReceiveSome(NetSocket s, uint8_t* bytes, size_t max) {
    int got =
        recv(static_cast<SOCKET>(s), reinterpret_cast<char*>(bytes), static_cast<int>(max), 0);
    // 0 bytes: the other end closed the connection.
    return got > 0 ? got : got < 0 && WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

int NetAwaitBytes(NetSocket s, unsigned ms) {
    // Bytes that came while a watch took the event's note of them are there all the same.
    u_long waiting = 0;
    if (ioctlsocket(static_cast<SOCKET>(s), FIONREAD, &waiting) == 0 && waiting > 0) {
        return 1;
    }
    Waitable w = NetWaitable(s);
    int r = WaitForHandle(w, ms);
    if (r == 1) {
        WSANETWORKEVENTS events;
        WSAEnumNetworkEvents(static_cast<SOCKET>(s), w, &events);  // clears the event
    }
    return r;
}

Waitable NetWaitable(NetSocket s) {
    Held hold(g_events.lock);
    SocketEvent* e = EventOf(static_cast<SOCKET>(s));
    if (e != nullptr) {
        return e->event;
    }
    for (SocketEvent& free : g_events.of) {
        if (free.socket == INVALID_SOCKET) {
            free.event = CreateEventA(NULL, TRUE, FALSE, NULL);
            if (free.event == NULL || WSAEventSelect(static_cast<SOCKET>(s), free.event,
                                                     FD_READ | FD_CLOSE | FD_ACCEPT) != 0) {
                if (free.event != NULL) {
                    CloseHandle(free.event);
                }
                free.event = NULL;
                return kNothing;
            }
            free.socket = static_cast<SOCKET>(s);
            return free.event;
        }
    }
    return kNothing;
}

int NetWatchFired(Waitable w) {
    SOCKET s = INVALID_SOCKET;
    {
        Held hold(g_events.lock);
        for (SocketEvent& e : g_events.of) {
            s = e.event == w ? e.socket : s;
        }
    }
    WSANETWORKEVENTS events = {};
    if (s == INVALID_SOCKET || WSAEnumNetworkEvents(s, w, &events) != 0) {
        ResetEvent(w);
        return 0;
    }
    return (events.lNetworkEvents & FD_CLOSE) != 0 ? 1 : 0;
}

int NetPeerClosed(NetSocket s, unsigned ms) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(static_cast<SOCKET>(s), &ready);
    timeval tv = {static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000};
    if (select(0, &ready, NULL, NULL, &tv) <= 0) {
        return 0;
    }
    char byte;
    int r = recv(static_cast<SOCKET>(s), &byte, 1, MSG_PEEK);
    return r == 0 || (r == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) ? 1 : 0;
}
