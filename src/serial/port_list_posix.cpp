// The serial ports of a Linux PC beyond COM1: to COM4:: its USB serial ports as libudev finds
// them, each shown by its device's product name and short path and opened through its stable
// /dev/serial/by-id symlink where it has one; then the by-id symlinks udev's database does not
// know. And the port names of Linux: COM1 to COM4 are /dev/ttyS0 to /dev/ttyS3, and any absolute
// path is a port.
#include <libudev.h>
#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "serial/port_names.h"
#include "serial/serial_port.h"

extern const int kHighestComPort = kComPorts;
extern const int kPathsArePorts = 1;

void ComDevice(int n, char* device, size_t size) {
    snprintf(device, size, "/dev/ttyS%d", n - 1);
}

namespace {

constexpr char kById[] = "/dev/serial/by-id/";

struct FoundPort {
    std::string node;    // the device node, as /dev/ttyUSB0
    std::string label;   // "FT232R USB UART (ttyUSB0)"
    std::string device;  // the by-id symlink, or the node
};

// The USB serial ports udev knows, in any order.
void ListUdevPorts(std::vector<FoundPort>* ports) {
    struct udev* udev = udev_new();
    struct udev_enumerate* list = udev != nullptr ? udev_enumerate_new(udev) : nullptr;
    if (list == nullptr || udev_enumerate_add_match_subsystem(list, "tty") < 0 ||
        udev_enumerate_scan_devices(list) < 0) {
        udev_enumerate_unref(list);
        udev_unref(udev);
        return;
    }
    struct udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(list)) {
        struct udev_device* tty =
            udev_device_new_from_syspath(udev, udev_list_entry_get_name(entry));
        const char* node = tty != nullptr ? udev_device_get_devnode(tty) : nullptr;
        struct udev_device* usb = node != nullptr ? udev_device_get_parent_with_subsystem_devtype(
                                                        tty, "usb", "usb_device")
                                                  : nullptr;
        if (usb != nullptr) {
            const char* product = udev_device_get_sysattr_value(usb, "product");
            const char* name = strrchr(node, '/') + 1;
            FoundPort port = {
                node, std::string(product ? product : "USB serial port") + " (" + name + ")", node};
            struct udev_list_entry* link;
            udev_list_entry_foreach(link, udev_device_get_devlinks_list_entry(tty)) {
                const char* path = udev_list_entry_get_name(link);
                if (strncmp(path, kById, sizeof kById - 1) == 0) {
                    port.device = path;
                    break;
                }
            }
            ports->push_back(port);
        }
        udev_device_unref(tty);
    }
    udev_enumerate_unref(list);
    udev_unref(udev);
}

// The by-id symlinks whose device udev did not report, shown by their names.
void ListLinkedPorts(std::vector<FoundPort>* ports) {
    std::error_code error;
    for (const auto& link : std::filesystem::directory_iterator(kById, error)) {
        char node[PATH_MAX];
        if (realpath(link.path().c_str(), node) == nullptr ||
            std::any_of(ports->begin(), ports->end(),
                        [&](const FoundPort& p) { return p.node == node; })) {
            continue;
        }
        const char* name = strncmp(node, "/dev/", 5) == 0 ? node + 5 : node;
        ports->push_back(
            {node, link.path().filename().string() + " (" + name + ")", link.path().string()});
    }
}

}  // namespace

int ListSerialPorts(void (*found)(const char* label, const char* device, void* context),
                    void* context) {
    std::vector<FoundPort> ports;
    ListUdevPorts(&ports);
    ListLinkedPorts(&ports);
    std::sort(ports.begin(), ports.end(), [](const FoundPort& a, const FoundPort& b) {
        return strverscmp(a.node.c_str(), b.node.c_str()) < 0;
    });
    for (const FoundPort& port : ports) {
        found(port.label.c_str(), port.device.c_str(), context);
    }
    return static_cast<int>(ports.size());
}
