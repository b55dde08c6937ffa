// A kind of line that the serial port can be, today a terminal: the calls that open it, set it,
// close it and watch for its return after a loss. The port and its reader thread reach a line only
// through them, so that another kind of line stands beside the terminal with calls of its own.
#pragma once

#include <sys/types.h>

#include <cstddef>

// The calls of one kind of line. The window's thread opens and closes a line while no reader thread
// runs, the reader thread while it runs; either sets it, under the port's lock; the return watch is
// the reader thread's alone.
struct LineKind {
    // Opens the line `name` non-blocking, for this program alone, with nothing pending in it.
    // Returns its descriptor with kPortOpen in `state`, or -1 with the PortStateCode of the
    // failure.
    int (*open)(const char* name, int* state);
    // Sets the open line `fd` to raw 8N1 at `speed` bit/s. A failure is not reported.
    void (*configure)(int fd, unsigned speed);
    // Closes the line `fd`; with `discard`, what it holds unsent and unread is dropped first.
    void (*close)(int fd, bool discard);
    // Starts watching for signs that the lost line `name` may open again, and stores in `wake` a
    // descriptor that is readable while a sign is pending (-1: none). Returns 1 when every return
    // gives a sign, 0 when the line must also be looked for on a timer.
    int (*watchReturn)(const char* name, int* wake);
    // Takes the pending signs off the watch and watches again. Returns as watchReturn does.
    int (*drainWatch)();
    // Ends the watch and frees what it holds.
    void (*endWatch)();
    // Reads up to `n` bytes of the device's from the open line `fd` without waiting; returns as
    // read() does (-1 with EAGAIN when nothing of the device's came).
    ssize_t (*read)(int fd, void* bytes, size_t n);
    // Writes up to `n` bytes to the open line `fd` without waiting; returns as write() does.
    ssize_t (*write)(int fd, const void* bytes, size_t n);
    // 1 when `open` may wait (a connection being made): the reader thread opens the line, from
    // its start on, and the line is looked for every `retryMs` when its return gives no sign.
    int opensInReader;
    unsigned retryMs;
};

// The terminal (tty_posix.cpp): a device path, a by-id link or a pseudo-terminal.
extern const LineKind kTtyLine;

// The network lines (net_line_posix.cpp): socket://HOST:PORT, which connects, listen://ADDR:PORT,
// which waits for the other end to connect, and rfc2217://HOST:PORT, a Telnet connection with the
// COM port control option (serial/line_url.h).
extern const LineKind kSocketLine;
extern const LineKind kListenLine;
extern const LineKind kRfc2217Line;

// Returns the kind of line that `name`, a device as OpenPortDevice takes it, names; never null.
// Any thread.
const LineKind* LineKindOf(const char* name);
