#include "log/traffic_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "support/core_fixture.h"

class TrafficLogTest : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        path_ = ::testing::TempDir() + "zundrel_log_test_" + std::to_string(getpid()) + ".log";
        unlink(path_.c_str());
    }
    void TearDown() override {
        unlink(path_.c_str());
        CoreTest::TearDown();
    }
    std::string Contents() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool Exists() const { return access(path_.c_str(), F_OK) == 0; }
    std::string path_;
};

TEST_F(TrafficLogTest, HandshakeWritesExactLines) {
    SetTestLogPath(path_);
    Feed({0x01, 0x00, 0x01, 0x02});
    Feed({0xAB});  // powered now: an incomplete frame writes nothing
    EXPECT_EQ(Contents(), "R> 01 00 01 02 \r\nS> 00 55 55 55 55 55 \r\n");
}

TEST_F(TrafficLogTest, EmptyPathWritesAndCreatesNothing) {
    Feed({0x01, 0x00, 0x01, 0x02});
    EXPECT_FALSE(Exists());
    // The path is read for every line: set it, log one frame, clear it, log nothing more.
    SetTestLogPath(path_);
    Feed({0x02, 0x00, 0x01, 0x01});
    SetTestLogPath("");
    Feed({0x02, 0x00, 0x01, 0x01});
    EXPECT_EQ(Contents(), "R> 02 00 01 01 \r\nS> 02 00 02 02 02 \r\n");
}

TEST_F(TrafficLogTest, ExistingFileIsOnlyAppendedTo) {
    {
        std::ofstream out(path_, std::ios::binary);
        out << "earlier run\r\n";
    }
    SetTestLogPath(path_);
    WriteLogLine('S', reinterpret_cast<const uint8_t*>("\x00\x0F\xF0\xFF"), 4);
    EXPECT_EQ(Contents(), "earlier run\r\nS> 00 0F F0 FF \r\n");
}

TEST_F(TrafficLogTest, UnknownCommandGetsItsReceiveLineOnly) {
    PowerOn();
    SetTestLogPath(path_);
    Feed({0x05, 0x00, 0x01, 0x00});
    EXPECT_EQ(Contents(), "R> 05 00 01 00 \r\n");
}

TEST_F(TrafficLogTest, LineIsSkippedWhileAnotherHolderHasTheFile) {
    SetTestLogPath(path_);
    int fd = open(path_.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    Feed({0x01, 0x00, 0x01, 0x02});
    EXPECT_EQ(SentFrames().size(), 1u);  // the frame is handled as usual
    EXPECT_EQ(Contents(), "");
    close(fd);
    WriteLogLine('R', reinterpret_cast<const uint8_t*>("\x01"), 1);
    EXPECT_EQ(Contents(), "R> 01 \r\n");
}

TEST_F(TrafficLogTest, UnopenablePathIsSkippedSilently) {
    SetTestLogPath(::testing::TempDir());  // a directory
    Feed({0x01, 0x00, 0x01, 0x02});
    SetTestLogPath("/nonexistent-dir/zundrel.log");
    Feed({0x02, 0x00, 0x01, 0x01});
    EXPECT_EQ(SentFrames().size(), 2u);
}
