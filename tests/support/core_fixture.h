// A fixture that starts every test from a fresh core: empty receive buffer, adapter off, no events.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "adapter/adapter.h"
#include "link/assembler.h"
#include "test_panel.h"

class CoreTest : public ::testing::Test {
protected:
    void SetUp() override { ResetTestPanel(); }
    void TearDown() override { ResetTestPanel(); }

    static void Feed(const std::vector<uint8_t>& chunk) {
        FeedReceivedBytes(chunk.data(), chunk.size());
    }

    // Powers the adapter on through the handshake and forgets the events it caused.
    static void PowerOn() {
        Feed({0x01, 0x00, 0x01, 0x02});
        ResetEventsOnly();
    }

    static void ResetEventsOnly() {
        AdapterState keep = g_adapter;
        ResetTestPanel();
        g_adapter = keep;
    }
};
