// The fuzz build's panel and port: nothing is shown, replies go nowhere, pauses take no time, and
// the traffic log is written to /dev/null so its formatting runs on every frame.
#include <cstring>

#include "link/seams.h"

void PanelSetStatus(const char*) {}

size_t PanelGetLogPath(char* buf, size_t size) {
    static const char kPath[] = "/dev/null";
    if (size < sizeof kPath) {
        return 0;
    }
    memcpy(buf, kPath, sizeof kPath);
    return sizeof kPath - 1;
}

void PanelShowError(const char*) {}

void WritePort(const uint8_t*, size_t) {}

int PauseReader(unsigned) {
    return 1;
}
