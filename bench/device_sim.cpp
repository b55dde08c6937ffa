#include "device_sim.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

using Clock = std::chrono::steady_clock;

const Bytes kPowerOnRequest = {0x01, 0x00, 0x01, 0x02};
const Bytes kPowerOffRequest = {0x0F, 0x00, 0x01, 0xFF};
const Bytes kStatusRequest = {0x02, 0x00, 0x01, 0x01};
const Bytes kLineCheckRequest = {0x01, 0x00, 0x01, 0x00};
const Bytes kDialupRequest = {0x01, 0x00, 0x01, 0x08};
const Bytes kHangupRequest = {0x01, 0x00, 0x01, 0x0A};

Bytes RequestFrame(uint8_t cls, uint8_t cmd, const Bytes& params) {
    Bytes frame(4 + params.size());
    frame[0] = cls;
    frame[1] = 0x00;
    frame[2] = static_cast<uint8_t>(params.size() + 1);
    frame[3] = cmd;
    std::copy(params.begin(), params.end(), frame.begin() + 4);
    return frame;
}

namespace {

int MillisLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

bool DeviceSim::Open() {
    Close();
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) {
        return false;
    }
    char name[128];
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name)) {
        Close();
        return false;
    }
    slavePath_ = name;
    slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    int flags = fcntl(master_, F_GETFL);
    if (slave_ < 0 || flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) {
        Close();
        return false;
    }
    return true;
}

void DeviceSim::Close() {
    HangUp();
    if (slave_ >= 0) {
        close(slave_);
        slave_ = -1;
    }
}

void DeviceSim::HangUp() {
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
}

bool DeviceSim::Write(const Bytes& bytes) {
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(1);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t w = write(master_, bytes.data() + done, bytes.size() - done);
        if (w > 0) {
            done += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        struct pollfd p = {master_, POLLOUT, 0};
        if (poll(&p, 1, MillisLeft(deadline)) == 0) {
            return false;
        }
    }
    return true;
}

bool DeviceSim::WriteChunks(const Bytes& bytes, const std::vector<size_t>& sizes) {
    size_t at = 0;
    for (size_t i = 0; at < bytes.size(); ++i) {
        size_t size = sizes.empty() ? bytes.size() : sizes[i < sizes.size() ? i : sizes.size() - 1];
        if (size == 0 || size > bytes.size() - at) {
            size = bytes.size() - at;
        }
        if (!Write(Bytes(bytes.begin() + at, bytes.begin() + at + size)) || !WaitTaken()) {
            return false;
        }
        at += size;
    }
    return true;
}

bool DeviceSim::WaitTaken(std::chrono::milliseconds timeout) {
    Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        int queued = 0;
        if (ioctl(slave_, TIOCINQ, &queued) != 0) {
            return false;
        }
        if (queued == 0) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        usleep(200);
    }
}

size_t DeviceSim::ReadInto(uint8_t* buffer, size_t n, std::chrono::milliseconds timeout) {
    Clock::time_point deadline = Clock::now() + timeout;
    size_t got = 0;
    while (got < n) {
        ssize_t r = read(master_, buffer + got, n - got);
        if (r > 0) {
            got += static_cast<size_t>(r);
            continue;
        }
        if (r < 0 && errno == EINTR) {
            continue;
        }
        int left = MillisLeft(deadline);
        if (left == 0 || (r < 0 && errno != EAGAIN)) {
            break;
        }
        struct pollfd p = {master_, POLLIN, 0};
        poll(&p, 1, left);
    }
    return got;
}

Bytes DeviceSim::Read(size_t n, std::chrono::milliseconds timeout) {
    Bytes got(n);
    got.resize(ReadInto(got.data(), n, timeout));
    return got;
}

Bytes DeviceSim::ReadFrame(std::chrono::milliseconds timeout) {
    Clock::time_point deadline = Clock::now() + timeout;
    Bytes frame = Read(3, timeout);
    if (frame.size() < 3) {
        return frame;
    }
    Bytes rest = Read(frame[2], std::chrono::milliseconds(MillisLeft(deadline)));
    frame.insert(frame.end(), rest.begin(), rest.end());
    return frame;
}

Bytes DeviceSim::Request(const Bytes& request, size_t replyLength,
                         std::chrono::milliseconds timeout) {
    if (!Write(request)) {
        return {};
    }
    return Read(replyLength, timeout);
}

Bytes DeviceSim::Exchange(const Bytes& request, std::chrono::milliseconds timeout) {
    if (!Write(request)) {
        return {};
    }
    return ReadFrame(timeout);
}

bool DeviceSim::Quiet(std::chrono::milliseconds quiet) {
    return Read(1, quiet).empty();
}

bool DeviceSim::LineSettings(struct termios* t) const {
    return tcgetattr(master_, t) == 0;
}
