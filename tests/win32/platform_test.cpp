// Tests of the Windows platform files that need no port or window: the WinSock shim with the
// reader stop signal (against a TCP server on 127.0.0.1 started here) and the log file append.
// Run under Wine by the end-to-end test; prints one line per check, exit code = failed checks.
#include <winsock2.h>
//
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "log/log_file.h"
#include "sockets/net_shim.h"

namespace {

int g_failed = 0;

void Check(bool ok, const char* what) {
    printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) {
        ++g_failed;
    }
}

// A listening socket on 127.0.0.1 with a free port.
SOCKET Listen(uint16_t* port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in at = {};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at);
    listen(s, 1);
    int size = sizeof at;
    getsockname(s, reinterpret_cast<sockaddr*>(&at), &size);
    *port = ntohs(at.sin_port);
    return s;
}

DWORD WINAPI RaiseStopLater(LPVOID) {
    Sleep(200);  // the wait under test must still be running then; it is bounded by its own limit
    RaiseReaderStop();
    return 0;
}

void TestSockets() {
    const uint8_t loopback[4] = {127, 0, 0, 1};
    uint16_t port = 0;
    SOCKET server = Listen(&port);

    NetSocket s = NetOpenTcp();
    Check(s != kNoSocket, "a TCP socket is made");
    Check(NetSend(s, reinterpret_cast<const uint8_t*>("x"), 1) == -1,
          "send on an unconnected socket fails");
    Check(NetConnect(s, 2, port, loopback) == 1, "connect to the server on 127.0.0.1");
    SOCKET peer = accept(server, NULL, NULL);
    Check(peer != INVALID_SOCKET, "the server takes the connection");

    Check(NetSend(s, reinterpret_cast<const uint8_t*>("ABC"), 3) == 3, "send of three bytes");
    char got[4] = {};
    int n = 0;
    while (n < 3) {
        int r = recv(peer, got + n, 3 - n, 0);
        if (r <= 0) {
            break;
        }
        n += r;
    }
    Check(n == 3 && memcmp(got, "ABC", 3) == 0, "the peer gets ABC");
    Check(NetSend(s, reinterpret_cast<const uint8_t*>("x"), -1) == -1, "negative count fails");
    Check(NetSend(s, reinterpret_cast<const uint8_t*>("x"), 0) == 0, "a zero send gives 0");

    send(peer, "xy", 2, 0);
    uint8_t byte = 0;
    Check(NetWaitReadable(s, 1000) == 1 && NetReadByte(s, &byte) == 1 && byte == 'x',
          "first byte read");
    Check(NetWaitReadable(s, 1000) == 1 && NetReadByte(s, &byte) == 1 && byte == 'y',
          "second byte read");

    ULONGLONG start = GetTickCount64();
    int r = NetWaitReadable(s, 1000);
    ULONGLONG spent = GetTickCount64() - start;
    Check(r == 0 && spent >= 900 && spent < 2500, "silence: the wait gives up after one second");

    HANDLE raiser = CreateThread(NULL, 0, RaiseStopLater, NULL, 0, NULL);
    start = GetTickCount64();
    r = NetWaitReadable(s, 10000);
    spent = GetTickCount64() - start;
    WaitForSingleObject(raiser, 10000);
    CloseHandle(raiser);
    Check(r == -1 && spent < 2000, "the stop signal ends a readiness wait at once");
    Check(ReaderStopRaised() == 1 && WaitForReaderStop(0) == 1, "the signal stays raised");
    uint8_t address[4] = {};
    Check(NetResolveIPv4("localhost", address) == 0, "a lookup under a raised signal gives up");
    ClearReaderStop();
    Check(ReaderStopRaised() == 0 && WaitForReaderStop(50) == 0, "cleared, the signal is down");

    closesocket(peer);
    Check(NetWaitReadable(s, 1000) == 1 && NetReadByte(s, &byte) == 0,
          "a closed peer reads as end of data");
    NetCloseSocket(s);
    Check(NetWaitReadable(kNoSocket, 100) == -1, "no socket: the wait fails");

    // A port that nobody listens on any more refuses the connect.
    uint16_t freed = 0;
    SOCKET gone = Listen(&freed);
    closesocket(gone);
    NetSocket refused = NetOpenTcp();
    Check(NetConnect(refused, 2, freed, loopback) == 0, "a refused connect gives 0");
    NetCloseSocket(refused);
    closesocket(server);

    Check(NetResolveIPv4("localhost", address) == 1 && address[0] == 127,
          "localhost resolves to a 127.x.x.x address");
}

void TestLogFile() {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%szundrel-log-%lu.txt", dir, GetCurrentProcessId());
    DeleteFileA(path);
    Check(AppendToLogFile(path, "R> 01 \r\n", 8) == 1, "a missing log file is made");
    Check(AppendToLogFile(path, "S> 02 \r\n", 8) == 1, "a second line is appended");
    HANDLE holder = CreateFileA(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    Check(AppendToLogFile(path, "X\r\n", 3) == 0, "a file held elsewhere skips the line");
    char text[64] = {};
    DWORD n = 0;
    ReadFile(holder, text, sizeof text - 1, &n, NULL);
    CloseHandle(holder);
    Check(strcmp(text, "R> 01 \r\nS> 02 \r\n") == 0, "the file holds both lines in order");
    DeleteFileA(path);
}

}  // namespace

int main() {
    Check(NetStartup() == 1, "WinSock 1.1 starts");
    TestSockets();
    NetCleanup();
    TestLogFile();
    printf("%d failed\n", g_failed);
    return g_failed;
}
