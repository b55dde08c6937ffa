// Port names on Windows: COM1 to COM256; above COM4 the device is opened as \\.\COM<n>.
#include <cstdio>

#include "serial/port_names.h"
#include "serial/serial_port.h"

int NamedPort(const char* name, char* label, char* device, size_t size) {
    int n = ComNumber(name);
    if (n < 1 || n > 256) {
        return 0;
    }
    snprintf(label, size, "COM%d:", n);
    if (n <= 4) {
        FixedPortDevice(n, device, size);
    } else {
        snprintf(device, size, "\\\\.\\COM%d", n);
    }
    return 1;
}
