// The lines of the Win32 serial port: the COM port (tty_win32.cpp), opened, set and closed by these
// calls, and a network line (net_line_win32.cpp), made and served by the reader thread.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

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

// --- A network line: socket://, rfc2217:// or listen:// (serial/line_url.h) ----------------------
// Its socket is a WinSock SOCKET; every wait watches the stop signal.

// No network line's socket (INVALID_SOCKET).
constexpr uintptr_t kNoLine = ~uintptr_t{0};

// Makes the connection of the network line `name`, tried once: connects to its host (socket://,
// rfc2217://, which then says the Telnet options it uses), waiting a few seconds at the most, or
// takes the connection waiting on its address (listen://, listening first; while a connection is
// up, no other is listened for). Returns the non-blocking socket with kPortOpen in `state`, or
// kNoLine with kPortNoHost, kPortRefused, kPortNoAnswer, kPortListening (no one yet) or kPortBusy
// (the address cannot be listened on). Reader thread only.
uintptr_t OpenNetLine(const char* name, int* state);

// Waits until the network line is to be tried again: while a listen:// line listens, until someone
// connects; otherwise `ms` milliseconds. Returns 1, or 0 when the stop signal came first. Reader
// thread only.
int AwaitNetTry(unsigned ms);

// Stops listening for a listen:// line, if it does. Reader thread only.
void EndNetListen();

// Sets the remote port of the open rfc2217:// line `line` to `speed` bit/s, 8N1 and no flow
// control; another line has no speed to set. A failure is not reported. Any thread, the port's
// lock held.
void ConfigureNetLine(uintptr_t line, unsigned speed);

// Reads up to `max` of the device's bytes that the open line `line` holds now, without waiting.
// Returns their count (0: none, or only Telnet's), or -1 when the line has dropped (the other end
// closed it, or it failed). Reader thread only.
int ReadNetLine(uintptr_t line, uint8_t* buffer, size_t max);

// Writes the device's `n` bytes to the open line `line`, waiting for room a second at the most. A
// failure is not reported: the next read finds a dropped line. Reader thread only.
void WriteNetLine(uintptr_t line, const uint8_t* bytes, size_t n);

// Closes the network line `line`.
void CloseNetLine(uintptr_t line);
