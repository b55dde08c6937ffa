#include <systemd/sd-daemon.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "control/controller.h"
#include "ui/headless/service.h"

namespace {

// The status as last told: the port's state line and the sockets open, under `lock` (the main
// thread and the reader tell it).
struct ServiceStatus {
    std::mutex lock;
    bool asked = getenv("NOTIFY_SOCKET") != nullptr;
    char port[kStateLineBytes] = "";
    int sockets = 0;
};
ServiceStatus g_service;

// Tells `first` (a state such as "READY=1\n", or "") and the status. The lock is held.
void Tell(const char* first) {
    char message[kStateLineBytes + 64];
    snprintf(message, sizeof message, "%sSTATUS=%s, %d socket%s open", first, g_service.port,
             g_service.sockets, g_service.sockets == 1 ? "" : "s");
    sd_notify(0, message);
}

}  // namespace

void ServiceReady() {
    std::lock_guard<std::mutex> hold(g_service.lock);
    if (g_service.asked) {
        Tell("READY=1\n");
    }
}

void ServicePortState(const char* line) {
    std::lock_guard<std::mutex> hold(g_service.lock);
    snprintf(g_service.port, sizeof g_service.port, "%s", line);
    if (g_service.asked) {
        Tell("");
    }
}

void ServiceSockets(int open) {
    std::lock_guard<std::mutex> hold(g_service.lock);
    g_service.sockets = open;
    if (g_service.asked) {
        Tell("");
    }
}

void ServiceStopping() {
    std::lock_guard<std::mutex> hold(g_service.lock);
    if (g_service.asked) {
        sd_notify(0, "STOPPING=1");
    }
}
