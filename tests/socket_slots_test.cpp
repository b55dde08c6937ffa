#include <atomic>
#include <future>
#include <thread>

#include "support/socket_fixture.h"

class SocketSlotsTest : public SocketTest {
protected:
    // Receives into a fresh buffer and returns the bytes stored (empty for FF).
    static Bytes Block(int8_t slot, int8_t count) {
        uint8_t buffer[128] = {};
        uint8_t c = ReceiveBlock(slot, buffer, count);
        return c == kSlotFailure ? Bytes{} : Bytes(buffer, buffer + c);
    }
    static Bytes Line(int8_t slot, int8_t max) {
        uint8_t buffer[128] = {};
        uint8_t c = ReceiveLine(slot, buffer, max);
        return c == kSlotFailure ? Bytes{} : Bytes(buffer, buffer + c);
    }
};

TEST_F(SocketSlotsTest, AllocationIsRoundRobin) {
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(AllocSocketSlot(), i);
    }
    EXPECT_EQ(AllocSocketSlot(), 0xFF);
    // All in use, cursor back at 0: the probe 0, 1, 2 finds the freed slot 2.
    EXPECT_EQ(CloseSocketSlot(2), 1);
    EXPECT_EQ(AllocSocketSlot(), 2);
    // Cursor at 7 with slot 7 in use: the probe wraps to 0, 1, ... and takes the lowest free one.
    EXPECT_EQ(CloseSocketSlot(6), 1);
    EXPECT_EQ(AllocSocketSlot(), 6);
    EXPECT_EQ(g_slots.cursor, 7);
    EXPECT_EQ(CloseSocketSlot(4), 1);
    EXPECT_EQ(CloseSocketSlot(1), 1);
    EXPECT_EQ(AllocSocketSlot(), 1);

    // A freed lower slot is not reused before the cursor comes round to it.
    ResetSocketSlots();
    EXPECT_EQ(AllocSocketSlot(), 0);
    EXPECT_EQ(AllocSocketSlot(), 1);
    EXPECT_EQ(AllocSocketSlot(), 2);
    EXPECT_EQ(CloseSocketSlot(0), 1);
    EXPECT_EQ(AllocSocketSlot(), 3);
    EXPECT_EQ(CloseSocketSlot(0), 0);  // already free
}

TEST_F(SocketSlotsTest, FreeSlotsAndIndexesOutsideTheTableFail) {
    const SocketSlotTable before = g_slots;
    const Bytes block = LoopbackAddressBlock(ClosedLoopbackPort());
    const uint8_t data[2] = {0x41, 0x42};
    for (int8_t slot : {int8_t{3}, int8_t{8}, int8_t{127}, int8_t{-1}, int8_t{-128}}) {
        EXPECT_EQ(CloseSocketSlot(slot), 0) << int{slot};
        EXPECT_EQ(ConnectSocketSlot(slot, block.data()), 0) << int{slot};
        EXPECT_EQ(SendOnSlot(slot, data, 2), -1) << int{slot};
        EXPECT_EQ(Block(slot, 4), Bytes{}) << int{slot};
        EXPECT_EQ(Line(slot, 4), Bytes{}) << int{slot};
    }
    for (int i = 0; i < kSocketSlots; ++i) {
        EXPECT_EQ(g_slots.slot[i].socket, before.slot[i].socket);
    }
    EXPECT_EQ(g_slots.cursor, before.cursor);
}

TEST_F(SocketSlotsTest, ReceiveLineEndsAtACrLfAfterTheFirstTwoBytes) {
    int8_t slot = ConnectedSlot(server);
    ASSERT_GE(slot, 0);
    server.Send({0x4F, 0x4B, 0x0D, 0x0A, 0x58});
    EXPECT_EQ(Line(slot, 20), (Bytes{0x4F, 0x4B, 0x0D, 0x0A}));
    EXPECT_EQ(Block(slot, 1), (Bytes{0x58}));

    // A CR LF at the very start does not end the line.
    server.Send({0x0D, 0x0A, 0x41, 0x0D, 0x0A, 0x42});
    EXPECT_EQ(Line(slot, 20), (Bytes{0x0D, 0x0A, 0x41, 0x0D, 0x0A}));
    // The maximum ends a line without CR LF.
    server.Send({0x43, 0x44, 0x0D, 0x0A});
    EXPECT_EQ(Line(slot, 2), (Bytes{0x42, 0x43}));
    EXPECT_EQ(Line(slot, 20), (Bytes{0x44, 0x0D, 0x0A}));
}

