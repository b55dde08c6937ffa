// What the Win32 serial port and its reader thread share (port_win32.cpp, reader_win32.cpp).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// The body of the reader thread, which OpenPortDevice starts on the open COM port `port`
// (reader_win32.cpp).
DWORD WINAPI ReaderThread(LPVOID port);

// The body of the reader thread of the network line `name` (serial/line_url.h), which
// OpenPortDevice starts before its connection is made (reader_win32.cpp).
DWORD WINAPI LineReaderThread(LPVOID name);

// Returns 1 when `error`, from a wait or a transfer on the port, means that its device went away
// (a USB serial adapter pulled), unless the stop signal is raised; 0 otherwise.
int DeviceGone(DWORD error);

// Reads what the port holds now, up to `max` bytes, without waiting. Returns the count, or 0 with
// the error of a failed read in `error` (0: none). Reader thread only.
size_t ReadPort(uint8_t* buffer, size_t max, DWORD* error);

// The port's device went away: closes the port at once, records it as lost and tells the program.
// Reader thread only.
void LosePort();

// Tries to open the lost port again. Returns its handle, set to the speed chosen, with the receive
// buffer emptied and the state open (the program is told); or INVALID_HANDLE_VALUE when it is not
// back. Reader thread only.
HANDLE RetakePort();

// The event that PortDeviceArrived signals (auto-reset).
HANDLE ArrivalEvent();

// Makes `line`, a network line's socket just connected, the port (kNoLine: none, its line not
// made or lost), and records `state`. The line the port had is closed; a new one is set to the
// speed chosen, with the receive buffer emptied as after a port switch. The program is told.
// Reader thread only.
void SetLine(uintptr_t line, int state);
