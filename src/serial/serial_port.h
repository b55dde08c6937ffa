// The serial port through which the device is attached, and the reader thread that feeds the frame
// assembly. Called from the window's thread; the reader thread does all protocol work.
#pragma once

#include <cstddef>
#include <cstdint>

// Writes into `buf` (`size` bytes, NUL-terminated) the device name of COM<number>: (1 to 4) on this
// platform: "COM1:" on Windows, "/dev/ttyS0" on Linux, and so on.
void FixedPortDevice(int number, char* buf, size_t size);

// Opens the port `device` names (a name from FixedPortDevice, or a Linux device path) at the speed
// last chosen, empties the receive buffer and starts its reader thread. On Linux the port is taken
// exclusive (its flock taken, TIOCEXCL set) in raw 8N1. Returns 1 when the port is open, 0 when it
// could not be opened (silently: no port is then open, and writes and reads do nothing). A port
// still open is closed first.
int OpenPortDevice(const char* device);

// Stops the reader thread wherever it is (its interrupted command sends no reply), discards pending
// input and output and closes the port. Returns promptly. Does nothing when no port is open.
void ClosePort();

// Remembers `speed` (9600 or 38400 bit/s) and applies it to the open port, if any.
void SetBaudRate(unsigned speed);

// Reads what the port holds now, up to `max` bytes, without waiting. Returns the count, or 0.
size_t ReadPort(uint8_t* buffer, size_t max);
