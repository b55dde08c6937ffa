#include <cstdio>

#include "serial/serial_port.h"

void PortStateText(int state, unsigned speed, char* text, size_t size) {
    static const char* const kStates[] = {
        "closed",
        "open at %u bit/s",
        "permission denied: add yourself to the dialout group",
        "in use by another program",
        "not present",
        "lost: waiting for it to come back",
        "does not open as a serial port",
    };
    snprintf(text, size, kStates[state >= 0 && state <= kPortUnusable ? state : 0], speed);
}
