// The fuzz build's face and port: nothing is shown, replies go nowhere, pauses take no time.
#include <cstddef>
#include <cstdint>

#include "frame/port_seam.h"
#include "front/front_end.h"

void FrontSetStatus(const char*) {}

void FrontShowError(const char*) {}

void FrontTell(const char*) {}

void FrontSocketCount(int) {}

void FrontTrace(const char*) {}

void WritePort(const uint8_t*, size_t) {}

int PauseReader(unsigned) {
    return 1;
}
