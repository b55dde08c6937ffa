// The serial link on POSIX terminals: the port as a non-blocking terminal descriptor, raw 8N1 line
// settings, and a reader thread that sleeps on the port and the reader stop signal. When the
// port's device goes away, the reader closes it at once and sleeps until the device is back: an
// inotify watch on the folder of the port's path and a udev monitor of the terminals wake it.
#include <errno.h>
#include <fcntl.h>
#include <libudev.h>
#include <limits.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "frame/port_seam.h"
#include "front/front_end.h"
#include "link/frame_assembly.h"
#include "serial/port_probes_posix.h"
#include "serial/serial_port.h"
#include "wait/stop_signal.h"

namespace {

// Most bytes taken from the port and fed to the frame assembly at once.
constexpr size_t kReadChunk = 256;
// A write gives up when its bytes have not all been taken within this time.
constexpr unsigned kWriteLimitMs = 1000;
// While the device of a lost port cannot be watched (its folder is gone too), it is looked for
// this often.
constexpr unsigned kLostRetryMs = 500;

// The one serial link of the run. `reader` and `readerRunning` are changed by the window's thread
// only; `port` and `speed` under `lock`, and `port` only by the window's thread
// while no reader runs or by the reader when its device is lost or back.
struct SerialLink {
    std::mutex lock;
    int port = -1;  // descriptor of the open port, -1 when none is open
    unsigned speed = 9600;
    char path[PATH_MAX] = "";  // the device of the port last asked for
    pthread_t reader{};
    bool readerRunning = false;
    std::atomic<int> state{kPortClosed};
};

SerialLink g_serial;

// The termios code of `speed`, or B0 when the terminal interface has none for it.
speed_t SpeedCode(unsigned speed) {
    switch (speed) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return B0;
    }
}

// Sets raw 8N1 at `speed` on `fd`: receiver on, modem lines ignored for reception, no flow
// control, reads that return what has arrived; then asserts DTR and RTS (a pseudo-terminal has
// neither, which is no failure). A failure is not reported.
void ApplyLineSettings(int fd, unsigned speed) {
    struct termios t;
    if (tcgetattr(fd, &t) != 0) {
        return;
    }
    t.c_iflag &= ~(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR | ICRNL |
                   IXON | IXOFF | IXANY | IMAXBEL);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    // VMIN 1: an idle non-blocking read reports EAGAIN, so a read of 0 bytes always means the
    // other end is gone.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    speed_t code = SpeedCode(speed);
    if (code != B0) {
        cfsetispeed(&t, code);
        cfsetospeed(&t, code);
    }
    tcsetattr(fd, TCSANOW, &t);
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIS, &lines);
}

// Reads up to `max` bytes that the port holds now. Returns the count, 0 when nothing is there,
// -1 when the port has failed for good (other end hung up, device gone).
ssize_t ReadSome(int fd, uint8_t* buffer, size_t max) {
    for (;;) {
        ssize_t n = read(fd, buffer, max);
        if (n > 0) {
            return n;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return 0;
        }
        return -1;  // 0 bytes (hung up: VMIN is 1) or EIO and the like
    }
}

void ReaderThread();  // below

// The pthread entry of the reader thread.
void* ReaderThreadMain(void*) {
    ReaderThread();
    return nullptr;
}

// The state of a port whose open failed with `error`.
int StateOfError(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return kPortDenied;
        case EBUSY:
        case EWOULDBLOCK:
            return kPortBusy;
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return kPortAbsent;
        default:
            return kPortUnusable;
    }
}

// Opens the terminal `path` as a port: non-blocking, exclusive (its flock taken, TIOCEXCL set),
// its buffers emptied. Returns the descriptor with kPortOpen in `state`, or -1 with the reason.
int OpenDevice(const char* path, int* state) {
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *state = StateOfError(errno);
        return -1;
    }
    struct termios t;
    if (tcgetattr(fd, &t) != 0) {
        close(fd);  // not a terminal
        *state = kPortUnusable;
        return -1;
    }
    // A program that has the port open already and holds its lock keeps it: TIOCEXCL below only
    // refuses later opens, and never root's. The lock goes with the close.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        close(fd);
        *state = kPortBusy;
        return -1;
    }
    ioctl(fd, TIOCEXCL);  // no one else may open it while we hold it
    tcflush(fd, TCIOFLUSH);
    *state = kPortOpen;
    return fd;
}

// Clears the exclusive flag of `fd` and closes it. A pseudo-terminal keeps the flag after its
// last close while the other side is open; cleared, the next open, by anyone, succeeds.
void CloseDevice(int fd) {
    ioctl(fd, TIOCNXCL);
    close(fd);
}

}  // namespace

