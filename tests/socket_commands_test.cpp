#include <algorithm>
#include <string>

#include "support/socket_fixture.h"

using Events = std::vector<std::string>;

class SocketCommandsTest : public SocketTest {
protected:
    void SetUp() override {
        SocketTest::SetUp();
        PowerOn();
    }

    // Feeds one request and returns the frames it sent.
    static std::vector<Bytes> Request(const Bytes& frame) {
        ResetEventsOnly();
        Feed(frame);
        return SentFrames();
    }

    // Feeds one request and returns its one reply as hex, or "" when it sent none.
    static std::string Reply(const Bytes& frame) {
        std::vector<Bytes> sent = Request(frame);
        EXPECT_LE(sent.size(), 1u);
        return sent.empty() ? "" : HexBytes(sent.front());
    }

    static Bytes ConnectRequest(uint8_t slot, uint16_t port) {
        Bytes frame = {0x11, 0x00, 0x12, 0x03, slot};
        Bytes block = LoopbackAddressBlock(port);
        frame.insert(frame.end(), block.begin(), block.end());
        return frame;
    }

    static Bytes LookupRequest(const std::string& name) {
        Bytes frame(name.size() + 5, 0x00);
        frame[0] = 0x11;
        frame[2] = static_cast<uint8_t>(name.size() + 2);
        frame[3] = 0x08;
        std::copy(name.begin(), name.end(), frame.begin() + 4);
        return frame;
    }
};

TEST_F(SocketCommandsTest, OpenAndCloseReplies) {
    EXPECT_EQ(Request({0x11, 0x00, 0x01, 0x01}),
              (std::vector<Bytes>{{0x11, 0x00, 0x02, 0x01, 0x00}}));
    EXPECT_EQ(TestEvents().front(), "status:open socket");
    for (int i = 1; i < 8; ++i) {
        EXPECT_EQ(Reply({0x11, 0x00, 0x01, 0x01}), "11 00 02 01 0" + std::to_string(i));
    }
    EXPECT_EQ(Reply({0x11, 0x00, 0x01, 0x01}), "11 00 02 01 FF");

    EXPECT_EQ(Reply({0x11, 0x00, 0x02, 0x07, 0x03}), "11 00 03 07 03 01");
    EXPECT_EQ(TestEvents().front(), "status:close socket");
    EXPECT_EQ(Reply({0x11, 0x00, 0x02, 0x07, 0x03}), "11 00 03 07 03 00");
    // Slot bytes outside the table are echoed and fail.
    EXPECT_EQ(Reply({0x11, 0x00, 0x02, 0x07, 0x08}), "11 00 03 07 08 00");
    EXPECT_EQ(Reply({0x11, 0x00, 0x02, 0x07, 0x80}), "11 00 03 07 80 00");
    EXPECT_EQ(Reply({0x11, 0x00, 0x01, 0x01}), "11 00 02 01 03");
}

TEST_F(SocketCommandsTest, ConnectSendAndReceiveAgainstALoopbackServer) {
    EXPECT_EQ(Reply({0x11, 0x00, 0x01, 0x01}), "11 00 02 01 00");
    EXPECT_EQ(Reply({0x11, 0x00, 0x01, 0x01}), "11 00 02 01 01");
    EXPECT_EQ(Reply(ConnectRequest(0x01, server.Port())), "11 00 03 03 01 01");
    EXPECT_EQ(TestEvents().front(), "status:connect socket");
    ASSERT_TRUE(server.WaitConnected(kPatience));

    EXPECT_EQ(Reply({0x11, 0x00, 0x05, 0x0E, 0x01, 0x41, 0x42, 0x43}), "11 00 03 0E 01 03");
    EXPECT_EQ(TestEvents().front(), "status:send socket");
    ASSERT_TRUE(server.WaitReceived(3, kPatience));
    EXPECT_EQ(server.Received(), (Bytes{0x41, 0x42, 0x43}));

    server.Send({0x61, 0x62, 0x63, 0x64, 0x65, 0x66});
    EXPECT_EQ(Reply({0x11, 0x00, 0x03, 0x0F, 0x01, 0x04}), "11 00 07 0F 01 04 61 62 63 64");
    EXPECT_EQ(TestEvents().front(), "status:recv a buffer");
    EXPECT_EQ(Reply({0x11, 0x00, 0x03, 0x0F, 0x01, 0x02}), "11 00 05 0F 01 02 65 66");

    server.Send({0x4F, 0x4B, 0x0D, 0x0A, 0x58});
    EXPECT_EQ(Reply({0x11, 0x00, 0x03, 0x0D, 0x01, 0x14}), "11 00 07 0D 01 04 4F 4B 0D 0A");
    EXPECT_EQ(TestEvents().front(), "status:recv a line");

    // The largest block a reply can carry.
    Bytes big(127);
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<uint8_t>(i);
    }
    server.Send(big);
    std::vector<Bytes> sent = Request({0x11, 0x00, 0x03, 0x0F, 0x01, 0x7F});
    ASSERT_EQ(sent.size(), 1u);
    // The 58 left over from the line comes first.
    Bytes expected = {0x11, 0x00, 0x82, 0x0F, 0x01, 0x7F, 0x58};
    expected.insert(expected.end(), big.begin(), big.end() - 1);
    EXPECT_EQ(sent.front(), expected);

    EXPECT_EQ(Reply({0x11, 0x00, 0x02, 0x07, 0x01}), "11 00 03 07 01 01");
    EXPECT_TRUE(server.WaitDisconnected(kPatience));
}

