// What the POSIX serial port tells about itself, for the tests and the benchmark.
#pragma once

#include <time.h>

// Returns 1 when the open port has failed for good (its other end hung up, the device is gone):
// the reader then only waits for ClosePort. 0 while it works or when no port is open.
int PortFailed();

// Returns 1 when the line settings read back from the open port matched what was last asked for,
// 0 when they did not or no port is open.
int PortSettingsHeld();

// Stores the CPU-time clock of the running reader thread in `clock`. Returns 1, or 0 when no reader
// runs.
int ReaderCpuClock(clockid_t* clock);

// Returns 1 while a port is open (a failed one included), 0 when none is.
int PortOpen();
