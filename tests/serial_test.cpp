// The real serial link and reader thread driven through pseudo-terminals by a simulated device.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "adapter/adapter.h"
#include "link/assembler.h"
#include "link/seams.h"
#include "support/serial_fixture.h"

using Clock = std::chrono::steady_clock;

namespace {

// Closes the port, which must take under 200 ms.
void ClosePromptly() {
    Clock::time_point start = Clock::now();
    ClosePort();
    EXPECT_LT(MillisSince(start), 200);
}

// A port opened afresh on another device is served, the adapter still on.
void NextPortAnswers() {
    DeviceSim next;
    ASSERT_TRUE(next.Open());
    ASSERT_TRUE(OpenOn(next));
    EXPECT_EQ(next.Request(kStatusRequest, 5), StatusAnswer(0x02));
    EXPECT_TRUE(next.Quiet(50ms));
}

}  // namespace

// Each command's reply and label through this port and reader thread are checked by the dialog's
// end-to-end test; here what that test does not see.
TEST_F(SerialTest, DialupPauseIsRealAndUnpoweredRequestsGoUnanswered) {
    ASSERT_TRUE(OpenOn(device));
    // Junk before the sync frame is hunted away.
    EXPECT_EQ(device.Request({0x00, 0xFF, 0x01, 0x00, 0x01, 0x01, 0x00, 0x01, 0x02}, 6),
              kFirstPowerOnAnswer);
    Clock::time_point start = Clock::now();
    EXPECT_EQ(device.Request(kDialupRequest, 24), kDialupAnswer);
    EXPECT_GE(MillisSince(start), 500);  // the dial-up pause is real on this port
    EXPECT_EQ(device.Request(kPowerOffRequest, 5), FromHex("0F 00 01 FF 00"));
    // Unpowered: a status request is hunted away, unanswered.
    ASSERT_TRUE(device.Write(kStatusRequest));
    EXPECT_TRUE(device.Quiet(100ms));
    EXPECT_EQ(device.Request(kPowerOnRequest, 6), kFirstPowerOnAnswer);
    EXPECT_EQ(device.Request(kStatusRequest, 5), StatusAnswer(0x03));
    EXPECT_TRUE(device.Quiet(50ms));
    EXPECT_EQ(TestEvents(),
              (std::vector<std::string>{"status:power ON", "status:dialup", "status:power OFF",
                                        "status:power ON", "status:check Status"}));
}

TEST_F(SerialTest, RequestsInBurstsAndSplitAcrossManyChunks) {
    ASSERT_TRUE(OpenOn(device));
    // Junk and the sync frame in bursts of 3, 1, 2, 2, ... bytes.
    ASSERT_TRUE(device.WriteChunks({0x55, 0x01, 0x00, 0x02, 0x01, 0x00, 0x01, 0x02}, {3, 1, 2}));
    EXPECT_EQ(device.Read(6), kFirstPowerOnAnswer);

    // A request one byte per chunk, answered once, after its last byte.
    ASSERT_TRUE(device.WriteChunks(kStatusRequest, {1}));
    EXPECT_EQ(device.Read(5), StatusAnswer(0x02));
    ASSERT_TRUE(
        device.WriteChunks(RequestFrame(0x01, 0x11, {10, 0, 0, 1, 10, 0, 0, 2}), {5, 1, 3, 1}));
    EXPECT_EQ(device.Read(5), kSetDnsAnswer);
    // Bytes a terminal would take as flow control, signals, line ends or end of file travel as
    // they are (a socket frame starts with 11, which is XON): no byte is eaten, so the frame is
    // complete and answered.
    EXPECT_EQ(device.Request(
                  RequestFrame(0x01, 0x11, {0x11, 0x13, 0x03, 0x0D, 0x0A, 0x04, 0x7F, 0x1A}), 5),
              kSetDnsAnswer);
    EXPECT_TRUE(device.Quiet(50ms));

    // A request that arrives while the dial-up pause runs waits in the port, then is answered.
    ASSERT_TRUE(device.Write(kDialupRequest));
    ASSERT_TRUE(WaitForStatus("dialup"));
    ASSERT_TRUE(device.Write(kStatusRequest));
    EXPECT_EQ(device.Read(24), kDialupAnswer);
    EXPECT_EQ(device.Read(5), StatusAnswer(0x03));
}

TEST_F(SerialTest, MoreThan256BytesWaitingAreTakenIn256AtATime) {
    OpenPowered(device);
    // While the reader pauses for the dial-up, a 256-byte request and a status request pile up
    // in the port. Fed 256 bytes at a time, the first read is exactly the long request; had more
    // been fed at once, the status request would have been dropped with the bytes after a frame.
    ASSERT_TRUE(device.Write(kDialupRequest));
    ASSERT_TRUE(WaitForStatus("dialup"));
    Bytes pile = RequestFrame(0x01, 0x10, Bytes(252, 0xA5));  // set PPP, length byte FD
    ASSERT_EQ(pile.size(), 256u);
    pile.insert(pile.end(), kStatusRequest.begin(), kStatusRequest.end());
    ASSERT_TRUE(device.Write(pile));
    EXPECT_EQ(device.Read(24), kDialupAnswer);
    EXPECT_EQ(device.Read(5), FromHex("01 00 02 10 01"));  // set PPP
    // The rest is taken in at once, without waiting for further bytes.
    EXPECT_EQ(device.Read(5), StatusAnswer(0x03));
}

