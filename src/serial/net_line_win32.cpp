// The network lines on Win32: socket://HOST:PORT and rfc2217://HOST:PORT, TCP connections this
// program makes (rfc2217:// speaking Telnet with the COM port control option, serial/telnet.h),
// and listen://ADDR:PORT, a TCP port this program listens on for the other end's connection, one
// at a time. Non-blocking WinSock sockets, whose every wait is a WaitForSocket that watches the
// stop signal.
#include <winsock2.h>
//
#include <mstcpip.h>
#include <windows.h>

#include <cstring>

#include "serial/line_url.h"
#include "serial/line_win32.h"
#include "serial/serial_port.h"
#include "serial/telnet.h"
#include "sockets/net_shim.h"
#include "wait/stop_signal.h"

namespace {

// How long a connection is waited for before the other end counts as not answering. Windows tries
// a refused connection twice more, half a second apart, before it fails it.
constexpr unsigned kConnectWaitMs = 3000;

// A write gives up when its bytes have not all been taken within this time.
constexpr unsigned kWriteLimitMs = 1000;

// Most of the device's bytes read or escaped at once.
constexpr size_t kChunk = 256;

// The listening socket of a listen:// line while no one is connected, or INVALID_SOCKET. Reader
// thread only.
SOCKET g_listening = INVALID_SOCKET;

// Whether the open line speaks Telnet, and where the reading of the server's commands stands. Set
// by the reader when it connects, before the line is the port's.
bool g_telnet;
TelnetInput g_input;

// Held while bytes go out, so that the window's thread setting the remote port never cuts into the
// reader's bytes.
SRWLOCK g_sending = SRWLOCK_INIT;

// Fills `to` with the IPv4 address of `url`'s host (looked up when it is a name; the lookup ends
// with the stop signal). Returns 1, or 0 when it is not found.
int AddressOf(const LineUrl& url, sockaddr_in* to) {
    memset(to, 0, sizeof *to);
    to->sin_family = AF_INET;
    to->sin_port = htons(static_cast<u_short>(url.port));
    to->sin_addr.s_addr = inet_addr(url.host);
    return to->sin_addr.s_addr != INADDR_NONE ||
           NetResolveIPv4(url.host, reinterpret_cast<uint8_t*>(&to->sin_addr));
}

// Makes the connected `s` non-blocking, sending each write at once, taking urgent data as data (so
// that select never reports it as an error) and noticing a peer that went silent for good (after
// 10 s and ten probes 3 s apart).
void SetUp(SOCKET s) {
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    BOOL on = TRUE;
    setsockopt(s, SOL_SOCKET, SO_OOBINLINE, reinterpret_cast<const char*>(&on), sizeof on);
    setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    tcp_keepalive alive = {1, 10000, 3000};
    DWORD ignored;
    WSAIoctl(s, SIO_KEEPALIVE_VALS, &alive, sizeof alive, NULL, 0, &ignored, NULL, NULL);
}

// Sends all `n` bytes on `s`, waiting for room until `deadline` (MonotonicMillis) at the latest.
// Returns 1, or 0 when the socket failed, the time ran out or the stop signal came.
int SendAll(SOCKET s, const uint8_t* bytes, size_t n, uint64_t deadline) {
    AcquireSRWLockExclusive(&g_sending);
    size_t done = 0;
    while (done < n) {
        int w = send(s, reinterpret_cast<const char*>(bytes) + done, static_cast<int>(n - done), 0);
        if (w > 0) {
            done += static_cast<size_t>(w);
            continue;
        }
        uint64_t now = MonotonicMillis();
        if (w == 0 || WSAGetLastError() != WSAEWOULDBLOCK || now >= deadline ||
            WaitForSocket(s, true, static_cast<unsigned>(deadline - now)) != 1) {
            break;
        }
    }
    ReleaseSRWLockExclusive(&g_sending);
    return done == n ? 1 : 0;
}

// Connects to the host of `url`. Returns the connected socket with kPortOpen in `state`, or
// INVALID_SOCKET with kPortNoHost, kPortRefused or kPortNoAnswer.
SOCKET Connect(const LineUrl& url, int* state) {
    sockaddr_in to;
    *state = kPortNoHost;
    if (!AddressOf(url, &to)) {
        return INVALID_SOCKET;
    }
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    SetUp(s);
    int error =
        connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 ? 0 : WSAGetLastError();
    // Writable means connected; an error condition, that the connection failed.
    int r = error == 0 ? 1 : error == WSAEWOULDBLOCK ? WaitForSocket(s, true, kConnectWaitMs) : -2;
    if (error == WSAEWOULDBLOCK) {
        int size = sizeof error;
        error = 0;
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
    }
    if (r != 1 || error != 0) {
        closesocket(s);
        *state = error == WSAECONNREFUSED ? kPortRefused : kPortNoAnswer;
        return INVALID_SOCKET;
    }
    *state = kPortOpen;
    return s;
}

// Listens on the address of `url` unless it does already. A plain bind: on Windows it binds past
// the connections of a previous listening that are still closing, and SO_REUSEADDR would take the
// address from another program that listens on it. Returns 1, or 0 when the address cannot be
// listened on.
int Listen(const LineUrl& url) {
    sockaddr_in at;
    if (g_listening == INVALID_SOCKET && AddressOf(url, &at)) {
        g_listening = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        u_long nonBlocking = 1;
        if (ioctlsocket(g_listening, FIONBIO, &nonBlocking) != 0 ||
            bind(g_listening, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
            listen(g_listening, 1) != 0) {
            closesocket(g_listening);
            g_listening = INVALID_SOCKET;
        }
    }
    return g_listening != INVALID_SOCKET ? 1 : 0;
}

// Takes the waiting connection on the address of `url`, listening first if it does not yet.
// Returns it with kPortOpen in `state`, or INVALID_SOCKET with kPortListening (no one yet) or
// kPortBusy (the address cannot be listened on).
SOCKET Accept(const LineUrl& url, int* state) {
    SOCKET s = Listen(url) ? accept(g_listening, NULL, NULL) : INVALID_SOCKET;
    *state = s != INVALID_SOCKET             ? kPortOpen
             : g_listening != INVALID_SOCKET ? kPortListening
                                             : kPortBusy;
    if (s != INVALID_SOCKET) {
        SetUp(s);
        EndNetListen();  // while it is up, a second connection is refused at once
    }
    return s;
}

}  // namespace

uintptr_t OpenNetLine(const char* name, int* state) {
    LineUrl url;
    const char* why;
    int scheme = ParseLineUrl(name, &url, &why);
    SOCKET s = scheme == kLineListen ? Accept(url, state) : Connect(url, state);
    g_telnet = scheme == kLineRfc2217;
    g_input = TelnetInput{};
    if (s != INVALID_SOCKET && g_telnet) {
        SendAll(s, kTelnetHello, sizeof kTelnetHello, MonotonicMillis() + kWriteLimitMs);
    }
    return s;
}

int AwaitNetTry(unsigned ms) {
    if (g_listening != INVALID_SOCKET) {
        int r = WaitForSocket(g_listening, false, kNoTimeLimit);
        if (r == 1 || ReaderStopRaised()) {
            return r == 1 ? 1 : 0;
        }
    }
    return WaitForReaderStop(ms) ? 0 : 1;
}

void EndNetListen() {
    if (g_listening != INVALID_SOCKET) {
        closesocket(g_listening);
        g_listening = INVALID_SOCKET;
    }
}

void ConfigureNetLine(uintptr_t line, unsigned speed) {
    if (g_telnet) {
        uint8_t out[kTelnetSettingsMax];
        SendAll(line, out, TelnetPortSettings(speed, out), MonotonicMillis() + kWriteLimitMs);
    }
}

int ReadNetLine(uintptr_t line, uint8_t* buffer, size_t max) {
    int got = recv(line, reinterpret_cast<char*>(buffer),
                   static_cast<int>(max < kChunk ? max : kChunk), 0);
    if (got <= 0) {  // 0: the other end closed the line
        return got < 0 && WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
    }
    if (!g_telnet) {
        return got;
    }
    uint8_t answers[3 * kChunk];
    size_t answered;
    size_t kept = TelnetTakeData(&g_input, buffer, static_cast<size_t>(got), answers, &answered);
    SendAll(line, answers, answered, MonotonicMillis() + kWriteLimitMs);
    return static_cast<int>(kept);
}

void WriteNetLine(uintptr_t line, const uint8_t* bytes, size_t n) {
    const uint64_t deadline = MonotonicMillis() + kWriteLimitMs;
    if (!g_telnet) {
        SendAll(line, bytes, n, deadline);
        return;
    }
    uint8_t out[2 * kChunk];
    for (size_t done = 0, m = 0; done < n; done += m) {
        m = n - done < kChunk ? n - done : kChunk;
        if (!SendAll(line, out, TelnetEscape(bytes + done, m, out), deadline)) {
            return;
        }
    }
}

void CloseNetLine(uintptr_t line) {
    closesocket(line);
}
