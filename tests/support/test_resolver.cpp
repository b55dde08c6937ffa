// Stands in for getaddrinfo in the test programs (the definition in the executable takes the place
// of the C library's), so no test lookup of an .invalid name ever reaches a name server.
#include "test_resolver.h"

#include <dlfcn.h>
#include <netdb.h>

#include <condition_variable>
#include <cstring>
#include <mutex>

namespace {
std::mutex g_mutex;
std::condition_variable g_changed;
int g_blocked = 0;
int g_invalidLookups = 0;
bool g_released = false;

bool EndsWith(const char* name, const char* tail) {
    size_t n = strlen(name);
    size_t t = strlen(tail);
    return n >= t && strcmp(name + n - t, tail) == 0;
}
}  // namespace

extern "C" int getaddrinfo(const char* name, const char* service, const struct addrinfo* hints,
                           struct addrinfo** answer) {
    if (name != nullptr && EndsWith(name, ".invalid")) {
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            ++g_invalidLookups;
        }
        if (strcmp(name, kStalledHostName) == 0) {
            std::unique_lock<std::mutex> lock(g_mutex);
            ++g_blocked;
            g_changed.notify_all();
            // Bounded, so a failing test cannot leave a thread behind for ever.
            g_changed.wait_for(lock, std::chrono::seconds(30), [] { return g_released; });
            --g_blocked;
            g_changed.notify_all();
        }
        return EAI_NONAME;
    }
    using Lookup = int (*)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
    static Lookup platform = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "getaddrinfo"));
    if (platform == nullptr) {
        return EAI_FAIL;
    }
    return platform(name, service, hints, answer);
}

bool WaitStalledLookups(int n, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(g_mutex);
    return g_changed.wait_for(lock, timeout, [n] { return g_blocked >= n; });
}

bool ReleaseStalledLookups(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(g_mutex);
    g_released = true;
    g_changed.notify_all();
    return g_changed.wait_for(lock, timeout, [] { return g_blocked == 0; });
}

void ArmStalledLookups() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_released = false;
}

int InvalidLookupCount() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_invalidLookups;
}
