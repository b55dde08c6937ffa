// The stop signal on POSIX: an eventfd that polls readable while raised, and a flag for cheap
// checks. The one timed wait is a poll() on a descriptor and the eventfd.
#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "wait/stop_signal.h"

namespace {

std::atomic<int> g_stopFd{-1};
std::atomic<int> g_stopRaised{0};

// The port the waits of this thread watch for a loss (-1: none), and whether one has been seen.
thread_local int t_lossFd = -1;
thread_local int t_lossSeen = 0;

// The eventfd of the stop signal, made on first use.
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

void RaiseReaderStop() {
    int fd = StopFd();
    g_stopRaised.store(1);
    SignalEventFd(fd);
}

void SignalEventFd(int fd) {
    uint64_t one = 1;  // an eventfd takes exactly 8 bytes
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
    return g_stopRaised.load() | t_lossSeen;
}

void WatchPortLoss(int fd) {
    t_lossFd = fd;
}

int TakePortLoss() {
    int seen = t_lossSeen;
    t_lossSeen = 0;
    return seen;
}

uint64_t MonotonicMillis() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

int WaitForDescriptor(int fd, short events, unsigned ms) {
    if (t_lossSeen) {
        return -1;
    }
    // poll ignores a descriptor of -1: then only the signal is watched. A hang-up or an error of
    // the watched port (poll reports them whatever the events asked for) ends the wait.
    struct pollfd p[3] = {{StopFd(), POLLIN, 0},
                          {fd < 0 ? -1 : fd, events, 0},
                          {t_lossFd == fd ? -1 : t_lossFd, 0, 0}};
    const uint64_t deadline = MonotonicMillis() + ms;
    int left = ms == kNoTimeLimit ? -1 : static_cast<int>(ms);
    for (;;) {
        int r = poll(p, 3, left);
        if (r < 0 && errno != EINTR) {
            return -1;
        }
        if (r > 0) {
            if (p[2].revents != 0) {
                t_lossSeen = 1;
            }
            if (t_lossSeen || p[0].revents != 0 || (p[1].revents & POLLNVAL) != 0) {
                return -1;
            }
            return p[1].revents;
        }
        if (r == 0) {
            return 0;
        }
        if (left >= 0) {
            uint64_t now = MonotonicMillis();
            left = now >= deadline ? 0 : static_cast<int>(deadline - now);
        }
    }
}

int WaitForReaderStop(unsigned ms) {
    if (!ReaderStopRaised()) {
        WaitForDescriptor(-1, 0, ms);
    }
    return ReaderStopRaised();
}
