#include <cstdio>

#include "serial/line_url.h"
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
    LineUrl url;
    const char* why;
    int scheme = ParseLineUrl(device, &url, &why);
    if (state == kPortOpen && scheme > 0) {
        snprintf(text, size, "connected %s %s:%u", scheme == kLineListen ? "on" : "to", url.host,
                 url.port);
        return;
    }
    snprintf(text, size, kStates[state >= 0 && state <= kPortListening ? state : 0], speed);
}
