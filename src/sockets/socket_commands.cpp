#include "sockets/socket_commands.h"

#include <cstring>

#include "frame/frame.h"
#include "frame/replies.h"
#include "front/front_end.h"
#include "net/net.h"
#include "sockets/socket_slots.h"

namespace {

// Longest host name whose reply (name, its NUL, the address and the header) fits the work area.
constexpr size_t kMaxHostName = kFrameCapacity - 10;

// A request as the handlers read it: the frame and the number of parameter bytes it carries after
// its command byte. Bytes beyond them are not part of the frame and are never taken as parameters.
struct Request {
    const uint8_t* frame;
    size_t params;
};

// The slot byte of the request as it is echoed in the reply: its first parameter, or FF when the
// frame is too short to carry one.
uint8_t SlotByte(const Request& r) {
    return r.params >= 1 ? r.frame[kFrameParams] : kSlotFailure;
}

// Sends the usual two-byte answer of a socket command: the slot byte and the result.
void ReplySlotResult(uint8_t command, uint8_t ss, uint8_t result) {
    const uint8_t params[] = {ss, result};
    SendReply(kClassSocket, command, params, sizeof params);
}

// The socket commands: each command code with its label, shown in the status field.
enum SocketCommand : uint8_t {
    kOpenSocket = 0x01,
    kConnectSocket = 0x03,
    kCloseSocket = 0x07,
    kLookUpHost = 0x08,
    kReceiveLine = 0x0D,
    kSendSocket = 0x0E,
    kReceiveBlock = 0x0F,
};

void OpenSocket(const Request&) {
    uint8_t slot = AllocSocketSlot();
    SendReply(kClassSocket, kOpenSocket, &slot, 1);
}

void ConnectSocket(const Request& r) {
    uint8_t ss = SlotByte(r);
    uint8_t result = 0;
    if (r.params >= 1 + 16) {
        result = static_cast<uint8_t>(
            ConnectSocketSlot(static_cast<int8_t>(ss), r.frame + kFrameParams + 1));
    }
    ReplySlotResult(kConnectSocket, ss, result);
}

void CloseSocket(const Request& r) {
    uint8_t ss = SlotByte(r);
    uint8_t result =
        r.params >= 1 ? static_cast<uint8_t>(CloseSocketSlot(static_cast<int8_t>(ss))) : uint8_t{0};
    ReplySlotResult(kCloseSocket, ss, result);
}

void LookUpHost(const Request& r) {
    // The name must end with its NUL inside the frame, and its reply must fit the work area;
    // anything else is refused without asking the resolver.
    const char* name = reinterpret_cast<const char*>(r.frame + kFrameParams);
    const void* nul = memchr(name, 0, r.params);
    size_t n = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - name) : 0;
    uint8_t answer[kFrameCapacity] = {0x00};  // 00: not found
    if (nul == nullptr || n > kMaxHostName || !NetResolveIPv4(name, answer + 2 + n)) {
        SendReply(kClassSocket, kLookUpHost, answer, 1);
        return;
    }
    answer[0] = 0x01;  // found: the name with its NUL, then the address
    memcpy(answer + 1, name, n + 1);
    SendReply(kClassSocket, kLookUpHost, answer, n + 6);
}

// Receive a line or a block: the slot byte, the count, then the data.
void Receive(const Request& r) {
    uint8_t command = r.frame[kFrameCommand];
    uint8_t answer[2 + 127];
    answer[0] = SlotByte(r);
    answer[1] = kSlotFailure;
    if (r.params >= 2) {
        int8_t slot = static_cast<int8_t>(answer[0]);
        int8_t count = static_cast<int8_t>(r.frame[kFrameParams + 1]);
        answer[1] = command == kReceiveLine ? ReceiveLine(slot, answer + 2, count)
                                            : ReceiveBlock(slot, answer + 2, count);
    }
    // Nothing received: the reply claims no data, only the FF.
    SendReply(kClassSocket, command, answer, 2 + (answer[1] == kSlotFailure ? 0 : answer[1]));
}

void SendSocket(const Request& r) {
    uint8_t ss = SlotByte(r);
    // The data is the rest of the frame: length byte - 2 bytes from offset 5, as a signed count.
    int8_t count = static_cast<int8_t>(r.frame[kFrameLength] - 2);
    int result = -1;
    if (r.params >= 1) {
        result = SendOnSlot(static_cast<int8_t>(ss), r.frame + kFrameParams + 1, count);
    }
    ReplySlotResult(kSendSocket, ss, static_cast<uint8_t>(result));
}

struct SocketCommandRow {
    SocketCommand command;
    const char* label;
    void (*handle)(const Request& r);
};

const SocketCommandRow kSocketCommands[] = {
    {kOpenSocket, "open socket", OpenSocket},    {kConnectSocket, "connect socket", ConnectSocket},
    {kCloseSocket, "close socket", CloseSocket}, {kLookUpHost, "gethstbyname", LookUpHost},
    {kReceiveLine, "recv a line", Receive},      {kSendSocket, "send socket", SendSocket},
    {kReceiveBlock, "recv a buffer", Receive},
};

}  // namespace

void HandleSocketCommand(const uint8_t* frame, size_t n) {
    const Request r = {frame, n > kFrameParams ? n - kFrameParams : 0};
    for (const SocketCommandRow& row : kSocketCommands) {
        if (row.command == frame[kFrameCommand]) {
            FrontSetStatus(row.label);
            row.handle(r);
            return;
        }
    }
    ReportUnknownCommand(frame);
}
