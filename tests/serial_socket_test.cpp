// Socket conversations through the real serial port and reader thread, against TCP servers on
// 127.0.0.1, and closing the port while a socket command blocks.
#include "link/assembler.h"
#include "support/serial_socket_fixture.h"

namespace {

// Closes the port while the reader is held in a command that does not end by itself, then checks
// that ClosePort returned promptly, the command never answers, its frame was finished, and the
// port, picked again, answers exactly its own requests and then sleeps.
void ExpectPromptCloseAndWorkingReopen(DeviceSim& device) {
    Clock::time_point start = Clock::now();
    ClosePort();
    EXPECT_LT(MillisSince(start), 200);
    EXPECT_EQ(g_receive.count, 0u);
    EXPECT_TRUE(device.Quiet(300ms));
    ASSERT_TRUE(OpenOn(device));
    EXPECT_EQ(device.Exchange(kStatusRequest), StatusAnswer(0x02));
    EXPECT_TRUE(device.Quiet(50ms));
    long long idle = ReaderIdleCpuNanos();
    EXPECT_LT(idle, kIdleCpuLimitNanos) << "the reader used " << idle << " ns in 300 ms";
}

}  // namespace

TEST_F(SerialSocketTest, OpenConnectSendReceiveClose) {
    LoopbackServer server;
    OpenPowered(device);
    OpenAndConnectSlot0(device, server.Port());
    ASSERT_TRUE(server.WaitConnected(kPatience));

    EXPECT_EQ(device.Exchange(SendRequest(0, {0x41, 0x42, 0x43})),
              (Bytes{0x11, 0x00, 0x03, 0x0E, 0x00, 0x03}));
    ASSERT_TRUE(server.WaitReceived(3, kPatience));
    EXPECT_EQ(server.Received(), (Bytes{0x41, 0x42, 0x43}));

    // A block of 4 out of 6 waiting bytes; the other two stay and begin the line that follows.
    server.Send({0x61, 0x62, 0x63, 0x64, 0x65, 0x66});
    EXPECT_EQ(device.Exchange(ReceiveRequest(0x0F, 0, 4)),
              ReceiveReply(0x0F, 0, {0x61, 0x62, 0x63, 0x64}));
    server.Send({0x4F, 0x4B, 0x0D, 0x0A, 0x58});
    EXPECT_EQ(device.Exchange(ReceiveRequest(0x0D, 0, 20)),
              ReceiveReply(0x0D, 0, {0x65, 0x66, 0x4F, 0x4B, 0x0D, 0x0A}));
    EXPECT_EQ(device.Exchange(ReceiveRequest(0x0F, 0, 1)), ReceiveReply(0x0F, 0, {0x58}));

    // "localhost": n = 9, so the length byte is 10 and 19 bytes are sent.
    EXPECT_EQ(device.Exchange(LookupRequest("localhost")),
              (Bytes{0x11, 0x00, 0x10, 0x08, 0x01, 'l', 'o', 'c', 'a', 'l', 'h', 'o', 's', 't',
                     0x00, 0x7F, 0x00, 0x00, 0x01}));
    EXPECT_EQ(device.Exchange(CloseSocketRequest(0)), (Bytes{0x11, 0x00, 0x03, 0x07, 0x00, 0x01}));
    EXPECT_TRUE(server.WaitDisconnected(kPatience));
    EXPECT_EQ(device.Exchange(CloseSocketRequest(0)), (Bytes{0x11, 0x00, 0x03, 0x07, 0x00, 0x00}));
    EXPECT_TRUE(device.Quiet(50ms));
}

TEST_F(SerialSocketTest, ClosePortDuringAConnectThatIsNeverAnswered) {
    StalledListener listener;
    ASSERT_TRUE(listener.Full());
    const int pendingBefore = PendingConnectsTo(listener.Port());
    OpenPowered(device);
    EXPECT_EQ(device.Exchange(OpenSocketRequest()), (Bytes{0x11, 0x00, 0x02, 0x01, 0x00}));
    ASSERT_TRUE(device.Write(ConnectRequest(0, listener.Port())));
    ASSERT_TRUE(PollUntil([&] { return PendingConnectsTo(listener.Port()) > pendingBefore; }));
    ExpectPromptCloseAndWorkingReopen(device);
    // The socket stays in its slot until the device closes it.
    EXPECT_EQ(device.Exchange(CloseSocketRequest(0)), (Bytes{0x11, 0x00, 0x03, 0x07, 0x00, 0x01}));
}

TEST_F(SerialSocketTest, ClosePortDuringAHostLookupThatStalls) {
    const int descriptorsBefore = OpenDescriptorCount();
    OpenPowered(device);
    ASSERT_TRUE(device.Write(LookupRequest(kStalledHostName)));
    ASSERT_TRUE(WaitStalledLookups(1, kPatience));
    ExpectPromptCloseAndWorkingReopen(device);
    EXPECT_EQ(device.Exchange(LookupRequest("nowhere.zundrel.invalid")),
              (Bytes{0x11, 0x00, 0x02, 0x08, 0x00}));
    // The abandoned lookup ends later and gives back what it held.
    ASSERT_TRUE(ReleaseStalledLookups(kPatience));
    ClosePort();
    EXPECT_TRUE(WaitDescriptorCount(descriptorsBefore));
}
