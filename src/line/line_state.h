// The states a port reports of its line, and their words: the one wording of a port's state,
// wherever it is shown (the port list's tooltip, stderr, the service's status).
#pragma once

#include <cstddef>

// What became of the port last asked for.
enum PortStateCode {
    kPortClosed = 0,  // no port asked for, or the port has been closed
    kPortOpen,        // open at the speed last chosen (a network line: connected)
    kPortDenied,      // the user may not open the device
    kPortBusy,        // another program holds the device
    kPortAbsent,      // no such device
    kPortUnusable,    // the device is there but does not open as a serial port
    // From here on, the port waits by itself for its line and opens it when it comes.
    kPortLost,           // it was open and its line went away; reopened when it comes back
    kPortConnecting,     // a network line: its first connection is being made or listened for
    kPortNoHost,         // a network line whose host name is not found (yet)
    kPortRefused,        // a network line whose other end refuses the connection
    kPortNoAnswer,       // a network line whose other end does not answer
    kPortListening,      // a listening line: no one has connected
    kPortAddressInUse,   // a listening line whose address another program listens on
    kPortNoSuchAddress,  // a listening line whose address is not one of this machine's
    kPortListenDenied,   // a listening line on a port this program may not listen on
    kPortTurnedAway,     // a network line whose other end closes each connection at once
    kPortStates          // how many states there are
};

// Writes the words for `state` (a PortStateCode) of the port `device` into `text` (`size` bytes):
// "open at `speed` bit/s" ("connected to HOST:PORT" for a network line), "not present", "lost:
// waiting for it to come back", ...; `detail` ("" when none), what more the line told, goes where
// the state's words have room for it.
void PortStateText(int state, unsigned speed, const char* device, const char* detail, char* text,
                   size_t size);
