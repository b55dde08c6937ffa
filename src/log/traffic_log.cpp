#include "log/traffic_log.h"

#include <cstdio>

#include "front/front_end.h"
#include "log/log_file.h"
#include "wait/wait.h"

namespace {

// The log's path, under `lock`; and 1 while the last line went to the log file, 0 once one could
// not be written (reader thread only).
struct TrafficLog {
    Lock lock;
    char path[kLogPathBytes];
    int written = 1;
};
TrafficLog g_log;

}  // namespace

void SetLogPath(const char* path) {
    Held hold(g_log.lock);
    snprintf(g_log.path, sizeof g_log.path, "%s", path);
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
    {
        Held hold(g_log.lock);
        snprintf(path, sizeof path, "%s", g_log.path);
    }
    if (path[0] == '\0') {
        return;
    }
    // One line is written in a single call.
    char line[3 * kLogLineMaxBytes + 5];
    n = n < kLogLineMaxBytes ? n : kLogLineMaxBytes;  // a frame taken in or sent always fits
    int written = AppendToLogFile(path, line, FormatLogLine(direction, bytes, n, line));
    if (written != g_log.written) {
        g_log.written = written;
        char told[kLogPathBytes + 32];
        snprintf(told, sizeof told, "traffic log %s %s", path,
                 written ? "written again" : "cannot be written");
        FrontTell(told);
    }
}
