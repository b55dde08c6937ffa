// Reads arbitrary server bytes as an rfc2217:// line does, in the chunks the input cuts (a length
// byte L, then L + 1 bytes, the last chunk what is left): the device's bytes never outnumber the
// server's, every answer is a refusal of one option, and the device's own bytes, escaped as the
// line sends them, read back as they were.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "check.h"
#include "line/telnet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TelnetInput input = {};
    std::vector<uint8_t> chunk, answers;
    for (size_t at = 0; at < size;) {
        size_t n = size_t{data[at]} + 1 < size - at - 1 ? size_t{data[at]} + 1 : size - at - 1;
        chunk.assign(data + at + 1, data + at + 1 + n);
        answers.resize(3 * n);
        size_t answered = 0;
        size_t kept = TelnetTakeData(&input, chunk.data(), n, answers.data(), &answered);
        Check(kept <= n && answered % 3 == 0 && answered <= 3 * n);
        for (size_t i = 0; i < answered; i += 3) {
            Check(answers[i] == 0xFF && (answers[i + 1] == 0xFC || answers[i + 1] == 0xFE));
        }
        at += 1 + n;
    }
    std::vector<uint8_t> escaped(2 * size);
    std::vector<uint8_t> refusals(3 * escaped.size());
    size_t length = TelnetEscape(data, size, escaped.data());
    size_t answered = 0;
    TelnetInput fresh = {};
    size_t kept = TelnetTakeData(&fresh, escaped.data(), length, refusals.data(), &answered);
    Check(kept == size && answered == 0 && std::equal(data, data + size, escaped.begin()));
    return 0;
}
