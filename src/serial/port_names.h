// The names a user gives a port on the command line, on this platform.
#pragma once

#include <cstddef>
#include <cstdio>

#include "line/line_url.h"

// The longest device path that names a port, in bytes.
constexpr size_t kMostPathBytes = 127;

// Bytes that hold a port's label or device, its NUL included: the longest path or line name.
constexpr size_t kPortNameBytes =
    kLineNameBytes > kMostPathBytes ? kLineNameBytes : kMostPathBytes + 1;

// Fills `label` (as the port list shows the port) and `device` (what is opened), each
// kPortNameBytes, for the port `name` names: "COM<n>" or "COM<n>:" in any case (COM1 to COM4 on
// Linux, where they are /dev/ttyS0 to /dev/ttyS3; COM1 to COM256 on Windows), on Linux an absolute
// path (a device or a symlink to one, which is its own label), or a network line (line_url.h),
// which is its own label too. On Windows this is the one spelling of a COM port's device, the port
// list's too. Returns 1, 0 when `name` names no port here, or -1 for a path longer than
// kMostPathBytes.
int NamedPort(const char* name, char* label, char* device);

// The highest COM<n> that names a port here: 4 on Linux, 256 on Windows (port_list_<platform>).
extern const int kHighestComPort;
// 1 when an absolute path names a port here (on Linux), 0 otherwise.
extern const int kPathsArePorts;

// COM1: to COM4: come first in the port list, on every platform.
constexpr int kComPorts = 4;

// Writes the label of COM<n> as the port list shows it, "COM<n>:", into `label` (`size` bytes).
inline void ComLabel(int n, char* label, size_t size) {
    snprintf(label, size, "COM%d:", n);
}

// Writes into `device` (`size` bytes) what is opened for COM<n> on this platform: on Linux
// /dev/ttyS0 to /dev/ttyS3 for COM1 to COM4; on Windows "COM1:" to "COM4:", and \\.\COM<n> above.
void ComDevice(int n, char* device, size_t size);

// Returns n for "COM<n>" or "COM<n>:" (any case, n from 1 to 999 without leading zero), 0 for
// any other text.
inline int ComNumber(const char* name) {
    if ((name[0] | 0x20) != 'c' || (name[1] | 0x20) != 'o' || (name[2] | 0x20) != 'm' ||
        name[3] < '1' || name[3] > '9') {
        return 0;
    }
    int n = 0;
    const char* p = name + 3;
    for (; *p >= '0' && *p <= '9' && n < 1000; ++p) {
        n = n * 10 + (*p - '0');
    }
    return n < 1000 && (p[0] == '\0' || (p[0] == ':' && p[1] == '\0')) ? n : 0;
}
