#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "sockets/net_shim.h"
#include "wait/stop_signal.h"

int NetStartup() {
    return 1;
}

void NetCleanup() {}

// --- TCP sockets -----------------------------------------------------------------------------

NetSocket NetOpenTcp() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    return fd < 0 ? kNoSocket : fd;
}

void NetCloseSocket(NetSocket s) {
    close(static_cast<int>(s));
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
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        return 0;
    }
    int connected = 0;
    if (connect(fd, reinterpret_cast<const struct sockaddr*>(&sa), sizeof sa) == 0) {
        connected = 1;
    } else if (errno == EINPROGRESS || errno == EINTR) {
        if (WaitForDescriptor(fd, POLLOUT, kNoTimeLimit) > 0) {
            int error = 0;
            socklen_t size = sizeof error;
            connected = getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
        }
    }
    fcntl(fd, F_SETFL, flags);
    return connected;
}

int NetSend(NetSocket s, const uint8_t* data, int count) {
    int fd = static_cast<int>(s);
    if (count < 0) {
        return -1;
    }
    // A blocking send that the stop signal can end: send what fits, wait for room, and go on until
    // every byte is taken. A peer that has gone away is a failed send, not a SIGPIPE.
    int done = 0;
    for (;;) {
        ssize_t sent =
            send(fd, data + done, static_cast<size_t>(count - done), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) {
            done += static_cast<int>(sent);
            if (done >= count || sent == 0) {
                return done;
            }
            continue;
        }
        if (errno == EINTR) {
            continue;
        }
        if ((errno != EAGAIN && errno != EWOULDBLOCK) ||
            WaitForDescriptor(fd, POLLOUT, kNoTimeLimit) <= 0) {
            return done > 0 ? done : -1;  // the bytes already taken still go to the peer
        }
    }
}

int NetReadByteWithin(NetSocket s, uint8_t* byte, unsigned ms) {
    int fd = static_cast<int>(s);
    if (ReaderStopRaised()) {
        return -1;
    }
    // With data waiting, a byte costs one read (system calls are what a block receive spends its
    // time on); the wait comes only when nothing is there yet.
    bool waited = false;
    for (;;) {
        ssize_t r = recv(fd, byte, 1, waited ? 0 : MSG_DONTWAIT);
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

// --- Host lookup -----------------------------------------------------------------------------
//
// getaddrinfo cannot be interrupted, so it runs on a worker thread of its own. The reader and the
// worker share one record; whichever lets go of it last frees it and closes its descriptor. A
// stopped reader simply lets go, and the worker cleans up when its lookup ends.

namespace {

struct LookupRecord {
    std::atomic<int> holders;  // the reader and the worker
    std::atomic<int> found;    // 1 when `address` holds the answer; set before `done` fires
    int done;                  // eventfd, readable once the worker has finished
    char* name;                // a copy of the name, NUL-terminated
    uint8_t address[4];
};

void LetGo(LookupRecord* record) {
    if (record->holders.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        if (record->done >= 0) {
            close(record->done);
        }
        free(record->name);
        delete record;
    }
}

void* LookupWorker(void* arg) {
    LookupRecord* record = static_cast<LookupRecord*>(arg);
    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* answer = nullptr;
    if (getaddrinfo(record->name, nullptr, &hints, &answer) == 0) {
        for (struct addrinfo* a = answer; a != nullptr; a = a->ai_next) {
            if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(struct sockaddr_in)) {
                const struct sockaddr_in* in = reinterpret_cast<struct sockaddr_in*>(a->ai_addr);
                memcpy(record->address, &in->sin_addr, 4);
                record->found.store(1, std::memory_order_release);
                break;
            }
        }
        freeaddrinfo(answer);
    }
    SignalEventFd(record->done);
    LetGo(record);
    return nullptr;
}

}  // namespace

int NetResolveIPv4(const char* name, uint8_t address[4]) {
#if ZUNDREL_CONFINED_NET
    // The confined build (fuzzing) asks no name server: only "localhost" is looked up.
    if (strcmp(name, "localhost") != 0) {
        return 0;
    }
#endif
    // An empty name stands for this PC, as WinSock's lookup takes it: getaddrinfo refuses "", so
    // the PC's own host name is looked up instead.
    char ownName[256];
    if (name[0] == '\0') {
        if (gethostname(ownName, sizeof ownName) != 0) {
            return 0;
        }
        ownName[sizeof ownName - 1] = '\0';
        name = ownName;
    }
    LookupRecord* record = new (std::nothrow) LookupRecord;
    if (record == nullptr) {
        return 0;
    }
    record->holders.store(1);  // the reader's share; the worker's is added when it starts
    record->found.store(0);
    record->done = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    record->name = strdup(name);
    if (record->done < 0 || record->name == nullptr) {
        LetGo(record);
        return 0;
    }

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t worker;
    record->holders.fetch_add(1);
    int started = pthread_create(&worker, &attr, LookupWorker, record);
    pthread_attr_destroy(&attr);
    if (started != 0) {
        record->holders.fetch_sub(1);  // no worker: only the reader's share is left
        LetGo(record);
        return 0;
    }

    int found = 0;
    if (WaitForDescriptor(record->done, POLLIN, kNoTimeLimit) > 0 &&
        record->found.load(std::memory_order_acquire)) {
        memcpy(address, record->address, 4);
        found = 1;
    }
    LetGo(record);
    return found;
}
