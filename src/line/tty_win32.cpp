// The COM port as a kind of line on Windows: opened for overlapped transfers and for this program
// alone, each read, write and event wait an overlapped transfer that also watches the stop signal.
// A COM port whose device went away (a USB adapter pulled) is looked for every second and whenever
// a COM port arrives.
#include <new>

#include "line/line.h"
#include "line/line_state.h"

namespace {

// The port events the reader waits for.
constexpr DWORD kPortEvents = EV_RXCHAR | EV_ERR;

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// Longest wait for a woken event wait to complete before its block is left to the port's close.
constexpr DWORD kWakeGraceMs = 2000;

// Pause after an event wait that failed at once, so a port whose every call fails does not spin.
constexpr DWORD kRetryPauseMs = 10;

// Signalled (auto-reset) when a COM port arrives.
HANDLE g_arrival = CreateEventA(NULL, FALSE, FALSE, NULL);

HANDLE PortOf(LineHandle line) {
    return reinterpret_cast<HANDLE>(line);
}

// Returns 1 when `error`, from a wait or a transfer on the port, means that its device went away
// (a USB serial adapter pulled), unless the stop signal is raised; 0 otherwise.
int DeviceGone(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_NOT_READY:  // Wine's word for a Linux device that went away
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_DEVICE_REMOVED:
        case ERROR_OPERATION_ABORTED:
            return ReaderStopRaised() ? 0 : 1;
        default:
            return 0;
    }
}

// Reads into `in`, or writes from `out` when `in` is null, `n` bytes on `port` as one overlapped
// transfer, and waits for its end unless the stop signal comes first (it is then cancelled and
// collected before returning, so its buffer is free). Returns the byte count done, 0 when it failed
// or was cancelled, with the error in `error` (0: none).
DWORD Transfer(HANDLE port, uint8_t* in, const uint8_t* out, DWORD n, DWORD* error) {
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    *error = 0;
    if (ov.hEvent == NULL) {
        return 0;
    }
    DWORD done = 0;
    if (!(in != NULL ? ReadFile(port, in, n, &done, &ov) : WriteFile(port, out, n, &done, &ov))) {
        *error = GetLastError();
        if (*error != ERROR_IO_PENDING) {
            done = 0;
        } else if (WaitForHandle(ov.hEvent, kNoTimeLimit) == 1) {
            *error = GetOverlappedResult(port, &ov, &done, FALSE) ? 0 : GetLastError();
            done = *error == 0 ? done : 0;
        } else {
            CancelIo(port);
            GetOverlappedResult(port, &ov, &done, TRUE);
            done = 0;
            *error = 0;  // stopped: no failure of the port
        }
    }
    CloseHandle(ov.hEvent);
    return done;
}

// Sets `port` to 8N1 at `speed` bit/s, binary, without flow control, DTR and RTS on. A failure is
// not reported.
void ConfigureComPort(LineHandle line, unsigned speed) {
    DCB dcb;
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(PortOf(line), &dcb)) {
        return;
    }
    dcb.BaudRate = speed;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = dcb.fParity = dcb.fTXContinueOnXoff = 1;
    // No flow control of either kind, DTR and RTS held on, nothing replaced or aborted.
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fDsrSensitivity = dcb.fOutX = dcb.fInX = 0;
    dcb.fErrorChar = dcb.fNull = dcb.fAbortOnError = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.XonLim = dcb.XoffLim = 100;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.EvtChar = 0;
    SetCommState(PortOf(line), &dcb);
}

// Opens the COM port `name` for overlapped transfers and for this program alone, with its event
// mask set, its buffers purged, reads that return at once what has arrived and writes limited to
// one second.
LineHandle OpenComPort(const char* name, int* state, char*) {
    HANDLE port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, NULL);
    if (port == INVALID_HANDLE_VALUE) {
        // Windows refuses a port that another program holds as access denied.
        DWORD error = GetLastError();
        *state = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? kPortBusy
                 : error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kPortAbsent
                                                                                  : kPortUnusable;
        return kNoLine;
    }
    // A name that opens something other than a serial port (Wine opens a COM port whose device is
    // gone as something else) has no line settings: it is no port.
    DCB dcb;
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) {
        CloseHandle(port);
        *state = kPortUnusable;
        return kNoLine;
    }
    *state = kPortOpen;
    SetCommMask(port, kPortEvents);
    PurgeComm(port, kPurgeAll);
    COMMTIMEOUTS timeouts;
    GetCommTimeouts(port, &timeouts);
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = kWriteLimitMs;
    SetCommTimeouts(port, &timeouts);
    return reinterpret_cast<LineHandle>(port);
}

// Ends the transfers pending on the port, drops what it holds unsent and unread, and closes it.
void CloseComPort(LineHandle line, bool) {
    PurgeComm(PortOf(line), kPurgeAll);
    CloseHandle(PortOf(line));
}

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
    if (wait != NULL) {
        wait->ov.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    }
    if (wait == NULL || wait->ov.hEvent == NULL) {
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

// Waits for the port's next event, without a limit: the reader is woken by the stop signal alone.
// A line error is cleared, so that reception goes on.
int AwaitComPort(LineHandle line, unsigned) {
    HANDLE port = PortOf(line);
    SetCommMask(port, kPortEvents);
    DWORD error;
    long events = WaitPortEvent(port, &error);
    if (events < 0) {
        return -1;
    }
    if (events & EV_ERR) {
        DWORD errors;
        COMSTAT state;
        ClearCommError(port, &errors, &state);
    }
    return DeviceGone(error) ? -2 : (events & EV_RXCHAR) != 0 ? 1 : 0;
}

int ReadComPort(LineHandle line, uint8_t* bytes, size_t max) {
    DWORD error;
    DWORD n = Transfer(PortOf(line), bytes, NULL, static_cast<DWORD>(max), &error);
    return n > 0 ? static_cast<int>(n) : DeviceGone(error) ? -1 : 0;
}

void WriteComPort(LineHandle line, const uint8_t* bytes, size_t n) {
    DWORD ignored;  // the outcome is not examined
    Transfer(PortOf(line), NULL, bytes, static_cast<DWORD>(n), &ignored);
}

Waitable NoLossWatch(LineHandle) {
    return kNothing;
}

int WatchArrivals(const char*, Waitable* wake) {
    *wake = g_arrival;
    return 0;  // Wine and some drivers send no notification: also looked for every second
}

}  // namespace

const LineKind kTtyLine = {
    .open = OpenComPort,
    .configure = ConfigureComPort,
    .close = CloseComPort,
    .awaitBytes = AwaitComPort,
    .read = ReadComPort,
    .write = WriteComPort,
    .lossWatch = NoLossWatch,
    .lossFired = nullptr,
    .watchReturn = WatchArrivals,
    .drainWatch = [] { return 0; },
    .endWatch = [] {},
    .opensInReader = 0,
    .retryMs = kRetryMs,
};

void LineDeviceArrived() {
    SetEvent(g_arrival);
}