TEST_F(SocketCommandsTest, RefusedConnectRepliesZeroAndKeepsTheSocket) {
    EXPECT_EQ(Reply({0x11, 0x00, 0x01, 0x01}), "11 00 02 01 00");
    EXPECT_EQ(Reply(ConnectRequest(0x00, ClosedLoopbackPort())), "11 00 03 03 00 00");
    EXPECT_EQ(Reply(ConnectRequest(0x05, ClosedLoopbackPort())), "11 00 03 03 05 00");
    EXPECT_EQ(Reply(ConnectRequest(0xFF, ClosedLoopbackPort())), "11 00 03 03 FF 00");
    // Only family 00 02 connects, whatever the address.
    for (uint8_t family : {0x00, 0x17}) {
        Bytes request = ConnectRequest(0x00, server.Port());
        request[6] = family;
        EXPECT_EQ(Reply(request), "11 00 03 03 00 00");
    }
    EXPECT_EQ(Reply({0x11, 0x00, 0x02, 0x07, 0x00}), "11 00 03 07 00 01");
}

TEST_F(SocketCommandsTest, ReceiveThatGetsNothingRepliesWithFFAndNoData) {
    EXPECT_EQ(Reply({0x11, 0x00, 0x01, 0x01}), "11 00 02 01 00");
    EXPECT_EQ(Reply(ConnectRequest(0x00, server.Port())), "11 00 03 03 00 01");
    server.Send({0x61});
    // Counts of 0 and 0x80 and above, free slots and slots outside the table: FF at once.
    Clock::time_point start = Clock::now();
    EXPECT_EQ(Reply({0x11, 0x00, 0x03, 0x0F, 0x00, 0x00}), "11 00 03 0F 00 FF");
    EXPECT_EQ(Reply({0x11, 0x00, 0x03, 0x0F, 0x00, 0x80}), "11 00 03 0F 00 FF");
    EXPECT_EQ(Reply({0x11, 0x00, 0x03, 0x0D, 0x00, 0xFF}), "11 00 03 0D 00 FF");
    EXPECT_EQ(Reply({0x11, 0x00, 0x03, 0x0F, 0x05, 0x04}), "11 00 03 0F 05 FF");
    EXPECT_EQ(Reply({0x11, 0x00, 0x03, 0x0D, 0x90, 0x04}), "11 00 03 0D 90 FF");
    EXPECT_LT(Since(start).count(), 500);
    // The byte that was waiting is still there.
    EXPECT_EQ(Reply({0x11, 0x00, 0x03, 0x0F, 0x00, 0x01}), "11 00 04 0F 00 01 61");
}

TEST_F(SocketCommandsTest, SendFailuresReplyFFAndSendNothing) {
    EXPECT_EQ(Reply({0x11, 0x00, 0x01, 0x01}), "11 00 02 01 00");
    EXPECT_EQ(Reply(ConnectRequest(0x00, server.Port())), "11 00 03 03 00 01");
    EXPECT_EQ(Reply({0x11, 0x00, 0x04, 0x0E, 0x03, 0x41, 0x42}), "11 00 03 0E 03 FF");
    EXPECT_EQ(Reply({0x11, 0x00, 0x04, 0x0E, 0xF0, 0x41, 0x42}), "11 00 03 0E F0 FF");
    // Length byte 0x82: a count of 0x80, which is negative.
    Bytes negative = {0x11, 0x00, 0x82, 0x0E, 0x00};
    negative.resize(0x82 + 3, 0x5A);
    EXPECT_EQ(Reply(negative), "11 00 03 0E 00 FF");
    // Zero bytes: a send of nothing, which succeeds with 0.
    EXPECT_EQ(Reply({0x11, 0x00, 0x02, 0x0E, 0x00}), "11 00 03 0E 00 00");
    EXPECT_EQ(Reply({0x11, 0x00, 0x03, 0x0E, 0x00, 0x21}), "11 00 03 0E 00 01");
    ASSERT_TRUE(server.WaitReceived(1, kPatience));
    EXPECT_EQ(server.Received(), Bytes{0x21});

    // Once the peer has gone, sends fail with FF (and do not end the program with SIGPIPE).
    server.Disconnect();
    ASSERT_TRUE(server.WaitDisconnected(kPatience));
    std::string reply;
    for (int i = 0; i < 50 && reply != "11 00 03 0E 00 FF"; ++i) {
        reply = Reply({0x11, 0x00, 0x03, 0x0E, 0x00, 0x21});
    }
    EXPECT_EQ(reply, "11 00 03 0E 00 FF");
}

