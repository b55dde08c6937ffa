// The serial port through which the device is attached, over its line (line/line.h): a terminal or
// COM port, or a serial line over the network. Opened, closed and set by the window's thread; its
// reader thread does all protocol work.
#pragma once

#include <cstddef>
#include <cstdint>

#include "line/line_state.h"

// Opens the port `device` names (from NamedPort or ComDevice, serial/port_names.h, a network line
// among them) at the speed last chosen, empties the receive buffer and starts its reader thread,
// which makes a network line's connection. A terminal is taken for this program alone, in raw 8N1.
// Returns 1 when the port is open or its reader makes the connection, 0 when it could not be opened
// (silently: no port is then open, and writes and reads do nothing). A port still open is closed
// first.
int OpenPortDevice(const char* device);

// Stops the reader thread wherever it is (its interrupted command sends no reply), discards pending
// input and output and closes the port. Returns promptly. Does nothing when no port is open.
void ClosePort();

// Remembers `speed` (9600 or 38400 bit/s) and applies it to the open port, if any.
void SetBaudRate(unsigned speed);

// Returns the state of the port last asked for by OpenPortDevice (a PortStateCode), with what more
// its line told in `detail` (kLineDetailBytes, line/line.h). Any thread.
int PortState(char* detail);

// Takes the oldest change of the port's state that its reader made by itself (and told with
// FrontPortStateChanged) not yet taken: returns 1 with the state and the detail (kLineDetailBytes),
// or 0 when none is left. Window's thread.
int TakePortStateChange(int* state, char* detail);

// Calls `found` with the label (for the port list) and the device (for OpenPortDevice) of every
// serial port the PC has now beyond COM1: to COM4:, in the order the list shows them. Returns how
// many were found.
int ListSerialPorts(void (*found)(const char* label, const char* device, void* context),
                    void* context);
