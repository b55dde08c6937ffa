#include "line/telnet.h"

#include <initializer_list>

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
