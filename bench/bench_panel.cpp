// The benchmark's panel: no window, no log, no box. Costs the core as little as a panel can.
#include "link/seams.h"
#include "serial/serial_port.h"

void PanelSetStatus(const char*) {}

size_t PanelGetLogPath(char* buf, size_t size) {
    if (size > 0) {
        buf[0] = '\0';
    }
    return 0;
}

void PanelShowError(const char*) {}

void PanelLogStateChanged(const char*) {}

void PanelPortStateChanged() {}
