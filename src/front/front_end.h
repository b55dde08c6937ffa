// The face of a program: every call the core, the port and the controller make out to the program
// that runs them. Each executable links its own version of these functions: the GTK dialog, the
// Windows dialog, the headless program (which draws nothing: its window calls are empty), and the
// test, benchmark and fuzz programs.
//
// How it works:
//  - The reader thread does all protocol work. What it shows (a status label, an error box, the
//    log's or the port's state) is handed to the program and never waits for the window's thread,
//    except the error box, which waits for the user or for the stop signal, whichever comes first.
//  - The window's thread runs the controller (control/controller.h), which draws the dialog through
//    the Front*Item, FrontCheckSpeed and FrontSetPortTip calls. They are called on that thread
//    only.
//  - Nothing here reads the window: what the user types (the log path) is pushed to its owner when
//    it changes (SetLogPath in log/traffic_log.h).
#pragma once

// --- Called on the reader thread
// ------------------------------------------------------------------

// Replaces the text of the status field with `label`. Must not wait for the window's thread.
void FrontSetStatus(const char* label);

// Shows `text` in a modal error box over the dialog and returns when the user dismisses it, or
// earlier when the port is being closed. A program without a window prints it and returns at once.
void FrontShowError(const char* text);

// Tells, in one line of text for stderr, what the user should know and the dialog has no place
// for: that the traffic log or the trace has just gone from written to not written or back, that a
// second connection to a listening line was closed, a line of the hosts table that cannot be read
// or its file gone, a connect the destination policy denies. Called on such an event only, never
// once a frame; from the reader, the port's own threads or the start. Must not block. The Windows
// dialog stays silent.
void FrontTell(const char* line);

// Writes `line`, a line of the trace with its time stamp, on the program's standard output, where
// it has one (the trace named "-"). Called once a socket command when asked for; must not block.
void FrontTrace(const char* line);

// Tells how many sockets the device has open now, each time that changes. Must not block.
void FrontSocketCount(int open);

// Tells that the port's state changed by itself (its device lost, or back and reopened); the
// program relays it to the window's thread, which calls ControlPortStateChanged. Must not wait for
// the window's thread.
void FrontPortStateChanged();

// --- Called on the window's thread, by the controller
// ---------------------------------------------

// Checks the speed button of `speed` (9600 or 38400 bit/s) without reporting a click.
void FrontCheckSpeed(unsigned speed);

// Appends `label` to the port list.
void FrontAddPortItem(const char* label);

// Selects item `index` (from 0) of the port list without reporting a pick.
void FrontSelectPortItem(int index);

// Removes the items of the port list from item `from` (from 0) on, without reporting a pick.
void FrontRemovePortItems(int from);

// Shows `text`, the state of the port picked ("COM1: open at 9600 bit/s"), where the user looks
// for it: the port list's tooltip, and on Linux a line on stderr. Called only when it changed.
void FrontSetPortTip(const char* text);

// Takes down an error box left from a reader that has been stopped. Called right after the port
// has been closed. Does nothing when no box is up.
void FrontDismissErrorBox();

// --- Called at the start, before any other -----------------------------------------------------

// Writes `text` on stdout (`toStderr` 0) or stderr (1), wherever this program's output goes.
// Returns 1 when all of it was written, 0 otherwise.
int FrontPrint(int toStderr, const char* text);
