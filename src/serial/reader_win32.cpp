// The reader thread of the Win32 serial port: it waits for the events of the COM port, or for the
// bytes of a network line, and feeds what arrives to the frame assembly. When the port's device
// goes away (a USB adapter pulled) or the line drops, it closes the port at once and sleeps until
// the port opens again. Every wait also watches the reader stop signal, so ClosePort ends the
// thread where it waits instead of killing it.
#include <new>

#include "link/frame_assembly.h"
#include "serial/line_win32.h"
#include "serial/port_win32.h"
#include "serial/serial_port.h"
#include "wait/stop_signal.h"

namespace {

// Longest wait for a woken event wait to complete before its block is left to the port's close.
constexpr DWORD kWakeGraceMs = 2000;

// Pause after an event wait that failed at once, so a port whose every call fails does not spin.
constexpr DWORD kRetryPauseMs = 10;

// While the port is lost, it is tried again this often, and at once when a COM port arrives (Wine
// and some drivers send no notification).
constexpr DWORD kLostRetryMs = 1000;

// One port event wait. Kept on the heap: a wait that does not complete after being woken is left
// here for the port's close to complete, instead of pointing into the stack of an ended thread.
struct CommWait {
    OVERLAPPED ov;
    DWORD mask;
};

// Waits for the next event of `port`. Returns the events reported (0 when none or the wait
// failed, with its error in `error`), or -1 when the stop signal ends the wait.
long WaitPortEvent(HANDLE port, DWORD* error) {
    *error = 0;
    CommWait* wait = new (std::nothrow) CommWait();
    if (wait == NULL) {
        return WaitForReaderStop(kRetryPauseMs) ? -1 : 0;
    }
    wait->ov.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (wait->ov.hEvent == NULL) {
        delete wait;
        return WaitForReaderStop(kRetryPauseMs) ? -1 : 0;
    }
    wait->mask = 0;
    if (!WaitCommEvent(port, &wait->mask, &wait->ov)) {
        if (GetLastError() != ERROR_IO_PENDING) {
            *error = GetLastError();
            CloseHandle(wait->ov.hEvent);
            delete wait;
            return WaitForReaderStop(kRetryPauseMs) ? -1 : 0;
        }
        if (WaitForHandle(wait->ov.hEvent, kNoTimeLimit) != 1) {
            // Clearing the event mask wakes the pending wait (it completes with error 995).
            SetCommMask(port, 0);
            if (WaitForSingleObject(wait->ov.hEvent, kWakeGraceMs) == WAIT_OBJECT_0) {
                CloseHandle(wait->ov.hEvent);
                delete wait;
            }
            return -1;
        }
        DWORD ignored;
        if (!GetOverlappedResult(port, &wait->ov, &ignored, FALSE)) {
            *error = GetLastError();
            wait->mask = 0;
        }
    }
    long events = static_cast<long>(wait->mask);
    CloseHandle(wait->ov.hEvent);
    delete wait;
    return events;
}

// The port's device has gone away: closes the port at once and sleeps until it opens again, tried
// every second and whenever a COM port arrives. Returns the reopened port, or
// INVALID_HANDLE_VALUE when the stop signal came first.
HANDLE AwaitReturn() {
    LosePort();
    HANDLE port = INVALID_HANDLE_VALUE;
    HANDLE arrival = ArrivalEvent();
    while (port == INVALID_HANDLE_VALUE &&
           (arrival != NULL ? WaitForHandle(arrival, kLostRetryMs) >= 0
                            : !WaitForReaderStop(kLostRetryMs))) {
        port = RetakePort();
    }
    return port;
}

// Makes the network line `name`'s connection, tried again every second (a listen:// line: when
// someone connects) until it is made. Until the line's first connection (`first`), the program is
// told why it is not made yet; after it, the line stays lost. A line lost before it gave a byte
// (`waitFirst`) is tried again only after a wait, never in a loop. Returns the socket, now the
// port's, or kNoLine when the stop signal came first.
uintptr_t AwaitLine(const char* name, bool first, bool waitFirst) {
    for (bool look = !waitFirst;; look = true) {
        int state = PortState();
        uintptr_t line = look ? OpenNetLine(name, &state) : kNoLine;
        if (ReaderStopRaised()) {
            if (line != kNoLine) {
                CloseNetLine(line);
            }
            return kNoLine;
        }
        if (line != kNoLine || (first && state != PortState())) {
            SetLine(line, state);
        }
        if (line != kNoLine) {
            return line;
        }
        if (!AwaitNetTry(kLostRetryMs)) {
            return kNoLine;
        }
    }
}

}  // namespace

// It purges nothing: the port was purged once at open, and what the device sent since then is its
// first request.
DWORD WINAPI ReaderThread(LPVOID open) {
    HANDLE port = open;
    while (!ReaderStopRaised()) {
        SetCommMask(port, kPortEvents);
        DWORD error;
        long events = WaitPortEvent(port, &error);
        if (events < 0) {
            break;
        }
        if (events & EV_ERR) {
            DWORD errors;
            COMSTAT state;
            ClearCommError(port, &errors, &state);
        }
        if (events & EV_RXCHAR) {
            uint8_t buffer[256];
            size_t n = ReadPort(buffer, sizeof buffer, &error);
            if (n > 0) {
                FeedReceivedBytes(buffer, n);
            }
        }
        if (DeviceGone(error) && (port = AwaitReturn()) == INVALID_HANDLE_VALUE) {
            break;
        }
    }
    return 0;
}

DWORD WINAPI LineReaderThread(LPVOID name) {
    uintptr_t line = AwaitLine(static_cast<const char*>(name), true, false);
    bool heard = true;  // the line has given bytes since it was last connected
    while (line != kNoLine) {
        int ready = WaitForSocket(line, false, kNoTimeLimit);
        uint8_t buffer[256];
        int n = ready == 1 ? ReadNetLine(line, buffer, sizeof buffer) : -1;
        if (ReaderStopRaised()) {
            break;
        }
        if (n > 0) {
            heard = true;
            FeedReceivedBytes(buffer, static_cast<size_t>(n));
        } else if (n < 0) {  // closed by the other end, failed, or an error condition
            SetLine(kNoLine, kPortLost);
            line = AwaitLine(static_cast<const char*>(name), false, !heard);
            heard = false;
        }
    }
    EndNetListen();
    return 0;
}
