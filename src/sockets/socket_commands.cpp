#include "sockets/socket_commands.h"

#include <cstring>

#include "link/link_frame.h"
#include "link/replies.h"
#include "link/seams.h"
#include "sockets/net_shim.h"
#include "sockets/socket_slots.h"

// Longest host name whose reply (name, its NUL, the address and the header) fits the work area.
constexpr size_t kMaxHostName = kFrameCapacity - 10;

// The number of parameter bytes `frame` carries after its command byte. Bytes beyond them are not
// part of the frame and are never taken as parameters.
static size_t ParamCount(const uint8_t* frame) {
    uint8_t length = frame[kFrameLength];
    return length > 0 ? length - 1u : 0u;
}

// The slot byte of the request as it is echoed in the reply: byte 4, or FF when the frame is too
// short to carry one.
static uint8_t SlotByte(const uint8_t* frame) {
    return ParamCount(frame) >= 1 ? frame[kFrameParams] : kSlotFailure;
}

static void OpenSocket() {
    PanelSetStatus("open socket");
    const uint8_t reply[] = {kClassSocket, 0x00, 0x02, 0x01, AllocSocketSlot()};
    SendFrame(reply, sizeof reply);
}

static void ConnectSocket(const uint8_t* frame) {
    PanelSetStatus("connect socket");
    uint8_t ss = SlotByte(frame);
    uint8_t result = 0;
    if (ParamCount(frame) >= 1 + 16) {
        result = static_cast<uint8_t>(
            ConnectSocketSlot(static_cast<int8_t>(ss), frame + kFrameParams + 1));
    }
    const uint8_t reply[] = {kClassSocket, 0x00, 0x03, 0x03, ss, result};
    SendFrame(reply, sizeof reply);
}

static void CloseSocket(const uint8_t* frame) {
    PanelSetStatus("close socket");
    uint8_t ss = SlotByte(frame);
    uint8_t result = 0;
    if (ParamCount(frame) >= 1) {
        result = static_cast<uint8_t>(CloseSocketSlot(static_cast<int8_t>(ss)));
    }
    const uint8_t reply[] = {kClassSocket, 0x00, 0x03, 0x07, ss, result};
    SendFrame(reply, sizeof reply);
}

static void LookUpHost(const uint8_t* frame) {
    PanelSetStatus("gethstbyname");
    // The name must end with its NUL inside the frame, and its reply must fit the work area;
    // anything else is refused without asking the resolver.
    const char* name = reinterpret_cast<const char*>(frame + kFrameParams);
    const void* nul = memchr(name, 0, ParamCount(frame));
    size_t n = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - name) : 0;
    uint8_t address[4];
    if (nul == nullptr || n > kMaxHostName || !NetResolveIPv4(name, address)) {
        static const uint8_t failure[] = {kClassSocket, 0x00, 0x02, 0x08, 0x00};
        SendFrame(failure, sizeof failure);
        return;
    }
    uint8_t reply[kFrameCapacity];
    reply[0] = kClassSocket;
    reply[1] = 0x00;
    reply[2] = static_cast<uint8_t>(n + 7);
    reply[3] = 0x08;
    reply[4] = 0x01;
    memcpy(reply + 5, name, n + 1);
    memcpy(reply + 6 + n, address, 4);
    SendFrame(reply, n + 10);
}

// Receive a line (0x0D) or a block (0x0F): the data goes straight into the reply from offset 6.
static void Receive(const uint8_t* frame, uint8_t command) {
    PanelSetStatus(command == 0x0D ? "recv a line" : "recv a buffer");
    uint8_t reply[kFrameCapacity];
    uint8_t ss = SlotByte(frame);
    uint8_t c = kSlotFailure;
    if (ParamCount(frame) >= 2) {
        int8_t slot = static_cast<int8_t>(ss);
        int8_t count = static_cast<int8_t>(frame[kFrameParams + 1]);
        c = command == 0x0D ? ReceiveLine(slot, reply + 6, count)
                            : ReceiveBlock(slot, reply + 6, count);
    }
    reply[0] = kClassSocket;
    reply[1] = 0x00;
    reply[3] = command;
    reply[4] = ss;
    reply[5] = c;
    if (c == kSlotFailure) {
        // Nothing was received: the reply claims no data, only the FF.
        reply[2] = 0x03;
        SendFrame(reply, 6);
        return;
    }
    reply[2] = static_cast<uint8_t>(c + 3);
    SendFrame(reply, size_t{c} + 6);
}

static void SendSocket(const uint8_t* frame) {
    PanelSetStatus("send socket");
    uint8_t ss = SlotByte(frame);
    // The data is the rest of the frame: length byte - 2 bytes from offset 5, as a signed count.
    int8_t count = static_cast<int8_t>(frame[kFrameLength] - 2);
    int result = -1;
    if (ParamCount(frame) >= 1) {
        result = SendOnSlot(static_cast<int8_t>(ss), frame + kFrameParams + 1, count);
    }
    const uint8_t reply[] = {kClassSocket, 0x00, 0x03, 0x0E, ss, static_cast<uint8_t>(result)};
    SendFrame(reply, sizeof reply);
}

void HandleSocketCommand(const uint8_t* frame, size_t) {
    uint8_t command = frame[kFrameCommand];
    switch (command) {
        case 0x01:
            OpenSocket();
            break;
        case 0x03:
            ConnectSocket(frame);
            break;
        case 0x07:
            CloseSocket(frame);
            break;
        case 0x08:
            LookUpHost(frame);
            break;
        case 0x0D:
        case 0x0F:
            Receive(frame, command);
            break;
        case 0x0E:
            SendSocket(frame);
            break;
        default:
            ReportUnknownCommand(frame);
            break;
    }
}
