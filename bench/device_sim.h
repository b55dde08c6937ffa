// A device on the other end of a pseudo-terminal: the tests and the benchmark open the port on its
// slave path and speak the protocol through its master side. It writes requests in chunks as a
// device would and reads replies with a deadline. Uses no test framework, so the benchmark can
// link it.
#pragma once

#include <termios.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// The request frame `cls 00 len cmd params...`, its length byte counting the command and params.
Bytes RequestFrame(uint8_t cls, uint8_t cmd, const Bytes& params = {});

// Requests the tests and the benchmark send often.
extern const Bytes kPowerOnRequest;   // 01 00 01 02, also the sync frame
extern const Bytes kPowerOffRequest;  // 0F 00 01 FF
extern const Bytes kStatusRequest;    // 02 00 01 01
extern const Bytes kLineCheckRequest;
extern const Bytes kDialupRequest;
extern const Bytes kHangupRequest;

class DeviceSim {
public:
    DeviceSim() = default;
    DeviceSim(const DeviceSim&) = delete;
    DeviceSim& operator=(const DeviceSim&) = delete;
    ~DeviceSim() { Close(); }

    // Creates the pseudo-terminal. Also holds the slave open itself, so the device side sees no
    // hang-up while the port is closed and reopened. Returns false when no pty can be had.
    bool Open();

    // Closes both sides.
    void Close();

    // The device hangs up: closes its side (the master), so the port's end fails for good.
    void HangUp();

    // The path the port opens ("/dev/pts/N").
    const std::string& SlavePath() const { return slavePath_; }
    int MasterFd() const { return master_; }
    // The simulator's own descriptor of the slave side (for flags and queue sizes).
    int SlaveFd() const { return slave_; }

    // Writes all of `bytes` at once. Returns false when they could not be written within a second.
    bool Write(const Bytes& bytes);

    // Writes `bytes` in chunks of the given sizes (the last size repeats), waiting after each chunk
    // until the port has taken it in. Returns false on a write failure or time-out.
    bool WriteChunks(const Bytes& bytes, const std::vector<size_t>& sizes);

    // Waits until the port's input queue is empty (the reader has read everything written).
    bool WaitTaken(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

    // Reads until `n` bytes have arrived or `timeout` has passed; returns what arrived.
    Bytes Read(size_t n, std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

    // As Read, into `buffer`, without allocating. Returns the number of bytes stored.
    size_t ReadInto(uint8_t* buffer, size_t n,
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

    // Reads one reply frame (header, then as many bytes as its length byte says). Returns what
    // arrived by the deadline, which is short of a frame on time-out.
    Bytes ReadFrame(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

    // Writes `request` and reads a reply of `replyLength` bytes.
    Bytes Request(const Bytes& request, size_t replyLength,
                  std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

    // Writes `request` and reads one reply frame (a reply whose length byte counts all its bytes).
    Bytes Exchange(const Bytes& request,
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

    // Returns true when no byte arrives for `quiet`; bytes that do arrive are read and dropped.
    bool Quiet(std::chrono::milliseconds quiet);

    // The line settings as the device sees them.
    bool LineSettings(struct termios* t) const;

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};
