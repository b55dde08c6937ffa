// Measures, through pseudo-terminals, the figures a user of the link feels:
// - the turnaround of a status request (from the device's last request byte written to its last
//   reply byte read) answered by Zundrel's reader thread, and the same answered by a bare
//   poll/read/write loop;
// - the turnaround of a 127-byte ReceiveBlock whose data already waits in the socket (a TCP server
//   on 127.0.0.1), against the time those bytes take on the line at 38400 bit/s;
// - a port switch (ClosePort, then opening another port) while a connect that is never answered
//   holds the reader;
// - the reader's CPU time and wakeups over 10 idle seconds with the port open.
//   zundrel_bench [requests]   (default 20000)
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device_sim.h"
#include "loopback_server.h"
#include "serial/serial_port.h"
#include "sockets/routes.h"
#include "sockets/socket_slots.h"

using Clock = std::chrono::steady_clock;

namespace {

const Bytes kStatusAnswerPowered = {0x02, 0x00, 0x02, 0x02, 0x02};
constexpr int kWarmUp = 500;

struct Figures {
    double median;
    double p99;
    double max;
};

// Median, 99th percentile and maximum of `samples`.
Figures FiguresOf(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    size_t n = samples.size();
    return {samples[n / 2], samples[std::min(n - 1, n * 99 / 100)], samples[n - 1]};
}

// Sends `count` status requests through `device` and returns the turnaround figures in
// microseconds, or a median of -1 when a reply went wrong.
Figures Measure(DeviceSim& device, int count) {
    std::vector<double> micros;
    micros.reserve(static_cast<size_t>(count));
    for (int i = 0; i < kWarmUp + count; ++i) {
        if (!device.Write(kStatusRequest)) {
            return {-1, -1, -1};
        }
        Clock::time_point written = Clock::now();
        Bytes reply = device.Read(kStatusAnswerPowered.size());
        Clock::time_point read = Clock::now();
        if (reply != kStatusAnswerPowered) {
            return {-1, -1, -1};
        }
        if (i >= kWarmUp) {
            micros.push_back(std::chrono::duration<double, std::micro>(read - written).count());
        }
    }
    return FiguresOf(micros);
}

// The bare responder: a minimal loop on the slave side that answers every four bytes with the
// powered status reply, until the other end hangs up.
void* BareResponder(void* arg) {
    const char* path = static_cast<const char*>(arg);
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    struct termios t;
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, B38400);
    cfsetospeed(&t, B38400);
    tcsetattr(fd, TCSANOW, &t);
    uint8_t buf[256];
    size_t held = 0;
    for (;;) {
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, -1) < 0) {
            continue;
        }
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EAGAIN) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        held += static_cast<size_t>(n);
        while (held >= 4) {
            held -= 4;
            ssize_t w = write(fd, kStatusAnswerPowered.data(), kStatusAnswerPowered.size());
            (void)w;
        }
    }
    close(fd);
    return nullptr;
}

// What /proc says about one thread: CPU time in clock ticks and its context switches.
struct ThreadStats {
    long ticks = -1;  // utime + stime; -1 when the thread was not found
    long voluntary = -1;
    long involuntary = -1;
    clockid_t clock = 0;  // the thread's CPU-time clock
};

// The stats of the thread named `name` in this process.
ThreadStats StatsOfThread(const char* name) {
    ThreadStats stats;
    // By the process id: /proc/self/task does not list the other threads on every kernel.
    std::string tasks = "/proc/" + std::to_string(getpid()) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (dir == nullptr) {
        return stats;
    }
    while (struct dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        std::string base = tasks + "/" + entry->d_name;
        char comm[64] = "";
        if (FILE* f = fopen((base + "/comm").c_str(), "r")) {
            if (fgets(comm, sizeof comm, f) == nullptr) {
                comm[0] = '\0';
            }
            fclose(f);
        }
        comm[strcspn(comm, "\n")] = '\0';
        if (strcmp(comm, name) != 0) {
            continue;
        }
        // The kernel's CPU-time clock of one thread, by its id, as pthread_getcpuclockid makes it.
        stats.clock = static_cast<clockid_t>((~atol(entry->d_name) << 3) | 6);
        char stat[1024] = "";
        if (FILE* f = fopen((base + "/stat").c_str(), "r")) {
            size_t got = fread(stat, 1, sizeof stat - 1, f);
            stat[got] = '\0';
            fclose(f);
        }
        // Fields after the ")" that closes the name: state is field 3, utime 14, stime 15.
        const char* p = strrchr(stat, ')');
        unsigned long utime = 0;
        unsigned long stime = 0;
        if (p != nullptr && sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu",
                                   &utime, &stime) == 2) {
            stats.ticks = static_cast<long>(utime + stime);
        }
        if (FILE* f = fopen((base + "/status").c_str(), "r")) {
            char line[256];
            while (fgets(line, sizeof line, f) != nullptr) {
                sscanf(line, "voluntary_ctxt_switches: %ld", &stats.voluntary);
                sscanf(line, "nonvoluntary_ctxt_switches: %ld", &stats.involuntary);
            }
            fclose(f);
        }
        break;
    }
    closedir(dir);
    return stats;
}

