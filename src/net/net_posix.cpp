// The network layer on Linux: BSD sockets, waited for with poll() through WaitForDescriptor.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "net/net.h"

namespace {

// Makes the connection `fd` send each write at once and notice a peer that went silent for good.
// Returns `fd`.
int SetUpConnection(int fd) {
    int on = 1, idle = kKeepIdleMs / 1000, probe = kKeepProbeMs / 1000, count = kKeepProbes;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &probe, sizeof probe);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    return fd;
}

const sockaddr* AddressOf(const NetAddress& a) {
    return reinterpret_cast<const sockaddr*>(a.bytes);
}

// Connects the non-blocking `fd` to `to` (`size` bytes), waiting up to `ms` for the answer. Returns
// 1, or 0 with the NetFailure in `failure`.
int ConnectWithin(int fd, const sockaddr* to, socklen_t size, unsigned ms, int* failure) {
    int r = connect(fd, to, size) == 0               ? POLLOUT
            : errno == EINPROGRESS || errno == EINTR ? WaitForDescriptor(fd, POLLOUT, ms)
                                                     : -2;
    int error = r == -2 ? errno : 0;
    socklen_t length = sizeof error;
    if (r > 0) {
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
    }
    *failure = error == ECONNREFUSED ? kNetRefused : r == -1 ? kNetStopped : kNetNoAnswer;
    return r > 0 && error == 0 ? 1 : 0;
}

// A send that never waits and never raises SIGPIPE: a peer that has gone away fails it.
ssize_t SendNow(int fd, const void* bytes, size_t n) {
    return send(fd, bytes, n, MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace

int NetStartup() {
    return 1;
}

void NetCleanup() {}

void NetCloseSocket(NetSocket s) {
    close(static_cast<int>(s));
}

// --- The device's TCP sockets
// ----------------------------------------------------------------------

NetSocket NetOpenTcp() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    return fd < 0 ? kNoSocket : fd;
}

int NetConnect(NetSocket s, uint16_t family, uint16_t port, const uint8_t address[4]) {
    int fd = static_cast<int>(s);
    if (family != AF_INET) {
        // An IPv4 TCP socket connects to nothing else. Linux would take family 0 (AF_UNSPEC) as
        // "dissolve the association" and report success for a connect that made no connection.
        return 0;
    }
#if ZUNDREL_CONFINED_NET
    // The confined build (fuzzing) never leaves this machine: only loopback addresses connect.
    if (address[0] != 127) {
        return 0;
    }
#endif
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    static_assert(sizeof sa == 16, "the device's socket address block is 16 bytes");
    sa.sin_family = family;
    sa.sin_port = htons(port);
    memcpy(&sa.sin_addr, address, 4);
    // Connect without blocking, so that the wait for the answer can also watch the stop signal.
    int flags = fcntl(fd, F_GETFL);
    int failure;
    int connected = flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 &&
                    ConnectWithin(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa,
                                  kNoTimeLimit, &failure);
    fcntl(fd, F_SETFL, flags);
    return connected;
}

int NetSend(NetSocket s, const uint8_t* data, int count) {
    if (count < 0) {
        return -1;
    }
    // A blocking send that the stop signal can end. The bytes already taken still go to the peer.
    size_t done =
        WriteWithin(static_cast<int>(s), data, static_cast<size_t>(count), kNoDeadline, SendNow);
    return done > 0 || count == 0 ? static_cast<int>(done) : -1;
}

int NetReceiveWithin(NetSocket s, uint8_t* bytes, size_t max, unsigned ms, bool peek) {
    int fd = static_cast<int>(s);
    if (ReaderStopRaised()) {
        return -1;
    }
    // What has come costs one call (system calls are what a receive spends its time on); the wait
    // comes only when nothing is there yet.
    for (bool waited = false;;) {
        ssize_t r = recv(fd, bytes, max, MSG_DONTWAIT | (peek ? MSG_PEEK : 0));
        if (r >= 0) {
            return static_cast<int>(r);
        }
        if (errno == EINTR) {
            continue;
        }
        if (waited || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            return -1;
        }
        int ready = WaitForDescriptor(fd, POLLIN, ms);
        if (ready <= 0) {
            return ready;
        }
        waited = true;
    }
}

int NetLookUpNow(const char* name, uint8_t address[4]) {
    // An empty name stands for this PC, as WinSock's lookup takes it: getaddrinfo refuses "", so
    // the PC's own host name is looked up instead.
    char ownName[kMostNameBytes];
    if (name[0] == '\0') {
        if (gethostname(ownName, sizeof ownName) != 0) {
            return 0;
        }
        ownName[sizeof ownName - 1] = '\0';
        name = ownName;
    }
    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* answer = nullptr;
    int found = 0;
    if (getaddrinfo(name, nullptr, &hints, &answer) == 0) {
        for (struct addrinfo* a = answer; a != nullptr && !found; a = a->ai_next) {
            if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(struct sockaddr_in)) {
                memcpy(address, &reinterpret_cast<struct sockaddr_in*>(a->ai_addr)->sin_addr, 4);
                found = 1;
            }
        }
        freeaddrinfo(answer);
    }
    return found;
}

// --- The program's own connections
// -----------------------------------------------------------------

NetSocket NetConnectWithin(const NetAddress& to, unsigned ms, int* failure) {
    int fd = socket(AddressOf(to)->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    *failure = kNetNoAnswer;
    if (fd >= 0 && ConnectWithin(SetUpConnection(fd), AddressOf(to),
                                 static_cast<socklen_t>(to.size), ms, failure)) {
        return fd;
    }
    if (fd >= 0) {
        close(fd);
    }
    return kNoSocket;
}

NetSocket NetListenOn(const NetAddress& at, int* failure) {
    int fd = socket(AddressOf(at)->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int on = 1;
    // Binds past the connections of an earlier listening that are still closing; another program
    // that listens on the address still keeps it.
    if (fd >= 0) {
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    if (fd < 0 || bind(fd, AddressOf(at), static_cast<socklen_t>(at.size)) != 0 ||
        listen(fd, 1) != 0) {
        int e = errno;
        *failure = e == EADDRNOTAVAIL ? kNetNotHere : e == EACCES ? kNetDenied : kNetInUse;
        if (fd >= 0) {
            close(fd);
        }
        return kNoSocket;
    }
    return fd;
}

NetSocket NetAcceptOne(NetSocket listener) {
    int fd = accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    return fd >= 0 ? SetUpConnection(fd) : kNoSocket;
}

int NetSendAll(NetSocket s, const uint8_t* bytes, size_t n, uint64_t deadline) {
    return WriteWithin(static_cast<int>(s), bytes, n, deadline, SendNow) == n ? 1 : 0;
}

int NetReceiveSome(NetSocket s, uint8_t* bytes, size_t max) {
    // A plain read of the non-blocking connection, as a terminal's is read (the process's count of
    // bytes read counts it the same way).
    return ReadNow(static_cast<int>(s), bytes, max);
}

int NetAwaitBytes(NetSocket s, unsigned ms) {
    return AwaitReadable(static_cast<int>(s), ms);
}

Waitable NetWaitable(NetSocket s) {
    return static_cast<int>(s);
}

int NetWatchFired(Waitable) {
    return 1;  // the watch polls for the end of the connection alone
}

int NetPeerClosed(NetSocket s, unsigned ms) {
    struct pollfd p = {static_cast<int>(s), POLLRDHUP, 0};
    return poll(&p, 1, static_cast<int>(ms)) > 0 && p.revents != 0 ? 1 : 0;
}
