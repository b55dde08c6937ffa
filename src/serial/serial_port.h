// The serial port through which the device is attached, and the reader thread that feeds the frame
// assembly. Called from the window's thread; the reader thread does all protocol work.
#pragma once

#include <cstddef>
#include <cstdint>

// Opens the port `device` names (from NamedPort or ComDevice, serial/port_names.h, a network line
// among them, serial/line_url.h) at the speed last chosen, empties the receive buffer and starts
// its reader thread, which makes a network line's connection. On Linux the port is taken exclusive
// (its flock taken, TIOCEXCL set) in raw 8N1. Returns 1 when the port is open or its reader makes
// the connection, 0 when it could not be opened (silently: no port is then open, and writes and
// reads do nothing). A port still open is closed first.
int OpenPortDevice(const char* device);

// Stops the reader thread wherever it is (its interrupted command sends no reply), discards pending
// input and output and closes the port. Returns promptly. Does nothing when no port is open.
void ClosePort();

// Remembers `speed` (9600 or 38400 bit/s) and applies it to the open port, if any.
void SetBaudRate(unsigned speed);

// --- The state of the port, and the ports the PC has --------------------------------------------

// What became of the port last asked for, as PortState reports it.
enum PortStateCode {
    kPortClosed = 0,  // no port asked for, or the port has been closed
    kPortOpen,        // open at the speed last chosen
    kPortDenied,      // the user may not open the device
    kPortBusy,        // another program holds the device
    kPortAbsent,      // no such device
    kPortUnusable,    // the device is there but does not open as a serial port
    // From here on, the port waits by itself for its line and opens it when it comes.
    kPortLost,        // it was open and its device went away; reopened when it comes back
    kPortConnecting,  // a network line: its first connection is being made or listened for
    kPortNoHost,      // a network line whose host name is not found (yet)
    kPortRefused,     // a network line whose other end refuses the connection
    kPortNoAnswer,    // a network line whose other end does not answer
    kPortListening,   // a listening line: no one has connected
};

// Returns the state of the port last asked for by OpenPortDevice (a PortStateCode). Any thread.
int PortState();

// Writes the words for `state` (a PortStateCode) of the port `device` into `text` (`size` bytes):
// "open at `speed` bit/s" ("connected to HOST:PORT" for a network line), "not present", "lost:
// waiting for it to come back", ... The one wording of the port's state, wherever it is shown.
void PortStateText(int state, unsigned speed, const char* device, char* text, size_t size);

#ifdef _WIN32
// Tells the port that a COM port has arrived (the program's window got the device notification):
// a lost port is tried again at once instead of at its next one-second try. Any thread.
void PortDeviceArrived();
#endif

// Calls `found` with the label (for the port list) and the device (for OpenPortDevice) of every
// serial port the PC has now beyond COM1: to COM4:, in the order the list shows them. Returns how
// many were found.
int ListSerialPorts(void (*found)(const char* label, const char* device, void* context),
                    void* context);
