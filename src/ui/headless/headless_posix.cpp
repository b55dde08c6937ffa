// The Linux program without a window, which `zundrel --headless` runs: the controller started with
// the command line's port, speed and log; the status labels on stdout and the unknown-command texts
// on stderr, one time-stamped line each; a port that cannot be opened or fails is waited for;
// SIGINT and SIGTERM end it as Esc ends the dialog. It needs no display and no GTK.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "control/controller.h"
#include "control/options.h"
#include "link/seams.h"
#include "serial/port_probes_posix.h"
#include "serial/serial_port.h"
#include "wait/stop_signal.h"

namespace {

// How often a missing or failed port is tried again, and an open one looked at.
constexpr unsigned kPortCheckMs = 1000;
// Most bytes held for each output stream; lines beyond are dropped while its reader stalls.
constexpr size_t kHeldBytes = 65536;
// Most bytes written to an output stream at once (a pipe that polls writable takes them).
constexpr size_t kWriteChunk = 4096;

// The options of the run; set before the start, only read afterwards.
StartOptions g_options;

// Lines waiting for stdout (0) and stderr (1). Any thread adds them; the main thread writes them
// when the stream can take them, so that a stalled reader of the output never holds up the link or
// the end.
struct HeldLines {
    std::mutex mutex;
    std::string text[2];
    int wakeFd = -1;  // eventfd, readable once lines have been added or the port's state changed
    std::atomic<bool> portChanged{false};  // the port's state changed by itself
};
HeldLines g_lines;

// Adds the line "TIME text" (local time to the millisecond) for stream 0 (stdout) or 1 (stderr).
void Emit(int stream, const char* text) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm local;
    localtime_r(&now.tv_sec, &local);
    char stamp[48];
    size_t n = strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
    snprintf(stamp + n, sizeof stamp - n, ".%03ld ", now.tv_nsec / 1000000);
    {
        std::lock_guard<std::mutex> lock(g_lines.mutex);
        if (g_lines.text[stream].size() < kHeldBytes) {
            g_lines.text[stream].append(stamp).append(text).append("\n");
        }
    }
    uint64_t one = 1;
    ssize_t ignored = write(g_lines.wakeFd, &one, sizeof one);
    (void)ignored;
}

// Emits "DEVICE what" on stderr.
void EmitPort(const char* device, const char* what) {
    Emit(1, (std::string(device) + " " + what).c_str());
}

// Returns 1 when lines wait for `stream`.
int Held(int stream) {
    std::lock_guard<std::mutex> lock(g_lines.mutex);
    return g_lines.text[stream].empty() ? 0 : 1;
}

// Writes the next lines held for `stream` to its descriptor, which has polled writable. A stream
// that fails loses what it holds.
void WriteHeld(int stream) {
    std::lock_guard<std::mutex> lock(g_lines.mutex);
    std::string& held = g_lines.text[stream];
    ssize_t w =
        write(stream + 1, held.data(), held.size() < kWriteChunk ? held.size() : kWriteChunk);
    if (w > 0) {
        held.erase(0, static_cast<size_t>(w));
    } else if (w < 0 && errno != EINTR && errno != EAGAIN) {
        held.clear();
    }
}

// Writes what both streams can take now, without waiting.
void FlushHeld() {
    for (int stream = 0; stream < 2; ++stream) {
        struct pollfd p = {stream + 1, POLLOUT, 0};
        while (Held(stream) && poll(&p, 1, 0) == 1) {
            WriteHeld(stream);
        }
    }
}

// Reports the port's state on stderr when it changed, and opens it again while it has not been
// open since it was asked for. A port that was open and whose device went away (lost) is reopened
// by the serial port itself when the device is back. `waiting` is 1 while the port is waited for.
void CheckPort(const char* device, int* waiting) {
    int state = PortState();
    if (state == kPortOpen) {
        if (*waiting) {
            EmitPort(device, "open");
            *waiting = 0;
        }
        return;
    }
    if (!*waiting) {
        EmitPort(device,
                 state == kPortLost ? "lost; waiting for it" : "cannot be opened; waiting for it");
        *waiting = 1;
    }
    if (state != kPortLost && (ClosePort(), OpenPortDevice(device))) {
        EmitPort(device, "open");
        *waiting = 0;
    }
}

