// The port a name on the command line gives: a COM port up to this platform's highest, a device
// path where paths are ports, or a network line (serial/line_url.h).
#include "serial/port_names.h"

#include <cstdio>
#include <cstring>

#include "serial/line_url.h"

int NamedPort(const char* name, char* label, char* device, size_t size) {
    int n = ComNumber(name);
    if (n >= 1 && n <= kHighestComPort) {
        ComLabel(n, label, size);
        ComDevice(n, device, size);
        return 1;
    }
    LineUrl url;
    const char* why;
    if (!(kPathsArePorts && name[0] == '/') && ParseLineUrl(name, &url, &why) <= 0) {
        return 0;
    }
    if (strlen(name) >= size) {
        return -1;
    }
    snprintf(label, size, "%s", name);
    snprintf(device, size, "%s", name);
    return 1;
}
