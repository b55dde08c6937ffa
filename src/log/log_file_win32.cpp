#include <windows.h>

#include <cstdio>

#include "log/log_file.h"
#include "log/traffic_log.h"

int AppendToLogFile(const char* path, const char* text, size_t n) {
    // Share mode 0: the file is not shared while a line is written; a holder elsewhere makes the
    // open fail and the line is skipped.
    wchar_t wide[kLogPathCapacity];
    if (MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, kLogPathCapacity) == 0) {
        return 0;
    }
    HANDLE file = CreateFileW(wide, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    SetFilePointer(file, 0, NULL, FILE_END);
    DWORD written = 0;
    BOOL wrote = WriteFile(file, text, static_cast<DWORD>(n), &written, NULL);
    CloseHandle(file);
    return wrote && written == n ? 1 : 0;
}

void FormatTimeStamp(char* stamp) {
    SYSTEMTIME t;
    GetLocalTime(&t);
    snprintf(stamp, kTimeStampBytes, "%04u-%02u-%02uT%02u:%02u:%02u.%03u", t.wYear, t.wMonth,
             t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
}