long long CpuNanos(clockid_t clock) {
    struct timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

// Sends `count` requests for a 127-byte block on `slot`, each after the server's 127 bytes have
// arrived in the slot's socket, and returns the turnaround figures in microseconds (median -1 when
// a reply went wrong).
Figures MeasureReceiveBlock(DeviceSim& device, LoopbackServer& server, uint8_t slot, int count) {
    const Bytes request = RequestFrame(0x11, 0x0F, {slot, 127});
    Bytes data(127);
    Bytes expected = {0x11, 0x00, 130, 0x0F, slot, 127};
    std::vector<double> micros;
    for (int i = 0; i < count; ++i) {
        for (size_t k = 0; k < data.size(); ++k) {
            data[k] = static_cast<uint8_t>(i + k);
        }
        expected.resize(6);
        expected.insert(expected.end(), data.begin(), data.end());
        server.Send(data);
        // The data must be waiting before the request goes out. The reader is idle now, so
        // looking at its socket from here disturbs nothing.
        int waiting = 0;
        for (int spins = 0; waiting < 127 && spins < 1000000; ++spins) {
            ioctl(static_cast<int>(SlotSocket(static_cast<int8_t>(slot))), FIONREAD, &waiting);
        }
        if (!device.Write(request)) {
            return {-1, -1, -1};
        }
        Clock::time_point written = Clock::now();
        Bytes reply = device.Read(expected.size());
        Clock::time_point read = Clock::now();
        if (reply != expected) {
            return {-1, -1, -1};
        }
        micros.push_back(std::chrono::duration<double, std::micro>(read - written).count());
    }
    return FiguresOf(micros);
}

// Switches the port `count` times between `a` and `b`, each time while the reader waits in a
// connect to `listener` that is never answered: ClosePort plus opening the other port, in
// milliseconds. The device closes the socket from the new port. Median -1 when something failed.
Figures MeasurePortSwitch(DeviceSim* ends[2], StalledListener& listener, int count) {
    std::vector<double> millis;
    int at = 0;
    for (int i = 0; i < count; ++i) {
        DeviceSim& device = *ends[at];
        Bytes opened = device.Exchange(RequestFrame(0x11, 0x01));
        if (opened.size() != 5 || opened[4] > 7) {
            return {-1, -1, -1};
        }
        uint8_t slot = opened[4];
        Bytes connect = {slot};
        Bytes block = LoopbackAddressBlock(listener.Port());
        connect.insert(connect.end(), block.begin(), block.end());
        int pending = PendingConnectsTo(listener.Port());
        if (!device.Write(RequestFrame(0x11, 0x03, connect))) {
            return {-1, -1, -1};
        }
        Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
        while (PendingConnectsTo(listener.Port()) <= pending && Clock::now() < deadline) {
            usleep(1000);
        }
        at = 1 - at;
        Clock::time_point start = Clock::now();
        ClosePort();
        int reopened = OpenPortDevice(ends[at]->SlavePath().c_str());
        Clock::time_point done = Clock::now();
        if (reopened != 1 || ends[at]->Exchange(RequestFrame(0x11, 0x07, {slot})) !=
                                 Bytes{0x11, 0x00, 0x03, 0x07, slot, 0x01}) {
            return {-1, -1, -1};
        }
        millis.push_back(std::chrono::duration<double, std::milli>(done - start).count());
    }
    return FiguresOf(millis);
}

// Open descriptors and resident kilobytes of this process.
struct Usage {
    int fds;
    long kb;
};
Usage UsageNow() {
    Usage u = {-3, -1};  // ".", ".." and the folder's own descriptor are not counted
    if (DIR* d = opendir("/proc/self/fd")) {
        for (; readdir(d) != nullptr; ++u.fds) {
        }
        closedir(d);
    }
    if (FILE* f = fopen("/proc/self/statm", "r")) {
        long pages;
        if (fscanf(f, "%*s %ld", &pages) == 1) {
            u.kb = pages * (sysconf(_SC_PAGESIZE) / 1024);
        }
        fclose(f);
    }
    return u;
}

// Switches the port `count` times between `a` and `b` while the device has just written 64
// status requests that the reader is answering. Returns the ClosePort times in milliseconds;
// median -1 when a port did not reopen.
Figures MeasureBusySwitch(DeviceSim* ends[2], int count) {
    std::vector<double> millis;
    Bytes burst;
    for (int i = 0; i < 64; ++i) {
        burst.insert(burst.end(), kStatusRequest.begin(), kStatusRequest.end());
    }
    int at = 0;
    for (int i = 0; i < count; ++i) {
        ends[at]->Write(burst);
        Clock::time_point start = Clock::now();
        ClosePort();
        millis.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        ends[at]->Quiet(std::chrono::milliseconds(0));  // the replies that were sent
        at = 1 - at;
        if (OpenPortDevice(ends[at]->SlavePath().c_str()) != 1) {
            return {-1, -1, -1};
        }
    }
    return FiguresOf(millis);
}

void Print(const char* what, const Figures& f) {
    printf("  %-16s median %8.1f   p99 %8.1f   max %9.1f\n", what, f.median, f.p99, f.max);
}

}  // namespace

