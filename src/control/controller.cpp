#include "control/controller.h"

#include <cstdio>
#include <cstring>

#include "serial/serial_port.h"
#include "sockets/net_shim.h"
#include "wait/stop_signal.h"

namespace {

// COM1: to COM4: come first in the port list; their devices depend on the platform.
constexpr int kComPorts = 4;

struct PortRow {
    char label[128];
    char device[128];
};

// The ports of the port list, item i is row i. Window's thread only.
struct PortTable {
    PortRow rows[kMaxPorts];
    int count;  // 0 until COM1: to COM4: have been filled in
};
PortTable g_ports;

bool g_ended;

// What the start selects and opens: COM1: at 9600 bit/s unless preselected.
struct StartChoice {
    int item;
    unsigned speed;
};
StartChoice g_start = {0, 9600};

void FillComPorts() {
    if (g_ports.count > 0) {
        return;
    }
    for (int n = 1; n <= kComPorts; ++n) {
        PortRow& row = g_ports.rows[n - 1];
        snprintf(row.label, sizeof row.label, "COM%d:", n);
        FixedPortDevice(n, row.device, sizeof row.device);
    }
    g_ports.count = kComPorts;
}

}  // namespace

int AddPort(const char* label, const char* device) {
    FillComPorts();
    if (g_ports.count >= kMaxPorts) {
        return -1;
    }
    PortRow& row = g_ports.rows[g_ports.count];
    snprintf(row.label, sizeof row.label, "%s", label);
    snprintf(row.device, sizeof row.device, "%s", device);
    return g_ports.count++;
}

int ControlPreselect(const char* label, const char* device, unsigned speed) {
    FillComPorts();
    g_start.speed = speed != 0 ? speed : g_start.speed;
    if (label[0] == '\0') {
        return g_start.item;
    }
    int item = 0;
    while (item < g_ports.count && strcmp(g_ports.rows[item].label, label) != 0 &&
           strcmp(g_ports.rows[item].device, device) != 0) {
        ++item;
    }
    item = item < g_ports.count ? item : AddPort(label, device);
    g_start.item = item >= 0 ? item : g_start.item;
    return item;
}

void ControlStart() {
    FillComPorts();
    NetStartup();
    ViewCheckSpeed(g_start.speed);
    for (int i = 0; i < g_ports.count; ++i) {
        ViewAddPortItem(g_ports.rows[i].label);
    }
    ViewSelectPortItem(g_start.item);
    OpenPortDevice(g_ports.rows[g_start.item].device);
    SetBaudRate(g_start.speed);
}

void ControlPickPort(int index) {
    if (index < 0 || index >= g_ports.count) {
        return;
    }
    ClosePort();
    PanelDismissErrorBox();
    OpenPortDevice(g_ports.rows[index].device);
}

void ControlSetSpeed(unsigned speed) {
    SetBaudRate(speed);
}

int ControlEnd() {
    if (g_ended) {
        return 0;
    }
    g_ended = true;
    RaiseReaderStop();
    NetCleanup();
    ClosePort();
    PanelDismissErrorBox();
    return 1;
}
