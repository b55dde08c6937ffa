// The files the traffic log and the trace append their lines to, and the time stamps of lines: the
// system calls in one platform file each, the rest in log_file.cpp.
#pragma once

#include <atomic>
#include <cstddef>

#include "log/traffic_log.h"
#include "wait/wait.h"

// Opens `path` (UTF-8) for reading and writing without sharing it (creating it if missing, keeping
// what it holds), appends the `n` bytes at its end and closes it. Returns 1 when all bytes were
// written to the file, 0 when it could not be opened, another holder has it or the write failed (a
// full disk, /dev/full): the line is then skipped, or only part of it written.
int AppendToLogFile(const char* path, const char* text, size_t n);

// Bytes of a time stamp with its NUL: "2026-12-07T01:02:03.456".
constexpr size_t kTimeStampBytes = 24;

// Writes the local time now, to the millisecond, into `stamp` (kTimeStampBytes). Any thread.
void FormatTimeStamp(char* stamp);

// A file that lines are appended to, as the user names it (the traffic log, the trace): its path,
// under its lock, since the window's thread may change it at any time; and 1 while the last line
// went to it, 0 once one could not be written (the writing thread's).
struct LineFile {
    Lock lock;
    char path[kLogPathBytes] = "";
    std::atomic<bool> named{false};  // a path is set: without one, no line takes the lock
    int written = 1;
};

// Makes `path` (UTF-8; "": none) the file of `file` from the next line on. Any thread.
void SetLineFilePath(LineFile* file, const char* path);

// Copies the path of `file` into `path` (kLogPathBytes). Any thread.
void LineFilePath(LineFile* file, char* path);

// Appends the `n` bytes of `text` to the file at `path`, the path of `file`, and tells (FrontTell)
// "WHAT PATH cannot be written" when lines stop going to it, and "... written again" when they go
// again.
void AppendLine(LineFile* file, const char* what, const char* path, const char* text, size_t n);
