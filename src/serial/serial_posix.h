// POSIX extras of the serial link: the table of port numbers and device paths, opening a device by
// its path, and what the reader thread reports about itself.
#pragma once

#include <time.h>

// --- Port table ------------------------------------------------------------------------------
// Port numbers start at 1. Numbers 1 to 4 are always COM1 to COM4 on /dev/ttyS0 to /dev/ttyS3;
// further ports (USB adapters, ...) are appended by the window's thread and get the next numbers.

// Largest number of ports the table holds, fixed ones included.
constexpr int kMaxSerialPorts = 32;

// Appends a port shown as `label` (cut to 31 characters) on the device at `path` (cut to 127).
// Returns its number, or 0 when the table is full.
int AddSerialPort(const char* label, const char* path);

// Drops every appended port, keeping COM1 to COM4.
void ResetSerialPorts();

// The number of ports in the table; valid numbers are 1 to this count.
int SerialPortCount();

// The label ("COM1", ...) of port `number`, or nullptr when there is no such port.
const char* SerialPortLabel(int number);

// The device path of port `number` ("/dev/ttyS0" for 1), or nullptr when there is no such port.
const char* SerialPortPath(int number);

// --- Opening by path -------------------------------------------------------------------------

// Opens the terminal device at `path` as the port, exactly as OpenPort does after looking up the
// number: exclusive (its flock taken, TIOCEXCL set), raw 8N1 at the speed last chosen, receive
// buffer emptied, reader thread started. Returns 1 when open, 0 when the device could not be
// opened, is not a terminal or another holds its flock (silently; no port is then open).
int OpenPortDevice(const char* path);

// --- Reader thread ---------------------------------------------------------------------------

// The body of the reader thread: waits for bytes on the port and feeds them to the assembler, up
// to 256 at a time, until the reader stop signal is raised. Started by OpenPortDevice.
void ReaderThread();

// Returns 1 when the open port has failed for good (its other end hung up, the device is gone):
// the reader then only waits for ClosePort. 0 while it works or when no port is open.
int PortFailed();

// Returns 1 when the line settings read back from the open port matched what was last asked for,
// 0 when they did not or no port is open.
int PortSettingsHeld();

// Stores the CPU-time clock of the running reader thread in `clock`. Returns 1, or 0 when no reader
// runs.
int ReaderCpuClock(clockid_t* clock);
