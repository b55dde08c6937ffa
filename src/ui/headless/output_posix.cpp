// The headless program's two output streams, stdout and stderr, each written by a writer thread of
// its own, so that a stalled reader of the output (a hung terminal, an ssh session whose network
// stalls) never holds up the link or the end.
#include <poll.h>
#include <pthread.h>
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

#include "log/log_file.h"
#include "ui/headless/output.h"

namespace {

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

// Appends "TIME text\n" (local time to the millisecond) to `line`.
void AppendStamped(std::string* line, const char* text) {
    char stamp[kTimeStampBytes];
    FormatTimeStamp(stamp);
    line->append(stamp).append(" ").append(text).append("\n");
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

// Holds `line` for stream `stream`, or drops and counts it (see Emit).
void Hold(int stream, const std::string& line) {
    std::lock_guard<std::mutex> lock(g_out.mutex);
    Output& out = g_out.stream[stream];
    if (out.dropped == 0 && out.inFlight + out.held.size() + line.size() <= kHeldBytes) {
        out.held += line;
        g_out.changed.notify_all();
    } else {
        ++out.dropped;
    }
}

// The run of one status label: the label and how many times it came in a row (0: none yet). Reader
// thread, and the end once the reader ended.
struct LabelRun {
    char label[64];
    unsigned long count;
    int every;  // every label is written
};
LabelRun g_run;

}  // namespace

void EveryLabel(int every) {
    g_run.every = every;
}

void EmitLabel(const char* label) {
    if (!g_run.every && g_run.count > 0 && strcmp(label, g_run.label) == 0) {
        ++g_run.count;
        return;
    }
    EndLabelRun();
    snprintf(g_run.label, sizeof g_run.label, "%s", label);
    g_run.count = 1;
    Emit(0, label);
}

void EndLabelRun() {
    if (g_run.count > 1) {
        char line[sizeof g_run.label + 32];
        snprintf(line, sizeof line, "%s (%lu times)", g_run.label, g_run.count);
        Emit(0, line);
    }
    g_run.count = 0;
}

void Emit(int stream, const char* text) {
    std::string line;
    AppendStamped(&line, text);
    Hold(stream, line);
}

void EmitStamped(int stream, const char* line) {
    Hold(stream, std::string(line) + "\n");
}

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

int StartOutput() {
    for (intptr_t stream = 0; stream < 2; ++stream) {
        if (pthread_create(&g_out.stream[stream].writer, nullptr, WriterMain,
                           reinterpret_cast<void*>(stream)) != 0) {
            return 0;
        }
    }
    return 1;
}

void JoinOutput() {
    for (Output& out : g_out.stream) {
        pthread_join(out.writer, nullptr);
    }
}
