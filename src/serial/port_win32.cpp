// The serial port on Win32: the open COM port, its speed and state, the reader thread that serves
// it, the port's loss and return, and the port side of the core (WritePort, PauseReader), all
// through overlapped transfers.
#include "serial/port_win32.h"

#include <windows.h>

#include <cstdio>

#include "frame/port_seam.h"
#include "front/front_end.h"
#include "link/frame_assembly.h"
#include "serial/line_win32.h"
#include "serial/serial_port.h"
#include "wait/stop_signal.h"

namespace {

// The one port of the run. `port`, `speed` and `state` change under `lock`: the window's thread
// changes them while no reader runs (and sets the speed at any time), the reader when its port is
// lost or back. `arrival` is signalled when a COM port arrives (PortDeviceArrived).
struct SerialPort {
    SRWLOCK lock;
    HANDLE port;     // the open port, or INVALID_HANDLE_VALUE
    unsigned speed;  // remembered while no port is open
    HANDLE reader;   // the reader thread of the port asked for, or NULL
    int state;       // the PortStateCode of the port last asked for
    char name[128];  // the device of the port last asked for
    HANDLE arrival;
};

SerialPort g_port = {SRWLOCK_INIT, INVALID_HANDLE_VALUE, 9600, NULL, kPortClosed, "", NULL};

// Replaces the open port by `port` (INVALID_HANDLE_VALUE: none) in the state `state`.
void SetPort(HANDLE port, int state) {
    AcquireSRWLockExclusive(&g_port.lock);
    g_port.port = port;
    g_port.state = state;
    if (port != INVALID_HANDLE_VALUE) {
        ConfigureComPort(port, g_port.speed);
    }
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
    SetPort(INVALID_HANDLE_VALUE, kPortLost);
    CloseComPort(port);
    FrontPortStateChanged();
}

HANDLE RetakePort() {
    int state;
    HANDLE port = OpenComPort(g_port.name, &state);
    if (port != INVALID_HANDLE_VALUE) {
        SetPort(port, kPortOpen);
        ResetReceiveBuffer();  // as after a port switch
        FrontPortStateChanged();
    }
    return port;
}

HANDLE ArrivalEvent() {
    return g_port.arrival;
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
    int state;
    HANDLE port = OpenComPort(device, &state);
    SetPort(port, state);
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
    if (g_port.port == INVALID_HANDLE_VALUE && g_port.reader == NULL) {
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
    SetPort(INVALID_HANDLE_VALUE, kPortClosed);
    if (port != INVALID_HANDLE_VALUE) {
        CloseComPort(port);
    }
}

int PortState() {
    return g_port.state;
}

void SetBaudRate(unsigned speed) {
    AcquireSRWLockExclusive(&g_port.lock);
    g_port.speed = speed;
    if (g_port.port != INVALID_HANDLE_VALUE) {
        ConfigureComPort(g_port.port, speed);
    }
    ReleaseSRWLockExclusive(&g_port.lock);
}

void WritePort(const uint8_t* bytes, size_t n) {
    DWORD ignored;
    Transfer(NULL, bytes, static_cast<DWORD>(n), &ignored);  // the outcome is not examined
}

int PauseReader(unsigned ms) {
    return WaitForReaderStop(ms) ? 0 : 1;
}
