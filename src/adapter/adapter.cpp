#include "adapter/adapter.h"

#include "frame/frame.h"
#include "frame/port_seam.h"
#include "frame/replies.h"
#include "front/front_end.h"

namespace {

struct AdapterState {
    uint8_t powered;  // 1 between an answered power ON and an answered power OFF
    uint8_t dialed;   // 1 between an answered dialup and an answered hangup
};

// The one adapter state of the run; touched by the reader thread only.
AdapterState g_adapter;

// The power state in which a fixed reply is given.
enum WhenPowered : uint8_t { kAnyPower, kWhileOff, kWhileOn };

// What an answered command does to the flags.
enum FlagChange : uint8_t { kKeepFlags, kPowerOn, kPowerOff, kDialUp, kHangUp };

struct FixedReply {
    uint8_t frameClass;
    uint8_t command;
    WhenPowered when;
    const char* label;  // shown in the status field
    unsigned pauseMs;   // how long the adapter takes before it answers; 0: at once
    FlagChange change;  // made once the reply has gone
    uint8_t length;     // bytes of `reply`
    uint8_t reply[24];
};

// clang-format off
const FixedReply kFixedReplies[] = {
    {kClassAdapter, 0x00, kAnyPower, "check PDC", 1, kKeepFlags,
     6, {0x01, 0x00, 0x03, 0x00, 0x00, 0x0F}},
    // The first answer after start or power OFF is no frame: a zero and five 0x55.
    {kClassAdapter, 0x02, kWhileOff, "power ON", 1, kPowerOn,
     6, {0x00, 0x55, 0x55, 0x55, 0x55, 0x55}},
    {kClassAdapter, 0x02, kWhileOn, "power ON", 0, kPowerOn,
     6, {0x01, 0x00, 0x03, 0x02, 0x31, 0x30}},
    {kClassAdapter, 0x08, kAnyPower, "dialup", 500, kDialUp,
     24, {0x01, 0x00, 0x15, 0x0B, 0x00, 0x08, 0x48, 0x01, 0xC0, 0xA8, 0x00, 0x01,
          0xC0, 0xA8, 0x00, 0x02, 0xC0, 0xA8, 0x00, 0x03, 0xC0, 0xA8, 0x00, 0x04}},
    {kClassAdapter, 0x0A, kAnyPower, "hangup", 1, kHangUp,
     5, {0x01, 0x00, 0x02, 0x0B, 0xF3}},
    {kClassAdapter, 0x10, kAnyPower, "set PPP", 0, kKeepFlags,
     5, {0x01, 0x00, 0x02, 0x10, 0x01}},
    // The request carries two DNS addresses; lookups always use the PC's own resolver.
    {kClassAdapter, 0x11, kAnyPower, "set DNS", 0, kKeepFlags,
     5, {0x01, 0x00, 0x02, 0x11, 0x01}},
    // Five bytes although the length byte says one: the device expects exactly these.
    {kClassPowerOff, 0xFF, kAnyPower, "power OFF", 0, kPowerOff,
     5, {0x0F, 0x00, 0x01, 0xFF, 0x00}},
};
// clang-format on

// The row that answers `command` of `frameClass` in the present power state, or nullptr.
const FixedReply* FindFixedReply(uint8_t frameClass, uint8_t command) {
    WhenPowered now = g_adapter.powered ? kWhileOn : kWhileOff;
    for (const FixedReply& row : kFixedReplies) {
        if (row.frameClass == frameClass && row.command == command &&
            (row.when == kAnyPower || row.when == now)) {
            return &row;
        }
    }
    return nullptr;
}

void ApplyFlagChange(FlagChange change) {
    switch (change) {
        case kPowerOn:
            g_adapter.powered = 1;
            break;
        case kPowerOff:
            g_adapter.powered = 0;
            break;
        case kDialUp:
            g_adapter.dialed = 1;
            break;
        case kHangUp:
            g_adapter.dialed = 0;
            break;
        case kKeepFlags:
            break;
    }
}

}  // namespace

void HandleAdapterCommand(const uint8_t* frame, size_t) {
    const FixedReply* row = FindFixedReply(frame[kFrameClass], frame[kFrameCommand]);
    if (row == nullptr) {
        ReportUnknownCommand(frame);
        return;
    }
    FrontSetStatus(row->label);
    if (row->pauseMs > 0 && !PauseReader(row->pauseMs)) {
        return;  // the port is being closed: no reply, no change
    }
    SendFrame(row->reply, row->length);
    ApplyFlagChange(row->change);
}

void HandleStatusCommand(const uint8_t* frame, size_t) {
    if (frame[kFrameCommand] != 0x01) {
        ReportUnknownCommand(frame);
        return;
    }
    FrontSetStatus("check Status");
    uint8_t status = 0x00;
    if (g_adapter.powered) {
        status = g_adapter.dialed ? 0x03 : 0x02;
    }
    SendReply(kClassStatus, 0x02, &status, 1);
}

int AdapterPowered() {
    return g_adapter.powered;
}

void ResetAdapter() {
    g_adapter = AdapterState{};
}
