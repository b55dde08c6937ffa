// What the POSIX serial port tells about itself, for the benchmark.
#pragma once

#include <time.h>

// Stores the CPU-time clock of the running reader thread in `clock`. Returns 1, or 0 when no reader
// runs.
int ReaderCpuClock(clockid_t* clock);
