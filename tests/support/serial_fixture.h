// Shared by the tests that drive the real serial port and reader thread through pseudo-terminals:
// the replies of the adapter commands, waits on what the reader did, and a fixture with one device.
#pragma once

#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <string>
#include <vector>

#include "serial/serial_link.h"
#include "serial/serial_posix.h"
#include "support/device_sim.h"
#include "support/test_panel.h"

using namespace std::chrono_literals;

const Bytes kFirstPowerOnAnswer = {0x00, 0x55, 0x55, 0x55, 0x55, 0x55};
const Bytes kPowerOnAgainAnswer = {0x01, 0x00, 0x03, 0x02, 0x31, 0x30};
const Bytes kLineCheckAnswer = {0x01, 0x00, 0x03, 0x00, 0x00, 0x0F};
const Bytes kDialupAnswer = {0x01, 0x00, 0x15, 0x0B, 0x00, 0x08, 0x48, 0x01,
                             0xC0, 0xA8, 0x00, 0x01, 0xC0, 0xA8, 0x00, 0x02,
                             0xC0, 0xA8, 0x00, 0x03, 0xC0, 0xA8, 0x00, 0x04};
const Bytes kHangupAnswer = {0x01, 0x00, 0x02, 0x0B, 0xF3};
const Bytes kSetPppAnswer = {0x01, 0x00, 0x02, 0x10, 0x01};
const Bytes kSetDnsAnswer = {0x01, 0x00, 0x02, 0x11, 0x01};
const Bytes kPowerOffAnswer = {0x0F, 0x00, 0x01, 0xFF, 0x00};

inline Bytes StatusAnswer(uint8_t status) {
    return {0x02, 0x00, 0x02, 0x02, status};
}

inline long MillisSince(std::chrono::steady_clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
}

// Waits until the status field has shown `label` (at any time since the events were reset).
inline bool WaitForStatus(const std::string& label) {
    return WaitForTestEvents(
        [&](const std::vector<std::string>& events) {
            for (const std::string& e : events) {
                if (e == "status:" + label) {
                    return true;
                }
            }
            return false;
        },
        2s);
}

// CPU time the reader thread has used, in nanoseconds; -1 when no reader runs.
inline long long ReaderCpuNanos() {
    clockid_t clock;
    struct timespec t;
    if (!ReaderCpuClock(&clock) || clock_gettime(clock, &t) != 0) {
        return -1;
    }
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

// CPU time the reader uses over a 300 ms window while nothing arrives, in nanoseconds. A reader
// that waits as it should uses next to none; a spinning one uses the whole window.
inline long long ReaderIdleCpuNanos() {
    long long before = ReaderCpuNanos();
    struct timespec window = {0, 300 * 1000000L};
    nanosleep(&window, nullptr);  // a measuring window, not a synchronisation
    long long after = ReaderCpuNanos();
    return before < 0 || after < 0 ? -1 : after - before;
}

// A reader is taken as not spinning when it used less than this in the 300 ms window.
constexpr long long kIdleCpuLimitNanos = 20 * 1000000LL;

// Opens the port on the slave side of `d`. Returns whether it opened.
inline bool OpenOn(const DeviceSim& d) {
    return OpenPortDevice(d.SlavePath().c_str()) == 1;
}

// Opens the port on `d` and goes through the power-on handshake.
inline void OpenPowered(DeviceSim& d) {
    ASSERT_TRUE(OpenOn(d));
    ASSERT_EQ(d.Request(kPowerOnRequest, 6), kFirstPowerOnAnswer);
}

// A fresh core and panel at 9600 bit/s, and one simulated device; the port is closed afterwards.
class SerialTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetTestPanel();
        SetBaudRate(9600);
        ASSERT_TRUE(device.Open());
    }

    void TearDown() override {
        ClosePort();
        ResetTestPanel();
        ResetSerialPorts();
    }

    DeviceSim device;
};
