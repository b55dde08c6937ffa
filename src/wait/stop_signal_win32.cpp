// The stop signal on Win32: a manual-reset event. The timed waits are WaitForMultipleObjects on a
// handle and the event, and for sockets, which are not waitable handles under WinSock 1.1, short
// select() waits with the signal checked between them.
#include <winsock2.h>
//
#include <windows.h>

#include "wait/stop_signal.h"

namespace {

// The stop signal, made on first use.
HANDLE volatile g_stopEvent = NULL;

// Longest single select() wait; between two of them the stop signal is checked.
constexpr DWORD kSliceMs = 50;

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

}  // namespace

void RaiseReaderStop() {
    SetEvent(StopEvent());
}

void ClearReaderStop() {
    ResetEvent(StopEvent());
}

int ReaderStopRaised() {
    return WaitForSingleObject(StopEvent(), 0) == WAIT_OBJECT_0 ? 1 : 0;
}

int WaitForReaderStop(unsigned ms) {
    return WaitForSingleObject(StopEvent(), ms) == WAIT_OBJECT_0 ? 1 : 0;
}

uint64_t MonotonicMillis() {
    return GetTickCount64();
}

int WaitForHandle(HANDLE h, unsigned ms) {
    HANDLE waits[2] = {StopEvent(), h};
    switch (WaitForMultipleObjects(2, waits, FALSE, ms)) {
        case WAIT_OBJECT_0 + 1:
            return 1;
        case WAIT_TIMEOUT:
            return 0;
        default:
            return -1;
    }
}

int WaitForSocket(uintptr_t s, bool forWrite, unsigned ms) {
    const uint64_t deadline = MonotonicMillis() + ms;
    for (;;) {
        if (ReaderStopRaised()) {
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

void AwaitThreadEnd(HANDLE thread) {
    for (;;) {
        DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE);
        if (r != WAIT_OBJECT_0 + 1) {
            return;  // ended (or the wait itself failed)
        }
        MSG msg;
        PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}
