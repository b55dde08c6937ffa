// Port names on Windows: COM1 to COM256, above COM4 opened as \\.\COM<n>; and a network line
// (serial/line_url.h), its own label and device.
#include <cstdio>
#include <cstring>

#include "serial/line_url.h"
#include "serial/port_names.h"

int NamedPort(const char* name, char* label, char* device, size_t size) {
    int n = ComNumber(name);
    if (n >= 1 && n <= 256) {
        ComLabel(n, label, size);
        ComDevice(n, device, size);
        return 1;
    }
    LineUrl url;
    const char* why;
    if (ParseLineUrl(name, &url, &why) <= 0) {
        return 0;
    }
    if (strlen(name) >= size) {
        return -1;
    }
    snprintf(label, size, "%s", name);
    snprintf(device, size, "%s", name);
    return 1;
}

void ComDevice(int n, char* device, size_t size) {
    snprintf(device, size, n <= 4 ? "COM%d:" : "\\\\.\\COM%d", n);
}
