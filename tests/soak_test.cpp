// Long runs and faults through the real serial port and reader thread: many frames, many socket
// cycles, a peer that resets, a device that goes away and comes back, a log that cannot be written
// and a port switched while the device keeps writing. Afterwards the program must still answer
// exactly, hold no more memory or descriptors than before, and its reader must not spin.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

#include "link/assembler.h"
#include "support/serial_socket_fixture.h"

// Frames of the long run.
constexpr int kSoakFrames = 100000;

namespace {

// Resident memory of the process, in bytes.
long ResidentBytes() {
    long pages = 0;
    long resident = 0;
    if (FILE* f = fopen("/proc/self/statm", "r")) {
        if (fscanf(f, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

// The program still answers exactly, and its reader sleeps while nothing arrives.
void ExpectAnswersAndIdle(DeviceSim& device) {
    EXPECT_EQ(device.Exchange(kStatusRequest), StatusAnswer(0x02));
    EXPECT_EQ(device.Exchange(RequestFrame(0x01, 0x10)), kSetPppAnswer);
    long long idle = ReaderIdleCpuNanos();
    EXPECT_GE(idle, 0);
    EXPECT_LT(idle, kIdleCpuLimitNanos) << "the reader used " << idle << " ns in 300 ms";
}

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

class SoakTest : public SerialSocketTest {};

TEST_F(SoakTest, ManyFramesKeepMemoryAndDescriptorsFlat) {
    // Requests answered at once, in turn, with their replies. Only one frame can be in flight: the
    // reader drops whatever follows a frame in the same read, so each waits for its reply.
    struct Step {
        Bytes request;
        Bytes reply;
    };
    const Step steps[] = {
        {kStatusRequest, StatusAnswer(0x02)},
        {RequestFrame(0x01, 0x10), kSetPppAnswer},
        {RequestFrame(0x01, 0x11, {10, 0, 0, 1, 10, 0, 0, 2}), kSetDnsAnswer},
        {kPowerOnRequest, kPowerOnAgainAnswer},
    };
    OpenPowered(device);
    SetTestEventsRecorded(false);
    long baseResident = 0;
    int baseDescriptors = 0;
    uint8_t reply[8];
    for (int i = 0; i < kSoakFrames; ++i) {
        if (i == 1000) {
            baseResident = ResidentBytes();
            baseDescriptors = OpenDescriptorCount();
        }
        const Step& step = steps[i % 4];
        ASSERT_TRUE(device.Write(step.request)) << "frame " << i;
        // Compared in place: an allocation per frame would show as growth in the sanitizer
        // build, whose freed blocks stay in quarantine.
        size_t got = device.ReadInto(reply, step.reply.size());
        ASSERT_TRUE(got == step.reply.size() && std::equal(reply, reply + got, step.reply.begin()))
            << "frame " << i << ": " << HexBytes(reply, got);
    }
    EXPECT_TRUE(device.Quiet(20ms));
    RecordProperty("resident_after_1000", std::to_string(baseResident));
    RecordProperty("resident_at_end", std::to_string(ResidentBytes()));
    // Memory may settle a little (allocator arenas, the kernel's accounting); it must not grow
    // with the frames.
    constexpr long kResidentTolerance = 256 * 1024;
    EXPECT_LE(ResidentBytes(), baseResident + kResidentTolerance)
        << "resident " << ResidentBytes() << " bytes, " << baseResident << " after 1000 frames";
    EXPECT_EQ(OpenDescriptorCount(), baseDescriptors);
    ExpectAnswersAndIdle(device);
}

TEST_F(SoakTest, TenThousandSocketCyclesOverEightSlotsLeakNothing) {
    EchoServer server;
    OpenPowered(device);
    SetTestEventsRecorded(false);
    const int descriptorsBefore = OpenDescriptorCount();
    // Rounds of eight: open all eight slots, connect, send, receive the echo, close.
    for (int round = 0; round < 10000 / kSocketSlots; ++round) {
        for (uint8_t slot = 0; slot < kSocketSlots; ++slot) {
            ASSERT_EQ(device.Exchange(OpenSocketRequest()), (Bytes{0x11, 0x00, 0x02, 0x01, slot}))
                << "round " << round;
        }
        for (uint8_t slot = 0; slot < kSocketSlots; ++slot) {
            ASSERT_EQ(device.Exchange(ConnectRequest(slot, server.Port())),
                      (Bytes{0x11, 0x00, 0x03, 0x03, slot, 0x01}))
                << "round " << round;
        }
        for (uint8_t slot = 0; slot < kSocketSlots; ++slot) {
            const Bytes data = {static_cast<uint8_t>(round), slot, 0x0D, 0x0A};
            ASSERT_EQ(device.Exchange(SendRequest(slot, data)),
                      (Bytes{0x11, 0x00, 0x03, 0x0E, slot, 0x04}));
        }
        for (uint8_t slot = 0; slot < kSocketSlots; ++slot) {
            const Bytes data = {static_cast<uint8_t>(round), slot, 0x0D, 0x0A};
            uint8_t command = slot % 2 ? 0x0D : 0x0F;  // lines and blocks
            ASSERT_EQ(device.Exchange(ReceiveRequest(command, slot, 4)),
                      ReceiveReply(command, slot, data))
                << "round " << round;
        }
        for (uint8_t slot = 0; slot < kSocketSlots; ++slot) {
            ASSERT_EQ(device.Exchange(CloseSocketRequest(slot)),
                      (Bytes{0x11, 0x00, 0x03, 0x07, slot, 0x01}));
        }
    }
    EXPECT_EQ(server.Accepted(), 10000);
    ASSERT_TRUE(server.WaitAllClosed(kPatience));
    EXPECT_EQ(OpenDescriptorCount(), descriptorsBefore);
    ExpectAnswersAndIdle(device);
}

TEST_F(SoakTest, PeerResetMidReceive) {
    LoopbackServer server;
    OpenPowered(device);
    OpenAndConnectSlot0(device, server.Port());
    server.Send({0x61, 0x62, 0x63});
    ASSERT_TRUE(device.Write(ReceiveRequest(0x0F, 0, 10)));
    ASSERT_TRUE(WaitForStatus("recv a buffer"));
    server.Disconnect(true);
    // The bytes that came before the reset are delivered, without waiting out a second of silence.
    Clock::time_point reset = Clock::now();
    EXPECT_EQ(device.ReadFrame(), ReceiveReply(0x0F, 0, {0x61, 0x62, 0x63}));
    EXPECT_LT(MillisSince(reset), 900);

    // The reset connection fails at once from then on, until the device closes it.
    reset = Clock::now();
    EXPECT_EQ(device.Exchange(ReceiveRequest(0x0D, 0, 10)), ReceiveReply(0x0D, 0, {}));
    EXPECT_EQ(device.Exchange(SendRequest(0, {0x41})), (Bytes{0x11, 0x00, 0x03, 0x0E, 0x00, 0xFF}));
    EXPECT_LT(MillisSince(reset), 900);
    EXPECT_EQ(device.Exchange(CloseSocketRequest(0)), (Bytes{0x11, 0x00, 0x03, 0x07, 0x00, 0x01}));
    ExpectAnswersAndIdle(device);
}

TEST_F(SoakTest, DeviceEndDisappearsMidCommandAndComesBack) {
    // The port is known by a path that stays the same while the device behind it goes and comes
    // back, as a USB adapter's does.
    char dir[] = "/tmp/zundrel-soak-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string link = std::string(dir) + "/ttyUSB0";
    ASSERT_EQ(symlink(device.SlavePath().c_str(), link.c_str()), 0);
    int number = AddSerialPort("USB0", link.c_str());
    ASSERT_GT(number, 0);

    LoopbackServer server;
    ASSERT_EQ(OpenPort(number), 1);
    ASSERT_EQ(device.Request(kPowerOnRequest, 6), kFirstPowerOnAnswer);
    OpenAndConnectSlot0(device, server.Port());
    // The device goes while the reader waits for socket data.
    ASSERT_TRUE(device.Write(ReceiveRequest(0x0F, 0, 4)));
    ASSERT_TRUE(WaitForStatus("recv a buffer"));
    device.HangUp();
    ASSERT_TRUE(PollUntil([] { return PortFailed() == 1; }));
    long long idle = ReaderIdleCpuNanos();
    EXPECT_LT(idle, kIdleCpuLimitNanos) << "the failed port's reader used " << idle << " ns";

    // It comes back on the same path and the user picks the port again.
    DeviceSim back;
    ASSERT_TRUE(back.Open());
    ASSERT_EQ(unlink(link.c_str()), 0);
    ASSERT_EQ(symlink(back.SlavePath().c_str(), link.c_str()), 0);
    Clock::time_point start = Clock::now();
    ClosePort();
    EXPECT_LT(MillisSince(start), 200);
    ASSERT_EQ(OpenPort(number), 1);
    // The adapter is still on and the connection still open.
    server.Send({0x78, 0x79});
    EXPECT_EQ(back.Exchange(ReceiveRequest(0x0F, 0, 2)), ReceiveReply(0x0F, 0, {0x78, 0x79}));
    ExpectAnswersAndIdle(back);

    ClosePort();
    unlink(link.c_str());
    rmdir(dir);
}

TEST_F(SoakTest, LogThatCannotBeWrittenLeavesTheTrafficAlone) {
    char dir[] = "/tmp/zundrel-soak-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string log = std::string(dir) + "/traffic.log";
    const std::string plain = std::string(dir) + "/plain";
    const std::string statusLines = "R> 02 00 01 01 \r\nS> 02 00 02 02 02 \r\n";
    ASSERT_EQ(close(open(plain.c_str(), O_CREAT | O_WRONLY, 0644)), 0);

    OpenPowered(device);
    SetTestLogPath(log);
    EXPECT_EQ(device.Exchange(kStatusRequest), StatusAnswer(0x02));
    EXPECT_EQ(FileText(log), statusLines);

    // Mid-run the log path becomes a directory, then a path under a regular file, then a device
    // that is always full: every line is lost, every request still answered.
    ASSERT_EQ(unlink(log.c_str()), 0);
    ASSERT_EQ(mkdir(log.c_str(), 0755), 0);
    EXPECT_EQ(device.Exchange(kStatusRequest), StatusAnswer(0x02));
    SetTestLogPath(plain + "/traffic.log");
    EXPECT_EQ(device.Exchange(kStatusRequest), StatusAnswer(0x02));
    SetTestLogPath("/dev/full");
    EXPECT_EQ(device.Exchange(kStatusRequest), StatusAnswer(0x02));
    EXPECT_EQ(FileText(plain), "");

    // Writable again: the log goes on with the next frame.
    ASSERT_EQ(rmdir(log.c_str()), 0);
    SetTestLogPath(log);
    EXPECT_EQ(device.Exchange(kStatusRequest), StatusAnswer(0x02));
    EXPECT_EQ(FileText(log), statusLines);
    ExpectAnswersAndIdle(device);

    SetTestLogPath("");
    unlink(log.c_str());
    unlink(plain.c_str());
    rmdir(dir);
}

namespace {

// A device on each of two pseudo-terminals that keeps asking for the status on both, whichever
// one the port is open on: it asks again when 2 ms pass without an answer, and counts the answers.
class StatusTraffic {
public:
    StatusTraffic(DeviceSim& a, DeviceSim& b) : devices_{&a, &b} {
        thread_ = std::thread([this] { Run(); });
    }
    ~StatusTraffic() { Stop(); }

    void Stop() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    long Answered(int i) {
        std::lock_guard<std::mutex> lock(mutex_);
        return answered_[i];
    }

    // Waits until device `i` has had more than `n` answers. Returns whether it has.
    bool WaitAnswered(int i, long n) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return answered_[i] > n; });
    }

    long Wrong() {
        std::lock_guard<std::mutex> lock(mutex_);
        return wrong_;
    }

private:
    void Run() {
        const Bytes answer = StatusAnswer(0x02);
        Clock::time_point asked[2] = {};
        uint8_t held[2][256];
        size_t count[2] = {0, 0};
        while (!stop_) {
            for (int i = 0; i < 2; ++i) {
                if (Clock::now() - asked[i] >= 2ms) {
                    devices_[i]->Write(kStatusRequest);
                    asked[i] = Clock::now();
                }
            }
            struct pollfd p[2] = {{devices_[0]->MasterFd(), POLLIN, 0},
                                  {devices_[1]->MasterFd(), POLLIN, 0}};
            poll(p, 2, 1);
            for (int i = 0; i < 2; ++i) {
                ssize_t r = read(devices_[i]->MasterFd(), held[i] + count[i], 128);
                if (r > 0) {
                    count[i] += static_cast<size_t>(r);
                }
                std::lock_guard<std::mutex> lock(mutex_);
                while (count[i] >= answer.size()) {
                    if (std::equal(answer.begin(), answer.end(), held[i])) {
                        ++answered_[i];
                        asked[i] = {};  // answered: ask again at once
                    } else {
                        ++wrong_;
                    }
                    count[i] -= answer.size();
                    memmove(held[i], held[i] + answer.size(), count[i]);
                }
                changed_.notify_all();
            }
        }
    }

    DeviceSim* devices_[2];
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    long answered_[2] = {0, 0};
    long wrong_ = 0;
    std::thread thread_;
};

}  // namespace

TEST_F(SoakTest, PortSwitchedAThousandTimesWhileTheDeviceWrites) {
    DeviceSim other;
    ASSERT_TRUE(other.Open());
    // Both terminals get the port's raw settings before the device writes to them (a fresh pty
    // would echo the requests back).
    ASSERT_TRUE(OpenOn(other));
    ClosePort();
    OpenPowered(device);
    ClosePort();
    SetTestEventsRecorded(false);
    const int descriptorsBefore = OpenDescriptorCount();

    DeviceSim* ends[2] = {&device, &other};
    StatusTraffic traffic(device, other);
    long slowest = 0;
    for (int i = 0; i < 1000; ++i) {
        int at = i % 2;
        long before = traffic.Answered(at);
        ASSERT_TRUE(OpenOn(*ends[at])) << "switch " << i;
        ASSERT_TRUE(traffic.WaitAnswered(at, before)) << "switch " << i;
        Clock::time_point start = Clock::now();
        ClosePort();
        slowest = std::max(slowest, MillisSince(start));
    }
    traffic.Stop();
    EXPECT_LT(slowest, 200);
    EXPECT_EQ(traffic.Wrong(), 0);
    EXPECT_EQ(g_receive.count, 0u);
    EXPECT_EQ(OpenDescriptorCount(), descriptorsBefore);

    ASSERT_TRUE(OpenOn(device));
    device.Quiet(20ms);  // answers to requests of the last moments may still come
    ExpectAnswersAndIdle(device);
}
