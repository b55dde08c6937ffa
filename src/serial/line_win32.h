// The COM port as the line of the Win32 serial port: opening it, its line settings and closing it
// (tty_win32.cpp).
#pragma once

#include <windows.h>

// The port events the reader thread waits for.
constexpr DWORD kPortEvents = EV_RXCHAR | EV_ERR;

// Opens the COM port `name` for overlapped transfers and for this program alone, with its event
// mask set, its buffers purged, reads that return at once what has arrived and writes limited to
// one second. Returns the handle with kPortOpen in `state`, or INVALID_HANDLE_VALUE with the
// PortStateCode of the failure.
HANDLE OpenComPort(const char* name, int* state);

// Sets the open `port` to 8N1 at `speed` bit/s, binary, without flow control, DTR and RTS on. A
// failure is not reported.
void ConfigureComPort(HANDLE port, unsigned speed);

// Ends the transfers pending on `port`, drops what it holds unsent and unread, and closes it.
void CloseComPort(HANDLE port);
