// The traffic log: every frame taken in and every frame sent, one line of hexadecimal bytes each,
// appended to the file named in the dialog's log field. The log keeps that name itself: the program
// hands it over whenever the field changes.
#pragma once

#include <cstddef>
#include <cstdint>

// The log field holds at most kLogPathCapacity - 1 characters: bytes on Linux, UTF-16 code units on
// Windows, where the path is kept in UTF-8 and takes up to three bytes for each.
constexpr size_t kLogPathCapacity = 260;
#ifdef _WIN32
constexpr size_t kLogPathBytes = 3 * kLogPathCapacity;
#else
constexpr size_t kLogPathBytes = kLogPathCapacity;
#endif

// Most bytes one line shows: the size of the receive buffer and of the reply work area.
constexpr size_t kLogLineMaxBytes = 256;

// Makes `path` (UTF-8; empty: no log) the file that lines go to from the next line on. A path
// longer than kLogPathBytes - 1 bytes is cut. Any thread.
void SetLogPath(const char* path);

// Appends one line "D> XX XX ... \r\n" for the `n` bytes (at most kLogLineMaxBytes) (direction 'R'
// taken in, 'S' sent) to the log file. No path writes and creates nothing. A file that cannot be
// opened or written, or that another program holds, skips the line; FrontTell tells
// when lines stop being written and when they are written again. Reader thread only.
void WriteLogLine(char direction, const uint8_t* bytes, size_t n);

// Formats the line for `n` bytes into `out`, which must hold 3 * n + 5 bytes. Returns its length.
size_t FormatLogLine(char direction, const uint8_t* bytes, size_t n, char* out);
