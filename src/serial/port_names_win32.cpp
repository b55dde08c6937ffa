// Port names on Windows: COM1 to COM256, above COM4 opened as \\.\COM<n>.
#include <cstdio>

#include "serial/port_names.h"

extern const int kHighestComPort = 256;
extern const int kPathsArePorts = 0;

void ComDevice(int n, char* device, size_t size) {
    snprintf(device, size, n <= 4 ? "COM%d:" : "\\\\.\\COM%d", n);
}
