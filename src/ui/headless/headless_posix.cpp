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
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "control/controller.h"
#include "control/options.h"
#include "front/front_end.h"
#include "wait/stop_signal.h"

namespace {

// How often the controller is asked to try a port that did not open again.
constexpr unsigned kTickMs = 1000;
// Most bytes held for each output stream, counting those its writer is writing; lines beyond are
// dropped.
constexpr size_t kHeldBytes = 65536;
// How long the end waits for the held lines to be written before it leaves a stalled stream.
constexpr auto kEndFlushTime = std::chrono::milliseconds(100);

// An output stream (stdout or stderr) and its writer thread. Any thread adds lines; only the
// writer writes them, outside the lock: it may block in write() on a reader of the output that
// stalls (a hung terminal) while the link and the main thread go on.
struct Output {
    std::string held;           // lines waiting for the writer
    size_t inFlight = 0;        // bytes the writer took and is writing
    unsigned long dropped = 0;  // lines dropped since the writer last took the held ones
    pthread_t writer;
};

// Both streams, under one lock.
struct Outputs {
    std::mutex mutex;
    std::condition_variable changed;  // lines added, lines written, or the end
    bool ending = false;              // the writers end once everything held is written
    Output stream[2];
};
Outputs g_out;

// Wakes the main loop: readable once the port's state changed by itself.
int g_wakeFd = -1;

// Appends "TIME text\n" (local time to the millisecond) to `line`.
void AppendStamped(std::string* line, const char* text) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm local;
    localtime_r(&now.tv_sec, &local);
    char stamp[48];
    size_t n = strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
    snprintf(stamp + n, sizeof stamp - n, ".%03ld ", now.tv_nsec / 1000000);
    line->append(stamp).append(text).append("\n");
}

// Adds the line "TIME text" for stream 0 (stdout) or 1 (stderr). Never waits for the output: a line
// that finds kHeldBytes held, or lines dropped before it, is dropped and counted.
void Emit(int stream, const char* text) {
    std::string line;
    AppendStamped(&line, text);
    std::lock_guard<std::mutex> lock(g_out.mutex);
    Output& out = g_out.stream[stream];
    if (out.dropped == 0 && out.inFlight + out.held.size() + line.size() <= kHeldBytes) {
        out.held += line;
        g_out.changed.notify_all();
    } else {
        ++out.dropped;
    }
}

// Writes all `n` bytes to `fd`, waiting as long as it takes. A descriptor that fails loses them.
void WriteAll(int fd, const char* bytes, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, bytes, n);
        if (w > 0) {
            bytes += w;
            n -= static_cast<size_t>(w);
        } else if (w < 0 && errno == EAGAIN) {
            // Made non-blocking by another holder: wait for room, looking again now and then, as a
            // terminal can poll writable without room for a line's end.
            struct pollfd p = {fd, POLLOUT, 0};
            poll(&p, 1, 100);
        } else if (w == 0 || errno != EINTR) {
            return;
        }
    }
}

// The writer thread of g_out.stream[stream]: takes everything held (and a line counting the lines
// dropped meanwhile, now that the output flows again) and writes it, until the end.
void* WriterMain(void* stream) {
    int s = static_cast<int>(reinterpret_cast<intptr_t>(stream));
    Output& out = g_out.stream[s];
    std::string chunk;
    std::unique_lock<std::mutex> lock(g_out.mutex);
    for (;;) {
        out.inFlight = 0;
        g_out.changed.notify_all();
        g_out.changed.wait(lock,
                           [&out] { return !out.held.empty() || out.dropped > 0 || g_out.ending; });
        if (out.held.empty() && out.dropped == 0) {
            return nullptr;  // the end, and everything written
        }
        if (out.dropped > 0) {
            char text[80];
            snprintf(text, sizeof text, "%lu lines dropped: the output did not take them",
                     out.dropped);
            AppendStamped(&out.held, text);
            out.dropped = 0;
        }
        chunk.swap(out.held);
        out.inFlight = chunk.size();
        lock.unlock();
        WriteAll(s + 1, chunk.data(), chunk.size());
        chunk.clear();
        lock.lock();
    }
}

// Lets the writers write what is held, for at most kEndFlushTime. Returns 1 when both have written
// everything and ended, 0 when one is still blocked on a stalled stream.
int EndOutput() {
    std::unique_lock<std::mutex> lock(g_out.mutex);
    g_out.ending = true;
    g_out.changed.notify_all();
    return g_out.changed.wait_for(
               lock, kEndFlushTime,
               [] {
                   for (const Output& out : g_out.stream) {
                       if (!out.held.empty() || out.dropped > 0 || out.inFlight > 0) {
                           return false;
                       }
                   }
                   return true;
               })
               ? 1
               : 0;
}

// Runs the link until SIGINT, SIGTERM or SIGHUP. Returns the exit status.
int RunHeadless() {
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
        perror("zundrel");
        return 1;
    }
    for (intptr_t stream = 0; stream < 2; ++stream) {
        if (pthread_create(&g_out.stream[stream].writer, nullptr, WriterMain,
                           reinterpret_cast<void*>(stream)) != 0) {
            perror("zundrel");
            _exit(1);  // a writer may have started: nothing is destroyed under it
        }
    }
    ControlStart();
    // While the port is waited for, the controller tries it every second; otherwise the loop
    // sleeps until a signal or a change of the port's state.
    for (uint64_t tick = MonotonicMillis() + kTickMs;;) {
        uint64_t now = MonotonicMillis();
        if (now >= tick) {
            ControlEverySecond();
            tick = now + kTickMs;
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
    ControlEnd();
    int flushed = EndOutput();
    close(signals);
    close(g_wakeFd);
    if (!flushed) {
        _exit(0);  // a writer blocked on a stalled stream is left: nothing is destroyed under it
    }
    for (Output& out : g_out.stream) {
        pthread_join(out.writer, nullptr);
    }
    return 0;
}

}  // namespace

// --- The program's face (front/front_end.h): its lines ----------------------------------------

void FrontSetStatus(const char* label) {
    Emit(0, label);
}

// The link goes on at once, as after OK.
void FrontShowError(const char* text) {
    Emit(1, text);
}

void FrontTell(const char* line) {
    Emit(1, line);
}

void FrontSetPortTip(const char* text) {
    Emit(1, text);
}

void FrontPortStateChanged() {
    SignalEventFd(g_wakeFd);
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
    int ended = ReadCommandLine(argc, argv, &options);
    return ended >= 0 ? ended : RunHeadless();
}
