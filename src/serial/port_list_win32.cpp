// The COM ports of a Windows PC beyond COM1: to COM4:, as the system lists them
// (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM), in the order of their numbers. And the port names of
// Windows: COM1 to COM256, above COM4 opened as \\.\COM<n>.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "serial/port_names.h"
#include "serial/serial_port.h"

extern const int kHighestComPort = 256;
extern const int kPathsArePorts = 0;

void ComDevice(int n, char* device, size_t size) {
    snprintf(device, size, n <= kComPorts ? "COM%d:" : "\\\\.\\COM%d", n);
}

namespace {

// Most ports listed; the port list holds 32 with COM1: to COM4:.
constexpr int kMostPorts = 64;

}  // namespace

int ListSerialPorts(void (*found)(const char* label, const char* device, void* context),
                    void* context) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return 0;
    }
    int numbers[kMostPorts];
    int count = 0;
    for (DWORD i = 0; count < kMostPorts; ++i) {
        char name[256];
        char data[32];
        DWORD nameSize = sizeof name;
        DWORD dataSize = sizeof data - 1;
        DWORD type;
        LONG r = RegEnumValueA(key, i, name, &nameSize, NULL, &type, reinterpret_cast<BYTE*>(data),
                               &dataSize);
        if (r == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (r != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        data[dataSize] = '\0';
        int n = ComNumber(data);
        n = n > 4 && n <= kHighestComPort ? n : 0;
        bool seen = false;
        for (int k = 0; k < count; ++k) {
            seen = seen || numbers[k] == n;
        }
        if (n > 0 && !seen) {
            numbers[count++] = n;
        }
    }
    RegCloseKey(key);
    qsort(numbers, count, sizeof numbers[0],
          [](const void* a, const void* b) { return *(const int*)a - *(const int*)b; });
    for (int k = 0; k < count; ++k) {
        char label[24];
        char device[sizeof label];
        ComLabel(numbers[k], label, sizeof label);
        ComDevice(numbers[k], device, sizeof device);
        found(label, device, context);
    }
    return count;
}