// --- The port --------------------------------------------------------------------------------

int OpenPortDevice(const char* path) {
    if (g_serial.port >= 0 || g_serial.readerRunning) {
        ClosePort();  // the window always closes first; never leak the old port
    }
    snprintf(g_serial.path, sizeof g_serial.path, "%s", path);
    int state = kPortClosed;
    int fd = OpenDevice(path, &state);
    g_serial.state.store(state);
    if (fd < 0) {
        return 0;
    }
    g_serial.port = fd;
    // Bytes of a frame that the previous port left half received are dropped: a frame built from
    // two devices' bytes is meaningless.
    ResetReceiveBuffer();
    ClearReaderStop();
    SetBaudRate(g_serial.speed);

    if (pthread_create(&g_serial.reader, nullptr, ReaderThreadMain, nullptr) != 0) {
        ioctl(fd, TIOCNXCL);
        close(fd);
        g_serial.port = -1;
        g_serial.state.store(kPortUnusable);
        return 0;
    }
    g_serial.readerRunning = true;
    return 1;
}

void ClosePort() {
    int fd = g_serial.port;
    if (fd < 0 && !g_serial.readerRunning) {
        return;
    }
    // Every wait of the reader watches the stop signal, so the join returns at once.
    RaiseReaderStop();
    if (g_serial.readerRunning) {
        pthread_join(g_serial.reader, nullptr);
        g_serial.readerRunning = false;
    }
    fd = g_serial.port;  // the reader may have lost it
    if (fd >= 0) {
        tcflush(fd, TCIOFLUSH);
        CloseDevice(fd);
    }
    g_serial.port = -1;
    g_serial.state.store(kPortClosed);
    ClearReaderStop();
}

void SetBaudRate(unsigned speed) {
    std::lock_guard<std::mutex> hold(g_serial.lock);
    g_serial.speed = speed;
    if (g_serial.port < 0) {
        return;
    }
    ApplyLineSettings(g_serial.port, speed);
}

size_t ReadPort(uint8_t* buffer, size_t max) {
    std::lock_guard<std::mutex> hold(g_serial.lock);
    if (g_serial.port < 0 || max == 0) {
        return 0;
    }
    ssize_t n = ReadSome(g_serial.port, buffer, max);
    return n > 0 ? static_cast<size_t>(n) : 0;
}

int PortState() {
    return g_serial.state.load();
}

int ReaderCpuClock(clockid_t* clock) {
    if (!g_serial.readerRunning) {
        return 0;
    }
    return pthread_getcpuclockid(g_serial.reader, clock) == 0 ? 1 : 0;
}

// --- Seams: the port side of the core ---------------------------------------------------------

