#include "ui/gtk/port_discovery.h"

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// Returns n when `name` is `prefix` followed by decimal digits only, otherwise -1.
long PortNumber(const char* name, const char* prefix) {
    size_t len = strlen(prefix);
    if (strncmp(name, prefix, len) != 0 || name[len] == '\0') {
        return -1;
    }
    for (const char* p = name + len; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return -1;
        }
    }
    return strtol(name + len, nullptr, 10);
}

}  // namespace

std::vector<std::string> ListUsbSerialPorts(const char* dir) {
    static const char* const kPrefixes[] = {"ttyUSB", "ttyACM"};
    std::vector<std::string> paths;
    DIR* d = opendir(dir);
    if (d == nullptr) {
        return paths;
    }
    std::vector<std::pair<long, std::string>> found[2];
    while (struct dirent* entry = readdir(d)) {
        for (int k = 0; k < 2; ++k) {
            long n = PortNumber(entry->d_name, kPrefixes[k]);
            if (n >= 0) {
                found[k].emplace_back(n, entry->d_name);
            }
        }
    }
    closedir(d);
    std::string base = dir;
    if (!base.empty() && base.back() != '/') {
        base += '/';
    }
    for (auto& group : found) {
        std::sort(group.begin(), group.end());
        for (auto& [n, name] : group) {
            paths.push_back(base + name);
        }
    }
    return paths;
}
