// The socket shim over WinSock 1.1.
#include <winsock2.h>
//
#include <windows.h>

#include <cstring>
#include <new>

#include "sockets/net_shim.h"
#include "wait/stop_signal.h"

namespace {

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
    if (WaitForSocket(static_cast<uintptr_t>(s), true, kNoTimeLimit) != 1) {
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
        if (WSAGetLastError() != WSAEWOULDBLOCK ||
            WaitForSocket(static_cast<uintptr_t>(s), true, kNoTimeLimit) != 1) {
            return done > 0 ? done : -1;  // the bytes already taken still go to the peer
        }
    }
}

int NetReadByteWithin(NetSocket s, uint8_t* byte, unsigned ms) {
    // The socket is non-blocking: read what is there, and wait only when nothing is.
    char* into = reinterpret_cast<char*>(byte);
    int r = recv(static_cast<SOCKET>(s), into, 1, 0);
    if (r == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
        int ready = WaitForSocket(static_cast<uintptr_t>(s), false, ms);
        if (ready == 0 || ready == -1) {
            return ready;
        }
        r = recv(static_cast<SOCKET>(s), into, 1, 0);  // an error condition fails here
    }
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
    int found = 0;
    if (WaitForHandle(lookup->done, kNoTimeLimit) == 1 && lookup->found) {
        memcpy(address, lookup->address, 4);
        found = 1;
    }
    ReleaseLookup(lookup);
    return found;
}
