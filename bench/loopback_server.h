// TCP helpers for the socket tests. Everything here lives on 127.0.0.1 only.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// A TCP server on 127.0.0.1 at a port the system picks. Its own thread accepts one connection at a
// time, sends what the test queues, and records every byte the client sends.
class LoopbackServer {
public:
    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    uint16_t Port() const { return port_; }

    // Sends `bytes` to the client, at once or as soon as one has connected.
    void Send(const std::vector<uint8_t>& bytes);

    // Closes the current connection after everything queued has been sent. With `reset`, the
    // close aborts the connection (SO_LINGER 0): the client gets a reset instead of an end.
    void Disconnect(bool reset = false);

    // Wait until a client is connected, until the current connection is closed (by either side),
    // or until at least `n` bytes have been received in all. Return whether it happened in time.
    bool WaitConnected(std::chrono::milliseconds t) {
        return WaitFor(t, [&] { return connected_; });
    }
    bool WaitDisconnected(std::chrono::milliseconds t) {
        return WaitFor(t, [&] { return !connected_; });
    }
    bool WaitReceived(size_t n, std::chrono::milliseconds t) {
        return WaitFor(t, [&] { return received_.size() >= n; });
    }

    // Everything received so far.
    std::vector<uint8_t> Received() {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }

private:
    template <typename P>
    bool WaitFor(std::chrono::milliseconds timeout, P done) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, done);
    }
    template <typename F>
    void Tell(F change);  // makes `change` under the lock and wakes the server thread
    void Run();

    int listen_fd_ = -1;
    int wake_fd_ = -1;
    int client_fd_ = -1;  // server thread only
    uint16_t port_ = 0;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<uint8_t> pending_;
    std::vector<uint8_t> received_;
    bool connected_ = false;
    bool disconnect_ = false;
    bool reset_ = false;
    bool stop_ = false;

    std::thread thread_;
};

// A TCP server on 127.0.0.1 that serves any number of connections at once and sends every byte
// it receives straight back. Its own thread does the work.
class EchoServer {
public:
    EchoServer();
    ~EchoServer();
    EchoServer(const EchoServer&) = delete;
    EchoServer& operator=(const EchoServer&) = delete;

    uint16_t Port() const { return port_; }

    // Waits until the server holds no connection any more. Returns whether it holds none.
    bool WaitAllClosed(std::chrono::milliseconds timeout);

    // The number of connections accepted so far.
    int Accepted();

private:
    void Run();

    int listen_fd_ = -1;
    int wake_fd_ = -1;
    uint16_t port_ = 0;
    std::vector<int> clients_;  // server thread only

    std::mutex mutex_;
    std::condition_variable changed_;
    int open_ = 0;
    int accepted_ = 0;
    bool stop_ = false;

    std::thread thread_;
};

// A listener on 127.0.0.1 whose accept queue is full and never served: a further connect to its
// port is never answered (the kernel drops the SYNs and the client keeps retrying).
class StalledListener {
public:
    StalledListener();
    ~StalledListener();
    StalledListener(const StalledListener&) = delete;
    StalledListener& operator=(const StalledListener&) = delete;

    uint16_t Port() const { return port_; }

    // True when the accept queue could be filled.
    bool Full() const { return full_; }

private:
    int listen_fd_ = -1;
    std::vector<int> fillers_;
    uint16_t port_ = 0;
    bool full_ = false;
};

// A port on 127.0.0.1 that nobody listens on: bound once to learn a free port, then closed.
uint16_t ClosedLoopbackPort();

// The number of sockets of this machine in SYN-SENT towards `port` (connects not yet answered).
int PendingConnectsTo(uint16_t port);

// The number of descriptors this process holds open.
int OpenDescriptorCount();

// The 16-byte socket address block of 127.0.0.1:`port` as the device sends it.
std::vector<uint8_t> LoopbackAddressBlock(uint16_t port);
