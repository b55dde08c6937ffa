// The Linux program without a window, which `zundrel --headless` runs: the controller started with
// the command line's port, speed and log; the status labels on stdout, and the unknown-command
// texts and the port's and the log's states on stderr, one time-stamped line each; SIGINT, SIGTERM
// and SIGHUP end it as Esc ends the dialog. It needs no display and no GTK. Its window calls, which
// draw nothing, are in no_window.cpp.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "control/controller.h"
#include "control/options.h"
#include "front/front_end.h"
#include "ui/headless/output.h"
#include "ui/headless/service.h"
#include "wait/wait.h"

namespace {

// Wakes the main loop: readable once the port's state changed by itself.
int g_wakeFd = -1;

// Serves the device until SIGINT, SIGTERM or SIGHUP. Returns the exit status.
int ServeUntilSignal() {
    sigset_t ends;
    sigemptyset(&ends);
    sigaddset(&ends, SIGINT);
    sigaddset(&ends, SIGTERM);
    sigaddset(&ends, SIGHUP);  // the terminal or the session went away: end cleanly all the same
    // Blocked before any thread starts, so every thread leaves them to the signalfd.
    pthread_sigmask(SIG_BLOCK, &ends, nullptr);
    signal(SIGPIPE, SIG_IGN);
    int signals = signalfd(-1, &ends, SFD_CLOEXEC);
    g_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (signals < 0 || g_wakeFd < 0) {
        perror("zundrel-headless");
        return 1;
    }
    if (!StartOutput()) {
        perror("zundrel-headless");
        _exit(1);  // a writer may have started: nothing is destroyed under it
    }
    ControlStart();
    ServiceReady();
    // While the port is waited for, the controller tries it every second; otherwise the loop
    // sleeps until a signal or a change of the port's state.
    for (uint64_t tick = MonotonicMillis() + kControlTickMs;;) {
        uint64_t now = MonotonicMillis();
        if (now >= tick) {
            ControlEverySecond();
            tick = now + kControlTickMs;
        }
        struct pollfd p[2] = {{signals, POLLIN, 0}, {g_wakeFd, POLLIN, 0}};
        int wait = ControlPortWaitedFor() ? static_cast<int>(tick - now) : -1;
        if (poll(p, 2, wait) < 0 && errno != EINTR) {
            break;
        }
        if (p[0].revents != 0) {
            break;  // SIGINT, SIGTERM or SIGHUP
        }
        uint64_t drained;
        if (read(g_wakeFd, &drained, sizeof drained) > 0) {
            ControlPortStateChanged();
        }
    }
    ServiceStopping();
    ControlEnd();
    EndLabelRun();
    int flushed = EndOutput();
    close(signals);
    close(g_wakeFd);
    if (!flushed) {
        _exit(0);  // a writer blocked on a stalled stream is left: nothing is destroyed under it
    }
    JoinOutput();
    return 0;
}

}  // namespace

// --- The program's face (front/front_end.h): its lines ----------------------------------------

void FrontSetStatus(const char* label) {
    EmitLabel(label);
}

// The link goes on at once, as after OK.
void FrontShowError(const char* text) {
    Emit(1, text);
}

void FrontTell(const char* line) {
    Emit(1, line);
}

void FrontTrace(const char* line) {
    EmitStamped(0, line);
}

void FrontSetPortTip(const char* text) {
    Emit(1, text);
    ServicePortState(text);
}

void FrontSocketCount(int open) {
    ServiceSockets(open);
}

void FrontPortStateChanged() {
    RaiseSignal(g_wakeFd);
}

// Runs without a window with the options of the command line; see zundrel --help.
int main(int argc, char** argv) {
    // A descriptor 0, 1 or 2 closed at start would be taken by the port and get the output lines.
    for (int fd = 0; fd < 3; ++fd) {
        if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", O_RDWR) < 0) {
            return 1;
        }
    }
    StartOptions options;
    int ended = ReadCommandLine("zundrel-headless", argc, argv, &options);
    EveryLabel(options.everyLabel);
    return ended >= 0 ? ended : ServeUntilSignal();
}
