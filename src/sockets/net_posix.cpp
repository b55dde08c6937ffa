#include "sockets/net_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "sockets/net_shim.h"

namespace {

// The stop signal: an eventfd that reads as readable while raised, and a flag for cheap checks.
std::atomic<int> g_stopFd{-1};
std::atomic<int> g_stopRaised{0};

int StopFd() {
    int fd = g_stopFd.load();
    if (fd >= 0) {
        return fd;
    }
    int made = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    int expected = -1;
    if (!g_stopFd.compare_exchange_strong(expected, made)) {
        close(made);
        return expected;
    }
    return made;
}

}  // namespace

int ReaderStopFd() {
    return StopFd();
}

void RaiseReaderStop() {
    int fd = StopFd();
    g_stopRaised.store(1);
    uint64_t one = 1;
    ssize_t ignored = write(fd, &one, sizeof one);
    (void)ignored;
}

void ClearReaderStop() {
    int fd = StopFd();
    uint64_t value;
    while (read(fd, &value, sizeof value) > 0) {
    }
    g_stopRaised.store(0);
}

int ReaderStopRaised() {
    return g_stopRaised.load();
}

int WaitForReaderStop(unsigned ms) {
    if (g_stopRaised.load()) {
        return 1;
    }
    struct pollfd p = {StopFd(), POLLIN, 0};
    // poll's timeout is counted down across EINTR by measuring the time left.
    int left = static_cast<int>(ms);
    for (;;) {
        struct timespec before;
        clock_gettime(CLOCK_MONOTONIC, &before);
        int r = poll(&p, 1, left);
        if (r > 0) {
            return 1;
        }
        if (r == 0) {
            return g_stopRaised.load();
        }
        if (errno != EINTR) {
            return g_stopRaised.load();
        }
        struct timespec after;
        clock_gettime(CLOCK_MONOTONIC, &after);
        long spent =
            (after.tv_sec - before.tv_sec) * 1000 + (after.tv_nsec - before.tv_nsec) / 1000000;
        left -= static_cast<int>(spent);
        if (left <= 0) {
            return g_stopRaised.load();
        }
    }
}

int NetStartup() {
    return 1;
}

void NetCleanup() {}
