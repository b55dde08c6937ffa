// A thin layer over BSD sockets and WinSock, so the socket proxy builds unchanged on both, and the
// reader's stop signal, which every blocking wait of the reader thread watches so that closing the
// port ends any of them at once.
#pragma once

#include <cstddef>
#include <cstdint>

// A socket handle; kNoSocket marks "none" (INVALID_SOCKET on Windows, -1 elsewhere).
using NetSocket = intptr_t;
constexpr NetSocket kNoSocket = -1;

// Starts the socket library (WinSock 1.1 on Windows; nothing elsewhere). Returns 1 on success.
int NetStartup();

// Shuts the socket library down; on Windows this also releases every socket still open.
void NetCleanup();

// --- Reader stop signal ---------------------------------------------------------------------

// Raises the stop signal: every wait of the reader thread, now or later, returns at once until the
// signal is cleared. Called by the window's thread when it closes the port. Safe from any thread.
void RaiseReaderStop();

// Clears the stop signal. Called before a new reader thread is started.
void ClearReaderStop();

// Returns 1 while the stop signal is raised, 0 otherwise.
int ReaderStopRaised();

// Waits up to `ms` milliseconds for the stop signal. Returns 1 if it is raised (at once if it
// already was), 0 when the time ran out.
int WaitForReaderStop(unsigned ms);
