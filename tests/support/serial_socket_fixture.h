// For tests that run socket conversations through the real serial port: the socket test fixture
// (fresh core, free slots, armed test resolver) with a simulated device on a pseudo-terminal, and
// the socket request frames the device sends.
#pragma once

#include <string>

#include "support/serial_fixture.h"
#include "support/socket_fixture.h"

inline Bytes OpenSocketRequest() {
    return RequestFrame(0x11, 0x01);
}

inline Bytes ConnectRequest(uint8_t slot, uint16_t port) {
    Bytes params = {slot};
    Bytes block = LoopbackAddressBlock(port);
    params.insert(params.end(), block.begin(), block.end());
    return RequestFrame(0x11, 0x03, params);
}

inline Bytes SendRequest(uint8_t slot, const Bytes& data) {
    Bytes params = {slot};
    params.insert(params.end(), data.begin(), data.end());
    return RequestFrame(0x11, 0x0E, params);
}

// Receive a block (0x0F) or a line (0x0D) of at most `count` bytes.
inline Bytes ReceiveRequest(uint8_t command, uint8_t slot, uint8_t count) {
    return RequestFrame(0x11, command, {slot, count});
}

inline Bytes CloseSocketRequest(uint8_t slot) {
    return RequestFrame(0x11, 0x07, {slot});
}

inline Bytes LookupRequest(const std::string& name) {
    Bytes params(name.begin(), name.end());
    params.push_back(0x00);
    return RequestFrame(0x11, 0x08, params);
}

// Opens slot 0 and connects it to `port` on 127.0.0.1, checking both replies.
inline void OpenAndConnectSlot0(DeviceSim& device, uint16_t port) {
    EXPECT_EQ(device.Exchange(OpenSocketRequest()), (Bytes{0x11, 0x00, 0x02, 0x01, 0x00}));
    EXPECT_EQ(device.Exchange(ConnectRequest(0, port)),
              (Bytes{0x11, 0x00, 0x03, 0x03, 0x00, 0x01}));
}

// The reply to a receive that delivered `data` (empty: nothing arrived, FF).
inline Bytes ReceiveReply(uint8_t command, uint8_t slot, const Bytes& data) {
    if (data.empty()) {
        return {0x11, 0x00, 0x03, command, slot, 0xFF};
    }
    Bytes reply = {0x11,    0x00, static_cast<uint8_t>(data.size() + 3),
                   command, slot, static_cast<uint8_t>(data.size())};
    reply.insert(reply.end(), data.begin(), data.end());
    return reply;
}

// Checks `ready` every millisecond until it holds or `timeout` passes, for conditions that nothing
// signals (kernel socket states, descriptor counts). Returns whether it held.
template <typename Ready>
bool PollUntil(Ready ready, milliseconds timeout = kPatience) {
    Clock::time_point deadline = Clock::now() + timeout;
    while (!ready()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(milliseconds(1));
    }
    return true;
}

class SerialSocketTest : public SocketTest {
protected:
    void SetUp() override {
        SocketTest::SetUp();
        SetBaudRate(9600);
        ASSERT_TRUE(device.Open());
    }

    void TearDown() override {
        ClosePort();
        ResetSerialPorts();
        SocketTest::TearDown();
    }

    DeviceSim device;
};
