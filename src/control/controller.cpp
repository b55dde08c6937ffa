#include "control/controller.h"

#include <cstdio>

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

void ControlStart() {
    FillComPorts();
    NetStartup();
    ViewCheckSpeed(9600);
    for (int i = 0; i < g_ports.count; ++i) {
        ViewAddPortItem(g_ports.rows[i].label);
    }
    ViewSelectPortItem(0);
    OpenPortDevice(g_ports.rows[0].device);
    SetBaudRate(9600);
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
