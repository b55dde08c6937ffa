#include "link/frame_assembly.h"

#include <cstring>

#include "adapter/adapter.h"
#include "frame/frame.h"
#include "frame/replies.h"
#include "log/traffic_log.h"
#include "sockets/socket_commands.h"

namespace {

// The one receive buffer of the run; touched by the reader thread only. The frame always begins
// at bytes[0].
struct ReceiveBuffer {
    uint8_t bytes[kFrameCapacity];
    size_t count;
};
ReceiveBuffer g_receive;

// Frames dispatched since the start.
unsigned long g_frames;

// Drops the first `k` held bytes, moving the rest to the start.
void DropHeld(size_t k) {
    memmove(g_receive.bytes, g_receive.bytes + k, g_receive.count - k);
    g_receive.count -= k;
}

// While the adapter is off, drops bytes until the buffer starts with the sync frame. Returns true
// when it does.
bool HuntSync() {
    size_t skip = 0;
    while (g_receive.count - skip >= sizeof kSyncFrame &&
           memcmp(g_receive.bytes + skip, kSyncFrame, sizeof kSyncFrame) != 0) {
        ++skip;
    }
    DropHeld(skip);
    return g_receive.count >= sizeof kSyncFrame;
}

// Hands the complete frame `frame` of length `n` to the handler of its class.
void Dispatch(const uint8_t* frame, size_t n) {
    switch (frame[kFrameClass]) {
        case kClassAdapter:
        case kClassPowerOff:
            HandleAdapterCommand(frame, n);
            break;
        case kClassStatus:
            HandleStatusCommand(frame, n);
            break;
        case kClassSocket:
            HandleSocketCommand(frame, n);
            break;
        default:
            ReportUnknownCommand(frame);
            break;
    }
}

// Runs the assembly steps on what is held. Returns true when a frame was dispatched.
bool AssembleHeld() {
    if (g_receive.count < 4) {
        return false;
    }
    if (!AdapterPowered() && !HuntSync()) {
        return false;
    }
    uint8_t length = g_receive.bytes[kFrameLength];
    if (length > kMaxFrameLength) {
        // This frame can never fit the buffer: waiting for its rest would swallow every frame the
        // device sends after it. Drop what is held and start afresh with the next bytes.
        g_receive.count = 0;
        return false;
    }
    if (g_receive.count < size_t{length} + kFrameHeader) {
        return false;
    }
    // The log shows every byte taken in up to here, the ones after the frame included.
    WriteLogLine('R', g_receive.bytes, g_receive.count);
    ++g_frames;
    Dispatch(g_receive.bytes, length < 1 ? 4 : size_t{length} + kFrameHeader);
    g_receive.count = 0;
    return true;
}

}  // namespace

unsigned long FramesTakenIn() {
    return g_frames;
}

void ResetReceiveBuffer() {
    g_receive.count = 0;
}

void FeedReceivedBytes(const uint8_t* bytes, size_t n) {
    // Bytes are appended as far as they fit. What did not fit is taken in after the held bytes
    // have been assembled (the sync hunt or a dropped oversized frame may have made room). Once a
    // frame has been dispatched, the rest of the chunk is discarded with it, as bytes following a
    // frame always are.
    while (n > 0) {
        size_t room = kFrameCapacity - g_receive.count;
        size_t take = n < room ? n : room;
        memcpy(g_receive.bytes + g_receive.count, bytes, take);
        g_receive.count += take;
        bytes += take;
        n -= take;
        if (AssembleHeld()) {
            return;
        }
        if (g_receive.count == kFrameCapacity) {
            // Cannot happen with a length byte of at most 253; kept so the loop always advances.
            g_receive.count = 0;
        }
    }
}
