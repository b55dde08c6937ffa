// The serial port on Win32: the open COM port or network line, its speed and state, the reader
// thread that serves it, the port's loss and return, and the port side of the core (WritePort,
// PauseReader): overlapped transfers on a COM port, the calls of net_line_win32.cpp on a network
// line.
#include "serial/port_win32.h"

#include <windows.h>

#include <cstdio>

#include "frame/port_seam.h"
#include "front/front_end.h"
#include "link/frame_assembly.h"
#include "serial/line_url.h"
#include "serial/line_win32.h"
#include "serial/serial_port.h"
#include "wait/stop_signal.h"

namespace {

// The one port of the run. `port`, `line`, `speed` and `state` change under `lock`: the window's
// thread changes them while no reader runs (and sets the speed at any time), the reader when its
// port is lost or back. `arrival` is signalled when a COM port arrives (PortDeviceArrived).
struct SerialPort {
    SRWLOCK lock;
    HANDLE port;     // the open COM port, or INVALID_HANDLE_VALUE
    uintptr_t line;  // the open network line's socket, or kNoLine
    unsigned speed;  // remembered while no port is open
    HANDLE reader;   // the reader thread of the port asked for, or NULL
    int state;       // the PortStateCode of the port last asked for
    char name[128];  // the device of the port last asked for
    HANDLE arrival;
};

SerialPort g_port = {SRWLOCK_INIT, INVALID_HANDLE_VALUE, kNoLine, 9600,
                     NULL,         kPortClosed,          "",      NULL};

// Sets the open COM port or network line, if any, to the speed chosen. The port's lock is held.
void ApplySpeed() {
    if (g_port.port != INVALID_HANDLE_VALUE) {
        ConfigureComPort(g_port.port, g_port.speed);
    }
    if (g_port.line != kNoLine) {
        ConfigureNetLine(g_port.line, g_port.speed);
    }
}

// Replaces the open port by the COM port `port` or the network line `line` (INVALID_HANDLE_VALUE
// and kNoLine: none) in the state `state`, set to the speed chosen.
void SetPort(HANDLE port, uintptr_t line, int state) {
    AcquireSRWLockExclusive(&g_port.lock);
    g_port.port = port;
    g_port.line = line;
    g_port.state = state;
    ApplySpeed();
    ReleaseSRWLockExclusive(&g_port.lock);
}

// Reads into `in`, or writes from `out` when `in` is null, `n` bytes on the open port as one
// overlapped transfer, and waits for its end unless the stop signal comes first (it is then
// cancelled and collected before returning, so its buffer is free). Reader thread only. Returns
// the byte count done, 0 when it failed or was cancelled, with the error in `error` (0: none).
DWORD Transfer(uint8_t* in, const uint8_t* out, DWORD n, DWORD* error) {
    HANDLE port = g_port.port;  // changed by this thread alone while it runs
    OVERLAPPED ov = {};
    ov.hEvent = port != INVALID_HANDLE_VALUE ? CreateEventA(NULL, TRUE, FALSE, NULL) : NULL;
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

}  // namespace

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

size_t ReadPort(uint8_t* buffer, size_t max, DWORD* error) {
    return Transfer(buffer, NULL, static_cast<DWORD>(max), error);
}

void LosePort() {
    HANDLE port = g_port.port;
    SetPort(INVALID_HANDLE_VALUE, kNoLine, kPortLost);
    CloseComPort(port);
    FrontPortStateChanged();
}

HANDLE RetakePort() {
    int state;
    HANDLE port = OpenComPort(g_port.name, &state);
    if (port != INVALID_HANDLE_VALUE) {
        SetPort(port, kNoLine, kPortOpen);
        ResetReceiveBuffer();  // as after a port switch
        FrontPortStateChanged();
    }
    return port;
}

HANDLE ArrivalEvent() {
    return g_port.arrival;
}

void SetLine(uintptr_t line, int state) {
    uintptr_t had = g_port.line;  // changed by this thread alone while it runs
    SetPort(INVALID_HANDLE_VALUE, line, state);
    if (had != kNoLine) {
        CloseNetLine(had);
    }
    if (line != kNoLine) {
        ResetReceiveBuffer();  // as after a port switch
    }
    FrontPortStateChanged();
}

void PortDeviceArrived() {
    if (g_port.arrival != NULL) {
        SetEvent(g_port.arrival);
    }
}

int OpenPortDevice(const char* device) {
    if (g_port.port != INVALID_HANDLE_VALUE || g_port.reader != NULL) {
        ClosePort();  // the window always closes first; never leak the old port
    }
    if (g_port.arrival == NULL) {
        g_port.arrival = CreateEventA(NULL, FALSE, FALSE, NULL);
    }
    snprintf(g_port.name, sizeof g_port.name, "%s", device);
    LineUrl url;
    const char* why;
    if (ParseLineUrl(device, &url, &why) > 0) {
        // The reader makes the connection: a lookup or a connect may take long.
        SetPort(INVALID_HANDLE_VALUE, kNoLine, kPortConnecting);
        ResetReceiveBuffer();
        ClearReaderStop();
        g_port.reader = CreateThread(NULL, 0, LineReaderThread, g_port.name, 0, NULL);
        if (g_port.reader == NULL) {
            SetPort(INVALID_HANDLE_VALUE, kNoLine, kPortUnusable);
        }
        return g_port.reader != NULL ? 1 : 0;
    }
    int state;
    HANDLE port = OpenComPort(device, &state);
    SetPort(port, kNoLine, state);
    if (port == INVALID_HANDLE_VALUE) {
        return 0;
    }
    // Bytes of a frame that the previous port left half received are dropped: a frame built from
    // two devices' bytes is meaningless.
    ResetReceiveBuffer();
    ClearReaderStop();
    g_port.reader = CreateThread(NULL, 0, ReaderThread, port, 0, NULL);
    return 1;
}

void ClosePort() {
    if (g_port.port == INVALID_HANDLE_VALUE && g_port.line == kNoLine && g_port.reader == NULL) {
        return;
    }
    if (g_port.reader != NULL) {
        RaiseReaderStop();
        // The reader may be raising its message box over the dialog, which waits for this
        // thread: its sent messages are served meanwhile.
        AwaitThreadEnd(g_port.reader);
        CloseHandle(g_port.reader);
        g_port.reader = NULL;
    }
    HANDLE port = g_port.port;  // the reader may have lost it
    uintptr_t line = g_port.line;
    SetPort(INVALID_HANDLE_VALUE, kNoLine, kPortClosed);
    if (port != INVALID_HANDLE_VALUE) {
        CloseComPort(port);
    }
    if (line != kNoLine) {
        CloseNetLine(line);
    }
}

int PortState() {
    return g_port.state;
}

void SetBaudRate(unsigned speed) {
    AcquireSRWLockExclusive(&g_port.lock);
    g_port.speed = speed;
    ApplySpeed();
    ReleaseSRWLockExclusive(&g_port.lock);
}

void WritePort(const uint8_t* bytes, size_t n) {
    // Replies are written by the reader, which alone changes the line while it runs.
    if (g_port.line != kNoLine) {
        WriteNetLine(g_port.line, bytes, n);
        return;
    }
    DWORD ignored;
    Transfer(NULL, bytes, static_cast<DWORD>(n), &ignored);  // the outcome is not examined
}

int PauseReader(unsigned ms) {
    return WaitForReaderStop(ms) ? 0 : 1;
}
