// Port names on Linux: COM1 to COM4 are /dev/ttyS0 to /dev/ttyS3, and any absolute path is a port.
#include <cstdio>

#include "serial/port_names.h"

extern const int kHighestComPort = 4;
extern const int kPathsArePorts = 1;

void ComDevice(int n, char* device, size_t size) {
    snprintf(device, size, "/dev/ttyS%d", n - 1);
}
