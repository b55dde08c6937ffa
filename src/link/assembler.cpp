#include "link/assembler.h"

#include <cstdio>
#include <cstring>

#include "adapter/adapter.h"
#include "link/seams.h"
#include "log/traffic_log.h"
#include "sockets/socket_commands.h"
#include "wait/stop_signal.h"

ReceiveBuffer g_receive;

void ResetReceiveBuffer() {
    g_receive.count = 0;
}

void ShowStatus(const char* label) {
    PanelSetStatus(label);
}

void SendFrame(const uint8_t* bytes, size_t n) {
    if (ReaderStopRaised()) {
        return;  // the port is being closed: the interrupted command does not answer
    }
    WriteLogLine('S', bytes, n);
    WritePort(bytes, n);
}

void ReportUnknownCommand() {
    ShowStatus("unkown command!");
    char text[64];
    snprintf(text, sizeof text, "unkown command (%02X:%02X)", g_receive.bytes[kFrameClass],
             g_receive.bytes[kFrameCommand]);
    PanelShowError(text);
}

// Drops the first `k` held bytes, moving the rest to the start.
static void DropHeld(size_t k) {
    memmove(g_receive.bytes, g_receive.bytes + k, g_receive.count - k);
    g_receive.count -= k;
}

// While the adapter is off, drops bytes until the buffer starts with the sync frame. Returns true
// when it does.
static bool HuntSync() {
    size_t skip = 0;
    while (g_receive.count - skip >= sizeof kSyncFrame &&
           memcmp(g_receive.bytes + skip, kSyncFrame, sizeof kSyncFrame) != 0) {
        ++skip;
    }
    DropHeld(skip);
    return g_receive.count >= sizeof kSyncFrame;
}

static void Dispatch() {
    switch (g_receive.bytes[kFrameClass]) {
        case kClassAdapter:
            HandleAdapterCommand();
            break;
        case kClassStatus:
            HandleStatusCommand();
            break;
        case kClassPowerOff:
            HandlePowerOffCommand();
            break;
        case kClassSocket:
            HandleSocketCommand();
            break;
        default:
            ReportUnknownCommand();
            break;
    }
}

// Runs the assembly steps on what is held. Returns true when a frame was dispatched.
static bool AssembleHeld() {
    if (g_receive.count < 4) {
        return false;
    }
    if (!g_adapter.powered && !HuntSync()) {
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
    WriteLogLine('R', g_receive.bytes, g_receive.count);
    Dispatch();
    g_receive.count = 0;
    return true;
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
