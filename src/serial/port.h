// What the port (port.cpp) and its reader thread (reader.cpp) share.
#pragma once

#include "line/line.h"

// The body of the reader thread, which OpenPortDevice starts.
void ReaderMain(void*);

// The open line (kNoLine: none), its kind and the name it was asked for by. The window's thread
// changes them while no reader runs; the reader changes the line, through ForgetPort and
// UsePortLine, while it runs.
LineHandle PortLine();
const LineKind* PortKind();
const char* PortName();

// Closes the open line, if any (with `discard`, what it holds is dropped first and it is let go
// for good), and records `state` (a PortStateCode) with `detail` ("" when none). The one way a line
// is closed: by the window's thread while no reader runs, or by the reader when it has failed.
void ForgetPort(int state, const char* detail, bool discard);

// Makes `line`, of the port's kind and just opened, the port's line: set to the speed chosen, with
// the receive buffer emptied; with `announce`, the state open. By the window's thread before the
// reader starts, or by the reader when its line is back.
void UsePortLine(LineHandle line, bool announce);

// Records `state` with `detail` as a change the reader made by itself, and tells the program
// (FrontPortStateChanged). Reader thread.
void TellPortState(int state, const char* detail);

// Makes every later wait of the reader thread also watch the open `line` (kNoLine: none) for its
// loss: a command that waits is then abandoned without a reply, as when the port is closed.
void WatchPortLoss(LineHandle line);

// Returns 1, and forgets it, when a wait of the reader has seen its line lost; otherwise 0.
int TakePortLoss();
