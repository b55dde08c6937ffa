// A fixture for the socket tests: a fresh core with every slot free, the cursor at 0, the stop
// signal cleared, the stalled test lookup armed, and a TCP server on 127.0.0.1.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "core_fixture.h"
#include "loopback_server.h"
#include "sockets/net_shim.h"
#include "sockets/socket_slots.h"
#include "test_resolver.h"

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Deadline for waits that should succeed at once; only a failing test ever waits this long.
constexpr milliseconds kPatience{5000};

class SocketTest : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        ClearReaderStop();
        ResetSocketSlots();
        ArmStalledLookups();
    }
    void TearDown() override {
        ResetSocketSlots();
        ClearReaderStop();
        CoreTest::TearDown();
    }

    // Allocates a slot and connects it to `server`. Returns the slot, or -1.
    static int8_t ConnectedSlot(LoopbackServer& server) {
        uint8_t slot = AllocSocketSlot();
        if (slot == kSlotFailure) {
            return -1;
        }
        Bytes block = LoopbackAddressBlock(server.Port());
        int8_t s = static_cast<int8_t>(slot);
        if (ConnectSocketSlot(s, block.data()) != 1 || !server.WaitConnected(kPatience)) {
            return -1;
        }
        return s;
    }

    // Waits until the process holds at most `n` descriptors. Returns whether it does. (At most:
    // a lookup worker of an earlier test may still have been letting go of its descriptor when
    // `n` was counted.)
    static bool WaitDescriptorCount(int n) {
        Clock::time_point deadline = Clock::now() + kPatience;
        while (OpenDescriptorCount() > n && Clock::now() < deadline) {
            std::this_thread::sleep_for(milliseconds(1));  // polling; the deadline bounds it
        }
        return OpenDescriptorCount() <= n;
    }

    static milliseconds Since(Clock::time_point start) {
        return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
    }

    LoopbackServer server;
};
