// The serial port on POSIX: the one line open at a time, its speed and state, the reader thread
// that serves it, and the port side of the core (WritePort, PauseReader). What the line is, a
// terminal or another kind, is left to its LineKind.
#include "serial/port_posix.h"

#include <errno.h>
#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>

#include "frame/port_seam.h"
#include "link/frame_assembly.h"
#include "serial/line_url.h"
#include "serial/port_probes_posix.h"
#include "serial/serial_port.h"
#include "wait/stop_signal.h"

namespace {

// A write gives up when its bytes have not all been taken within this time.
constexpr unsigned kWriteLimitMs = 1000;

// The one serial port of the run. `kind`, `name`, `reader` and `readerRunning` are changed by the
// window's thread only, while no reader runs; `fd` and `speed` under `lock`, and `fd` only by the
// window's thread while no reader runs or by the reader when its line is lost or back.
struct SerialPort {
    std::mutex lock;
    int fd = -1;  // descriptor of the open line, -1 when none is open
    unsigned speed = 9600;
    const LineKind* kind = nullptr;  // the kind of the line last asked for
    char name[PATH_MAX] = "";        // the line last asked for
    pthread_t reader{};
    bool readerRunning = false;
    std::atomic<int> state{kPortClosed};
};

SerialPort g_port;

}  // namespace

const LineKind* LineKindOf(const char* name) {
    LineUrl url;
    const char* why;
    switch (ParseLineUrl(name, &url, &why)) {
        case kLineSocket:
            return &kSocketLine;
        case kLineListen:
            return &kListenLine;
        case kLineRfc2217:
            return &kRfc2217Line;
        default:
            return &kTtyLine;
    }
}

ssize_t ReadSome(int fd, uint8_t* buffer, size_t max) {
    ssize_t n;
    do {
        n = g_port.kind->read(fd, buffer, max);
    } while (n < 0 && errno == EINTR);
    // 0 bytes: the other end closed the line; EIO and the like: it failed.
    return n > 0 ? n : n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
}

int PortDescriptor() {
    return g_port.fd;
}

const LineKind* PortKind() {
    return g_port.kind;
}

const char* PortName() {
    return g_port.name;
}

void ForgetPort(int state, bool discard) {
    {
        std::lock_guard<std::mutex> hold(g_port.lock);
        if (g_port.fd >= 0) {
            g_port.kind->close(g_port.fd, discard);
        }
        g_port.fd = -1;
    }
    g_port.state.store(state);
}

void TakePort(int fd) {
    {
        std::lock_guard<std::mutex> hold(g_port.lock);
        g_port.fd = fd;
        g_port.kind->configure(fd, g_port.speed);
    }
    // Bytes of a frame that the previous line left half received are dropped: a frame built from
    // two devices' bytes is meaningless.
    ResetReceiveBuffer();
    g_port.state.store(kPortOpen);
}

// --- The port --------------------------------------------------------------------------------

int OpenPortDevice(const char* name) {
    if (g_port.fd >= 0 || g_port.readerRunning) {
        ClosePort();  // the window always closes first; never leak the old port
    }
    snprintf(g_port.name, sizeof g_port.name, "%s", name);
    g_port.kind = LineKindOf(name);
    int state = kPortConnecting;
    int fd = g_port.kind->opensInReader ? -1 : g_port.kind->open(name, &state);
    if (fd < 0 && !g_port.kind->opensInReader) {
        g_port.state.store(state);
        return 0;
    }
    if (fd >= 0) {
        TakePort(fd);
    } else {
        ResetReceiveBuffer();
        g_port.state.store(state);  // the reader connects
    }
    ClearReaderStop();
    if (pthread_create(&g_port.reader, nullptr, ReaderMain, nullptr) != 0) {
        ForgetPort(kPortUnusable, false);
        return 0;
    }
    g_port.readerRunning = true;
    return 1;
}

void ClosePort() {
    if (g_port.fd < 0 && !g_port.readerRunning) {
        return;
    }
    // Every wait of the reader watches the stop signal, so the join returns at once.
    RaiseReaderStop();
    if (g_port.readerRunning) {
        pthread_join(g_port.reader, nullptr);
        g_port.readerRunning = false;
    }
    ForgetPort(kPortClosed, true);  // the reader may have closed it already, its line lost
    ClearReaderStop();
}

void SetBaudRate(unsigned speed) {
    std::lock_guard<std::mutex> hold(g_port.lock);
    g_port.speed = speed;
    if (g_port.fd >= 0) {
        g_port.kind->configure(g_port.fd, speed);
    }
}

int PortState() {
    return g_port.state.load();
}

int ReaderCpuClock(clockid_t* clock) {
    if (!g_port.readerRunning) {
        return 0;
    }
    return pthread_getcpuclockid(g_port.reader, clock) == 0 ? 1 : 0;
}

// --- Seams: the port side of the core ---------------------------------------------------------

void WritePort(const uint8_t* bytes, size_t n) {
    int fd;
    {
        std::lock_guard<std::mutex> hold(g_port.lock);
        fd = g_port.fd;
    }
    if (fd < 0) {
        return;
    }
    const uint64_t deadline = MonotonicMillis() + kWriteLimitMs;
    size_t done = 0;
    while (done < n) {
        ssize_t w = g_port.kind->write(fd, bytes + done, n - done);
        if (w > 0) {
            done += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return;  // the port has failed; the caller does not look at the outcome
        }
        // The port's output buffer is full: wait for room, for the stop signal, or for the limit.
        uint64_t now = MonotonicMillis();
        if (now >= deadline) {
            return;
        }
        int r = WaitForDescriptor(fd, POLLOUT, static_cast<unsigned>(deadline - now));
        if (r < 0 || (r & (POLLERR | POLLHUP)) != 0) {
            return;
        }
    }
}

int PauseReader(unsigned ms) {
    return WaitForReaderStop(ms) ? 0 : 1;
}
