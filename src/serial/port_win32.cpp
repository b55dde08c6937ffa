// The serial port on Win32: the open COM port, its speed and state, the reader thread that serves
// it, and the port side of the core (WritePort, PauseReader), all through overlapped transfers.
#include "serial/port_win32.h"

#include <windows.h>

#include "frame/port_seam.h"
#include "link/frame_assembly.h"
#include "serial/line_win32.h"
#include "serial/serial_port.h"
#include "wait/stop_signal.h"

namespace {

struct SerialPort {
    HANDLE port;     // the open port, or INVALID_HANDLE_VALUE
    unsigned speed;  // remembered while no port is open
    HANDLE reader;   // the reader thread of the open port, or NULL
    int state;       // the PortStateCode of the port last asked for
};

SerialPort g_port = {INVALID_HANDLE_VALUE, 9600, NULL, kPortClosed};

// Reads into `in`, or writes from `out` when `in` is null, `n` bytes on the open port as one
// overlapped transfer, and waits for its end unless the stop signal comes first (it is then
// cancelled and collected before returning, so its buffer is free). Returns the byte count done, 0
// when it failed or was cancelled.
DWORD Transfer(uint8_t* in, const uint8_t* out, DWORD n) {
    if (g_port.port == INVALID_HANDLE_VALUE) {
        return 0;
    }
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (ov.hEvent == NULL) {
        return 0;
    }
    DWORD done = 0;
    if (!(in != NULL ? ReadFile(g_port.port, in, n, &done, &ov)
                     : WriteFile(g_port.port, out, n, &done, &ov))) {
        if (GetLastError() != ERROR_IO_PENDING) {
            done = 0;
        } else if (WaitForHandle(ov.hEvent, kNoTimeLimit) == 1) {
            done = GetOverlappedResult(g_port.port, &ov, &done, FALSE) ? done : 0;
        } else {
            CancelIo(g_port.port);
            GetOverlappedResult(g_port.port, &ov, &done, TRUE);
            done = 0;
        }
    }
    CloseHandle(ov.hEvent);
    return done;
}

}  // namespace

int OpenPortDevice(const char* device) {
    if (g_port.port != INVALID_HANDLE_VALUE) {
        ClosePort();  // the window always closes first; never leak the old port
    }
    HANDLE port = OpenComPort(device, &g_port.state);
    if (port == INVALID_HANDLE_VALUE) {
        return 0;
    }
    g_port.port = port;
    SetBaudRate(g_port.speed);
    // Bytes of a frame that the previous port left half received are dropped: a frame built from
    // two devices' bytes is meaningless.
    ResetReceiveBuffer();
    ClearReaderStop();
    g_port.reader = CreateThread(NULL, 0, ReaderThread, port, 0, NULL);
    return 1;
}

void ClosePort() {
    if (g_port.port == INVALID_HANDLE_VALUE) {
        return;
    }
    if (g_port.reader != NULL) {
        RaiseReaderStop();
        // The reader may be reading the log field or raising its message box over the dialog,
        // both of which wait for this thread: its sent messages are served meanwhile.
        AwaitThreadEnd(g_port.reader);
        CloseHandle(g_port.reader);
        g_port.reader = NULL;
    }
    CloseComPort(g_port.port);
    g_port.port = INVALID_HANDLE_VALUE;
    g_port.state = kPortClosed;
}

int PortState() {
    return g_port.state;
}

void SetBaudRate(unsigned speed) {
    g_port.speed = speed;
    if (g_port.port != INVALID_HANDLE_VALUE) {
        ConfigureComPort(g_port.port, speed);
    }
}

void WritePort(const uint8_t* bytes, size_t n) {
    Transfer(NULL, bytes, static_cast<DWORD>(n));  // the outcome is not examined
}

size_t ReadPort(uint8_t* buffer, size_t max) {
    return Transfer(buffer, NULL, static_cast<DWORD>(max));
}

int PauseReader(unsigned ms) {
    return WaitForReaderStop(ms) ? 0 : 1;
}
