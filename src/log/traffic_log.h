// The traffic log: every frame taken in and every frame sent, one line of hexadecimal bytes each,
// appended to the file named in the dialog's log field.
#pragma once

#include <cstddef>
#include <cstdint>

// Size of the buffer the log path is read into; longer paths are cut to 259 characters.
constexpr size_t kLogPathCapacity = 260;

// Appends one line "D> XX XX ... \r\n" for the `n` bytes (at most kFrameCapacity, 256) (direction
// 'R' taken in, 'S' sent) to the file named by the log field, read afresh for this line. An empty
// field writes and creates nothing. A file that cannot be opened or written, or that another
// program holds, skips the line; PanelLogStateChanged tells when lines stop being written and when
// they are written again.
void WriteLogLine(char direction, const uint8_t* bytes, size_t n);

// Formats the line for `n` bytes into `out`, which must hold 3 * n + 5 bytes. Returns its length.
size_t FormatLogLine(char direction, const uint8_t* bytes, size_t n, char* out);
