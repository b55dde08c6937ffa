// The serial port: the one line open at a time, its speed and state, the reader thread that serves
// it, and the port side of the core (WritePort, PauseReader). What the line is, a terminal or
// another kind, is left to its LineKind.
#include "serial/port.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "frame/port_seam.h"
#include "front/front_end.h"
#include "link/frame_assembly.h"
#include "serial/port_names.h"
#include "serial/serial_port.h"

namespace {

// How many changes of the state the reader made by itself are kept until the window takes them.
constexpr int kKeptChanges = 8;

struct StateChange {
    int state;
    char detail[kLineDetailBytes];
};

// The one serial port of the run. `kind`, `name`, `reader` and `readerRunning` are changed by the
// window's thread only, while no reader runs; `line`, `speed`, `detail` and the changes under
// `lock`, and `line` only by the window's thread while no reader runs or by the reader when its
// line is lost or back.
struct SerialPort {
    Lock lock;
    LineHandle line = kNoLine;
    unsigned speed = 9600;
    const LineKind* kind = &kTtyLine;  // the kind of the line last asked for
    char name[kPortNameBytes] = "";    // the line last asked for
    ThreadId reader = 0;
    bool readerRunning = false;
    std::atomic<int> state{kPortClosed};
    char detail[kLineDetailBytes] = "";
    StateChange changes[kKeptChanges];
    int firstChange = 0;
    int changeCount = 0;
};

SerialPort g_port;

// Records `state` and `detail`. The lock is held.
void SetState(int state, const char* detail) {
    snprintf(g_port.detail, sizeof g_port.detail, "%s", detail);
    g_port.state.store(state);
}

}  // namespace

LineHandle PortLine() {
    return g_port.line;
}

const LineKind* PortKind() {
    return g_port.kind;
}

const char* PortName() {
    return g_port.name;
}

void ForgetPort(int state, const char* detail, bool discard) {
    Held hold(g_port.lock);
    if (g_port.line != kNoLine) {
        g_port.kind->close(g_port.line, discard);
    }
    g_port.line = kNoLine;
    SetState(state, detail);
}

void UsePortLine(LineHandle line, bool announce) {
    {
        Held hold(g_port.lock);
        g_port.line = line;
        g_port.kind->configure(line, g_port.speed);
        if (announce) {
            SetState(kPortOpen, "");
        }
    }
    // Bytes of a frame that the previous line left half received are dropped: a frame built from
    // two devices' bytes is meaningless.
    ResetReceiveBuffer();
}

void TellPortState(int state, const char* detail) {
    {
        Held hold(g_port.lock);
        SetState(state, detail);
        if (g_port.changeCount == kKeptChanges) {  // the oldest goes
            g_port.firstChange = (g_port.firstChange + 1) % kKeptChanges;
            --g_port.changeCount;
        }
        StateChange& c = g_port.changes[(g_port.firstChange + g_port.changeCount++) % kKeptChanges];
        c.state = state;
        snprintf(c.detail, sizeof c.detail, "%s", detail);
    }
    FrontPortStateChanged();
}

void WatchPortLoss(LineHandle line) {
    const LineKind* kind = g_port.kind;
    SetThreadWatch(line != kNoLine ? kind->lossWatch(line) : kNothing, kind->lossFired);
}

int TakePortLoss() {
    return TakeThreadWatch();
}

// --- The port ----------------------------------------------------------------------------------

int OpenPortDevice(const char* name) {
    if (g_port.line != kNoLine || g_port.readerRunning) {
        ClosePort();  // the window always closes first; never leak the old port
    }
    snprintf(g_port.name, sizeof g_port.name, "%s", name);
    g_port.kind = LineKindOf(name);
    int state = kPortConnecting;
    char detail[kLineDetailBytes] = "";
    LineHandle line =
        g_port.kind->opensInReader ? kNoLine : g_port.kind->open(name, &state, detail);
    if (line == kNoLine) {
        Held hold(g_port.lock);
        SetState(state, detail);
        if (!g_port.kind->opensInReader) {
            return 0;
        }
        ResetReceiveBuffer();  // the reader makes the connection
    } else {
        UsePortLine(line, true);
    }
    ClearReaderStop();
    if (!StartThread("zundrel-reader", ReaderMain, nullptr, &g_port.reader)) {
        ForgetPort(kPortUnusable, "", false);
        return 0;
    }
    g_port.readerRunning = true;
    return 1;
}

void ClosePort() {
    if (g_port.line == kNoLine && !g_port.readerRunning) {
        return;
    }
    // Every wait of the reader watches the stop signal, so the join returns at once.
    RaiseReaderStop();
    if (g_port.readerRunning) {
        JoinThread(g_port.reader);
        g_port.readerRunning = false;
    }
    ForgetPort(kPortClosed, "", true);  // the reader may have closed it already, its line lost
    {
        Held hold(g_port.lock);
        g_port.changeCount = 0;  // the stopped reader's changes are no news
    }
    ClearReaderStop();
}

void SetBaudRate(unsigned speed) {
    Held hold(g_port.lock);
    g_port.speed = speed;
    if (g_port.line != kNoLine) {
        g_port.kind->configure(g_port.line, speed);
    }
}

int PortState(char* detail) {
    Held hold(g_port.lock);
    if (detail != nullptr) {
        snprintf(detail, kLineDetailBytes, "%s", g_port.detail);
    }
    return g_port.state.load();
}

int TakePortStateChange(int* state, char* detail) {
    Held hold(g_port.lock);
    if (g_port.changeCount == 0) {
        return 0;
    }
    const StateChange& c = g_port.changes[g_port.firstChange];
    *state = c.state;
    snprintf(detail, kLineDetailBytes, "%s", c.detail);
    g_port.firstChange = (g_port.firstChange + 1) % kKeptChanges;
    --g_port.changeCount;
    return 1;
}

// --- Seams: the port side of the core ---------------------------------------------------------

// Replies are written by the reader, which alone changes the line while it runs.
void WritePort(const uint8_t* bytes, size_t n) {
    LineHandle line = g_port.line;
    if (line != kNoLine) {
        g_port.kind->write(line, bytes, n);
    }
}

int PauseReader(unsigned ms) {
    return WaitForReaderStop(ms) ? 0 : 1;
}
