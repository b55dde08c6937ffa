// The waits on Linux: the stop signal is an eventfd that polls readable while raised, with a flag
// for cheap checks; a signal is an eventfd too; every wait is one poll() of the descriptors waited
// for, the stop signal's and the thread's watch.
#include <pthread.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <new>

#include "wait/wait.h"
#include "wait/watch.h"

namespace {

std::atomic<int> g_stopFd{-1};
std::atomic<int> g_stopRaised{0};

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

// One wait of the calling thread: the `n` descriptors of `p` after the first three, which are the
// stop signal, the thread's watch and, when it is not waited for anyway, nothing. Returns the index
// of the first ready among them plus one with its events in `p`, 0 when the time ran out, -1 when
// the stop signal or the watch ended it.
int PollAll(struct pollfd* p, int n, unsigned ms) {
    if (t_watch.seen) {
        return -1;
    }
    p[0] = {StopFd(), POLLIN, 0};
    // A hang-up or an error of the watch (poll reports them whatever is asked) fires it too. A
    // descriptor that is waited for anyway tells its caller itself.
    p[1] = {t_watch.w, POLLRDHUP, 0};
    for (int i = 2; i < n + 2; ++i) {
        p[1].fd = p[i].fd == t_watch.w ? -1 : p[1].fd;
    }
    const uint64_t deadline = MonotonicMillis() + ms;
    int left = ms == kNoTimeLimit ? -1 : static_cast<int>(ms);
    for (;;) {
        int r = poll(p, static_cast<nfds_t>(n + 2), left);
        if (r < 0 && errno != EINTR) {
            return -1;
        }
        if (r > 0) {
            if (p[1].revents != 0 && (t_watch.fired == nullptr || t_watch.fired(t_watch.w))) {
                t_watch.seen = 1;
            }
            if (t_watch.seen || p[0].revents != 0) {
                return -1;
            }
            for (int i = 2; i < n + 2; ++i) {
                if (p[i].revents != 0) {
                    return i - 1;
                }
            }
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

// The most descriptors one WaitForAny waits for.
constexpr int kMostWaited = 4;

struct ThreadStart {
    void (*body)(void*);
    void* arg;
    char name[16];
};

void* RunThread(void* start) {
    ThreadStart s = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    pthread_setname_np(pthread_self(), s.name);
    s.body(s.arg);
    return nullptr;
}

}  // namespace

void RaiseReaderStop() {
    int fd = StopFd();
    g_stopRaised.store(1);
    RaiseSignal(fd);
}

void ClearReaderStop() {
    ClearSignal(StopFd());
    g_stopRaised.store(0);
}

int ReaderStopRaised() {
    return g_stopRaised.load() | t_watch.seen;
}

int WaitForReaderStop(unsigned ms) {
    if (!ReaderStopRaised()) {
        WaitForDescriptor(-1, 0, ms);
    }
    return ReaderStopRaised();
}

uint64_t MonotonicMillis() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

int WaitForDescriptor(int fd, short events, unsigned ms) {
    // poll ignores a descriptor of -1: then only the signal is watched.
    struct pollfd p[3];
    p[2] = {fd < 0 ? -1 : fd, events, 0};
    int r = PollAll(p, 1, ms);
    return r > 0 ? ((p[2].revents & POLLNVAL) != 0 ? -1 : p[2].revents) : r;
}

size_t WriteWithin(int fd, const uint8_t* bytes, size_t n, uint64_t deadline,
                   ssize_t (*put)(int fd, const void* bytes, size_t n)) {
    size_t done = 0;
    while (done < n) {
        ssize_t w = put(fd, bytes + done, n - done);
        if (w > 0) {
            done += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) {
            continue;
        }
        uint64_t now = MonotonicMillis();
        unsigned ms = deadline == kNoDeadline ? kNoTimeLimit
                      : now < deadline        ? static_cast<unsigned>(deadline - now)
                                              : 0;
        int r = w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && ms > 0
                    ? WaitForDescriptor(fd, POLLOUT, ms)
                    : 0;
        if (r <= 0 || (r & POLLOUT) == 0) {
            break;  // failed, the time is up, or the stop signal
        }
    }
    return done;
}

int ReadNow(int fd, uint8_t* bytes, size_t max) {
    ssize_t got;
    do {
        got = read(fd, bytes, max);
    } while (got < 0 && errno == EINTR);
    return got > 0                                                ? static_cast<int>(got)
           : got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? 0
                                                                  : -1;
}

int AwaitReadable(int fd, unsigned ms) {
    int r = WaitForDescriptor(fd, POLLIN, ms);
    return r <= 0 ? r : (r & POLLIN) != 0 ? 1 : -2;
}

int WaitForAny(const Waitable* w, int n, unsigned ms) {
    struct pollfd p[kMostWaited + 2];
    n = n < kMostWaited ? n : kMostWaited;
    for (int i = 0; i < n; ++i) {
        p[i + 2] = {w[i], POLLIN, 0};
    }
    return PollAll(p, n, ms);
}

Waitable MakeSignal() {
    return eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

void RaiseSignal(Waitable s) {
    uint64_t one = 1;  // an eventfd takes exactly 8 bytes
    ssize_t ignored = write(s, &one, sizeof one);
    (void)ignored;
}

void ClearSignal(Waitable s) {
    uint64_t value;
    while (read(s, &value, sizeof value) > 0) {
    }
}

void FreeSignal(Waitable s) {
    if (s >= 0) {
        close(s);
    }
}

int StartThread(const char* name, void (*body)(void*), void* arg, ThreadId* id) {
    ThreadStart* start = new (std::nothrow) ThreadStart{body, arg, ""};
    if (start == nullptr) {
        return 0;
    }
    snprintf(start->name, sizeof start->name, "%s", name);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, id ? PTHREAD_CREATE_JOINABLE : PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    int started = pthread_create(&thread, &attr, RunThread, start);
    pthread_attr_destroy(&attr);
    if (started != 0) {
        delete start;
        return 0;
    }
    if (id != nullptr) {
        *id = static_cast<ThreadId>(thread);
    }
    return 1;
}

void JoinThread(ThreadId id) {
    pthread_join(static_cast<pthread_t>(id), nullptr);
}

void TakeLock(Lock* lock) {
    pthread_mutex_lock(&lock->word);
}

void DropLock(Lock* lock) {
    pthread_mutex_unlock(&lock->word);
}
