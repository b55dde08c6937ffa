// The waits on Windows: the stop signal and every signal are manual-reset events, and a wait is one
// WaitForMultipleObjects on the handles waited for, the stop signal and the thread's watch. Sockets
// waited for with select() (the device's sockets, which WinSock 1.1 gives no handle) are looked at
// in short slices, with the signal and the watch looked at between them.
#include <winsock2.h>
//
#include <windows.h>

#include <new>

#include "wait/wait.h"
#include "wait/watch.h"

namespace {

// The stop signal, made on first use.
HANDLE volatile g_stopEvent = NULL;

// Longest single select() wait; between two of them the stop signal and the watch are looked at.
constexpr DWORD kSliceMs = 50;

// The most handles one WaitForAny waits for.
constexpr int kMostWaited = 4;

HANDLE StopEvent() {
    HANDLE event = g_stopEvent;
    if (event != NULL) {
        return event;
    }
    HANDLE made = CreateEventA(NULL, TRUE, FALSE, NULL);
    PVOID before = InterlockedCompareExchangePointer(
        reinterpret_cast<PVOID volatile*>(&g_stopEvent), made, NULL);
    if (before != NULL) {
        CloseHandle(made);
        return static_cast<HANDLE>(before);
    }
    return made;
}

// Looks at the thread's watch without waiting. Returns 1 when it has fired.
int WatchFired() {
    if (!t_watch.seen && t_watch.w != NULL && WaitForSingleObject(t_watch.w, 0) == WAIT_OBJECT_0 &&
        (t_watch.fired == nullptr || t_watch.fired(t_watch.w))) {
        t_watch.seen = 1;
    }
    return t_watch.seen;
}

struct ThreadStart {
    void (*body)(void*);
    void* arg;
};

DWORD WINAPI RunThread(LPVOID start) {
    ThreadStart s = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    s.body(s.arg);
    return 0;
}

}  // namespace

void RaiseReaderStop() {
    SetEvent(StopEvent());
}

void ClearReaderStop() {
    ResetEvent(StopEvent());
}

int ReaderStopRaised() {
    return WaitForSingleObject(StopEvent(), 0) == WAIT_OBJECT_0 || t_watch.seen ? 1 : 0;
}

int WaitForReaderStop(unsigned ms) {
    if (!ReaderStopRaised()) {
        WaitForAny(NULL, 0, ms);
    }
    return ReaderStopRaised();
}

uint64_t MonotonicMillis() {
    return GetTickCount64();
}

int WaitForAny(const Waitable* w, int n, unsigned ms) {
    if (t_watch.seen) {
        return -1;
    }
    // The array holds the stop signal, the watch unless it is waited for anyway (its caller then
    // tells a loss itself), and the handles waited for; kNothing is never ready and left out.
    HANDLE waits[kMostWaited + 2];
    int of[kMostWaited + 2];  // the index in `w` of each handle waited for
    int count = 0;
    waits[count++] = StopEvent();
    bool watchWaited = false;
    for (int i = 0; i < n && i < kMostWaited; ++i) {
        watchWaited = watchWaited || w[i] == t_watch.w;
    }
    int watchAt = -1;
    if (t_watch.w != NULL && !watchWaited) {
        watchAt = count;
        waits[count++] = t_watch.w;
    }
    for (int i = 0; i < n && i < kMostWaited; ++i) {
        if (w[i] != NULL) {
            of[count] = i;
            waits[count++] = w[i];
        }
    }
    const uint64_t deadline = MonotonicMillis() + ms;
    for (;;) {
        DWORD left = ms;
        if (ms != kNoTimeLimit) {
            uint64_t now = MonotonicMillis();
            left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        }
        DWORD r = WaitForMultipleObjects(static_cast<DWORD>(count), waits, FALSE, left);
        if (r == WAIT_TIMEOUT) {
            return 0;
        }
        int at = static_cast<int>(r - WAIT_OBJECT_0);
        if (r < WAIT_OBJECT_0 || at <= 0 || at >= count) {
            return -1;  // the stop signal, or the wait failed
        }
        if (at != watchAt) {
            return of[at] + 1;
        }
        if (WatchFired()) {
            return -1;
        }
    }
}

int WaitForHandle(HANDLE h, unsigned ms) {
    int r = WaitForAny(&h, 1, ms);
    return r > 0 ? 1 : r;
}

int WaitForSocket(uintptr_t s, bool forWrite, unsigned ms) {
    const uint64_t deadline = MonotonicMillis() + ms;
    for (;;) {
        if (ReaderStopRaised() || WatchFired()) {
            return -1;
        }
        DWORD slice = kSliceMs;
        if (ms != kNoTimeLimit) {
            uint64_t now = MonotonicMillis();
            if (now >= deadline) {
                return 0;
            }
            if (deadline - now < slice) {
                slice = static_cast<DWORD>(deadline - now);
            }
        }
        fd_set ready;
        fd_set failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(static_cast<SOCKET>(s), &ready);
        FD_SET(static_cast<SOCKET>(s), &failed);
        timeval tv = {0, static_cast<long>(slice) * 1000};
        int r = select(0, forWrite ? NULL : &ready, forWrite ? &ready : NULL, &failed, &tv);
        if (r == SOCKET_ERROR) {
            return -1;
        }
        if (r > 0) {
            return FD_ISSET(static_cast<SOCKET>(s), &failed) ? -2 : 1;
        }
    }
}

Waitable MakeSignal() {
    return CreateEventA(NULL, TRUE, FALSE, NULL);
}

void RaiseSignal(Waitable s) {
    SetEvent(s);
}

void ClearSignal(Waitable s) {
    ResetEvent(s);
}

void FreeSignal(Waitable s) {
    if (s != NULL) {
        CloseHandle(s);
    }
}

int StartThread(const char*, void (*body)(void*), void* arg, ThreadId* id) {
    ThreadStart* start = new (std::nothrow) ThreadStart{body, arg};
    HANDLE thread = start != nullptr ? CreateThread(NULL, 0, RunThread, start, 0, NULL) : NULL;
    if (thread == NULL) {
        delete start;
        return 0;
    }
    if (id != nullptr) {
        *id = reinterpret_cast<ThreadId>(thread);
    } else {
        CloseHandle(thread);
    }
    return 1;
}

void JoinThread(ThreadId id) {
    HANDLE thread = reinterpret_cast<HANDLE>(id);
    for (;;) {
        DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE);
        if (r != WAIT_OBJECT_0 + 1) {
            break;  // ended (or the wait itself failed)
        }
        MSG msg;
        PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    CloseHandle(thread);
}

void TakeLock(Lock* lock) {
    AcquireSRWLockExclusive(&lock->word);
}

void DropLock(Lock* lock) {
    ReleaseSRWLockExclusive(&lock->word);
}
