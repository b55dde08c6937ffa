// Measures, through pseudo-terminals, the turnaround of a status request (from the device's last
// request byte written to its last reply byte read) answered by Zundrel's reader thread, and the
// same answered by a bare poll/read/write loop; then the reader's CPU use over 10 idle seconds.
//   zundrel_bench [requests]   (default 20000)
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
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

#include "serial/serial_link.h"
#include "serial/serial_posix.h"
#include "support/device_sim.h"

using Clock = std::chrono::steady_clock;

namespace {

const Bytes kStatusAnswerPowered = {0x02, 0x00, 0x02, 0x02, 0x02};
constexpr int kWarmUp = 500;

struct Figures {
    double median;
    double p99;
    double max;
};

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
    std::sort(micros.begin(), micros.end());
    size_t n = micros.size();
    return {micros[n / 2], micros[std::min(n - 1, n * 99 / 100)], micros[n - 1]};
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

// utime + stime of the thread named `name` in this process, in clock ticks; -1 if not found.
long ThreadTicks(const char* name) {
    DIR* dir = opendir("/proc/self/task");
    if (dir == nullptr) {
        return -1;
    }
    long ticks = -1;
    while (struct dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        std::string base = std::string("/proc/self/task/") + entry->d_name;
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
            ticks = static_cast<long>(utime + stime);
        }
        break;
    }
    closedir(dir);
    return ticks;
}

long long CpuNanos(clockid_t clock) {
    struct timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

void Print(const char* what, const Figures& f) {
    printf("  %-16s median %8.1f   p99 %8.1f   max %9.1f\n", what, f.median, f.p99, f.max);
}

}  // namespace

int main(int argc, char** argv) {
    int count = argc > 1 ? atoi(argv[1]) : 20000;
    if (count < 1) {
        fprintf(stderr, "usage: zundrel_bench [requests]\n");
        return 2;
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

    clockid_t clock;
    if (!ReaderCpuClock(&clock)) {
        fprintf(stderr, "no reader thread\n");
        return 1;
    }
    long ticksBefore = ThreadTicks("zundrel-reader");
    long long nanosBefore = CpuNanos(clock);
    sleep(10);
    long long nanosUsed = CpuNanos(clock) - nanosBefore;
    long ticksAfter = ThreadTicks("zundrel-reader");
    printf("reader CPU over 10 idle seconds: %ld ticks (%lld ns)\n",
           ticksBefore < 0 || ticksAfter < 0 ? -1 : ticksAfter - ticksBefore, nanosUsed);
    ClosePort();
    return 0;
}
