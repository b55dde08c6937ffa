// The headless program's output: its lines on stdout and stderr, each stream written by a thread
// of its own (output_posix.cpp).
#pragma once

// Starts the writer threads. Returns 1, or 0 when one could not start (one may have started: the
// program must then end without destroying anything under it).
int StartOutput();

// Adds the line "TIME text" (local time to the millisecond) for stream 0 (stdout) or 1 (stderr).
// Never waits for the output: lines beyond the 64 KiB held for a stream, or after lines dropped
// before them, are dropped, and counted in one line once the stream takes lines again. Any thread.
void Emit(int stream, const char* text);

// Adds `line`, which has its own time stamp, for stream 0 (stdout) or 1 (stderr), as Emit does.
void EmitStamped(int stream, const char* line);

// Lets the writers write what is held, for at most 100 ms. Returns 1 when both have written
// everything and ended, 0 when one is still blocked on a stalled stream.
int EndOutput();

// Waits for the writers to end, after EndOutput returned 1.
void JoinOutput();
