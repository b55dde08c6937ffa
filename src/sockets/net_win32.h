// Win32-only access to the reader stop signal, for the serial port's waits.
#pragma once

#include <windows.h>

// A manual-reset event that is signalled while the reader stop signal is raised.
HANDLE ReaderStopEvent();
