#include "log/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "front/front_end.h"
#include "log/log_file.h"

namespace {

// The trace's file.
LineFile g_trace;

}  // namespace

void SetTracePath(const char* path) {
    SetLineFilePath(&g_trace, path);
}

void Trace(const char* format, ...) {
    char path[kLogPathBytes];
    LineFilePath(&g_trace, path);
    if (path[0] == '\0') {
        return;
    }
    char line[kTimeStampBytes + 512];
    FormatTimeStamp(line);
    size_t n = strlen(line);
    line[n++] = ' ';
    va_list args;
    va_start(args, format);
    vsnprintf(line + n, sizeof line - n - 1, format, args);
    va_end(args);
    if (strcmp(path, "-") == 0) {
        FrontTrace(line);
        return;
    }
    n = strlen(line);
    line[n++] = '\n';
    AppendLine(&g_trace, "trace", path, line, n);
}
