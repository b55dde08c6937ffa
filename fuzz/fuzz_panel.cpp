// The fuzz build's panel and port: nothing is shown, replies go nowhere, pauses take no time, and
// the traffic log goes to /dev/null for the inputs the fuzz target chooses (opening the file for
// every line costs more than everything else an input does, so not for all of them).
#include <cstring>

#include "link/seams.h"

bool g_fuzzLogOn = false;

void PanelSetStatus(const char*) {}

size_t PanelGetLogPath(char* buf, size_t size) {
    static const char kPath[] = "/dev/null";
    if (!g_fuzzLogOn || size < sizeof kPath) {
        return 0;
    }
    memcpy(buf, kPath, sizeof kPath);
    return sizeof kPath - 1;
}

void PanelShowError(const char*) {}

void PanelLogStateChanged(const char*) {}

void WritePort(const uint8_t*, size_t) {}

int PauseReader(unsigned) {
    return 1;
}