TEST_F(SocketSlotsTest, OneSecondOfSilenceEndsTheReceive) {
    int8_t slot = ConnectedSlot(server);
    ASSERT_GE(slot, 0);

    Clock::time_point start = Clock::now();
    EXPECT_EQ(Block(slot, 4), Bytes{});
    milliseconds took = Since(start);
    EXPECT_GE(took.count(), 950);
    EXPECT_LT(took.count(), 2000);

    // Bytes followed by silence: what arrived is returned once the silence has lasted a second.
    server.Send({0x61, 0x62});
    start = Clock::now();
    EXPECT_EQ(Line(slot, 10), (Bytes{0x61, 0x62}));
    took = Since(start);
    EXPECT_GE(took.count(), 950);
    EXPECT_LT(took.count(), 2000);
}

TEST_F(SocketSlotsTest, PeerClosingEndsTheReceiveAtOnce) {
    int8_t slot = ConnectedSlot(server);
    ASSERT_GE(slot, 0);
    server.Send({0x61, 0x62});
    server.Disconnect();
    ASSERT_TRUE(server.WaitDisconnected(kPatience));

    Clock::time_point start = Clock::now();
    EXPECT_EQ(Block(slot, 10), (Bytes{0x61, 0x62}));
    EXPECT_EQ(Line(slot, 10), Bytes{});
    EXPECT_LT(Since(start).count(), 500);
}

TEST_F(SocketSlotsTest, StopSignalEndsAReceiveWait) {
    int8_t slot = ConnectedSlot(server);
    ASSERT_GE(slot, 0);
    std::atomic<bool> done{false};
    Clock::time_point start = Clock::now();
    auto receive = std::async(std::launch::async, [&] {
        Bytes got = Block(slot, 4);
        done = true;
        return got;
    });
    RaiseReaderStop();
    EXPECT_EQ(receive.get(), Bytes{});
    EXPECT_LT(Since(start).count(), 500);
}

TEST_F(SocketSlotsTest, LookupFindsLocalhostAndNotAnInvalidName) {
    uint8_t address[4] = {};
    EXPECT_EQ(NetResolveIPv4("localhost", address), 1);
    EXPECT_EQ(HexBytes(address, 4), "7F 00 00 01");
    EXPECT_EQ(NetResolveIPv4("nowhere.zundrel.invalid", address), 0);
}

TEST_F(SocketSlotsTest, NoDescriptorIsLeaked) {
    const Bytes refused = LoopbackAddressBlock(ClosedLoopbackPort());
    const int before = OpenDescriptorCount();
    for (int round = 0; round < 50; ++round) {
        for (int i = 0; i < 8; ++i) {
            ASSERT_EQ(AllocSocketSlot(), (round * 8 + i) % 8);
        }
        EXPECT_EQ(ConnectSocketSlot(static_cast<int8_t>(round % 8), refused.data()), 0);
        for (int8_t slot = 0; slot < 8; ++slot) {
            ASSERT_EQ(CloseSocketSlot(slot), 1);
        }
    }
    for (int i = 0; i < 10; ++i) {
        uint8_t address[4];
        EXPECT_EQ(NetResolveIPv4("localhost", address), 1);
    }
    // A connection that was used and closed by the device.
    int8_t slot = ConnectedSlot(server);
    ASSERT_GE(slot, 0);
    EXPECT_EQ(CloseSocketSlot(slot), 1);
    ASSERT_TRUE(server.WaitDisconnected(kPatience));
    // Lookup workers may still be letting go of their records.
    EXPECT_TRUE(WaitDescriptorCount(before))
        << OpenDescriptorCount() << " open, " << before << " before";
}
