// The functions through which the core reaches the window and the port. Each executable links its
// own version of them: the GTK panel, the Win32 panel, or the test panel of the test programs.
// All of them are called on the reader thread.
#pragma once

#include <cstddef>
#include <cstdint>

// Replaces the text of the status field with `label`. Must not block on the window's thread.
void PanelSetStatus(const char* label);

// Copies the log path as the log field holds it right now into `buf` (`size` bytes, NUL-terminated,
// cut to fit). Returns its length; 0 means "no log".
size_t PanelGetLogPath(char* buf, size_t size);

// Shows `text` in a modal error box over the dialog and returns when the user dismisses it, or
// earlier when the port is being closed.
void PanelShowError(const char* text);

// Tells, in one line of text ("traffic log PATH cannot be written", or "... written again"), that
// the traffic log has just gone from written to not written or back. Called only on such a change,
// never once a frame. Must not block the reader thread.
void PanelLogStateChanged(const char* line);

// Writes `n` bytes to the open port and waits until they are written (at most about one second).
// Does nothing when no port is open; a failed write is not reported.
void WritePort(const uint8_t* bytes, size_t n);

// Holds up the reader thread for `ms` milliseconds. Returns 1 after the full pause, 0 when the port
// is being closed meanwhile (the caller then abandons its command without replying).
int PauseReader(unsigned ms);
