#include "adapter/adapter.h"

#include "link/assembler.h"
#include "link/seams.h"

AdapterState g_adapter;

void HandleAdapterCommand() {
    switch (g_receive.bytes[kFrameCommand]) {
        case 0x00: {
            ShowStatus("check PDC");
            if (!PauseReader(1)) {
                return;
            }
            static const uint8_t reply[] = {0x01, 0x00, 0x03, 0x00, 0x00, 0x0F};
            SendFrame(reply, sizeof reply);
            break;
        }
        case 0x02: {
            ShowStatus("power ON");
            if (g_adapter.powered) {
                static const uint8_t again[] = {0x01, 0x00, 0x03, 0x02, 0x31, 0x30};
                SendFrame(again, sizeof again);
            } else {
                if (!PauseReader(1)) {
                    return;
                }
                // The first answer after start or power OFF is no frame: a zero and five 0x55.
                static const uint8_t first[] = {0x00, 0x55, 0x55, 0x55, 0x55, 0x55};
                SendFrame(first, sizeof first);
            }
            g_adapter.powered = 1;
            break;
        }
        case 0x08: {
            ShowStatus("dialup");
            if (!PauseReader(500)) {
                return;
            }
            static const uint8_t reply[] = {0x01, 0x00, 0x15, 0x0B, 0x00, 0x08, 0x48, 0x01,
                                            0xC0, 0xA8, 0x00, 0x01, 0xC0, 0xA8, 0x00, 0x02,
                                            0xC0, 0xA8, 0x00, 0x03, 0xC0, 0xA8, 0x00, 0x04};
            SendFrame(reply, sizeof reply);
            g_adapter.dialed = 1;
            break;
        }
        case 0x0A: {
            ShowStatus("hangup");
            if (!PauseReader(1)) {
                return;
            }
            g_adapter.dialed = 0;
            static const uint8_t reply[] = {0x01, 0x00, 0x02, 0x0B, 0xF3};
            SendFrame(reply, sizeof reply);
            break;
        }
        case 0x10: {
            ShowStatus("set PPP");
            static const uint8_t reply[] = {0x01, 0x00, 0x02, 0x10, 0x01};
            SendFrame(reply, sizeof reply);
            break;
        }
        case 0x11: {
            // The request carries two DNS addresses; lookups always use the PC's own resolver.
            ShowStatus("set DNS");
            static const uint8_t reply[] = {0x01, 0x00, 0x02, 0x11, 0x01};
            SendFrame(reply, sizeof reply);
            break;
        }
        default:
            ReportUnknownCommand();
            break;
    }
}

void HandleStatusCommand() {
    if (g_receive.bytes[kFrameCommand] != 0x01) {
        ReportUnknownCommand();
        return;
    }
    ShowStatus("check Status");
    uint8_t status = 0x00;
    if (g_adapter.powered) {
        status = g_adapter.dialed ? 0x03 : 0x02;
    }
    const uint8_t reply[] = {0x02, 0x00, 0x02, 0x02, status};
    SendFrame(reply, sizeof reply);
}

void HandlePowerOffCommand() {
    if (g_receive.bytes[kFrameCommand] != 0xFF) {
        ReportUnknownCommand();
        return;
    }
    ShowStatus("power OFF");
    // Five bytes although the length byte says one: the device expects exactly these.
    static const uint8_t reply[] = {0x0F, 0x00, 0x01, 0xFF, 0x00};
    SendFrame(reply, sizeof reply);
    g_adapter.powered = 0;
}
