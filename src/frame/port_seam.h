// The port as the protocol core sees it: the two calls a reply and a paused command make. Each
// executable links the version of its port: the serial port (serial/), or the test's own.
#pragma once

#include <cstddef>
#include <cstdint>

// Writes `n` bytes to the open port and waits until they are written (at most about one second).
// Does nothing when no port is open; a failed write is not reported.
void WritePort(const uint8_t* bytes, size_t n);

// Holds up the reader thread for `ms` milliseconds. Returns 1 after the full pause, 0 when the port
// is being closed meanwhile (the caller then abandons its command without replying).
int PauseReader(unsigned ms);
