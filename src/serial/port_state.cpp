#include <cstdio>
#include <cstring>

#include "serial/serial_port.h"

void PortStateText(int state, unsigned speed, const char* device, char* text, size_t size) {
    static const char* const kStates[] = {
        "closed",
        "open at %u bit/s",
        "permission denied: add yourself to the dialout group",
        "in use by another program",
        "not present",
        "does not open as a serial port",
        "lost: waiting for it to come back",
        "opening",
        "host not found: waiting for it",
        "refused: waiting for it",
        "no answer: waiting for it",
        "listening: waiting for the connection",
    };
    const char* url = strstr(device, "://");
    if (state == kPortOpen && url != nullptr) {
        snprintf(text, size, "connected %s %s", device[0] == 'l' ? "on" : "to", url + 3);
        return;
    }
    snprintf(text, size, kStates[state >= 0 && state <= kPortListening ? state : 0], speed);
}
