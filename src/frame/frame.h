// The frame on the serial line: class, reserved byte, length, command, parameters.
#pragma once

#include <cstddef>
#include <cstdint>

// Offsets inside a LinkFrame.
constexpr size_t kFrameClass = 0;
constexpr size_t kFrameReserved = 1;
constexpr size_t kFrameLength = 2;  // bytes after this one: command plus parameters
constexpr size_t kFrameCommand = 3;
constexpr size_t kFrameParams = 4;
constexpr size_t kFrameHeader = 3;  // a frame occupies length + 3 bytes

// FrameClass values.
enum FrameClass : uint8_t {
    kClassAdapter = 0x01,
    kClassStatus = 0x02,
    kClassPowerOff = 0x0F,
    kClassSocket = 0x11,
};

// The sync frame, which is also the power-on request.
constexpr uint8_t kSyncFrame[4] = {0x01, 0x00, 0x01, 0x02};

// Size of the receive buffer and of the reply work area.
constexpr size_t kFrameCapacity = 256;
// Largest length byte whose frame fits the receive buffer.
constexpr uint8_t kMaxFrameLength = kFrameCapacity - kFrameHeader;
