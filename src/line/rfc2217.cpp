// The rfc2217:// line: Telnet with the COM port control option (telnet.h) as a filter over the TCP
// line of socket:// (net_line.cpp), as Telnet is stacked on TCP.
#include "line/line.h"
#include "line/telnet.h"
#include "net/net.h"

// --- rfc2217://: Telnet over the TCP line
// -----------------------------------------------------------

namespace {

// Where the reading of the server's bytes stands within a Telnet command that a read cut. Reader
// thread only; zeroed at each connection.
TelnetInput g_input;

// Held while bytes go out, so that the window's thread setting the remote port never cuts into the
// reader's bytes (a doubled 255 split by a speed setting would be two Telnet commands).
Lock g_sending;

// Most bytes read from the server, or taken from the device to be written, at once.
constexpr size_t kTelnetChunk = 256;

void SendTelnet(LineHandle line, const uint8_t* bytes, size_t n) {
    Held hold(g_sending);
    NetSendAll(line, bytes, n, MonotonicMillis() + kWriteLimitMs);
}

// Connects as socket:// does, then says that this end will use the COM port control option and
// binary transmission both ways.
LineHandle OpenTelnet(const char* name, int* state, char* detail) {
    LineHandle line = kSocketLine.open(name, state, detail);
    g_input = TelnetInput{};
    if (line != kNoLine) {
        SendTelnet(line, kTelnetHello, sizeof kTelnetHello);
    }
    return line;
}

// Sets the remote port to `speed` bit/s, 8N1 and no flow control.
void SetRemotePort(LineHandle line, unsigned speed) {
    uint8_t out[kTelnetSettingsMax];
    SendTelnet(line, out, TelnetPortSettings(speed, out));
}

// Reads the server's bytes and keeps the device's; the options the server asks for that this line
// does not use are refused.
int ReadTelnet(LineHandle line, uint8_t* bytes, size_t max) {
    int got = kSocketLine.read(line, bytes, max < kTelnetChunk ? max : kTelnetChunk);
    if (got <= 0) {
        return got;
    }
    uint8_t answers[3 * kTelnetChunk];
    size_t answered;
    size_t kept = TelnetTakeData(&g_input, bytes, static_cast<size_t>(got), answers, &answered);
    if (answered > 0) {
        SendTelnet(line, answers, answered);
    }
    return static_cast<int>(kept);  // 0 when only the server's own bytes came
}

// Writes the device's bytes, each 255 doubled.
void WriteTelnet(LineHandle line, const uint8_t* bytes, size_t n) {
    const uint64_t deadline = MonotonicMillis() + kWriteLimitMs;
    uint8_t out[2 * kTelnetChunk];
    Held hold(g_sending);
    for (size_t done = 0, m = 0; done < n; done += m) {
        m = n - done < kTelnetChunk ? n - done : kTelnetChunk;
        if (!NetSendAll(line, out, TelnetEscape(bytes + done, m, out), deadline)) {
            return;
        }
    }
}

}  // namespace

// kSocketLine is constant-initialised, so it is whole before it is stacked on.
const LineKind kRfc2217Line = Stacked(
    kSocketLine,
    {.open = OpenTelnet, .configure = SetRemotePort, .read = ReadTelnet, .write = WriteTelnet});
