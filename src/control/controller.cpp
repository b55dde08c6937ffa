#include "control/controller.h"

#include <cstdio>
#include <cstring>

#include "front/front_end.h"
#include "line/line.h"
#include "line/line_url.h"
#include "net/net.h"
#include "serial/port_names.h"
#include "serial/serial_port.h"

namespace {

struct PortRow {
    char label[kPortNameBytes];
    char device[kPortNameBytes];
};

// The ports of the port list, item i is row i. Window's thread only.
struct PortTable {
    PortRow rows[kMaxPorts];
    int count;  // 0 until COM1: to COM4: have been filled in
};
PortTable g_ports;

// The item picked, the speed chosen and the state line last shown. Window's thread only.
struct Choice {
    int picked;
    unsigned speed;
    char shown[kStateLineBytes];
};
Choice g_choice = {0, 9600, ""};

bool g_ended;

// Appends a port to `table` unless it is full. Returns its index, or -1.
int AppendPort(PortTable* table, const char* label, const char* device) {
    if (table->count >= kMaxPorts) {
        return -1;
    }
    PortRow& row = table->rows[table->count];
    snprintf(row.label, sizeof row.label, "%s", label);
    snprintf(row.device, sizeof row.device, "%s", device);
    return table->count++;
}

// Returns the index of the row in `table` of the port `label` on `device`: the same device, or the
// same COM number.
// Returns -1 when there is none.
int FindPort(const PortTable& table, const char* label, const char* device) {
    int number = ComNumber(label);
    for (int i = 0; i < table.count; ++i) {
        if (strcmp(table.rows[i].device, device) == 0 ||
            (number != 0 && ComNumber(table.rows[i].label) == number)) {
            return i;
        }
    }
    return -1;
}

// ListSerialPorts' callback: appends to the PortTable `context` a device it does not hold yet.
void AppendFound(const char* label, const char* device, void* context) {
    PortTable* table = static_cast<PortTable*>(context);
    if (FindPort(*table, label, device) < 0) {
        AppendPort(table, label, device);
    }
}

// Returns the index of the row of `port`'s device in `table`. A port the table does not hold is
// put in: a COM port before the first row of a higher number, any other after the rows; when the
// table is full, its last row makes room.
int KeepPort(PortTable* table, const PortRow& port) {
    int at = FindPort(*table, port.label, port.device);
    if (at >= 0) {
        return at;
    }
    int number = ComNumber(port.label);
    for (at = kComPorts;
         at < table->count && (number == 0 || ComNumber(table->rows[at].label) <= number); ++at) {
    }
    table->count -= table->count == kMaxPorts ? 1 : 0;
    at = at < table->count ? at : table->count;
    memmove(&table->rows[at + 1], &table->rows[at], sizeof(PortRow) * (table->count - at));
    table->rows[at] = port;
    ++table->count;
    return at;
}

// Shows `state` with `detail` of the port picked (on the tooltip, and on Linux on stderr) when it
// differs from the state shown last.
void ShowState(int state, const char* detail) {
    char text[kPortNameBytes + kLineDetailBytes];
    PortStateText(state, g_choice.speed, g_ports.rows[g_choice.picked].device, detail, text,
                  sizeof text);
    const char* label = g_ports.rows[g_choice.picked].label;
    char line[sizeof g_choice.shown];
    int named = static_cast<int>(strlen(label));
    named -= named > 0 && label[named - 1] == ':' ? 1 : 0;
    snprintf(line, sizeof line, "%.*s: %s", named, label, text);
    if (strcmp(line, g_choice.shown) != 0) {
        snprintf(g_choice.shown, sizeof g_choice.shown, "%s", line);
        FrontSetPortTip(line);
    }
}

// Shows the state the port picked is in now.
void ShowPortState() {
    char detail[kLineDetailBytes];
    int state = PortState(detail);
    ShowState(state, detail);
}

// What the start opens: COM1: at 9600 bit/s unless preselected (an empty label: COM1:).
struct StartChoice {
    PortRow port;
    unsigned speed;
};
StartChoice g_start = {{"", ""}, 9600};

}  // namespace

