#include "log/traffic_log.h"

#include <vector>

#include "link/seams.h"
#include "log/log_file.h"

size_t FormatLogLine(char direction, const uint8_t* bytes, size_t n, char* out) {
    static const char kHex[] = "0123456789ABCDEF";
    size_t len = 0;
    out[len++] = direction;
    out[len++] = '>';
    out[len++] = ' ';
    for (size_t i = 0; i < n; ++i) {
        out[len++] = kHex[bytes[i] >> 4];
        out[len++] = kHex[bytes[i] & 0x0F];
        out[len++] = ' ';
    }
    out[len++] = '\r';
    out[len++] = '\n';
    return len;
}

void WriteLogLine(char direction, const uint8_t* bytes, size_t n) {
    char path[kLogPathCapacity];
    if (PanelGetLogPath(path, sizeof path) == 0 || path[0] == '\0') {
        return;
    }
    // A received line holds at most 256 bytes; one line is written in a single call.
    char line[3 * 256 + 5];
    if (n <= 256) {
        AppendToLogFile(path, line, FormatLogLine(direction, bytes, n, line));
        return;
    }
    std::vector<char> big(3 * n + 5);
    AppendToLogFile(path, big.data(), FormatLogLine(direction, bytes, n, big.data()));
}