// Runs the link until SIGINT or SIGTERM. Returns the exit status.
int RunHeadless() {
    sigset_t ends;
    sigemptyset(&ends);
    sigaddset(&ends, SIGINT);
    sigaddset(&ends, SIGTERM);
    // Blocked before any thread starts, so every thread leaves them to the signalfd.
    pthread_sigmask(SIG_BLOCK, &ends, nullptr);
    signal(SIGPIPE, SIG_IGN);
    int signals = signalfd(-1, &ends, SFD_CLOEXEC);
    g_lines.wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (signals < 0 || g_lines.wakeFd < 0) {
        perror("zundrel");
        return 1;
    }
    char device[sizeof g_options.portDevice];
    snprintf(device, sizeof device, "%s", g_options.portDevice);
    if (device[0] == '\0') {
        FixedPortDevice(1, device, sizeof device);
    }
    ControlPreselect(g_options.portLabel, g_options.portDevice, g_options.speed);
    ControlStart();

    int waiting = 0;
    uint64_t nextCheck = 0;
    for (;;) {
        if (g_lines.portChanged.exchange(false) || MonotonicMillis() >= nextCheck) {
            CheckPort(device, &waiting);
            // Only a port that has not opened is tried again on a timer; the rest waits for events.
            nextCheck =
                waiting && PortState() != kPortLost ? MonotonicMillis() + kPortCheckMs : UINT64_MAX;
        }
        struct pollfd p[4] = {{signals, POLLIN, 0},
                              {g_lines.wakeFd, POLLIN, 0},
                              {Held(0) ? 1 : -1, POLLOUT, 0},
                              {Held(1) ? 2 : -1, POLLOUT, 0}};
        uint64_t now = MonotonicMillis();
        int wait = nextCheck == UINT64_MAX ? -1
                   : now >= nextCheck      ? 0
                                           : static_cast<int>(nextCheck - now);
        if (poll(p, 4, wait) < 0 && errno != EINTR) {
            break;
        }
        if (p[0].revents != 0) {
            break;  // SIGINT or SIGTERM
        }
        uint64_t drained;
        while (read(g_lines.wakeFd, &drained, sizeof drained) > 0) {
        }
        for (int stream = 0; stream < 2; ++stream) {
            if (p[2 + stream].revents != 0) {
                WriteHeld(stream);
            }
        }
    }
    ControlEnd();
    FlushHeld();
    close(signals);
    close(g_lines.wakeFd);
    return 0;
}

}  // namespace

// --- The controller's drawing functions: nothing is drawn ------------------------------------

void ViewCheckSpeed(unsigned) {}

void ViewAddPortItem(const char*) {}

void ViewSelectPortItem(int) {}

void ViewRemovePortItems(int) {}

void ViewSetPortTip(const char*) {}  // the port's state goes to stderr as its own lines

void PanelPortStateChanged() {
    g_lines.portChanged = true;
    uint64_t one = 1;
    ssize_t ignored = write(g_lines.wakeFd, &one, sizeof one);
    (void)ignored;
}

void PanelDismissErrorBox() {}

// --- The panel functions (link/seams.h) --------------------------------------------------------

void PanelSetStatus(const char* label) {
    Emit(0, label);
}

size_t PanelGetLogPath(char* buf, size_t size) {
    snprintf(buf, size, "%s", g_options.logPath);
    return strlen(buf);
}

// The link goes on at once, as after OK.
void PanelShowError(const char* text) {
    Emit(1, text);
}

// Runs without a window with the options of the command line; see zundrel --help.
int main(int argc, char** argv) {
    // A descriptor 0, 1 or 2 closed at start would be taken by the port and get the output lines.
    for (int fd = 0; fd < 3; ++fd) {
        if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", O_RDWR) < 0) {
            return 1;
        }
    }
    char text[1024];
    int parsed = ParseOptions(argc, argv, &g_options, text, sizeof text);
    if (parsed != kOptionsRun) {
        fputs(text, parsed == kOptionsShown ? stdout : stderr);
        return parsed == kOptionsShown ? 0 : 2;
    }
    return RunHeadless();
}
