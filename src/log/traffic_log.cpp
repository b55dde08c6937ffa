#include "log/traffic_log.h"

#include "log/log_file.h"

namespace {

// The traffic log's file.
LineFile g_log;

}  // namespace

void SetLogPath(const char* path) {
    SetLineFilePath(&g_log, path);
}

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
    char path[kLogPathBytes];
    LineFilePath(&g_log, path);
    if (path[0] == '\0') {
        return;
    }
    // One line is written in a single call.
    char line[3 * kLogLineMaxBytes + 5];
    n = n < kLogLineMaxBytes ? n : kLogLineMaxBytes;  // a frame taken in or sent always fits
    AppendLine(&g_log, "traffic log", path, line, FormatLogLine(direction, bytes, n, line));
}