void ControlPreselect(const char* label, const char* device, unsigned speed) {
    snprintf(g_start.port.label, sizeof g_start.port.label, "%s", label);
    snprintf(g_start.port.device, sizeof g_start.port.device, "%s", device);
    g_start.speed = speed != 0 ? speed : g_start.speed;
}

void ControlStart() {
    for (int n = 1; n <= kComPorts; ++n) {
        PortRow& row = g_ports.rows[n - 1];
        ComLabel(n, row.label, sizeof row.label);
        ComDevice(n, row.device, sizeof row.device);
    }
    g_ports.count = kComPorts;
    ListSerialPorts(AppendFound, &g_ports);
    int item = g_start.port.label[0] != '\0' ? KeepPort(&g_ports, g_start.port) : 0;
    NetStartup();
    FrontCheckSpeed(g_start.speed);
    for (int i = 0; i < g_ports.count; ++i) {
        FrontAddPortItem(g_ports.rows[i].label);
    }
    g_choice.picked = item;
    g_choice.speed = g_start.speed;
    FrontSelectPortItem(item);
    // The speed first: the port opens at it, and a line that sets a remote port sets it once.
    SetBaudRate(g_start.speed);
    OpenPortDevice(g_ports.rows[item].device);
    ShowPortState();
}

void ControlRefreshPorts() {
    PortTable fresh = {};  // zeroed: rows are compared whole
    for (int i = 0; i < kComPorts; ++i) {
        AppendPort(&fresh, g_ports.rows[i].label, g_ports.rows[i].device);
    }
    ListSerialPorts(AppendFound, &fresh);
    if (IsLineUrl(g_start.port.device)) {
        KeepPort(&fresh, g_start.port);  // a network line named at the start stays listed
    }
    int at = KeepPort(&fresh, g_ports.rows[g_choice.picked]);
    if (at == g_choice.picked && fresh.count == g_ports.count &&
        memcmp(fresh.rows, g_ports.rows, sizeof(PortRow) * fresh.count) == 0) {
        return;
    }
    g_ports = fresh;
    g_choice.picked = at;
    FrontRemovePortItems(kComPorts);
    for (int i = kComPorts; i < g_ports.count; ++i) {
        FrontAddPortItem(g_ports.rows[i].label);
    }
    FrontSelectPortItem(at);
    ShowPortState();
}

void ControlPortStateChanged() {
    int state;
    char detail[kLineDetailBytes];
    while (!g_ended && TakePortStateChange(&state, detail)) {
        ShowState(state, detail);  // each change the reader made, a short-lived one too
    }
}

void ControlDeviceArrived() {
    LineDeviceArrived();
}

void ControlPickPort(int index) {
    if (index < 0 || index >= g_ports.count) {
        return;
    }
    ClosePort();
    FrontDismissErrorBox();
    g_choice.picked = index;
    OpenPortDevice(g_ports.rows[index].device);
    ShowPortState();
}

int ControlPortWaitedFor() {
    int state = PortState(nullptr);
    return !g_ended && state != kPortOpen && state != kPortClosed && state < kPortLost ? 1 : 0;
}

void ControlEverySecond() {
    if (ControlPortWaitedFor()) {
        OpenPortDevice(g_ports.rows[g_choice.picked].device);
        ShowPortState();
    }
}

void ControlSetSpeed(unsigned speed) {
    SetBaudRate(speed);
    g_choice.speed = speed;
    ShowPortState();
}

int ControlEnd() {
    if (g_ended) {
        return 0;
    }
    g_ended = true;
    RaiseReaderStop();
    NetCleanup();
    ClosePort();
    FrontDismissErrorBox();
    return 1;
}
