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

// Writes the status label `label` on stdout, as Emit does, when it differs from the one before: a
// run of the same label is told once more, as a count ("recv a buffer (812 times)"), when another
// comes or at the end (EndLabelRun). With `every` (EveryLabel), every label is written. Reader
// thread.
void EmitLabel(const char* label);
void EveryLabel(int every);

// Tells the count of the run of labels at the end, when it is more than one. Once the reader ended.
void EndLabelRun();

// Lets the writers write what is held, for at most 100 ms. Returns 1 when both have written
// everything and ended, 0 when one is still blocked on a stalled stream.
int EndOutput();

// Waits for the writers to end, after EndOutput returned 1.
void JoinOutput();
