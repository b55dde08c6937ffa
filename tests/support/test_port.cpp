// The test port: records the bytes the core writes and the pauses it asks for, and pauses for no
// time at all, so the 500 ms dial-up pause costs the tests nothing.
#include <string>

#include "link/seams.h"
#include "sockets/net_shim.h"
#include "test_panel.h"

void WritePort(const uint8_t* bytes, size_t n) {
    RecordTestEvent("send:" + HexBytes(bytes, n));
}

int PauseReader(unsigned ms) {
    RecordTestEvent("pause:" + std::to_string(ms));
    return ReaderStopRaised() ? 0 : 1;
}
