#include "sockets/socket_commands.h"

#include <cstring>

#include "link/assembler.h"
#include "sockets/net_shim.h"
#include "sockets/socket_slots.h"

// Longest host name whose reply (name, its NUL, the address and the header) fits the work area.
constexpr size_t kMaxHostName = kFrameCapacity - 10;

// The number of parameter bytes the frame in the receive buffer carries after its command byte.
// Bytes beyond them are left over from earlier frames and are never taken as parameters.
static size_t ParamCount() {
    uint8_t length = g_receive.bytes[kFrameLength];
    return length > 0 ? length - 1u : 0u;
}

// The slot byte of the request as it is echoed in the reply: byte 4, or FF when the frame is too
// short to carry one.
static uint8_t SlotByte() {
    return ParamCount() >= 1 ? g_receive.bytes[kFrameParams] : kSlotFailure;
}

static void OpenSocket() {
    ShowStatus("open socket");
    const uint8_t reply[] = {kClassSocket, 0x00, 0x02, 0x01, AllocSocketSlot()};
    SendFrame(reply, sizeof reply);
}

static void ConnectSocket() {
    ShowStatus("connect socket");
    uint8_t ss = SlotByte();
    uint8_t result = 0;
    if (ParamCount() >= 1 + 16) {
        result = static_cast<uint8_t>(
            ConnectSocketSlot(static_cast<int8_t>(ss), g_receive.bytes + kFrameParams + 1));
    }
    const uint8_t reply[] = {kClassSocket, 0x00, 0x03, 0x03, ss, result};
    SendFrame(reply, sizeof reply);
}

static void CloseSocket() {
    ShowStatus("close socket");
    uint8_t ss = SlotByte();
    uint8_t result = 0;
    if (ParamCount() >= 1) {
        result = static_cast<uint8_t>(CloseSocketSlot(static_cast<int8_t>(ss)));
    }
    const uint8_t reply[] = {kClassSocket, 0x00, 0x03, 0x07, ss, result};
    SendFrame(reply, sizeof reply);
}

static void LookUpHost() {
    ShowStatus("gethstbyname");
    // The name must end with its NUL inside the frame, and its reply must fit the work area;
    // anything else is refused without asking the resolver.
    const char* name = reinterpret_cast<const char*>(g_receive.bytes + kFrameParams);
    const void* nul = memchr(name, 0, ParamCount());
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
static void Receive(uint8_t command) {
    ShowStatus(command == 0x0D ? "recv a line" : "recv a buffer");
    uint8_t reply[kFrameCapacity];
    uint8_t ss = SlotByte();
    uint8_t c = kSlotFailure;
    if (ParamCount() >= 2) {
        int8_t slot = static_cast<int8_t>(ss);
        int8_t count = static_cast<int8_t>(g_receive.bytes[kFrameParams + 1]);
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

static void SendSocket() {
    ShowStatus("send socket");
    uint8_t ss = SlotByte();
    // The data is the rest of the frame: length byte - 2 bytes from offset 5, as a signed count.
    int8_t count = static_cast<int8_t>(g_receive.bytes[kFrameLength] - 2);
    int result = -1;
    if (ParamCount() >= 1) {
        result = SendOnSlot(static_cast<int8_t>(ss), g_receive.bytes + kFrameParams + 1, count);
    }
    const uint8_t reply[] = {kClassSocket, 0x00, 0x03, 0x0E, ss, static_cast<uint8_t>(result)};
    SendFrame(reply, sizeof reply);
}

void HandleSocketCommand() {
    uint8_t command = g_receive.bytes[kFrameCommand];
    switch (command) {
        case 0x01:
            OpenSocket();
            break;
        case 0x03:
            ConnectSocket();
            break;
        case 0x07:
            CloseSocket();
            break;
        case 0x08:
            LookUpHost();
            break;
        case 0x0D:
        case 0x0F:
            Receive(command);
            break;
        case 0x0E:
            SendSocket();
            break;
        default:
            ReportUnknownCommand();
            break;
    }
}
