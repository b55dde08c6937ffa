// The traffic log's file, one platform file each.
#pragma once

#include <cstddef>

// Opens `path` (UTF-8) for reading and writing without sharing it (creating it if missing, keeping
// what it holds), appends the `n` bytes at its end and closes it. Returns 1 when all bytes were
// written to the file, 0 when it could not be opened, another holder has it or the write failed (a
// full disk, /dev/full): the line is then skipped, or only part of it written.
int AppendToLogFile(const char* path, const char* text, size_t n);
