// The socket shim over WinSock 1.1, and the reader stop signal as a manual-reset event.
#include <winsock2.h>
//
#include <windows.h>

#include <cstring>
#include <new>

#include "sockets/net_shim.h"
#include "sockets/net_win32.h"

namespace {

// The stop signal: a manual-reset event, made on first use.
HANDLE volatile g_stopEvent = NULL;

// Longest single select() wait; between two of them the stop signal is checked.
constexpr DWORD kSliceMs = 50;

// Waits until `s` is readable (or, with `forWrite`, writable) for at most `timeoutMs`
// (INFINITE: no limit), checking the stop signal between short select() waits. Returns 1 ready,
// 0 when the time ran out, -1 on failure or stop, -2 when the socket reports an error condition
// (a connect that failed).
int WaitSocket(NetSocket s, bool forWrite, DWORD timeoutMs) {
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (ReaderStopRaised()) {
            return -1;
        }
        DWORD slice = kSliceMs;
        if (timeoutMs != INFINITE) {
            ULONGLONG now = GetTickCount64();
            if (now >= deadline) {
                return 0;
            }
            if (deadline - now < slice) {
                slice = static_cast<DWORD>(deadline - now);
            }
        }
        fd_set ready;
        fd_set failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(static_cast<SOCKET>(s), &ready);
        FD_SET(static_cast<SOCKET>(s), &failed);
        timeval tv = {0, static_cast<long>(slice) * 1000};
        int r = select(0, forWrite ? NULL : &ready, forWrite ? &ready : NULL, &failed, &tv);
        if (r == SOCKET_ERROR) {
            return -1;
        }
        if (r > 0) {
            return FD_ISSET(static_cast<SOCKET>(s), &failed) ? -2 : 1;
        }
    }
}

// A host-name lookup handed to a worker thread. Both the worker and the waiting reader hold a
// reference; whoever lets go last frees it, so a lookup abandoned at stop finishes harmlessly.
struct HostLookup {
    LONG refs;
    HANDLE done;
    char name[256];
    int found;
    uint8_t address[4];
};

void ReleaseLookup(HostLookup* lookup) {
    if (InterlockedDecrement(&lookup->refs) == 0) {
        CloseHandle(lookup->done);
        delete lookup;
    }
}

DWORD WINAPI LookupThread(LPVOID param) {
    HostLookup* lookup = static_cast<HostLookup*>(param);
    hostent* host = gethostbyname(lookup->name);
    if (host != NULL && host->h_addrtype == AF_INET && host->h_length == 4 &&
        host->h_addr_list[0] != NULL) {
        memcpy(lookup->address, host->h_addr_list[0], 4);
        lookup->found = 1;
    }
    SetEvent(lookup->done);
    ReleaseLookup(lookup);
    return 0;
}

}  // namespace

HANDLE ReaderStopEvent() {
    HANDLE event = g_stopEvent;
    if (event != NULL) {
        return event;
    }
    HANDLE made = CreateEventA(NULL, TRUE, FALSE, NULL);
    PVOID before = InterlockedCompareExchangePointer(
        reinterpret_cast<PVOID volatile*>(&g_stopEvent), made, NULL);
    if (before != NULL) {
        CloseHandle(made);
        return static_cast<HANDLE>(before);
    }
    return made;
}

void RaiseReaderStop() {
    SetEvent(ReaderStopEvent());
}

void ClearReaderStop() {
    ResetEvent(ReaderStopEvent());
}

int ReaderStopRaised() {
    return WaitForSingleObject(ReaderStopEvent(), 0) == WAIT_OBJECT_0 ? 1 : 0;
}

int WaitForReaderStop(unsigned ms) {
    return WaitForSingleObject(ReaderStopEvent(), ms) == WAIT_OBJECT_0 ? 1 : 0;
}

int NetStartup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(1, 1), &data) == 0 ? 1 : 0;
}

void NetCleanup() {
    WSACleanup();
}

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

void NetCloseSocket(NetSocket s) {
    closesocket(static_cast<SOCKET>(s));
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
    if (connect(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
        return 1;
    }
    if (WSAGetLastError() != WSAEWOULDBLOCK) {
        return 0;
    }
    // The connect goes on in the stack; writable means connected, an error condition refused.
    if (WaitSocket(s, true, INFINITE) != 1) {
        return 0;
    }
    int error = 0;
    int size = sizeof error;
    if (getsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                   &size) != 0) {
        return 0;
    }
    return error == 0 ? 1 : 0;
}

int NetSend(NetSocket s, const uint8_t* data, int count) {
    if (count < 0) {
        return -1;
    }
    // Send what fits; while the send buffer is full, wait for room as a blocking send would, and go
    // on until every byte is taken.
    const char* bytes = reinterpret_cast<const char*>(data);
    int done = 0;
    for (;;) {
        int sent = send(static_cast<SOCKET>(s), bytes + done, count - done, 0);
        if (sent != SOCKET_ERROR) {
            done += sent;
            if (done >= count || sent == 0) {
                return done;
            }
            continue;
        }
        if (WSAGetLastError() != WSAEWOULDBLOCK || WaitSocket(s, true, INFINITE) != 1) {
            return done > 0 ? done : -1;  // the bytes already taken still go to the peer
        }
    }
}

int NetWaitReadable(NetSocket s, unsigned timeout_ms) {
    int r = WaitSocket(s, false, timeout_ms);
    if (r == -2) {
        return 1;  // an error condition reads at once (and fails there)
    }
    return r;
}

int NetReadByte(NetSocket s, uint8_t* byte) {
    int r = recv(static_cast<SOCKET>(s), reinterpret_cast<char*>(byte), 1, 0);
    if (r == SOCKET_ERROR) {
        return -1;
    }
    return r == 1 ? 1 : 0;
}

int NetResolveIPv4(const char* name, uint8_t address[4]) {
    if (ReaderStopRaised()) {
        return 0;
    }
    size_t length = strlen(name);
    HostLookup* lookup = new (std::nothrow) HostLookup;
    if (lookup == NULL) {
        return 0;
    }
    if (length >= sizeof lookup->name) {
        delete lookup;
        return 0;
    }
    memcpy(lookup->name, name, length + 1);
    lookup->found = 0;
    lookup->refs = 2;
    lookup->done = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (lookup->done == NULL) {
        delete lookup;
        return 0;
    }
    HANDLE worker = CreateThread(NULL, 0, LookupThread, lookup, 0, NULL);
    if (worker == NULL) {
        CloseHandle(lookup->done);
        delete lookup;
        return 0;
    }
    CloseHandle(worker);
    // The stop signal comes first: once it is raised the answer is not wanted any more.
    HANDLE waits[2] = {ReaderStopEvent(), lookup->done};
    int found = 0;
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1 && lookup->found) {
        memcpy(address, lookup->address, 4);
        found = 1;
    }
    ReleaseLookup(lookup);
    return found;
}
