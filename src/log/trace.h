// The trace: one line for each socket command the device sends, what it did in words a user reads,
// after a time stamp: the names looked up and where their answers came from, where each connect
// went and how it ended, the bytes sent and received, the closes. The data bytes themselves stay in
// the traffic log.
#pragma once

// Makes `path` (UTF-8; "": no trace; "-": the program's standard output, FrontTrace) the trace's
// file from the next line on. Any thread.
void SetTracePath(const char* path);

// Appends one line, made from `format` as printf makes it, after the time stamp; nothing when no
// trace is kept. A file that cannot be written is told on stderr once, and once more when it is
// written again. Reader thread only.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
