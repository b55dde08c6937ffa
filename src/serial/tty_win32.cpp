// The COM port as the line of the Win32 serial port.
#include "serial/line_win32.h"
#include "serial/serial_port.h"

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

HANDLE OpenComPort(const char* name, int* state) {
    HANDLE port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, NULL);
    if (port == INVALID_HANDLE_VALUE) {
        // Windows refuses a port that another program holds as access denied.
        DWORD error = GetLastError();
        *state = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? kPortBusy
                 : error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kPortAbsent
                                                                                  : kPortUnusable;
        return port;
    }
    // A name that opens something other than a serial port (Wine opens a COM port whose device is
    // gone as something else) has no line settings: it is no port.
    DCB dcb;
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) {
        CloseHandle(port);
        *state = kPortUnusable;
        return INVALID_HANDLE_VALUE;
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
    timeouts.WriteTotalTimeoutConstant = 1000;
    SetCommTimeouts(port, &timeouts);
    return port;
}

void ConfigureComPort(HANDLE port, unsigned speed) {
    DCB dcb;
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) {
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
    SetCommState(port, &dcb);  // a failure is not reported
}

void CloseComPort(HANDLE port) {
    PurgeComm(port, kPurgeAll);
    CloseHandle(port);
}
