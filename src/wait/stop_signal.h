// The reader's stop signal and the one timed wait of the program. Every wait of the reader thread
// (port, sockets, host lookup, the error box, pauses) goes through this module and also watches the
// stop signal, so that closing the port ends any of them at once.
#pragma once

#include <cstdint>

// A time limit that never runs out (the same value as Win32's INFINITE).
constexpr unsigned kNoTimeLimit = 0xFFFFFFFFu;

// Raises the stop signal: every wait of the reader thread, now or later, returns at once until the
// signal is cleared. Called by the window's thread when it closes the port. Safe from any thread.
void RaiseReaderStop();

// Clears the stop signal. Called before a new reader thread is started.
void ClearReaderStop();

// Returns 1 while the stop signal is raised, 0 otherwise. On the reader thread also 1 while a loss
// of its port, seen by a wait, has not been taken (WatchPortLoss).
int ReaderStopRaised();

// Waits up to `ms` milliseconds (kNoTimeLimit: without a limit) for the stop signal. Returns 1 if
// it is raised (at once if it already was), 0 when the time ran out.
int WaitForReaderStop(unsigned ms);

// Milliseconds on a clock that only moves forward; its start is arbitrary.
uint64_t MonotonicMillis();

#ifdef _WIN32
#include <windows.h>

// Waits up to `ms` (kNoTimeLimit: without a limit) for `h` to be signalled while watching the stop
// signal, which wins when both are. Returns 1 when `h` was signalled, 0 when the time ran out, -1
// when the stop signal is raised or the wait failed.
int WaitForHandle(HANDLE h, unsigned ms);

// Waits up to `ms` (kNoTimeLimit: without a limit) until the WinSock socket `s` is readable (or,
// with `forWrite`, writable), checking the stop signal between short waits. Returns 1 ready, 0 when
// the time ran out, -1 on failure or stop, -2 when the socket reports an error condition (a connect
// that failed).
int WaitForSocket(uintptr_t s, bool forWrite, unsigned ms);

// Waits for `thread` to end, serving meanwhile the messages other threads send to this (the
// window's) thread: the thread waited for may be waiting for one of them. Returns when it has
// ended or the wait failed.
void AwaitThreadEnd(HANDLE thread);
#else
#include <poll.h>  // the event bits of WaitForDescriptor: POLLIN, POLLOUT, POLLERR, POLLHUP

// Waits up to `ms` (kNoTimeLimit: without a limit) for `events` (poll events) on descriptor `fd`
// while watching the stop signal, which wins when both come. A negative `fd` waits for the stop
// signal only. Returns the events `fd` reported (> 0, an error or hang-up included, as a readiness
// wait does), 0 when the time ran out, -1 when the stop signal is raised, the wait failed or `fd`
// is not open.
int WaitForDescriptor(int fd, short events, unsigned ms);

// Adds one to the eventfd `fd`, so that a wait on it returns. A failure is not reported. Any
// thread.
void SignalEventFd(int fd);

// Makes every later wait of the calling thread also watch the open port `fd` (-1: no port) for a
// hang-up or an error, its device gone: such a wait then ends as if the stop signal were raised,
// and so does every wait and ReaderStopRaised after it, until TakePortLoss. A command that waits on
// a socket, a lookup or a pause is so abandoned without a reply when the port is lost meanwhile.
void WatchPortLoss(int fd);

// Returns 1, and forgets it, when a wait of the calling thread has seen its watched port lost;
// otherwise 0.
int TakePortLoss();
#endif
