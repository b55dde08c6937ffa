// The network lines: socket://HOST:PORT, a TCP connection this program makes and makes again
// every second while it cannot, and listen://ADDR:PORT, a TCP port this program listens on for the
// other end's connection, one at a time: the TCP stream is the serial line byte for byte, with no
// speed to set; and rfc2217://HOST:PORT, a connection as socket:// makes it that speaks Telnet
// with the COM port control option (serial/telnet.h), which sets the remote port. All are opened
// by the reader thread, whose waits watch the stop signal.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <mutex>

#include "front/front_end.h"
#include "serial/line_posix.h"
#include "serial/line_url.h"
#include "serial/serial_port.h"
#include "serial/telnet.h"
#include "sockets/net_shim.h"
#include "wait/stop_signal.h"

namespace {

// How long a connection is waited for before the other end counts as not answering.
constexpr unsigned kConnectWaitMs = 1000;

// The listening socket of a listen:// line while no one is connected, or -1. Reader thread only.
int g_listening = -1;

// While a listen:// line is connected, its listening socket stays open, and the doorkeeper, a
// thread of its own, takes any further connection and closes it at once, telling it on stderr: one
// line at a time. `stop` (an eventfd) ends it.
struct Doorkeeper {
    pthread_t thread;
    int stop = -1;
    char name[128];
} g_door;

void* KeepDoor(void*) {
    for (;;) {
        pollfd p[2] = {{g_listening, POLLIN, 0}, {g_door.stop, POLLIN, 0}};
        if ((poll(p, 2, -1) < 0 && errno != EINTR) || p[1].revents != 0) {
            return nullptr;
        }
        int fd = accept4(g_listening, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            close(fd);
            char line[192];
            snprintf(line, sizeof line, "%s: a second connection closed: one at a time",
                     g_door.name);
            FrontTell(line);
        }
    }
}

void StopDoorkeeper() {
    if (g_door.stop >= 0) {
        SignalEventFd(g_door.stop);
        pthread_join(g_door.thread, nullptr);
        close(g_door.stop);
        g_door.stop = -1;
    }
}

// Fills `to` with the IPv4 address of `url`'s host (looked up when it is a name; the lookup ends
// with the stop signal). Returns 1, or 0 when it is not found.
int AddressOf(const LineUrl& url, sockaddr_in* to) {
    *to = sockaddr_in{};
    to->sin_family = AF_INET;
    to->sin_port = htons(static_cast<uint16_t>(url.port));
    return inet_pton(AF_INET, url.host, &to->sin_addr) == 1 ||
           NetResolveIPv4(url.host, reinterpret_cast<uint8_t*>(&to->sin_addr));
}

// Makes the line's socket `fd` send each write at once and notice a peer that went silent for good.
// Returns `fd`.
int SetUpLine(int fd) {
    int on = 1, idle = 10, count = 3;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    return fd;
}

// Connects to the host of the socket:// line `name`. Returns the connected socket with kPortOpen
// in `state`, or -1 with kPortNoHost, kPortRefused or kPortNoAnswer.
int Connect(const char* name, int* state) {
    LineUrl url;
    const char* why;
    sockaddr_in to;
    *state = kPortNoHost;
    if (ParseLineUrl(name, &url, &why) <= 0 || !AddressOf(url, &to)) {
        return -1;
    }
    int fd = SetUpLine(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    int r = connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 ? POLLOUT
            : errno == EINPROGRESS ? WaitForDescriptor(fd, POLLOUT, kConnectWaitMs)
                                   : -1;
    int error = 0;
    socklen_t length = sizeof error;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
    if (r <= 0 || error != 0) {
        close(fd);
        *state = error == ECONNREFUSED || (r < 0 && errno == ECONNREFUSED) ? kPortRefused
                                                                           : kPortNoAnswer;
        return -1;
    }
    *state = kPortOpen;
    return fd;
}

int Listen(const char* name, int* wake);

// Takes the waiting connection of a listen:// line `name`, listening first if it does not yet.
// Returns it with kPortOpen in `state`, or -1 with kPortListening (no one yet) or kPortBusy (the
// address cannot be listened on).
int Accept(const char* name, int* state) {
    int wake;
    if (g_listening < 0) {
        Listen(name, &wake);
    }
    int fd = g_listening >= 0 ? accept4(g_listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)
                              : -1;
    *state = fd >= 0 ? kPortOpen : g_listening >= 0 ? kPortListening : kPortBusy;
    return fd >= 0 ? SetUpLine(fd) : fd;
}

// Listens on the address of the listen:// line `name`; `wake` is the listening socket, readable
// once someone connects. Returns 1, or 0 when the address cannot be listened on (Accept tries
// again, on the reader's timer).
int Listen(const char* name, int* wake) {
    LineUrl url;
    const char* why;
    sockaddr_in at;
    int on = 1;
    StopDoorkeeper();  // the line was lost: the door is the way back in
    snprintf(g_door.name, sizeof g_door.name, "%s", name);
    if (g_listening >= 0) {
        *wake = g_listening;
        return 1;
    }
    g_listening = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    setsockopt(g_listening, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (ParseLineUrl(name, &url, &why) <= 0 || !AddressOf(url, &at) ||
        bind(g_listening, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        listen(g_listening, 1) != 0) {
        close(g_listening);
        g_listening = -1;
    }
    *wake = g_listening;
    return g_listening >= 0 ? 1 : 0;
}

void StopListening() {
    StopDoorkeeper();
    if (g_listening >= 0) {
        close(g_listening);
        g_listening = -1;
    }
}

// The reader's wait for a connection has ended: with one taken, the doorkeeper watches the door;
// stopped, the line is let go.
void EndListenWatch() {
    g_door.stop = ReaderStopRaised() ? -1 : eventfd(0, EFD_CLOEXEC);
    if (g_door.stop >= 0 && pthread_create(&g_door.thread, nullptr, KeepDoor, nullptr) != 0) {
        close(g_door.stop);
        g_door.stop = -1;
    }
    if (ReaderStopRaised()) {
        StopListening();
    }
}

// Closes the connection of a listen:// line; with `discard` (the port closed for good) the
// listening socket and its doorkeeper go too.
void CloseListened(int fd, bool discard) {
    close(fd);
    if (discard) {
        StopListening();
    }
}

// The watch of a socket:// line: none, the reader tries again every second.
int NoWatch(const char*, int* wake) {
    *wake = -1;
    return 0;
}

int NoDrain() {
    return 0;
}

int Listening() {
    return g_listening >= 0 ? 1 : 0;
}

void NoSettings(int, unsigned) {}

void CloseSocket(int fd, bool) {
    close(fd);
}

ssize_t SendBytes(int fd, const void* bytes, size_t n) {
    return send(fd, bytes, n, MSG_NOSIGNAL);
}

// --- rfc2217:// ----------------------------------------------------------------------------

// Where the reading of the server's bytes stands within a Telnet command that a read cut. Reader
// thread only.
TelnetInput g_telnet;

// Held while bytes go out, so that the window's thread setting the remote port never cuts into the
// reader's bytes (a doubled 255 split by a speed setting would be two Telnet commands).
std::mutex g_sending;

// Sends all `n` bytes on `fd`, waiting for room at most a second. Returns `n`, or -1.
ssize_t SendAll(int fd, const uint8_t* bytes, size_t n) {
    std::lock_guard<std::mutex> hold(g_sending);
    for (size_t done = 0; done < n;) {
        ssize_t w = send(fd, bytes + done, n - done, MSG_NOSIGNAL);
        if (w > 0) {
            done += static_cast<size_t>(w);
        } else if ((w < 0 && errno != EAGAIN && errno != EINTR) ||
                   (errno == EAGAIN && WaitForDescriptor(fd, POLLOUT, 1000) <= 0)) {
            return -1;
        }
    }
    return static_cast<ssize_t>(n);
}

// Connects as socket:// does, then says that this end will use the COM port control option and
// binary transmission both ways.
int ConnectTelnet(const char* name, int* state) {
    int fd = Connect(name, state);
    g_telnet = TelnetInput{};
    if (fd >= 0) {
        SendAll(fd, kTelnetHello, sizeof kTelnetHello);
    }
    return fd;
}

// Sets the remote port to `speed` bit/s, 8N1 and no flow control.
void SetRemotePort(int fd, unsigned speed) {
    uint8_t out[kTelnetSettingsMax];
    SendAll(fd, out, TelnetPortSettings(speed, out));
}

// Most bytes read from the server, or taken from the device to be written, at once.
constexpr size_t kTelnetChunk = 256;

// Reads the server's bytes and keeps the device's; the options the server asks for that this line
// does not use are refused.
ssize_t ReadTelnet(int fd, void* buffer, size_t max) {
    uint8_t* bytes = static_cast<uint8_t*>(buffer);
    uint8_t answers[3 * kTelnetChunk];
    size_t answered = 0;
    ssize_t got = read(fd, bytes, max < kTelnetChunk ? max : kTelnetChunk);
    size_t kept =
        got > 0 ? TelnetTakeData(&g_telnet, bytes, static_cast<size_t>(got), answers, &answered)
                : 0;
    if (answered > 0) {
        SendAll(fd, answers, answered);
    }
    if (got > 0 && kept == 0) {
        errno = EAGAIN;  // nothing of the device's came: not the end of the line
        return -1;
    }
    return got > 0 ? static_cast<ssize_t>(kept) : got;
}

// Writes the device's bytes, each 255 doubled. Returns how many of them went (at most
// kTelnetChunk), or -1.
ssize_t WriteTelnet(int fd, const void* buffer, size_t n) {
    uint8_t out[2 * kTelnetChunk];
    size_t taken = n < kTelnetChunk ? n : kTelnetChunk;
    size_t m = TelnetEscape(static_cast<const uint8_t*>(buffer), taken, out);
    return SendAll(fd, out, m) < 0 ? -1 : static_cast<ssize_t>(taken);
}

}  // namespace

const LineKind kRfc2217Line = {ConnectTelnet, SetRemotePort, CloseSocket, NoWatch, NoDrain,
                               [] {},         ReadTelnet,    WriteTelnet, 1,       1000};
const LineKind kSocketLine = {Connect, NoSettings, CloseSocket, NoWatch, NoDrain,
                              [] {},   read,       SendBytes,   1,       1000};
const LineKind kListenLine = {Accept,         NoSettings, CloseListened, Listen, Listening,
                              EndListenWatch, read,       SendBytes,     1,      1000};