// The device's own hosts table of 10,000 lines: the time to read it, and a lookup of its last name
// (the longest search), median of 1,000.
int MeasureHostsTable() {
    char path[] = "/tmp/zundrel-bench-hosts-XXXXXX";
    int fd = mkstemp(path);
    FILE* file = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (file == nullptr) {
        fprintf(stderr, "cannot write a hosts table\n");
        return 1;
    }
    for (int n = 0; n < 10000; ++n) {
        fprintf(file, "10.%d.%d.%d host%05d.example alias%05d.example\n", n >> 16, (n >> 8) & 255,
                n & 255, n, n);
    }
    fclose(file);
    auto start = std::chrono::steady_clock::now();
    const char* why = UseHostsFile(path);
    double readMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::vector<double> lookups;
    uint8_t address[4] = {};
    for (int i = 0; i < 1000 && why == nullptr; ++i) {
        auto begin = std::chrono::steady_clock::now();
        LookUpInHostsTable("alias09999.example", address);
        lookups.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - begin)
                .count());
    }
    unlink(path);
    if (why != nullptr || address[3] != (9999 & 255)) {
        fprintf(stderr, "the hosts table did not answer: %s\n", why ? why : "");
        return 1;
    }
    std::sort(lookups.begin(), lookups.end());
    printf(
        "hosts table of 10,000 lines: read in %.1f ms; a lookup of its last name, median %.1f "
        "us\n",
        readMs, lookups[lookups.size() / 2]);
    return 0;
}

