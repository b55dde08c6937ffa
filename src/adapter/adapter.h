// The adapter emulation: power, line check, dial-up, hang-up, connection set-up and status, all
// answered with fixed replies chosen by two flags.
#pragma once

#include <cstdint>

struct AdapterState {
    uint8_t powered;  // 1 between an answered power ON and an answered power OFF
    uint8_t dialed;   // 1 between an answered dialup and an answered hangup
};

// The one adapter state of the run; touched by the reader thread only.
extern AdapterState g_adapter;

// Handle the complete frame in the receive buffer of class 0x01, 0x02 and 0x0F respectively.
// An unlisted command is reported as unknown and changes nothing.
void HandleAdapterCommand();
void HandleStatusCommand();
void HandlePowerOffCommand();
