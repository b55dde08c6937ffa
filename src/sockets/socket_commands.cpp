#include "sockets/socket_commands.h"

#include <cstdio>
#include <cstring>

#include "frame/frame.h"
#include "frame/replies.h"
#include "front/front_end.h"
#include "log/trace.h"
#include "net/net.h"
#include "sockets/routes.h"
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
    if (slot == kSlotFailure) {
        Trace("open: none free");
    } else {
        Trace("open: socket %u", slot);
    }
    SendReply(kClassSocket, kOpenSocket, &slot, 1);
}

// Traces a connect of socket `ss` to `to`:`toPort`, routed as `how` says, and how it ended: tried
// (`tried`) for `ms` and connected (`connected`) or not, or not tried at all.
void TraceConnect(uint8_t ss, const uint8_t to[4], uint16_t toPort, const char* how, int tried,
                  int connected, unsigned ms) {
    char where[32 + kRouteWordsBytes];
    snprintf(where, sizeof where, "%u.%u.%u.%u:%u%s%s%s", to[0], to[1], to[2], to[3], toPort,
             how[0] ? " (" : "", how, how[0] ? ")" : "");
    if (!tried) {
        Trace("connect socket %u to %s: not tried", ss, where);
    } else {
        Trace("connect socket %u to %s: %s %u ms", ss, where,
              connected ? "connected in" : "not connected after", ms);
    }
}

// The connect goes where the routes send it, if they allow it: a denied one fails at once.
void ConnectSocket(const Request& r) {
    uint8_t ss = SlotByte(r);
    uint8_t result = 0;
    if (r.params < 1 + 16) {
        Trace("connect socket %u: no address", ss);
        ReplySlotResult(kConnectSocket, ss, result);
        return;
    }
    uint8_t block[16], to[4];
    memcpy(block, r.frame + kFrameParams + 1, sizeof block);
    uint16_t port = static_cast<uint16_t>(block[2] | block[3] << 8), toPort;
    char how[kRouteWordsBytes];
    int allowed = RouteConnect(block + 4, port, to, &toPort, how);
    memcpy(block + 4, to, 4);
    block[2] = static_cast<uint8_t>(toPort);
    block[3] = static_cast<uint8_t>(toPort >> 8);
    uint64_t start = MonotonicMillis();
    if (allowed) {
        result = static_cast<uint8_t>(ConnectSocketSlot(static_cast<int8_t>(ss), block));
    }
    TraceConnect(ss, to, toPort, how, allowed, result,
                 static_cast<unsigned>(MonotonicMillis() - start));
    ReplySlotResult(kConnectSocket, ss, result);
}

void CloseSocket(const Request& r) {
    uint8_t ss = SlotByte(r);
    uint8_t result =
        r.params >= 1 ? static_cast<uint8_t>(CloseSocketSlot(static_cast<int8_t>(ss))) : uint8_t{0};
    Trace("close socket %u%s", ss, result ? "" : ": it was not open");
    ReplySlotResult(kCloseSocket, ss, result);
}

// Writes the name `name` into `words` (`size` bytes) with any byte that is no printable ASCII as
// "?", so that a trace line stays one line of text.
void Printable(const char* name, char* words, size_t size) {
    size_t n = 0;
    for (; name[n] != '\0' && n + 1 < size; ++n) {
        words[n] = name[n] > ' ' && name[n] < 0x7F ? name[n] : '?';
    }
    words[n] = '\0';
}

// The name is answered from the hosts table, if it has a line for it, before the resolver is asked.
void LookUpHost(const Request& r) {
    // The name must end with its NUL inside the frame, and its reply must fit the work area;
    // anything else is refused without asking the resolver.
    const char* name = reinterpret_cast<const char*>(r.frame + kFrameParams);
    const void* nul = memchr(name, 0, r.params);
    size_t n = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - name) : 0;
    uint8_t answer[kFrameCapacity] = {0x00};  // 00: not found
    if (nul == nullptr || n > kMaxHostName) {
        Trace("lookup: no name that ends in the frame");
        SendReply(kClassSocket, kLookUpHost, answer, 1);
        return;
    }
    uint8_t* a = answer + 2 + n;  // the address, after the name with its NUL
    int table = LookUpInHostsTable(name, a);
    int found = table > 0 || (table == 0 && NetResolveIPv4(name, a));
    char words[kMaxHostName + 1];
    Printable(name, words, sizeof words);
    if (table < 0) {
        Trace("lookup %s: blocked by the hosts table", words);
    } else if (found) {
        Trace("lookup %s: %u.%u.%u.%u from the %s", words, a[0], a[1], a[2], a[3],
              table > 0 ? "hosts table" : "resolver");
    } else {
        Trace("lookup %s: not found by the resolver", words);
    }
    if (!found) {
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
    const char* kind = command == kReceiveLine ? "line" : "block";
    if (answer[1] == kSlotFailure) {
        Trace("receive a %s on socket %u: nothing", kind, answer[0]);
    } else {
        Trace("receive a %s on socket %u: %u bytes", kind, answer[0], answer[1]);
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
    if (result < 0) {
        Trace("send on socket %u: failed", ss);
    } else {
        Trace("send on socket %u: %d bytes", ss, result);
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
