// The serial link on POSIX terminals: the port as a non-blocking terminal descriptor, raw 8N1 line
// settings, and a reader thread that sleeps on the port and the reader stop signal.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "link/frame_assembly.h"
#include "link/seams.h"
#include "serial/port_probes_posix.h"
#include "serial/serial_port.h"
#include "wait/stop_signal.h"

namespace {

// Most bytes taken from the port and fed to the frame assembly at once.
constexpr size_t kReadChunk = 256;
// A write gives up when its bytes have not all been taken within this time.
constexpr unsigned kWriteLimitMs = 1000;

// The one serial link of the run. `port`, `speed`, `reader` and `readerRunning` are changed by the
// window's thread only, and `port` only while no reader runs.
struct SerialLink {
    int port = -1;  // descriptor of the open port, -1 when none is open
    unsigned speed = 9600;
    pthread_t reader{};
    bool readerRunning = false;
    int settingsHeld = 0;        // the last settings read back as asked
    std::atomic<int> failed{0};  // set by the reader when the port has failed for good
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
// neither, which is no failure). Returns 1 when the settings read back as asked, 0 otherwise.
int ApplyLineSettings(int fd, unsigned speed) {
    struct termios t;
    if (tcgetattr(fd, &t) != 0) {
        return 0;
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

    // tcsetattr succeeds when any one of the changes was made, so look at what the port holds.
    struct termios back;
    if (code == B0 || tcgetattr(fd, &back) != 0) {
        return 0;
    }
    return cfgetospeed(&back) == code &&
           (back.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CREAD | CLOCAL)) ==
               (CS8 | CREAD | CLOCAL) &&
           (back.c_iflag & (INPCK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF)) == 0 &&
           (back.c_oflag & OPOST) == 0 && (back.c_lflag & (ECHO | ICANON | ISIG | IEXTEN)) == 0 &&
           back.c_cc[VMIN] == 1 && back.c_cc[VTIME] == 0;
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

}  // namespace

// --- The port --------------------------------------------------------------------------------

void FixedPortDevice(int number, char* buf, size_t size) {
    snprintf(buf, size, "/dev/ttyS%d", number - 1);
}

int OpenPortDevice(const char* path) {
    if (g_serial.port >= 0) {
        ClosePort();  // the window always closes first; never leak the old port
    }
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    struct termios t;
    if (tcgetattr(fd, &t) != 0) {
        close(fd);  // not a terminal
        return 0;
    }
    // A program that has the port open already and holds its lock keeps it: TIOCEXCL below only
    // refuses later opens, and never root's. The lock goes with the close.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        close(fd);
        return 0;
    }
    ioctl(fd, TIOCEXCL);  // no one else may open it while we hold it
    tcflush(fd, TCIOFLUSH);

    g_serial.port = fd;
    g_serial.failed.store(0);
    // Bytes of a frame that the previous port left half received are dropped: a frame built from
    // two devices' bytes is meaningless.
    ResetReceiveBuffer();
    ClearReaderStop();
    SetBaudRate(g_serial.speed);

    if (pthread_create(&g_serial.reader, nullptr, ReaderThreadMain, nullptr) != 0) {
        ioctl(fd, TIOCNXCL);
        close(fd);
        g_serial.port = -1;
        g_serial.settingsHeld = 0;
        return 0;
    }
    g_serial.readerRunning = true;
    return 1;
}

void ClosePort() {
    int fd = g_serial.port;
    if (fd < 0) {
        return;
    }
    // Every wait of the reader watches the stop signal, so the join returns at once.
    RaiseReaderStop();
    if (g_serial.readerRunning) {
        pthread_join(g_serial.reader, nullptr);
        g_serial.readerRunning = false;
    }
    tcflush(fd, TCIOFLUSH);
    // A pseudo-terminal keeps the exclusive flag after its last close while the other side is
    // open; clear it so that the next open, by anyone, succeeds.
    ioctl(fd, TIOCNXCL);
    close(fd);
    g_serial.port = -1;
    g_serial.settingsHeld = 0;
    g_serial.failed.store(0);
    ClearReaderStop();
}

void SetBaudRate(unsigned speed) {
    g_serial.speed = speed;
    if (g_serial.port < 0) {
        return;
    }
    g_serial.settingsHeld = ApplyLineSettings(g_serial.port, speed);
}

size_t ReadPort(uint8_t* buffer, size_t max) {
    if (g_serial.port < 0 || max == 0) {
        return 0;
    }
    ssize_t n = ReadSome(g_serial.port, buffer, max);
    return n > 0 ? static_cast<size_t>(n) : 0;
}

int PortFailed() {
    return g_serial.failed.load();
}

int PortSettingsHeld() {
    return g_serial.port >= 0 ? g_serial.settingsHeld : 0;
}

int ReaderCpuClock(clockid_t* clock) {
    if (!g_serial.readerRunning) {
        return 0;
    }
    return pthread_getcpuclockid(g_serial.reader, clock) == 0 ? 1 : 0;
}

int PortOpen() {
    return g_serial.port >= 0 ? 1 : 0;
}

// --- Seams: the port side of the core ---------------------------------------------------------

void WritePort(const uint8_t* bytes, size_t n) {
    int fd = g_serial.port;
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

// The body of the reader thread: waits for bytes on the port and feeds them to the frame assembly,
// up to 256 at a time, until the reader stop signal is raised.
void ReaderThread() {
    pthread_setname_np(pthread_self(), "zundrel-reader");
    const int fd = g_serial.port;
    uint8_t chunk[kReadChunk];
    for (;;) {
        int r = WaitForDescriptor(fd, POLLIN, kNoTimeLimit);
        if (ReaderStopRaised()) {
            return;
        }
        if (r < 0) {
            break;
        }
        if ((r & POLLIN) != 0) {
            // Line errors need no clearing here: with parity checking off, a byte received with an
            // error is delivered as it came, and reception goes on.
            ssize_t n = ReadSome(fd, chunk, sizeof chunk);
            if (n > 0) {
                FeedReceivedBytes(chunk, static_cast<size_t>(n));
                continue;
            }
            if (n == 0) {
                continue;
            }
            break;
        }
        if ((r & (POLLHUP | POLLERR)) != 0) {
            break;
        }
    }
    // The port has failed for good. Stop reading, silently, and wait to be closed: the port is
    // reopened when it is picked again.
    g_serial.failed.store(1);
    while (!WaitForReaderStop(kNoTimeLimit)) {
    }
}

}  // namespace
