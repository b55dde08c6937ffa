// The benchmark's panel: no window, no log, no box. Costs the core as little as a panel can.
#include "front/front_end.h"
#include "serial/serial_port.h"

void FrontSetStatus(const char*) {}

void FrontShowError(const char*) {}

void FrontTell(const char*) {}

void FrontSocketCount(int) {}

void FrontTrace(const char*) {}

void FrontPortStateChanged() {}
