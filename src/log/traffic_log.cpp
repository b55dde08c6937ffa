#include "log/traffic_log.h"

#include <cstdio>

#include "front/front_end.h"
#include "log/log_file.h"

namespace {

// The traffic log's file.
LineFile g_log;

}  // namespace

void SetLineFilePath(LineFile* file, const char* path) {
    Held hold(file->lock);
    snprintf(file->path, sizeof file->path, "%s", path);
    file->named.store(path[0] != '\0');
}

void LineFilePath(LineFile* file, char* path) {
    path[0] = '\0';
    if (file->named.load()) {
        Held hold(file->lock);
        snprintf(path, kLogPathBytes, "%s", file->path);
    }
}

void AppendLine(LineFile* file, const char* what, const char* path, const char* text, size_t n) {
    int written = AppendToLogFile(path, text, n);
    if (written != file->written) {
        file->written = written;
        char told[kLogPathBytes + 32];
        snprintf(told, sizeof told, "%s %s %s", what, path,
                 written ? "written again" : "cannot be written");
        FrontTell(told);
    }
}

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
