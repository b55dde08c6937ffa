// POSIX-only access to the reader stop signal, for the serial port's wait.
#pragma once

// A descriptor that polls readable while the reader stop signal is raised.
int ReaderStopFd();
