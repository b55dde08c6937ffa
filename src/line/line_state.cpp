#include "line/line_state.h"

#include <cstdio>
#include <iterator>

#include "line/line.h"
#include "line/line_url.h"

namespace {

// The words of each state, in the order of the codes. `words` has one %s, where the detail goes as
// `detail` writes it (when the line told one).
struct StateWords {
    PortStateCode state;
    const char* words;
    const char* detail;
};

constexpr StateWords kWords[] = {
    {kPortClosed, "closed%s", ""},
    {kPortOpen, "open at %u bit/s", ""},  // the speed in place of the detail
    {kPortDenied, "permission denied: add yourself to the dialout group%s", ""},
    {kPortBusy, "in use by another program%s", ": %s"},
    {kPortAbsent, "not present%s", ""},
    {kPortUnusable, "does not open as a serial port%s", ""},
    {kPortLost, "lost: waiting for it to come back%s", ""},
    {kPortConnecting, "opening%s", ""},
    {kPortNoHost, "host not found: waiting for it%s", ""},
    {kPortRefused, "refused: waiting for it%s", ""},
    {kPortNoAnswer, "no answer: waiting for it%s", ""},
    {kPortListening, "listening: waiting for the connection%s", ""},
    {kPortAddressInUse, "address in use by another program: waiting for it%s", ""},
    {kPortNoSuchAddress, "not an address of this machine: waiting for it%s", ""},
    {kPortListenDenied, "not allowed to listen on it: waiting for it%s", ""},
    {kPortTurnedAway, "closed by the other end at once%s: waiting for it", ": \"%s\""},
};

constexpr bool InOrderOfTheCodes() {
    for (size_t i = 0; i < std::size(kWords); ++i) {
        if (kWords[i].state != static_cast<PortStateCode>(i)) {
            return false;
        }
    }
    return true;
}
static_assert(std::size(kWords) == kPortStates && InOrderOfTheCodes(),
              "every state has its words, in the order of the codes");

}  // namespace

void PortStateText(int state, unsigned speed, const char* device, const char* detail, char* text,
                   size_t size) {
    LineUrl url;
    const char* why;
    int scheme = ParseLineUrl(device, &url, &why);
    if (state == kPortOpen && scheme > 0) {
        snprintf(text, size, "connected %s %s", scheme == kLineListen ? "on" : "to", url.where);
        return;
    }
    const StateWords& w = kWords[state >= 0 && state < kPortStates ? state : kPortClosed];
    if (state == kPortOpen) {
        snprintf(text, size, w.words, speed);
        return;
    }
    char told[kLineDetailBytes + 8] = "";
    if (detail[0] != '\0') {
        snprintf(told, sizeof told, w.detail, detail);
    }
    snprintf(text, size, w.words, told);
}
