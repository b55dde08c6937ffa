#include "line/telnet.h"

#include <initializer_list>

#include "line/line.h"
#include "net/net.h"

namespace {

// Telnet's bytes: the command escape and its verbs, and the options this line uses.
constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                  kSe = 240;
constexpr uint8_t kBinary = 0, kComPort = 44;

// The states of TelnetInput.
enum TelnetState : uint8_t { kInData, kAfterIac, kAfterVerb, kInSb, kInSbAfterIac };

}  // namespace

const uint8_t kTelnetHello[9] = {kIac, kWill, kComPort, kIac, kWill, kBinary, kIac, kDo, kBinary};

size_t TelnetPortSettings(unsigned speed, uint8_t* out) {
    const uint8_t values[5][4] = {
        {static_cast<uint8_t>(speed >> 24), static_cast<uint8_t>(speed >> 16),
         static_cast<uint8_t>(speed >> 8), static_cast<uint8_t>(speed)},
        {8},
        {1},
        {1},
        {1}};
    size_t n = 0;
    for (uint8_t command = 1; command <= 5; ++command) {
        for (uint8_t b : {kIac, kSb, kComPort, command}) {
            out[n++] = b;
        }
        n += TelnetEscape(values[command - 1], command == 1 ? 4 : 1, out + n);
        out[n++] = kIac;
        out[n++] = kSe;
    }
    return n;
}

size_t TelnetEscape(const uint8_t* bytes, size_t n, uint8_t* out) {
    size_t m = 0;
    for (size_t i = 0; i < n; ++i) {
        out[m++] = bytes[i];
        if (bytes[i] == kIac) {
            out[m++] = kIac;
        }
    }
    return m;
}

size_t TelnetTakeData(TelnetInput* input, uint8_t* bytes, size_t n, uint8_t* answers,
                      size_t* answered) {
    size_t kept = 0;
    *answered = 0;
    for (size_t i = 0; i < n; ++i) {
        uint8_t b = bytes[i];
        uint8_t& at = input->state;
        if (at == kInData || (at == kAfterIac && b == kIac)) {
            at = at == kInData && b == kIac ? kAfterIac : kInData;
            bytes[kept] = b;
            kept += at == kInData ? 1 : 0;
        } else if (at == kAfterIac) {
            at = b == kSb ? kInSb : b >= kWill ? kAfterVerb : kInData;
            input->verb = b;
        } else if (at == kAfterVerb) {
            // What this line does not use is refused; the rest needs no answer.
            uint8_t verb = input->verb;
            bool used = b == kBinary || b == kComPort;
            uint8_t refusal = verb == kDo && !used            ? kWont
                              : verb == kWill && b != kBinary ? kDont
                                                              : 0;
            if (refusal != 0) {
                for (uint8_t r : {kIac, refusal, b}) {
                    answers[(*answered)++] = r;
                }
            }
            at = kInData;
        } else {  // within a subnegotiation, which ends with IAC SE
            at = at == kInSb ? (b == kIac ? kInSbAfterIac : kInSb) : (b == kSe ? kInData : kInSb);
        }
    }
    return kept;
}

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

LineKind TelnetOverTcp() {
    LineKind kind = kSocketLine;
    kind.open = OpenTelnet;
    kind.configure = SetRemotePort;
    kind.read = ReadTelnet;
    kind.write = WriteTelnet;
    return kind;
}

}  // namespace

// kSocketLine is constant-initialised, so it is whole before this copy of it is made.
const LineKind kRfc2217Line = TelnetOverTcp();
