#include "frame/replies.h"

#include <cstdio>
#include <cstring>

#include "frame/frame.h"
#include "frame/port_seam.h"
#include "front/front_end.h"
#include "log/traffic_log.h"
#include "wait/wait.h"

static_assert(kLogLineMaxBytes >= kFrameCapacity, "the log shows every frame whole");

void SendFrame(const uint8_t* bytes, size_t n) {
    if (ReaderStopRaised()) {
        return;  // the port is being closed: the interrupted command does not answer
    }
    WriteLogLine('S', bytes, n);
    WritePort(bytes, n);
}

void SendReply(uint8_t frameClass, uint8_t command, const uint8_t* params, size_t n) {
    uint8_t reply[kFrameCapacity];
    n = n < kMaxFrameLength ? n : kMaxFrameLength - 1u;
    reply[kFrameClass] = frameClass;
    reply[kFrameReserved] = 0x00;
    reply[kFrameLength] = static_cast<uint8_t>(n + 1);
    reply[kFrameCommand] = command;
    memcpy(reply + kFrameParams, params, n);
    SendFrame(reply, kFrameParams + n);
}

void ReportUnknownCommand(const uint8_t* frame) {
    char text[64];
    snprintf(text, sizeof text, "%s!", kUnknownCommand);
    FrontSetStatus(text);
    snprintf(text, sizeof text, "%s (%02X:%02X)", kUnknownCommand, frame[kFrameClass],
             frame[kFrameCommand]);
    FrontShowError(text);
}
