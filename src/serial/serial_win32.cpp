// The serial port on Win32: an overlapped COM port and the reader thread that feeds the frame
// assembly. Every wait of the reader thread also watches the reader stop signal, so ClosePort ends
// the thread where it waits instead of killing it.
#include <windows.h>

#include <cstdio>
#include <new>

#include "frame/port_seam.h"
#include "link/frame_assembly.h"
#include "serial/serial_port.h"
#include "wait/stop_signal.h"

namespace {

struct SerialLink {
    HANDLE port;     // the open port, or INVALID_HANDLE_VALUE
    unsigned speed;  // remembered while no port is open
    HANDLE reader;   // the reader thread of the open port, or NULL
    int state;       // the PortStateCode of the port last asked for
};

SerialLink g_serial = {INVALID_HANDLE_VALUE, 9600, NULL, kPortClosed};

constexpr DWORD kPortEvents = EV_RXCHAR | EV_ERR;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// Longest wait for a woken event wait to complete before its block is left to the port's close.
constexpr DWORD kWakeGraceMs = 2000;

// Pause after an event wait that failed at once, so a port whose every call fails does not spin.
constexpr DWORD kRetryPauseMs = 10;

// Completes the overlapped transfer `ov` started on the port by this thread. Returns 1 with the
// byte count in `done` when it finished, 0 when it failed or the stop signal came first (the
// transfer is then cancelled and collected before returning, so `ov` and the buffer are free).
int FinishTransfer(OVERLAPPED* ov, DWORD* done) {
    if (WaitForHandle(ov->hEvent, kNoTimeLimit) == 1) {
        return GetOverlappedResult(g_serial.port, ov, done, FALSE) ? 1 : 0;
    }
    CancelIo(g_serial.port);
    GetOverlappedResult(g_serial.port, ov, done, TRUE);
    return 0;
}

// One port event wait. Kept on the heap: a wait that does not complete after being woken is left
// here for the port's close to complete, instead of pointing into the stack of an ended thread.
struct CommWait {
    OVERLAPPED ov;
    DWORD mask;
};

// Waits for the next port event. Returns the events reported (0 when none or the wait failed),
// or -1 when the stop signal ends the wait.
long WaitPortEvent() {
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
    if (!WaitCommEvent(g_serial.port, &wait->mask, &wait->ov)) {
        if (GetLastError() != ERROR_IO_PENDING) {
            CloseHandle(wait->ov.hEvent);
            delete wait;
            return WaitForReaderStop(kRetryPauseMs) ? -1 : 0;
        }
        if (WaitForHandle(wait->ov.hEvent, kNoTimeLimit) != 1) {
            // Clearing the event mask wakes the pending wait (it completes with error 995).
            SetCommMask(g_serial.port, 0);
            if (WaitForSingleObject(wait->ov.hEvent, kWakeGraceMs) == WAIT_OBJECT_0) {
                CloseHandle(wait->ov.hEvent);
                delete wait;
            }
            return -1;
        }
        DWORD ignored;
        GetOverlappedResult(g_serial.port, &wait->ov, &ignored, FALSE);  // woken or done: done
    }
    long events = static_cast<long>(wait->mask);
    CloseHandle(wait->ov.hEvent);
    delete wait;
    return events;
}

// The body of the reader thread. It purges nothing: the port was purged once at open, and what the
// device sent since then is its first request.
DWORD WINAPI ReaderThread(LPVOID) {
    while (!ReaderStopRaised()) {
        SetCommMask(g_serial.port, kPortEvents);
        long events = WaitPortEvent();
        if (events < 0) {
            break;
        }
        if (events & EV_ERR) {
            DWORD errors;
            COMSTAT state;
            ClearCommError(g_serial.port, &errors, &state);
        }
        if (events & EV_RXCHAR) {
            uint8_t buffer[256];
            size_t n = ReadPort(buffer, sizeof buffer);
            if (n > 0) {
                FeedReceivedBytes(buffer, n);
            }
        }
    }
    return 0;
}

}  // namespace

int OpenPortDevice(const char* device) {
    if (g_serial.port != INVALID_HANDLE_VALUE) {
        ClosePort();  // the window always closes first; never leak the old port
    }
    HANDLE port = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, NULL);
    if (port == INVALID_HANDLE_VALUE) {
        // Windows refuses a port that another program holds as access denied.
        DWORD error = GetLastError();
        g_serial.state =
            error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? kPortBusy
            : error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kPortAbsent
                                                                             : kPortUnusable;
        return 0;
    }
    g_serial.state = kPortOpen;
    g_serial.port = port;
    SetCommMask(port, kPortEvents);
    PurgeComm(port, kPurgeAll);
    COMMTIMEOUTS timeouts;
    GetCommTimeouts(port, &timeouts);
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 1000;
    SetCommTimeouts(port, &timeouts);
    SetBaudRate(g_serial.speed);
    // Bytes of a frame that the previous port left half received are dropped: a frame built from
    // two devices' bytes is meaningless.
    ResetReceiveBuffer();
    ClearReaderStop();
    g_serial.reader = CreateThread(NULL, 0, ReaderThread, NULL, 0, NULL);
    return 1;
}

void ClosePort() {
    if (g_serial.port == INVALID_HANDLE_VALUE) {
        return;
    }
    if (g_serial.reader != NULL) {
        RaiseReaderStop();
        // The reader may be reading the log field or raising its message box over the dialog,
        // both of which wait for this thread: its sent messages are served meanwhile.
        AwaitThreadEnd(g_serial.reader);
        CloseHandle(g_serial.reader);
        g_serial.reader = NULL;
    }
    PurgeComm(g_serial.port, kPurgeAll);
    CloseHandle(g_serial.port);
    g_serial.port = INVALID_HANDLE_VALUE;
    g_serial.state = kPortClosed;
}

int PortState() {
    return g_serial.state;
}

void SetBaudRate(unsigned speed) {
    g_serial.speed = speed;
    if (g_serial.port == INVALID_HANDLE_VALUE) {
        return;
    }
    DCB dcb;
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(g_serial.port, &dcb)) {
        return;
    }
    dcb.BaudRate = speed;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fParity = 1;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 1;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = 0;
    dcb.XonLim = 100;
    dcb.XoffLim = 100;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.EvtChar = 0;
    SetCommState(g_serial.port, &dcb);  // a failure is not reported
}

void WritePort(const uint8_t* bytes, size_t n) {
    if (g_serial.port == INVALID_HANDLE_VALUE) {
        return;
    }
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (ov.hEvent == NULL) {
        return;
    }
    DWORD written = 0;
    if (!WriteFile(g_serial.port, bytes, static_cast<DWORD>(n), &written, &ov) &&
        GetLastError() == ERROR_IO_PENDING) {
        FinishTransfer(&ov, &written);  // the outcome is not examined
    }
    CloseHandle(ov.hEvent);
}

size_t ReadPort(uint8_t* buffer, size_t max) {
    if (g_serial.port == INVALID_HANDLE_VALUE) {
        return 0;
    }
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (ov.hEvent == NULL) {
        return 0;
    }
    DWORD got = 0;
    if (!ReadFile(g_serial.port, buffer, static_cast<DWORD>(max), &got, &ov)) {
        if (GetLastError() != ERROR_IO_PENDING || !FinishTransfer(&ov, &got)) {
            got = 0;
        }
    }
    CloseHandle(ov.hEvent);
    return got;
}

int PauseReader(unsigned ms) {
    return WaitForReaderStop(ms) ? 0 : 1;
}
