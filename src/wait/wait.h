// The program's waits, and the few things its threads share: the reader's stop signal, which every
// wait of the reader thread watches, so that closing the port ends any of them at once; signals one
// thread raises for another; threads; a lock. Written once for both platforms; only the system
// calls differ (wait_posix.cpp, wait_win32.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <winsock2.h>
//
#include <windows.h>
#else
#include <poll.h>  // the event bits of WaitForDescriptor: POLLIN, POLLOUT, POLLERR, POLLHUP
#include <pthread.h>
#include <sys/types.h>
#endif

// A time limit that never runs out (the same value as Win32's INFINITE).
constexpr unsigned kNoTimeLimit = 0xFFFFFFFFu;

// No deadline: a wait for room that only a failure or the stop signal ends.
constexpr uint64_t kNoDeadline = ~uint64_t{0};

// What a wait waits for: on Linux a descriptor, ready when it polls readable; on Windows a handle,
// ready when it is signalled.
#ifdef _WIN32
using Waitable = HANDLE;
constexpr Waitable kNothing = NULL;
#else
using Waitable = int;
constexpr Waitable kNothing = -1;
#endif

// --- The reader's stop signal -------------------------------------------------------------------

// Raises the stop signal: every wait of the reader thread, now or later, returns at once until the
// signal is cleared. Called by the window's thread when it closes the port. Any thread.
void RaiseReaderStop();

// Clears the stop signal. Called before a new reader thread is started.
void ClearReaderStop();

// Returns 1 while the stop signal is raised, or the calling thread's watch has fired and not been
// taken (SetThreadWatch); 0 otherwise.
int ReaderStopRaised();

// Waits up to `ms` milliseconds (kNoTimeLimit: without a limit) for the stop signal. Returns 1 if
// it is raised (at once if it already was), 0 when the time ran out.
int WaitForReaderStop(unsigned ms);

// Milliseconds on a clock that only moves forward; its start is arbitrary.
uint64_t MonotonicMillis();

// --- Waits ---------------------------------------------------------------------------------------

// Waits up to `ms` (kNoTimeLimit: without a limit) until one of the `n` waitables in `w` is ready
// (kNothing is never ready), while watching the stop signal and the thread's watch, which win when
// both come. Returns the index of the one ready plus one, 0 when the time ran out, -1 when the stop
// signal is raised, the watch fired or the wait failed.
int WaitForAny(const Waitable* w, int n, unsigned ms);

// Makes every later wait of the calling thread also watch `w` (kNothing: nothing) for the end of
// what it stands for: on Linux a descriptor that hangs up or fails (its other end closed, its
// device gone); on Windows a handle that is signalled and that `fired` (null: always) says has
// ended (`fired` takes what made it ready; when it returns 0 the wait goes on). The wait then ends
// as if the stop signal were raised, and so does every wait and ReaderStopRaised after it, until
// TakeThreadWatch. The reader thread watches its port so for a loss while a command waits.
void SetThreadWatch(Waitable w, int (*fired)(Waitable));

// Returns 1, and forgets it, when a wait of the calling thread has seen its watch fire; otherwise
// 0.
int TakeThreadWatch();

// --- Signals: raised by one thread, waited for by another ----------------------------------------

// Makes a signal, not raised. Returns kNothing when it cannot.
Waitable MakeSignal();

// Raises the signal `s`: waits for it return until it is cleared. Any thread; never blocks.
void RaiseSignal(Waitable s);

// Clears the signal `s`.
void ClearSignal(Waitable s);

// Frees the signal `s` (kNothing: nothing).
void FreeSignal(Waitable s);

// --- Threads -------------------------------------------------------------------------------------

using ThreadId = uintptr_t;

// Starts a thread named `name` (at most 15 characters) running `body(arg)`. With `id` null it is
// detached: nothing waits for its end. Returns 1, or 0 when it could not start.
int StartThread(const char* name, void (*body)(void*), void* arg, ThreadId* id);

// Waits for the thread `id` to end. On Windows it serves meanwhile the messages other threads send
// to the calling (window's) thread, as the thread waited for may be waiting for one of them.
void JoinThread(ThreadId id);

// --- A lock --------------------------------------------------------------------------------------

// A lock over data that more than one thread touches, held only for a short copy or update.
struct Lock {
#ifdef _WIN32
    SRWLOCK word = SRWLOCK_INIT;
#else
    pthread_mutex_t word = PTHREAD_MUTEX_INITIALIZER;
#endif
};

void TakeLock(Lock* lock);
void DropLock(Lock* lock);

// Holds `lock` for the scope it is declared in.
class Held {
public:
    explicit Held(Lock& lock) : lock_(lock) { TakeLock(&lock_); }
    ~Held() { DropLock(&lock_); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

private:
    Lock& lock_;
};

// --- The platform's own waits, for the code that makes its system calls ------------------------

#ifdef _WIN32
// Waits up to `ms` (kNoTimeLimit: without a limit) for `h` to be signalled, as WaitForAny does for
// one. Returns 1 when `h` was signalled, 0 when the time ran out, -1 when the stop signal is
// raised, the watch fired or the wait failed.
int WaitForHandle(HANDLE h, unsigned ms);

// Waits up to `ms` (kNoTimeLimit: without a limit) until the WinSock socket `s` is readable (or,
// with `forWrite`, writable), looking at the stop signal and the watch between short waits. Returns
// 1 ready, 0 when the time ran out, -1 on failure, stop or watch, -2 when the socket reports an
// error condition (a connect that failed).
int WaitForSocket(uintptr_t s, bool forWrite, unsigned ms);
#else
// Writes the `n` bytes with `put` (a non-blocking write to `fd`, returning as write() does),
// waiting for room on `fd` as often as needed until `deadline` (MonotonicMillis; kNoDeadline:
// none), a failure or the stop signal. Returns how many were written.
size_t WriteWithin(int fd, const uint8_t* bytes, size_t n, uint64_t deadline,
                   ssize_t (*put)(int fd, const void* bytes, size_t n));

// Reads up to `max` bytes that the non-blocking `fd` holds now. Returns their count, 0 when nothing
// is there, -1 when its other end has closed it (a terminal hung up) or it failed.
int ReadNow(int fd, uint8_t* bytes, size_t max);

// Waits up to `ms` (kNoTimeLimit: without a limit) until `fd` has bytes to read or its other end
// ended. Returns 1, 0 when the time ran out, -1 when the stop signal or the watch came first, -2
// when it hung up or failed with nothing to read.
int AwaitReadable(int fd, unsigned ms);

// Waits up to `ms` (kNoTimeLimit: without a limit) for `events` (poll events) on descriptor `fd`,
// as WaitForAny does. A negative `fd` waits for the stop signal only. Returns the events `fd`
// reported (> 0, an error or hang-up included, as a readiness wait does), 0 when the time ran out,
// -1 when the stop signal is raised, the watch fired, the wait failed or `fd` is not open.
int WaitForDescriptor(int fd, short events, unsigned ms);
#endif
