#include <string>
#include <vector>

#include "support/core_fixture.h"

using Events = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

namespace {
const Bytes kFirstPowerOnAnswer = {0x00, 0x55, 0x55, 0x55, 0x55, 0x55};
const Bytes kStatusRequest = {0x02, 0x00, 0x01, 0x01};
}  // namespace

class LinkTest : public CoreTest {};

TEST_F(LinkTest, SyncHuntDropsLeadingBytesUntilTheSyncFrame) {
    Feed({0x00, 0x01, 0x00, 0x01, 0x02});
    EXPECT_EQ(SentFrames(), std::vector<Bytes>{kFirstPowerOnAnswer});
    EXPECT_EQ(g_adapter.powered, 1);
    EXPECT_EQ(g_receive.count, 0u);
}

TEST_F(LinkTest, SyncHuntAcrossChunkBoundaries) {
    Feed({0x01, 0x00});
    EXPECT_TRUE(TestEvents().empty());
    Feed({0x01, 0x02});
    EXPECT_EQ(SentFrames(), std::vector<Bytes>{kFirstPowerOnAnswer});

    ResetTestPanel();
    Feed({0x02, 0x00, 0x02, 0x02, 0x01});
    EXPECT_TRUE(TestEvents().empty());
    ASSERT_EQ(g_receive.count, 3u);
    EXPECT_EQ(HexBytes(g_receive.bytes, 3), "02 02 01");
    Feed({0x01, 0x00, 0x01, 0x02});
    EXPECT_EQ(SentFrames(), std::vector<Bytes>{kFirstPowerOnAnswer});
}

TEST_F(LinkTest, UnpoweredIgnoresEverythingButTheSyncFrame) {
    Feed(kStatusRequest);
    Feed({0x01, 0x00, 0x01, 0x00});  // line check: not the sync frame
    Feed({0x11, 0x00, 0x01, 0x01});
    EXPECT_TRUE(TestEvents().empty());
    EXPECT_EQ(g_adapter.powered, 0);
    // Sync frame must carry 00 in its reserved byte while unpowered.
    ResetTestPanel();
    Feed({0x01, 0x07, 0x01, 0x02});
    EXPECT_TRUE(TestEvents().empty());
}

TEST_F(LinkTest, PoweredIgnoresTheReservedByte) {
    PowerOn();
    Feed({0x02, 0x5A, 0x01, 0x01});
    EXPECT_EQ(SentFrames(), (std::vector<Bytes>{{0x02, 0x00, 0x02, 0x02, 0x02}}));
}

TEST_F(LinkTest, FrameSplitOneBytePerChunkIsDispatchedOnItsLastByte) {
    PowerOn();
    const Bytes frame = {0x01, 0x00, 0x02, 0x10, 0x77};  // set PPP with one parameter byte
    for (size_t i = 0; i + 1 < frame.size(); ++i) {
        Feed({frame[i]});
        EXPECT_TRUE(TestEvents().empty()) << "after byte " << i;
    }
    Feed({frame.back()});
    EXPECT_EQ(SentFrames(), (std::vector<Bytes>{{0x01, 0x00, 0x02, 0x10, 0x01}}));
}

TEST_F(LinkTest, LengthZeroIsAFourByteFrame) {
    PowerOn();
    Feed({0x02, 0x00, 0x00, 0x01});
    EXPECT_EQ(SentFrames(), (std::vector<Bytes>{{0x02, 0x00, 0x02, 0x02, 0x02}}));
}

TEST_F(LinkTest, TwoFramesInOneChunkLogBothAndDropTheSecond) {
    std::string path = ::testing::TempDir() + "zundrel_two_frames.log";
    remove(path.c_str());
    PowerOn();
    SetTestLogPath(path);
    Feed({0x02, 0x00, 0x01, 0x01, 0x01, 0x00, 0x02, 0x10, 0x01});
    EXPECT_EQ(SentFrames(), (std::vector<Bytes>{{0x02, 0x00, 0x02, 0x02, 0x02}}));
    EXPECT_EQ(g_receive.count, 0u);
    FILE* f = fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char text[256] = {};
    size_t got = fread(text, 1, sizeof text - 1, f);
    fclose(f);
    remove(path.c_str());
    EXPECT_EQ(std::string(text, got), "R> 02 00 01 01 01 00 02 10 01 \r\nS> 02 00 02 02 02 \r\n");
}

TEST_F(LinkTest, UnknownClassAndCommandsShowTheBoxAndSendNothing) {
    PowerOn();
    struct Case {
        Bytes frame;
        const char* box;
    } cases[] = {
        {{0x05, 0x00, 0x01, 0x33}, "box:unkown command (05:33)"},
        {{0x02, 0x00, 0x01, 0x02}, "box:unkown command (02:02)"},
        {{0x0F, 0x00, 0x01, 0x00}, "box:unkown command (0F:00)"},
        {{0x01, 0x00, 0x01, 0x01}, "box:unkown command (01:01)"},
        {{0xAB, 0x00, 0x01, 0xCD}, "box:unkown command (AB:CD)"},
    };
    for (const Case& c : cases) {
        ResetEventsOnly();
        Feed(c.frame);
        EXPECT_EQ(TestEvents(), (Events{"status:unkown command!", c.box}));
        EXPECT_EQ(g_adapter.powered, 1);
        EXPECT_EQ(g_adapter.dialed, 0);
        EXPECT_EQ(g_receive.count, 0u);
    }
}

// A length byte above 253 names a frame that can never fit the buffer. It is dropped at once, and
// the next frame the device sends is answered.
TEST_F(LinkTest, FrameThatCanNeverFitIsDroppedAndTheLinkRecovers) {
    PowerOn();
    Feed({0x11, 0x00, 0xFE, 0x0E, 0x00, 0x41});
    EXPECT_EQ(g_receive.count, 0u);
    Feed(kStatusRequest);
    EXPECT_EQ(SentFrames().size(), 1u);
}

// An incomplete frame followed by more bytes than fit: the frame completes with what fits and the
// overflow is discarded with it, as bytes following a frame always are. Nothing is written past
// the buffer and the next frame is answered.
TEST_F(LinkTest, OverflowingChunkCompletesTheWaitingFrameAndTheLinkRecovers) {
    PowerOn();
    Feed({0x01, 0x00, 0xFD, 0x10});  // set PPP claiming 253 bytes
    Bytes flood(300, 0xEE);
    Feed(Bytes(flood.begin(), flood.begin() + 256));
    EXPECT_EQ(SentFrames(), (std::vector<Bytes>{{0x01, 0x00, 0x02, 0x10, 0x01}}));
    EXPECT_EQ(g_receive.count, 0u);
    ResetEventsOnly();
    Feed(kStatusRequest);
    EXPECT_EQ(SentFrames().size(), 1u);
}

// While unpowered, a chunk larger than the room left is hunted through in pieces, so a sync frame
// at its very end is still found.
TEST_F(LinkTest, SyncFrameAtTheEndOfAnOverfullChunkIsFound) {
    Feed({0x01, 0x00, 0x01});
    Bytes chunk(252, 0x00);
    chunk.insert(chunk.end(), {0x01, 0x00, 0x01, 0x02});
    Feed(chunk);
    EXPECT_EQ(SentFrames(), std::vector<Bytes>{kFirstPowerOnAnswer});
}
