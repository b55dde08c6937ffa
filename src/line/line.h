// A line: what the serial port is over. The terminal or COM port (tty_<platform>.cpp), or a serial
// line over the network: socket://, listen:// (net_line.cpp) and rfc2217://, a Telnet filter over
// the TCP line (telnet.cpp). One kind of line is a table of calls over an opaque handle; the port
// and its reader thread reach a line only through them, on both platforms alike.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wait/wait.h"

// An open line: a descriptor on Linux, a handle or a socket on Windows; kNoLine marks none.
using LineHandle = intptr_t;
constexpr LineHandle kNoLine = -1;

// A write to a line gives up when its bytes have not all been taken within this time.
constexpr unsigned kWriteLimitMs = 1000;

// How often a line that does not open, or is lost, is tried again when nothing tells its return.
constexpr unsigned kRetryMs = 1000;

// Most bytes of what a line tells of itself beside its state ("" when nothing), its NUL included.
constexpr size_t kLineDetailBytes = 96;

// The calls of one kind of line. The window's thread opens and closes a line while no reader thread
// runs, the reader thread while it runs; either sets its speed, under the port's lock. The rest is
// the reader thread's.
struct LineKind {
    // Opens the line `name` for this program alone, with nothing pending in it. Returns its handle
    // with kPortOpen in `state`, or kNoLine with the PortStateCode of the failure and, in `detail`
    // (kLineDetailBytes), what more the user should know. A kind with `opensInReader` may wait (a
    // connection being made); the stop signal ends the wait.
    LineHandle (*open)(const char* name, int* state, char* detail) = nullptr;
    // Sets the open line to raw 8N1 at `speed` bit/s, where it has a speed. Not reported.
    void (*configure)(LineHandle line, unsigned speed) = nullptr;
    // Closes the line; with `discard`, what it holds unsent and unread is dropped first, and the
    // line is let go for good (a listening socket closed too).
    void (*close)(LineHandle line, bool discard) = nullptr;
    // Waits up to `ms` (kNoTimeLimit: without a limit) until the line may have bytes. Returns 1, 0
    // when the time ran out or nothing came of a wake, -1 when the stop signal or the thread's
    // watch came first, -2 when the line has failed (its other end gone).
    int (*awaitBytes)(LineHandle line, unsigned ms) = nullptr;
    // Reads up to `max` of the device's bytes that the line holds now, without waiting. Returns
    // their count, 0 when none is there (or only the line's own), -1 when the line has failed.
    int (*read)(LineHandle line, uint8_t* bytes, size_t max) = nullptr;
    // Writes all `n` bytes, waiting for room at most kWriteLimitMs. A failure is not reported: the
    // next read finds the line failed.
    void (*write)(LineHandle line, const uint8_t* bytes, size_t n) = nullptr;
    // What fires when the open line fails while a command waits (kNothing: no such sign), and what
    // says whether it did (null: every firing), for the reader's thread watch.
    Waitable (*lossWatch)(LineHandle line) = nullptr;
    int (*lossFired)(Waitable w) = nullptr;
    // Starts watching for signs that the line `name`, lost or not opened, may open now, and stores
    // in `wake` what is ready while a sign is pending (kNothing: none). Returns 1 when every return
    // gives a sign, 0 when the line must also be looked for every `retryMs`.
    int (*watchReturn)(const char* name, Waitable* wake) = nullptr;
    // Takes the pending signs off the watch and watches again. Returns as watchReturn does.
    int (*drainWatch)() = nullptr;
    // Ends the watch and frees what it holds.
    void (*endWatch)() = nullptr;
    // 1 when `open` may wait: the reader thread opens the line, from its start on.
    int opensInReader = 0;
    unsigned retryMs = 0;
};

// The terminal (Linux: a device path, a symlink to one, a pseudo-terminal) or COM port (Windows).
extern const LineKind kTtyLine;

// The network lines (line_url.h): socket://HOST:PORT, which connects, listen://ADDR:PORT, which
// waits for the other end to connect, and rfc2217://HOST:PORT, a Telnet connection with the COM
// port control option.
extern const LineKind kSocketLine;
extern const LineKind kListenLine;
extern const LineKind kRfc2217Line;

// Returns the kind `base` with the calls that `over` has (the ones it leaves null, and its two
// numbers, are base's): a kind of line stacked on another, as rfc2217:// is Telnet over the TCP line.
LineKind Stacked(const LineKind& base, const LineKind& over);

// Returns the kind of line that `name`, a port's device, names; never null. Any thread.
const LineKind* LineKindOf(const char* name);

// Tells that a device has arrived (the Windows program's window got the notification of a COM
// port): a lost COM port is tried again at once instead of at its next try. Any thread. Nothing on
// Linux, where the terminal's own watch tells its return.
void LineDeviceArrived();
