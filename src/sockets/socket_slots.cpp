#include "sockets/socket_slots.h"

#include "front/front_end.h"

namespace {

// The one slot table of the run: every slot free (kNoSocket) and the cursor at 0 at start.
struct SocketSlotTable {
    NetSocket socket[kSocketSlots];
    int cursor;  // where the next allocation begins its search: 0 to 7
    int open;    // how many slots hold a socket
};
SocketSlotTable g_slots = {
    {kNoSocket, kNoSocket, kNoSocket, kNoSocket, kNoSocket, kNoSocket, kNoSocket, kNoSocket},
    0,
    0,
};

}  // namespace

NetSocket SlotSocket(int8_t slot) {
    if (slot < 0 || slot >= kSocketSlots) {
        return kNoSocket;
    }
    return g_slots.socket[slot];
}

uint8_t AllocSocketSlot() {
    for (int probe = 0; probe < kSocketSlots; ++probe) {
        int slot = (g_slots.cursor + probe) % kSocketSlots;
        if (g_slots.socket[slot] != kNoSocket) {
            continue;
        }
        NetSocket s = NetOpenTcp();
        if (s == kNoSocket) {
            return kSlotFailure;
        }
        g_slots.socket[slot] = s;
        g_slots.cursor = (slot + 1) % kSocketSlots;
        FrontSocketCount(++g_slots.open);
        return static_cast<uint8_t>(slot);
    }
    return kSlotFailure;
}

int CloseSocketSlot(int8_t slot) {
    NetSocket s = SlotSocket(slot);
    if (s == kNoSocket) {
        return 0;
    }
    NetCloseSocket(s);
    g_slots.socket[slot] = kNoSocket;
    FrontSocketCount(--g_slots.open);
    return 1;
}

int ConnectSocketSlot(int8_t slot, const uint8_t address[16]) {
    NetSocket s = SlotSocket(slot);
    if (s == kNoSocket) {
        return 0;
    }
    if ((address[4] | address[5] | address[6] | address[7]) == 0) {
        // 0.0.0.0 names no host: Linux would connect it to this PC itself, Windows refuses it.
        // Refused here on both, without asking the stack.
        return 0;
    }
    uint16_t family = static_cast<uint16_t>(address[0] << 8 | address[1]);
    uint16_t port = static_cast<uint16_t>(address[2] | address[3] << 8);
    return NetConnect(s, family, port, address + 4);
}

int SendOnSlot(int8_t slot, const uint8_t* data, int8_t count) {
    NetSocket s = SlotSocket(slot);
    if (s == kNoSocket || count < 0) {
        return -1;
    }
    return NetSend(s, data, count);
}

// The bytes of `got` new ones at `buffer` + `held` (after `held` already received) that a line
// receive takes: up to and with the first CR LF that ends the line (one that is not the first two
// bytes of all), or all of them. Sets `ended` when the line ends there.
static size_t TakenOfLine(const uint8_t* buffer, size_t held, size_t got, bool* ended) {
    for (size_t i = held; i < held + got; ++i) {
        if (i >= 2 && buffer[i - 1] == 0x0D && buffer[i] == 0x0A) {
            *ended = true;
            return i + 1 - held;
        }
    }
    return got;
}

// The receive loop shared by ReceiveBlock and ReceiveLine: takes what has come as it comes, each
// time waiting at most kReceiveWaitMs for more. A line receive looks at what came before it takes
// it, so that the bytes after its CR LF stay in the socket.
static uint8_t ReceiveBytes(int8_t slot, uint8_t* buffer, int8_t count, bool endAtLine) {
    if (count <= 0) {
        return kSlotFailure;
    }
    NetSocket s = SlotSocket(slot);
    if (s == kNoSocket) {
        return kSlotFailure;
    }
    size_t received = 0;
    for (bool ended = false; received < static_cast<size_t>(count) && !ended;) {
        int got = NetReceiveWithin(s, buffer + received, static_cast<size_t>(count) - received,
                                   kReceiveWaitMs, endAtLine);
        // A second of silence, the peer has closed, the read failed or the reader is stopping:
        // the receive ends with what it has.
        if (got <= 0) {
            break;
        }
        size_t take = endAtLine ? TakenOfLine(buffer, received, static_cast<size_t>(got), &ended)
                                : static_cast<size_t>(got);
        if (endAtLine &&
            NetReceiveWithin(s, buffer + received, take, 0, false) != static_cast<int>(take)) {
            break;  // what was looked at cannot be taken: the socket failed
        }
        received += take;
    }
    return received > 0 ? static_cast<uint8_t>(received) : kSlotFailure;
}

uint8_t ReceiveBlock(int8_t slot, uint8_t* buffer, int8_t count) {
    return ReceiveBytes(slot, buffer, count, false);
}

uint8_t ReceiveLine(int8_t slot, uint8_t* buffer, int8_t max) {
    return ReceiveBytes(slot, buffer, max, true);
}

void ResetSocketSlots() {
    for (int slot = 0; slot < kSocketSlots; ++slot) {
        CloseSocketSlot(static_cast<int8_t>(slot));
    }
    g_slots.cursor = 0;
}
