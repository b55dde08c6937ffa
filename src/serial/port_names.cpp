// The port a name on the command line gives: a COM port up to this platform's highest, a device
// path where paths are ports, or a network line (line/line_url.h).
#include "serial/port_names.h"

#include <cstdio>
#include <cstring>

#include "line/line_url.h"

int NamedPort(const char* name, char* label, char* device) {
    int n = ComNumber(name);
    if (n >= 1 && n <= kHighestComPort) {
        ComLabel(n, label, kPortNameBytes);
        ComDevice(n, device, kPortNameBytes);
        return 1;
    }
    LineUrl url;
    const char* why;
    bool path = kPathsArePorts && name[0] == '/';
    if (!path && ParseLineUrl(name, &url, &why) <= 0) {
        return 0;
    }
    if (path && strlen(name) > kMostPathBytes) {
        return -1;
    }
    snprintf(label, kPortNameBytes, "%s", name);
    snprintf(device, kPortNameBytes, "%s", name);
    return 1;
}