int main(int argc, char** argv) {
    int count = argc > 1 ? atoi(argv[1]) : 20000;
    if (count < 1) {
        fprintf(stderr, "usage: zundrel_bench [requests]\n");
        return 2;
    }
    if (MeasureHostsTable() != 0) {
        return 1;
    }

    DeviceSim device;
    SetBaudRate(38400);
    if (!device.Open() || OpenPortDevice(device.SlavePath().c_str()) != 1) {
        fprintf(stderr, "cannot open a pseudo-terminal port\n");
        return 1;
    }
    if (device.Request(kPowerOnRequest, 6).size() != 6) {
        fprintf(stderr, "no answer to power ON\n");
        return 1;
    }
    Figures zundrel = Measure(device, count);

    DeviceSim bareDevice;
    pthread_t bare;
    std::string barePath;
    if (!bareDevice.Open()) {
        fprintf(stderr, "cannot open a pseudo-terminal\n");
        return 1;
    }
    barePath = bareDevice.SlavePath();
    pthread_create(&bare, nullptr, BareResponder, const_cast<char*>(barePath.c_str()));
    // The responder's settings must be in place before the first request.
    for (int i = 0; i < 1000; ++i) {
        struct termios t;
        if (bareDevice.LineSettings(&t) && (t.c_lflag & ICANON) == 0) {
            break;
        }
        usleep(1000);
    }
    Figures responder = Measure(bareDevice, count);
    bareDevice.Close();
    pthread_join(bare, nullptr);

    if (zundrel.median < 0 || responder.median < 0) {
        fprintf(stderr, "a reply went wrong\n");
        return 1;
    }
    printf("status request turnaround over %d requests, microseconds (pty, 38400 bit/s):\n", count);
    Print("Zundrel reader", zundrel);
    Print("bare responder", responder);
    printf("  ratio of medians %.2f\n", zundrel.median / responder.median);

    // A 127-byte block already waiting in the socket.
    LoopbackServer server;
    Bytes opened = device.Exchange(RequestFrame(0x11, 0x01));
    Bytes connect = {opened.size() == 5 ? opened[4] : uint8_t{0xFF}};
    Bytes block = LoopbackAddressBlock(server.Port());
    connect.insert(connect.end(), block.begin(), block.end());
    if (opened.size() != 5 || device.Exchange(RequestFrame(0x11, 0x03, connect)).size() != 6 ||
        !server.WaitConnected(std::chrono::seconds(5))) {
        fprintf(stderr, "cannot connect a slot to the loopback server\n");
        return 1;
    }
    const int blocks = std::max(count / 20, 100);
    Figures receive = MeasureReceiveBlock(device, server, opened[4], blocks);
    if (receive.median < 0) {
        fprintf(stderr, "a block reply went wrong\n");
        return 1;
    }
    const double lineMicros = 127 * 10 * 1e6 / 38400;  // start, 8 data and stop bit per byte
    printf("127-byte ReceiveBlock with the data waiting, %d requests, microseconds:\n", blocks);
    Print("request to reply", receive);
    printf("  line time of 127 bytes at 38400 bit/s %.0f; median is %.2f%% of it\n", lineMicros,
           100 * receive.median / lineMicros);

    // Port switches while a connect is never answered.
    StalledListener listener;
    DeviceSim other;
    if (!listener.Full() || !other.Open()) {
        fprintf(stderr, "cannot set up the unanswered connect\n");
        return 1;
    }
    DeviceSim* ends[2] = {&device, &other};
    const int switches = 50;
    Figures port = MeasurePortSwitch(ends, listener, switches);
    if (port.median < 0) {
        fprintf(stderr, "a port switch went wrong\n");
        return 1;
    }
    printf("port switch (ClosePort + open) during an unanswered connect, %d switches, ms:\n",
           switches);
    Print("switch", port);

    // A long run: memory and descriptors after 1,000 frames and after 100,000 more.
    const int frames = 100000;
    Measure(device, 1000);
    Usage first = UsageNow();
    Figures longRun = Measure(device, frames);
    Usage last = UsageNow();
    if (longRun.median < 0) {
        fprintf(stderr, "a reply of the long run went wrong\n");
        return 1;
    }
    printf(
        "long run of %d status requests: resident %ld KiB, then %ld KiB (%+ld); descriptors "
        "%d, then %d\n",
        frames, first.kb, last.kb, last.kb - first.kb, first.fds, last.fds);

    // Port switches while the device's requests are still being answered.
    const int busySwitches = 1000;
    Figures busy = MeasureBusySwitch(ends, busySwitches);
    if (busy.median < 0) {
        fprintf(stderr, "a port did not reopen\n");
        return 1;
    }
    printf("ClosePort while 64 requests are being answered, %d switches, ms:\n", busySwitches);
    Print("ClosePort", busy);

    // Idle, with the port open (on `device`, after an even number of switches), once its new
    // reader has answered a request (and so has its name).
    device.Quiet(std::chrono::milliseconds(100));  // replies left from the last burst
    if (device.Request(kStatusRequest, 5).size() != 5) {
        fprintf(stderr, "no answer after the switches\n");
        return 1;
    }
    // A thread's new name can take a moment to show in /proc on some kernels.
    ThreadStats before = StatsOfThread("zundrel-reader");
    for (int i = 0; i < 100 && before.ticks < 0; ++i) {
        usleep(10000);
        before = StatsOfThread("zundrel-reader");
    }
    clockid_t clock = before.clock;
    long long nanosBefore = CpuNanos(clock);
    sleep(10);
    long long nanosUsed = CpuNanos(clock) - nanosBefore;
    ThreadStats after = StatsOfThread("zundrel-reader");
    if (before.ticks < 0 || after.ticks < 0) {
        fprintf(stderr, "reader thread not found in /proc\n");
        return 1;
    }
    printf(
        "reader over 10 idle seconds, port open: %ld CPU ticks (%lld ns), %ld wakeups "
        "(%ld voluntary, %ld involuntary context switches)\n",
        after.ticks - before.ticks, nanosUsed,
        after.voluntary - before.voluntary + after.involuntary - before.involuntary,
        after.voluntary - before.voluntary, after.involuntary - before.involuntary);
    ClosePort();
    return 0;
}
