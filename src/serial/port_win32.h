// What the Win32 serial port and its reader thread share (port_win32.cpp, reader_win32.cpp).
#pragma once

#include <windows.h>

// The body of the reader thread, which OpenPortDevice starts on the open COM port `port`
// (reader_win32.cpp).
DWORD WINAPI ReaderThread(LPVOID port);
