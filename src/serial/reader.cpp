// The reader thread of the serial port: it sleeps on the port's line and the stop signal and feeds
// what arrives to the frame assembly. When the line fails, the reader closes the port at once and
// sleeps until the line opens again, woken by the return watch of its kind.
#include <cstdio>
#include <cstring>

#include "frame/frame.h"
#include "link/frame_assembly.h"
#include "serial/port.h"
#include "serial/serial_port.h"

namespace {

// Most bytes taken from the line and fed to the frame assembly at once: what its buffer holds.
constexpr size_t kReadChunk = kFrameCapacity;

// A network line's connection that its other end closes within this time, before a frame came over
// it, was turned away (ser2net says why in a line of text and closes it when its device is missing
// or another client holds it). While connections are turned away, a new one is told as open only
// once it has lasted this long or carried a frame, so that a line tried every second says nothing
// until something changes.
constexpr uint64_t kProofMs = 1000;

// Most bytes kept of what the other end of a connection said before a frame came over it.
constexpr size_t kSaidBytes = 64;

// What the reader knows of its line. Reader thread only; set anew when a reader starts.
struct ReaderRecord {
    uint64_t lastTry;   // when the line was last tried (MonotonicMillis), 0: never
    bool everOpen;      // it has been open: from then on it is lost until back, whatever the cause
    bool turnedAway;    // its last connection was turned away
    bool told;          // the open line has been told as open
    uint64_t openedAt;  // when the open line was opened
    unsigned long framesAtOpen;
    uint8_t said[kSaidBytes];
    size_t saidCount;
};
ReaderRecord g_reader;

// The line `line` is the port's, just opened: it is told as open at once unless connections are
// being turned away, when it must first prove itself. With `told`, the window's thread has told it.
void BeginLine(LineHandle line, bool told) {
    g_reader.openedAt = MonotonicMillis();
    g_reader.framesAtOpen = FramesTakenIn();
    g_reader.saidCount = 0;
    g_reader.told = told || !g_reader.turnedAway;
    g_reader.everOpen = true;
    if (g_reader.told && !told) {
        TellPortState(kPortOpen, "");
    }
    WatchPortLoss(line);
}

// How long the open line has left to prove itself (kNoTimeLimit: it has been told).
unsigned ProofLeft() {
    uint64_t now = MonotonicMillis();
    return g_reader.told ? kNoTimeLimit
           : now >= g_reader.openedAt + kProofMs
               ? 0
               : static_cast<unsigned>(g_reader.openedAt + kProofMs - now);
}

// Tells the open line as open once it has proved itself: it carried a frame or lasted kProofMs.
void CheckProof() {
    if (!g_reader.told && (FramesTakenIn() != g_reader.framesAtOpen || ProofLeft() == 0)) {
        g_reader.told = true;
        g_reader.turnedAway = false;
        TellPortState(kPortOpen, "");
    }
}

// Keeps the first of the bytes the open line gave before a frame came over it.
void KeepSaid(const uint8_t* bytes, size_t n) {
    bool framed = FramesTakenIn() != g_reader.framesAtOpen;
    for (size_t i = 0; i < n && g_reader.saidCount < kSaidBytes && !framed; ++i) {
        g_reader.said[g_reader.saidCount++] = bytes[i];
    }
}

// Writes what the other end said as text into `detail`: its printable characters, any other byte
// a space, runs of spaces as one, none at either end.
void SaidAsText(char* detail) {
    size_t n = 0;
    for (size_t i = 0; i < g_reader.saidCount && n + 1 < kLineDetailBytes; ++i) {
        char c = static_cast<char>(g_reader.said[i]);
        c = c >= 0x20 && c < 0x7F && c != '"' ? c : ' ';
        if (c != ' ' || (n > 0 && detail[n - 1] != ' ')) {
            detail[n++] = c;
        }
    }
    n -= n > 0 && detail[n - 1] == ' ' ? 1 : 0;
    detail[n] = '\0';
}

// The port's line has failed (or, with `lostAs` kPortConnecting, a line the reader opens has not
// opened yet): closes it at once, so that its name is free for its return, records it as
// `lostAs` with `detail`, and sleeps until the line opens again. The watch is set before each look,
// so that no return is missed however soon it comes. The line is tried at most once every
// retryMs of its kind, sooner only on a sign of its watch, never in a loop; until it first opens,
// a new reason why it does not is told. Returns the reopened line, the port's, or kNoLine when the
// stop signal came first.
LineHandle AwaitReturn(int lostAs, const char* detail) {
    WatchPortLoss(kNoLine);
    const LineKind* kind = PortKind();
    if (lostAs != kPortConnecting) {
        ForgetPort(lostAs, detail, false);
        TellPortState(lostAs, detail);
    }
    Waitable wake;
    int watched = kind->watchReturn(PortName(), &wake);
    LineHandle back = kNoLine;
    for (bool sign = false;;) {
        uint64_t now = MonotonicMillis();
        uint64_t next = g_reader.lastTry + kind->retryMs;
        bool look = sign || g_reader.lastTry == 0 || now >= next;
        if (look) {
            g_reader.lastTry = now;
            char why[kLineDetailBytes] = "";
            int state = PortState(nullptr);
            back = kind->open(PortName(), &state, why);
            if (back != kNoLine || ReaderStopRaised()) {
                break;
            }
            char before[kLineDetailBytes];
            if (!g_reader.everOpen && (state != PortState(before) || strcmp(why, before) != 0)) {
                TellPortState(state, why);
            }
            next = now + kind->retryMs;
        }
        unsigned ms = watched && look ? kNoTimeLimit
                      : next > now    ? static_cast<unsigned>(next - now)
                                      : 0;
        int r = WaitForAny(&wake, 1, ms);
        if (r < 0 || ReaderStopRaised()) {
            break;
        }
        sign = r > 0;
        watched = kind->drainWatch();
    }
    kind->endWatch();
    if (back == kNoLine || ReaderStopRaised()) {
        if (back != kNoLine) {
            kind->close(back, false);
        }
        return kNoLine;
    }
    UsePortLine(back, false);  // as after a port switch
    BeginLine(back, false);
    return back;
}

// The open line has failed: a network line's connection closed within kProofMs, before a frame came
// over it, was turned away, and what it said tells why; any other failure is a loss. Returns the
// line back, or kNoLine when the stop signal came first.
LineHandle LineFailed() {
    bool away = PortKind()->opensInReader && FramesTakenIn() == g_reader.framesAtOpen &&
                MonotonicMillis() < g_reader.openedAt + kProofMs;
    char said[kLineDetailBytes] = "";
    if (away) {
        SaidAsText(said);
    }
    g_reader.turnedAway = away;
    return AwaitReturn(away ? kPortTurnedAway : kPortLost, said);
}

}  // namespace

