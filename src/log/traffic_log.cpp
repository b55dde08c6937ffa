#include "log/traffic_log.h"

#include <cstdio>

#include "link/link_frame.h"
#include "link/seams.h"
#include "log/log_file.h"

namespace {

// 1 while the last line went to the log file, 0 once one could not be written. Reader thread only.
int g_logWritten = 1;

}  // namespace

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
    // One line is written in a single call.
    char line[3 * kFrameCapacity + 5];
    if (n > kFrameCapacity) {
        n = kFrameCapacity;  // never the case: a frame taken in or sent fits the frame capacity
    }
    int written = AppendToLogFile(path, line, FormatLogLine(direction, bytes, n, line));
    if (written != g_logWritten) {
        g_logWritten = written;
        char told[kLogPathCapacity + 32];
        snprintf(told, sizeof told, "traffic log %s %s", path,
                 written ? "written again" : "cannot be written");
        PanelLogStateChanged(told);
    }
}
