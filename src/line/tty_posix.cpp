// The terminal as a kind of line on Linux: a device path opened as a non-blocking, exclusive
// terminal in raw 8N1, and the watch for its return after a loss: an inotify watch on the folder of
// its path (a symlink made again, a node made or given its permissions) and a udev monitor of the
// terminals, both in one epoll set.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <libudev.h>
#include <limits.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "line/line.h"
#include "line/line_state.h"

namespace {

// The termios code of `speed`, or B0 when the terminal interface has none for it.
speed_t SpeedCode(unsigned speed) {
    static const unsigned kSpeeds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    static const speed_t kCodes[] = {B1200, B2400, B4800, B9600, B19200, B38400, B57600, B115200};
    for (size_t i = 0; i < sizeof kSpeeds / sizeof kSpeeds[0]; i++) {
        if (kSpeeds[i] == speed) {
            return kCodes[i];
        }
    }
    return B0;
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

// 1 when `st` is the terminal side of a pseudo-terminal (Unix 98 style, majors 136 to 143).
bool IsPseudoTerminal(const struct stat& st) {
    return S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

// Writes into `detail` (kLineDetailBytes) what holds the terminal `path` that is in use: the first
// other program this one can see with it open, "NAME (pid N)"; or, when none is seen, for a
// pseudo-terminal (which keeps a program's exclusive hold while its other side is open, also after
// that program has ended) what to do; else nothing.
void TellHolder(const char* path, char* detail) {
    struct stat port;
    DIR* processes = stat(path, &port) == 0 ? opendir("/proc") : nullptr;
    detail[0] = '\0';
    for (struct dirent* p; processes != nullptr && (p = readdir(processes)) != nullptr;) {
        char fds[64], entry[sizeof fds + sizeof p->d_name];
        int pid = atoi(p->d_name);
        snprintf(fds, sizeof fds, "/proc/%d/fd", pid);
        DIR* open = pid > 0 && pid != getpid() ? opendir(fds) : nullptr;
        for (struct dirent* f; open != nullptr && (f = readdir(open)) != nullptr;) {
            struct stat held;
            snprintf(entry, sizeof entry, "%s/%s", fds, f->d_name);
            if (detail[0] == '\0' && stat(entry, &held) == 0 && S_ISCHR(held.st_mode) &&
                held.st_rdev == port.st_rdev) {
                char name[32] = "";
                snprintf(entry, sizeof entry, "/proc/%d/comm", pid);
                FILE* comm = fopen(entry, "r");
                if (comm != nullptr && fgets(name, sizeof name, comm) != nullptr) {
                    name[strcspn(name, "\n")] = '\0';
                }
                if (comm != nullptr) {
                    fclose(comm);
                }
                snprintf(detail, kLineDetailBytes, "%s (pid %d)", name, pid);
            }
        }
        if (open != nullptr) {
            closedir(open);
        }
    }
    if (processes != nullptr) {
        closedir(processes);
    }
    if (detail[0] == '\0' && processes != nullptr && IsPseudoTerminal(port)) {
        snprintf(detail, kLineDetailBytes,
                 "held exclusive: restart the program that offers this pseudo-terminal");
    }
}

// Opens the terminal `path`: non-blocking, for this program alone (its flock taken; TIOCEXCL set
// but on a pseudo-terminal), its buffers emptied. Returns the descriptor with kPortOpen in `state`,
// or -1 with the reason (for a terminal in use, what holds it in `detail`).
LineHandle OpenTerminal(const char* path, int* state, char* detail) {
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int e = errno;
        *state = e == EACCES || e == EPERM                  ? kPortDenied
                 : e == EBUSY || e == EWOULDBLOCK           ? kPortBusy
                 : e == ENOENT || e == ENODEV || e == ENXIO ? kPortAbsent
                                                            : kPortUnusable;
        if (*state == kPortBusy) {
            TellHolder(path, detail);
        }
        return kNoLine;
    }
    struct termios t;
    if (tcgetattr(fd, &t) != 0) {
        close(fd);  // not a terminal
        *state = kPortUnusable;
        return kNoLine;
    }
    // A program that has the port open already and holds its lock keeps it: TIOCEXCL below only
    // refuses later opens, and never root's. The lock goes with the close, and with the end of a
    // program that is killed.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        close(fd);
        *state = kPortBusy;
        TellHolder(path, detail);
        return kNoLine;
    }
    // No one else may open it while we hold it. Not a pseudo-terminal, which keeps the flag while
    // its other side is open: a program killed before it could clear it would keep its successor
    // out for good (the lock is enough there: an emulator offers the pty to one program).
    struct stat st;
    if (fstat(fd, &st) != 0 || !IsPseudoTerminal(st)) {
        ioctl(fd, TIOCEXCL);
    }
    tcflush(fd, TCIOFLUSH);
    *state = kPortOpen;
    return fd;
}

// Clears the exclusive flag of `fd` and closes it, its buffers emptied first with `discard`. A
// pseudo-terminal keeps the flag after its last close while the other side is open; cleared, the
// next open, by anyone, succeeds.
void CloseTerminal(LineHandle line, bool discard) {
    int fd = static_cast<int>(line);
    if (discard) {
        tcflush(fd, TCIOFLUSH);
    }
    ioctl(fd, TIOCNXCL);
    close(fd);
}

// Waits for the terminal's bytes or its hang-up.
int AwaitTerminal(LineHandle line, unsigned ms) {
    return AwaitReadable(static_cast<int>(line), ms);
}

// Reads what the terminal holds; 0 bytes (with VMIN 1) is a hang-up, EIO and the like a device
// gone.
int ReadTerminal(LineHandle line, uint8_t* bytes, size_t max) {
    return ReadNow(static_cast<int>(line), bytes, max);
}

void WriteTerminal(LineHandle line, const uint8_t* bytes, size_t n) {
    // The outcome is not examined: a port that failed is found so by its next read.
    WriteWithin(static_cast<int>(line), bytes, n, MonotonicMillis() + kWriteLimitMs, write);
}

Waitable TerminalItself(LineHandle line) {
    return static_cast<int>(line);
}

// The one return watch, the reader thread's; every field is set again when a watch starts.
struct ReturnWatch {
    int epoll = -1;
    int inotify = -1;
    struct udev* udev = nullptr;
    struct udev_monitor* monitor = nullptr;
    char folder[PATH_MAX] = "";
} g_watch;

// Watches the folder of the lost path once more (it may have gone and come back). Returns 1 when
// it is watched, 0 when it cannot be (the reader then looks on a timer).
int WatchFolder() {
    return g_watch.epoll >= 0 && g_watch.inotify >= 0 &&
                   inotify_add_watch(g_watch.inotify, g_watch.folder,
                                     IN_CREATE | IN_MOVED_TO | IN_ATTRIB) >= 0
               ? 1
               : 0;
}

// Sets up the watch for the return of the terminal at `path`, its epoll set in `wake`. Returns
// what WatchFolder returns.
int StartReturnWatch(const char* path, Waitable* wake) {
    ReturnWatch& w = g_watch;
    snprintf(w.folder, sizeof w.folder, "%s", path);
    char* slash = strrchr(w.folder, '/');
    if (slash == nullptr) {
        snprintf(w.folder, sizeof w.folder, ".");
    } else {
        slash[slash == w.folder ? 1 : 0] = '\0';
    }
    w.epoll = epoll_create1(EPOLL_CLOEXEC);
    w.inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    w.udev = udev_new();
    w.monitor = w.udev != nullptr ? udev_monitor_new_from_netlink(w.udev, "udev") : nullptr;
    if (w.monitor != nullptr &&
        (udev_monitor_filter_add_match_subsystem_devtype(w.monitor, "tty", nullptr) < 0 ||
         udev_monitor_enable_receiving(w.monitor) < 0)) {
        w.monitor = udev_monitor_unref(w.monitor);
    }
    int fds[2] = {w.inotify, w.monitor != nullptr ? udev_monitor_get_fd(w.monitor) : -1};
    for (int fd : fds) {
        struct epoll_event e = {};
        e.events = EPOLLIN;
        if (w.epoll >= 0 && fd >= 0) {
            epoll_ctl(w.epoll, EPOLL_CTL_ADD, fd, &e);
        }
    }
    *wake = w.epoll;
    return WatchFolder();
}

// Takes every pending event off the watch. Returns what WatchFolder returns.
int DrainReturnWatch() {
    char events[4096];
    while (g_watch.inotify >= 0 && read(g_watch.inotify, events, sizeof events) > 0) {
    }
    while (g_watch.monitor != nullptr) {
        struct udev_device* device = udev_monitor_receive_device(g_watch.monitor);
        if (device == nullptr) {
            break;
        }
        udev_device_unref(device);
    }
    return WatchFolder();
}

// Frees what the watch holds.
void EndReturnWatch() {
    udev_monitor_unref(g_watch.monitor);
    udev_unref(g_watch.udev);
    for (int fd : {g_watch.inotify, g_watch.epoll}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

}  // namespace

// A hang-up or an error of the terminal is its loss, also while a command waits.
const LineKind kTtyLine = {
    .open = OpenTerminal,
    .configure = [](LineHandle line,
                    unsigned speed) { ApplyLineSettings(static_cast<int>(line), speed); },
    .close = CloseTerminal,
    .awaitBytes = AwaitTerminal,
    .read = ReadTerminal,
    .write = WriteTerminal,
    .lossWatch = TerminalItself,
    .lossFired = nullptr,
    .watchReturn = StartReturnWatch,
    .drainWatch = DrainReturnWatch,
    .endWatch = EndReturnWatch,
    .opensInReader = 0,
    .retryMs = kRetryMs / 2,  // only while the folder of its path is gone
};

void LineDeviceArrived() {}  // udev and the folder's watch tell a terminal's return