// Waits for bytes on the line and feeds them to the frame assembly, up to 256 at a time, until the
// stop signal is raised. A line that fails, also while a command waits, is opened again when it
// comes back.
void ReaderMain(void*) {
    g_reader = ReaderRecord{};
    const LineKind* kind = PortKind();
    LineHandle line = PortLine();
    if (line != kNoLine) {
        g_reader.lastTry = MonotonicMillis();
        BeginLine(line, true);
    } else {
        line = AwaitReturn(kPortConnecting, "");
    }
    uint8_t chunk[kReadChunk];
    while (line != kNoLine) {
        int r = kind->awaitBytes(line, ProofLeft());
        if (ReaderStopRaised()) {
            return;
        }
        // A terminal's line errors need no clearing here: with parity checking off, a byte
        // received with an error is delivered as it came, and reception goes on.
        int n = r > 0 ? kind->read(line, chunk, sizeof chunk) : 0;
        if (n > 0) {
            KeepSaid(chunk, static_cast<size_t>(n));
            FeedReceivedBytes(chunk, static_cast<size_t>(n));
            // A command that waited when the line was lost has been abandoned: the line failed.
            n = TakePortLoss() ? -1 : n;
            if (ReaderStopRaised()) {
                return;
            }
        }
        CheckProof();
        if (r < -1 || n < 0) {
            line = LineFailed();
        }
    }
}
