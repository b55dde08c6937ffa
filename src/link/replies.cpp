#include "link/replies.h"

#include <cstdio>

#include "link/link_frame.h"
#include "link/seams.h"
#include "log/traffic_log.h"
#include "wait/stop_signal.h"

void SendFrame(const uint8_t* bytes, size_t n) {
    if (ReaderStopRaised()) {
        return;  // the port is being closed: the interrupted command does not answer
    }
    WriteLogLine('S', bytes, n);
    WritePort(bytes, n);
}

void ReportUnknownCommand(const uint8_t* frame) {
    char text[64];
    snprintf(text, sizeof text, "%s!", kUnknownCommand);
    PanelSetStatus(text);
    snprintf(text, sizeof text, "%s (%02X:%02X)", kUnknownCommand, frame[kFrameClass],
             frame[kFrameCommand]);
    PanelShowError(text);
}
