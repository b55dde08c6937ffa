// The network lines: socket://HOST:PORT, a TCP connection this program makes and makes again
// every second while it cannot, and listen://ADDR:PORT, a TCP port this program listens on for the
// other end's connection, one at a time. The TCP stream is the serial line byte for byte: there is
// no speed to set. Both are opened by the reader thread, whose waits watch the stop signal.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "serial/line_posix.h"
#include "serial/line_url.h"
#include "serial/serial_port.h"
#include "sockets/net_shim.h"
#include "wait/stop_signal.h"

namespace {

// How long a connection is waited for before the other end counts as not answering.
constexpr unsigned kConnectWaitMs = 1000;

// The listening socket of a listen:// line while no one is connected, or -1. Reader thread only.
int g_listening = -1;

// Fills `to` with the IPv4 address of `url`'s host (looked up when it is a name; the lookup ends
// with the stop signal). Returns 1, or 0 when it is not found.
int AddressOf(const LineUrl& url, sockaddr_in* to) {
    *to = sockaddr_in{};
    to->sin_family = AF_INET;
    to->sin_port = htons(static_cast<uint16_t>(url.port));
    return inet_pton(AF_INET, url.host, &to->sin_addr) == 1 ||
           NetResolveIPv4(url.host, reinterpret_cast<uint8_t*>(&to->sin_addr));
}

// A TCP socket that sends each write at once and notices a peer that went silent for good.
int LineSocket() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
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
    int fd = LineSocket();
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
    if (fd >= 0) {
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    return fd;
}

// Listens on the address of the listen:// line `name`; `wake` is the listening socket, readable
// once someone connects. Returns 1, or 0 when the address cannot be listened on (Accept tries
// again, on the reader's timer).
int Listen(const char* name, int* wake) {
    LineUrl url;
    const char* why;
    sockaddr_in at;
    int on = 1;
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

// While a connection is up, no one else is listened for: a second one is refused at once.
void StopListening() {
    if (g_listening >= 0) {
        close(g_listening);
        g_listening = -1;
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

}  // namespace

const LineKind kSocketLine = {Connect, NoSettings, CloseSocket, NoWatch, NoDrain,
                              [] {},   SendBytes,  1,           1000};
const LineKind kListenLine = {Accept,        NoSettings, CloseSocket, Listen, Listening,
                              StopListening, SendBytes,  1,           1000};
