#include <string>
#include <vector>

#include "support/core_fixture.h"

using Events = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

class AdapterTest : public CoreTest {
protected:
    // Feeds one request and returns the events it caused.
    static Events Request(const Bytes& frame) {
        ResetEventsOnly();
        Feed(frame);
        return TestEvents();
    }
};

namespace {
const Bytes kPowerOn = {0x01, 0x00, 0x01, 0x02};
const Bytes kPowerOff = {0x0F, 0x00, 0x01, 0xFF};
const Bytes kStatus = {0x02, 0x00, 0x01, 0x01};
const Bytes kDialup = {0x01, 0x00, 0x01, 0x08};
const Bytes kHangup = {0x01, 0x00, 0x01, 0x0A};
}  // namespace

TEST_F(AdapterTest, PowerOnFirstAnswerThenFrameAnswerAndAgainAfterPowerOff) {
    EXPECT_EQ(Request(kPowerOn), (Events{"status:power ON", "pause:1", "send:00 55 55 55 55 55"}));
    EXPECT_EQ(Request(kPowerOn), (Events{"status:power ON", "send:01 00 03 02 31 30"}));
    EXPECT_EQ(Request(kPowerOff), (Events{"status:power OFF", "send:0F 00 01 FF 00"}));
    EXPECT_EQ(g_adapter.powered, 0);
    EXPECT_EQ(Request(kPowerOn), (Events{"status:power ON", "pause:1", "send:00 55 55 55 55 55"}));
}

TEST_F(AdapterTest, EveryAdapterCommandAnswersWithItsLabelPauseAndBytes) {
    Request(kPowerOn);
    EXPECT_EQ(Request({0x01, 0x00, 0x01, 0x00}),
              (Events{"status:check PDC", "pause:1", "send:01 00 03 00 00 0F"}));
    EXPECT_EQ(
        Request(kDialup),
        (Events{"status:dialup", "pause:500",
                "send:01 00 15 0B 00 08 48 01 C0 A8 00 01 C0 A8 00 02 C0 A8 00 03 C0 A8 00 04"}));
    EXPECT_EQ(g_adapter.dialed, 1);
    EXPECT_EQ(Request(kHangup), (Events{"status:hangup", "pause:1", "send:01 00 02 0B F3"}));
    EXPECT_EQ(g_adapter.dialed, 0);
    EXPECT_EQ(Request({0x01, 0x00, 0x01, 0x10}), (Events{"status:set PPP", "send:01 00 02 10 01"}));
    // set DNS carries two addresses, which are not used.
    EXPECT_EQ(Request({0x01, 0x00, 0x09, 0x11, 8, 8, 8, 8, 1, 1, 1, 1}),
              (Events{"status:set DNS", "send:01 00 02 11 01"}));
    // hangup without a dialup answers all the same
    EXPECT_EQ(Request(kHangup), (Events{"status:hangup", "pause:1", "send:01 00 02 0B F3"}));
}

TEST_F(AdapterTest, StatusByteFollowsBothFlags) {
    Request(kPowerOn);
    EXPECT_EQ(Request(kStatus), (Events{"status:check Status", "send:02 00 02 02 02"}));
    Request(kDialup);
    EXPECT_EQ(Request(kStatus), (Events{"status:check Status", "send:02 00 02 02 03"}));
    // power OFF does not clear dialed
    Request(kPowerOff);
    Request(kPowerOn);
    EXPECT_EQ(g_adapter.dialed, 1);
    EXPECT_EQ(Request(kStatus), (Events{"status:check Status", "send:02 00 02 02 03"}));
    // unpowered: the status request is never even dispatched, but the handler answers 00
    g_adapter.powered = 0;
    g_receive.count = 4;
    std::copy(kStatus.begin(), kStatus.end(), g_receive.bytes);
    ResetEventsOnly();
    HandleStatusCommand();
    EXPECT_EQ(SentFrames(), (std::vector<Bytes>{{0x02, 0x00, 0x02, 0x02, 0x00}}));
}

TEST_F(AdapterTest, UnknownCommandsInKnownClassesChangeNoFlag) {
    Request(kPowerOn);
    Request(kDialup);
    for (const Bytes& frame : {Bytes{0x02, 0x00, 0x01, 0x02}, Bytes{0x0F, 0x00, 0x01, 0x00},
                               Bytes{0x01, 0x00, 0x01, 0x01}, Bytes{0x01, 0x00, 0x01, 0x09}}) {
        Events events = Request(frame);
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events[0], "status:unkown command!");
        EXPECT_TRUE(SentFrames().empty());
        EXPECT_EQ(g_adapter.powered, 1);
        EXPECT_EQ(g_adapter.dialed, 1);
    }
}
