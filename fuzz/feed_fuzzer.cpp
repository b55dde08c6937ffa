// Feeds arbitrary chunk sequences to the assembler with every handler live. The input is a run of
// chunks, each a length byte L followed by L + 1 bytes (the last chunk takes what is left). Every
// input starts from a fresh link: empty receive buffer, adapter off, every socket slot free.
// Inputs of odd length also write the traffic log.
#include <cstddef>
#include <cstdint>

#include "adapter/adapter.h"
#include "link/frame_assembly.h"
#include "log/traffic_log.h"
#include "sockets/socket_slots.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SetLogPath((size & 1) != 0 ? "/dev/null" : "");
    ResetReceiveBuffer();
    ResetAdapter();
    ResetSocketSlots();
    while (size > 0) {
        size_t len = size_t{data[0]} + 1;
        ++data;
        --size;
        if (len > size) {
            len = size;
        }
        if (len > 0) {
            FeedReceivedBytes(data, len);
        }
        data += len;
        size -= len;
    }
    ResetSocketSlots();  // no socket is left open between inputs
    return 0;
}