void WritePort(const uint8_t* bytes, size_t n) {
    int fd;
    {
        std::lock_guard<std::mutex> hold(g_serial.lock);
        fd = g_serial.port;
    }
    if (fd < 0) {
        return;
    }
    const uint64_t deadline = MonotonicMillis() + kWriteLimitMs;
    size_t done = 0;
    while (done < n) {
        ssize_t w = write(fd, bytes + done, n - done);
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

// --- The reader thread -----------------------------------------------------------------------

namespace {

// The watch for the return of a lost port's device: an inotify watch on the folder of its path
// (a link made again, a node made or given its permissions) and a udev monitor of the terminals,
// both in one epoll set.
struct ReturnWatch {
    int epoll = -1;
    int inotify = -1;
    struct udev* udev = nullptr;
    struct udev_monitor* monitor = nullptr;
    char folder[PATH_MAX] = "";
};

// Watches the folder of the watch's path once more (it may have gone and come back). Returns 1
// when it is watched, 0 when it cannot be (the reader then looks on a timer).
int WatchFolder(ReturnWatch* w) {
    return w->inotify >= 0 && inotify_add_watch(w->inotify, w->folder,
                                                IN_CREATE | IN_MOVED_TO | IN_ATTRIB) >= 0
               ? 1
               : 0;
}

// Sets up the watch for the device at `path`. Returns what WatchFolder returns.
int StartReturnWatch(ReturnWatch* w, const char* path) {
    snprintf(w->folder, sizeof w->folder, "%s", path);
    char* slash = strrchr(w->folder, '/');
    if (slash == nullptr) {
        snprintf(w->folder, sizeof w->folder, ".");
    } else {
        slash[slash == w->folder ? 1 : 0] = '\0';
    }
    w->epoll = epoll_create1(EPOLL_CLOEXEC);
    w->inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    w->udev = udev_new();
    w->monitor = w->udev != nullptr ? udev_monitor_new_from_netlink(w->udev, "udev") : nullptr;
    if (w->monitor != nullptr &&
        (udev_monitor_filter_add_match_subsystem_devtype(w->monitor, "tty", nullptr) < 0 ||
         udev_monitor_enable_receiving(w->monitor) < 0)) {
        w->monitor = udev_monitor_unref(w->monitor);
    }
    int fds[2] = {w->inotify, w->monitor != nullptr ? udev_monitor_get_fd(w->monitor) : -1};
    for (int fd : fds) {
        struct epoll_event e = {};
        e.events = EPOLLIN;
        if (w->epoll >= 0 && fd >= 0) {
            epoll_ctl(w->epoll, EPOLL_CTL_ADD, fd, &e);
        }
    }
    return w->epoll >= 0 ? WatchFolder(w) : 0;
}

// Takes every pending event off the watch. Returns what WatchFolder returns.
int DrainReturnWatch(ReturnWatch* w) {
    char events[4096];
    while (w->inotify >= 0 && read(w->inotify, events, sizeof events) > 0) {
    }
    while (w->monitor != nullptr) {
        struct udev_device* device = udev_monitor_receive_device(w->monitor);
        if (device == nullptr) {
            break;
        }
        udev_device_unref(device);
    }
    return w->epoll >= 0 ? WatchFolder(w) : 0;
}

void EndReturnWatch(ReturnWatch* w) {
    udev_monitor_unref(w->monitor);
    udev_unref(w->udev);
    for (int fd : {w->inotify, w->epoll}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

// The port's device has gone away: closes the port at once, so that the device's name is free for
// its return, and sleeps until the device opens again. The watch is set before each look, so that
// no return is missed however soon it comes. A port that failed before giving a byte (`waitFirst`)
// is looked for again only after an event or half a second, never in a loop. Returns the reopened
// port at the speed chosen, or -1 when the stop signal came first.
int AwaitReturn(int fd, bool waitFirst) {
    WatchPortLoss(-1);
    {
        std::lock_guard<std::mutex> hold(g_serial.lock);
        CloseDevice(fd);
        g_serial.port = -1;
    }
    g_serial.state.store(kPortLost);
    FrontPortStateChanged();
    ReturnWatch watch;
    int watched = StartReturnWatch(&watch, g_serial.path);
    int back = -1;
    for (bool look = !waitFirst;; look = true) {
        int ignored;
        back = look ? OpenDevice(g_serial.path, &ignored) : -1;
        if (back >= 0) {
            break;
        }
        int r =
            WaitForDescriptor(watch.epoll, POLLIN, watched && look ? kNoTimeLimit : kLostRetryMs);
        if (r < 0 || ReaderStopRaised()) {
            break;
        }
        watched = DrainReturnWatch(&watch);
    }
    EndReturnWatch(&watch);
    if (back < 0) {
        return -1;
    }
    {
        std::lock_guard<std::mutex> hold(g_serial.lock);
        g_serial.port = back;
        ApplyLineSettings(back, g_serial.speed);
    }
    ResetReceiveBuffer();  // as after a port switch
    g_serial.state.store(kPortOpen);
    WatchPortLoss(back);
    FrontPortStateChanged();
    return back;
}

// The body of the reader thread: waits for bytes on the port and feeds them to the frame assembly,
// up to 256 at a time, until the reader stop signal is raised. A port whose device goes away, also
// while a command waits, is reopened when it comes back.
void ReaderThread() {
    pthread_setname_np(pthread_self(), "zundrel-reader");
    int fd = g_serial.port;
    WatchPortLoss(fd);
    bool heard = true;  // the port has given bytes since it was last (re)opened
    uint8_t chunk[kReadChunk];
    for (;;) {
        int r = WaitForDescriptor(fd, POLLIN, kNoTimeLimit);
        if (ReaderStopRaised()) {
            return;
        }
        bool failed = r < 0;
        if (!failed && (r & POLLIN) != 0) {
            // Line errors need no clearing here: with parity checking off, a byte received with an
            // error is delivered as it came, and reception goes on.
            ssize_t n = ReadSome(fd, chunk, sizeof chunk);
            if (n > 0) {
                heard = true;
                FeedReceivedBytes(chunk, static_cast<size_t>(n));
                // A command that waited when the port was lost has been abandoned: the port failed.
                if (!TakePortLoss()) {
                    continue;
                }
                if (ReaderStopRaised()) {
                    return;
                }
                n = -1;
            }
            failed = n < 0;
        } else if (!failed) {
            failed = (r & (POLLHUP | POLLERR)) != 0;
        }
        if (!failed) {
            continue;
        }
        // The port has failed (its other end hung up, its device is gone).
        fd = AwaitReturn(fd, !heard);
        if (fd < 0) {
            return;
        }
        heard = false;
    }
}

}  // namespace
