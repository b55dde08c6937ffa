// Port names on Linux: COM1 to COM4 are /dev/ttyS0 to /dev/ttyS3; any absolute path is a port, and
// so is a network line (serial/line_url.h).
#include <cstdio>
#include <cstring>

#include "serial/line_url.h"
#include "serial/port_names.h"

int NamedPort(const char* name, char* label, char* device, size_t size) {
    int n = ComNumber(name);
    if (n >= 1 && n <= 4) {
        ComLabel(n, label, size);
        ComDevice(n, device, size);
        return 1;
    }
    LineUrl url;
    const char* why;
    if (name[0] != '/' && ParseLineUrl(name, &url, &why) <= 0) {
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
    snprintf(device, size, "/dev/ttyS%d", n - 1);
}
