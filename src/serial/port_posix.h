// What the POSIX serial port and its reader thread share (port_posix.cpp, reader_posix.cpp).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "serial/line_posix.h"

// The body of the reader thread, which OpenPortDevice starts on the open port (reader_posix.cpp).
void* ReaderMain(void*);

// Reads up to `max` bytes that the line `fd` holds now. Returns the count, 0 when nothing is there,
// -1 when the line has failed for good (other end hung up, device gone). Any thread.
ssize_t ReadSome(int fd, uint8_t* buffer, size_t max);

// The descriptor of the open port (-1: none), the kind of its line and the name it was asked for
// by. The window's thread changes them while no reader runs; the reader changes the descriptor,
// through ForgetPort and TakePort, while it runs.
int PortDescriptor();
const LineKind* PortKind();
const char* PortName();

// Closes the open port, if any (with `discard`, what its line holds is dropped first), and records
// `state`, a PortStateCode. The one way a port is closed: by the window's thread while no reader
// runs, or by the reader when its line has failed.
void ForgetPort(int state, bool discard);

// Makes `fd`, a line of the port's kind just opened, the port: set to the speed chosen, with the
// receive buffer emptied and the state open. By the window's thread before the reader starts, or
// by the reader when its line is back.
void TakePort(int fd);