TEST_F(SocketCommandsTest, ShortRequestsNeverUseBytesLeftFromEarlierFrames) {
    EXPECT_EQ(Reply({0x11, 0x00, 0x01, 0x01}), "11 00 02 01 00");
    // A connect for the free slot 1 leaves the server's address in the buffer ...
    EXPECT_EQ(Reply(ConnectRequest(0x01, server.Port())), "11 00 03 03 01 00");
    // ... which a connect of slot 0 without its address block must not use.
    EXPECT_EQ(Reply({0x11, 0x00, 0x02, 0x03, 0x00}), "11 00 03 03 00 00");
    const uint8_t probe = 0x21;
    EXPECT_EQ(SendOnSlot(0, &probe, 1), -1);  // still unconnected
    EXPECT_EQ(Reply({0x11, 0x00, 0x01, 0x03}), "11 00 03 03 FF 00");

    EXPECT_EQ(Reply(ConnectRequest(0x00, server.Port())), "11 00 03 03 00 01");
    server.Send({0x61});
    // A receive without its count byte, after one that had 04 there.
    EXPECT_EQ(Reply({0x11, 0x00, 0x03, 0x0F, 0x09, 0x04}), "11 00 03 0F 09 FF");
    EXPECT_EQ(Reply({0x11, 0x00, 0x02, 0x0F, 0x00}), "11 00 03 0F 00 FF");
    EXPECT_EQ(Reply({0x11, 0x00, 0x01, 0x0D}), "11 00 03 0D FF FF");
    // Close and send without a slot byte.
    EXPECT_EQ(Reply({0x11, 0x00, 0x01, 0x07}), "11 00 03 07 FF 00");
    EXPECT_EQ(Reply({0x11, 0x00, 0x01, 0x0E}), "11 00 03 0E FF FF");
    EXPECT_EQ(Reply({0x11, 0x00, 0x00, 0x0E}), "11 00 03 0E FF FF");
    EXPECT_NE(g_slots.slot[0].socket, kNoSocket);
    // The byte sent by the server is still unread.
    EXPECT_EQ(Reply({0x11, 0x00, 0x03, 0x0F, 0x00, 0x01}), "11 00 04 0F 00 01 61");
}

TEST_F(SocketCommandsTest, BadHostNamesAreRefusedWithoutAskingTheResolver) {
    const int asked = InvalidLookupCount();
    // No NUL inside the frame, although the buffer holds one after it from an earlier frame.
    Reply(LookupRequest("earlier.zundrel.invalid"));
    EXPECT_EQ(InvalidLookupCount(), asked + 1);
    EXPECT_EQ(Reply({0x11, 0x00, 0x04, 0x08, 0x61, 0x62, 0x63}), "11 00 02 08 00");
    EXPECT_EQ(Reply({0x11, 0x00, 0x01, 0x08}), "11 00 02 08 00");
    // 247 name bytes: the reply would outgrow the work area.
    std::string tail = ".zundrel.invalid";
    EXPECT_EQ(Reply(LookupRequest(std::string(247 - tail.size(), 'a') + tail)), "11 00 02 08 00");
    EXPECT_EQ(InvalidLookupCount(), asked + 1);
    // 246 is still asked for.
    EXPECT_EQ(Reply(LookupRequest(std::string(246 - tail.size(), 'a') + tail)), "11 00 02 08 00");
    EXPECT_EQ(InvalidLookupCount(), asked + 2);
}

TEST_F(SocketCommandsTest, UnknownSocketCommandsGetNoReply) {
    for (uint8_t command : {0x00, 0x02, 0x04, 0x09, 0x0C, 0x10, 0xFF}) {
        EXPECT_EQ(Request({0x11, 0x00, 0x01, command}), std::vector<Bytes>{});
    }
    Feed({0x11, 0x00, 0x01, 0x02});
    EXPECT_EQ(TestEvents().back(), "box:unkown command (11:02)");
}
