// The host lookup, and the addresses of the program's own connections. The platform's lookup cannot
// be interrupted, so it runs on a worker thread of its own. The reader and the worker share one
// record; whichever lets go of it last frees it. A stopped reader simply lets go, and the worker
// cleans up when its lookup ends.
#include "net/net.h"
// inet_pton and the socket address types, the same on both platforms:
#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

struct LookupRecord {
    std::atomic<int> holders;  // the reader and the worker
    std::atomic<int> found;    // 1 when `address` holds the answer; set before `done` is raised
    Waitable done;             // raised once the worker has finished
    char name[kMostNameBytes];
    uint8_t address[4];
};

void LetGo(LookupRecord* record) {
    if (record->holders.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        FreeSignal(record->done);
        delete record;
    }
}

void LookupWorker(void* arg) {
    LookupRecord* record = static_cast<LookupRecord*>(arg);
    if (NetLookUpNow(record->name, record->address)) {
        record->found.store(1, std::memory_order_release);
    }
    RaiseSignal(record->done);
    LetGo(record);
}

}  // namespace

int NetResolveIPv4(const char* name, uint8_t address[4]) {
#if ZUNDREL_CONFINED_NET
    // The confined build (fuzzing) asks no name server: only "localhost" is looked up.
    if (strcmp(name, "localhost") != 0) {
        return 0;
    }
#endif
    size_t length = strlen(name);
    if (ReaderStopRaised() || length >= kMostNameBytes) {
        return 0;
    }
    LookupRecord* record = new (std::nothrow) LookupRecord;
    if (record == nullptr) {
        return 0;
    }
    memcpy(record->name, name, length + 1);
    record->holders.store(2);  // the reader's share and the worker's
    record->found.store(0);
    record->done = MakeSignal();
    if (record->done == kNothing || !StartThread("zundrel-lookup", LookupWorker, record, nullptr)) {
        FreeSignal(record->done);
        delete record;
        return 0;
    }
    // The stop signal comes first: once it is raised the answer is not wanted any more.
    int found = 0;
    if (WaitForAny(&record->done, 1, kNoTimeLimit) > 0 &&
        record->found.load(std::memory_order_acquire)) {
        memcpy(address, record->address, 4);
        found = 1;
    }
    LetGo(record);
    return found;
}

int NetLiteralAddress(const char* host, unsigned port, NetAddress* to) {
    *to = NetAddress{};
    sockaddr_in* v4 = reinterpret_cast<sockaddr_in*>(to->bytes);
    sockaddr_in6* v6 = reinterpret_cast<sockaddr_in6*>(to->bytes);
    static_assert(sizeof to->bytes >= sizeof *v6, "an IPv6 socket address fits");
    if (inet_pton(AF_INET, host, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(port));
        to->size = sizeof *v4;
        return 1;
    }
    if (inet_pton(AF_INET6, host, &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(port));
        to->size = sizeof *v6;
        return 1;
    }
    return 0;
}

int NetFindHost(const char* host, unsigned port, NetAddress* to) {
    if (NetLiteralAddress(host, port, to)) {
        return 1;
    }
    uint8_t address[4];
    char dotted[16];
    if (!NetResolveIPv4(host, address)) {
        return 0;
    }
    snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
    return NetLiteralAddress(dotted, port, to);
}
