// Port names on Windows: COM1 to COM256; above COM4 the device is opened as \\.\COM<n>.
#include <cstdio>

#include "serial/port_names.h"

int NamedPort(const char* name, char* label, char* device, size_t size) {
    int n = ComNumber(name);
    if (n < 1 || n > 256) {
        return 0;
    }
    ComLabel(n, label, size);
    ComDevice(n, device, size);
    return 1;
}

void ComDevice(int n, char* device, size_t size) {
    snprintf(device, size, n <= 4 ? "COM%d:" : "\\\\.\\COM%d", n);
}