TEST_F(SerialTest, ClosePortDuringDialupPauseReturnsPromptlyAndSendsNothing) {
    OpenPowered(device);
    ASSERT_TRUE(device.Write(kDialupRequest));
    ASSERT_TRUE(WaitForStatus("dialup"));
    ClosePromptly();
    // The interrupted frame is finished: nothing is left to be completed by the next port.
    EXPECT_EQ(g_receive.count, 0u);
    EXPECT_EQ(g_adapter.dialed, 0);
    EXPECT_EQ(g_adapter.powered, 1);
    EXPECT_TRUE(device.Quiet(600ms));  // the dial-up reply never comes

    NextPortAnswers();
}

TEST_F(SerialTest, OtherEndHangingUpStopsTheReaderWithoutSpinning) {
    OpenPowered(device);
    device.HangUp();
    Clock::time_point deadline = Clock::now() + 2s;
    while (!PortFailed() && Clock::now() < deadline) {
        usleep(1000);
    }
    ASSERT_EQ(PortFailed(), 1);
    long long used = ReaderIdleCpuNanos();
    ASSERT_GE(used, 0);
    EXPECT_LT(used, kIdleCpuLimitNanos) << "the reader used " << used << " ns in 300 ms";

    ClosePromptly();
    EXPECT_EQ(PortFailed(), 0);

    NextPortAnswers();  // picked again (here: another device)
}

TEST_F(SerialTest, LineSettingsSpeedAndExclusiveOpen) {
    SetBaudRate(38400);  // chosen while no port is open
    ASSERT_TRUE(OpenOn(device));
    struct termios t;
    ASSERT_TRUE(device.LineSettings(&t));
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B38400));
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CREAD | CLOCAL),
              static_cast<tcflag_t>(CS8 | CREAD | CLOCAL));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | INPCK), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    EXPECT_EQ(PortSettingsHeld(), 1);
    int exclusive = 0;
    ASSERT_EQ(ioctl(device.SlaveFd(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);

    SetBaudRate(9600);  // applied to the open port at once
    ASSERT_TRUE(device.LineSettings(&t));
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(device.Request(kPowerOnRequest, 6), kFirstPowerOnAnswer);

    ClosePort();
    // The exclusive flag is cleared, or a later open by a normal user would fail.
    ASSERT_EQ(ioctl(device.SlaveFd(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    EXPECT_EQ(PortSettingsHeld(), 0);

    SetBaudRate(38400);
    ASSERT_TRUE(OpenOn(device));
    ASSERT_TRUE(device.LineSettings(&t));
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B38400));
    EXPECT_EQ(device.Request(kStatusRequest, 5), StatusAnswer(0x02));
}

TEST_F(SerialTest, PortsThatCannotBeOpenedLeaveNoPort) {
    EXPECT_EQ(OpenPortDevice("/nonexistent/zundrel-tty"), 0);
    char path[] = "/tmp/zundrel-not-a-tty-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(OpenPortDevice(path), 0);  // a file that is no terminal
    unlink(path);
    EXPECT_EQ(OpenPort(0), 0);
    EXPECT_EQ(OpenPort(SerialPortCount() + 1), 0);

    // With no port, writes and reads do nothing.
    const uint8_t bytes[] = {1, 2, 3};
    WritePort(bytes, sizeof bytes);
    uint8_t buffer[8];
    EXPECT_EQ(ReadPort(buffer, sizeof buffer), 0u);
    clockid_t clock;
    EXPECT_EQ(ReaderCpuClock(&clock), 0);
    EXPECT_EQ(PortFailed(), 0);
    ClosePort();  // nothing to close
}

TEST_F(SerialTest, PortTableMapsNumbersToDevices) {
    EXPECT_EQ(SerialPortCount(), 4);
    EXPECT_STREQ(SerialPortLabel(1), "COM1");
    EXPECT_STREQ(SerialPortPath(1), "/dev/ttyS0");
    EXPECT_STREQ(SerialPortLabel(4), "COM4");
    EXPECT_STREQ(SerialPortPath(4), "/dev/ttyS3");
    EXPECT_EQ(SerialPortPath(5), nullptr);

    // A port added to the table opens by its number (a pty here; tests never open /dev/ttyS*).
    int number = AddSerialPort("USB0", device.SlavePath().c_str());
    ASSERT_EQ(number, 5);
    EXPECT_STREQ(SerialPortLabel(5), "USB0");
    ASSERT_EQ(OpenPort(number), 1);
    EXPECT_EQ(device.Request(kPowerOnRequest, 6), kFirstPowerOnAnswer);
    ClosePort();
    ResetSerialPorts();
    EXPECT_EQ(SerialPortCount(), 4);
}

TEST_F(SerialTest, WriteGivesUpAfterOneSecondWhenNothingIsTaken) {
    ASSERT_TRUE(OpenOn(device));
    // The device reads nothing, so the pty fills up and the write has to wait.
    Bytes big(1 << 20, 0x42);
    Clock::time_point start = Clock::now();
    WritePort(big.data(), big.size());
    long spent = MillisSince(start);
    EXPECT_GE(spent, 950);
    EXPECT_LT(spent, 1500);
    ClosePromptly();
}
