// Appending to the traffic log file, one platform file each.
#pragma once

#include <cstddef>

// Opens `path` for reading and writing without sharing it (creating it if missing, keeping what it
// holds), appends the `n` bytes at its end and closes it. Returns 1 when the bytes were handed to
// the file, 0 when it could not be opened or another holder has it (the line is then skipped).
int AppendToLogFile(const char* path, const char* text, size_t n);
