#include "loopback_server.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port);
    return sa;
}

int ListenOnLoopback(int backlog, uint16_t* port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = Loopback(0);
    socklen_t size = sizeof sa;
    if (fd >= 0 &&
        (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, backlog) != 0 ||
         getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &size) != 0)) {
        close(fd);
        return -1;
    }
    *port = ntohs(sa.sin_port);
    return fd;
}

}  // namespace

LoopbackServer::LoopbackServer() {
    listen_fd_ = ListenOnLoopback(8, &port_);
    wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread([this] { Run(); });
}

LoopbackServer::~LoopbackServer() {
    Tell([this] { stop_ = true; });
    thread_.join();
    if (client_fd_ >= 0) {
        close(client_fd_);
    }
    close(listen_fd_);
    close(wake_fd_);
}

template <typename F>
void LoopbackServer::Tell(F change) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        change();
    }
    uint64_t one = 1;
    if (write(wake_fd_, &one, sizeof one) < 0) {
        // the counter is already set: the thread wakes anyway
    }
}

void LoopbackServer::Send(const std::vector<uint8_t>& bytes) {
    Tell([&] { pending_.insert(pending_.end(), bytes.begin(), bytes.end()); });
}

void LoopbackServer::Disconnect(bool reset) {
    Tell([&] {
        disconnect_ = true;
        reset_ = reset;
    });
}

// Accepts one client at a time, records what it sends, and, with a client, sends what is queued
// and then disconnects if asked.
void LoopbackServer::Run() {
    for (;;) {
        struct pollfd p[2] = {{wake_fd_, POLLIN, 0},
                              {client_fd_ >= 0 ? client_fd_ : listen_fd_, POLLIN, 0}};
        if (poll(p, 2, -1) < 0 && errno != EINTR) {
            return;
        }
        uint64_t value;
        if (read(wake_fd_, &value, sizeof value) < 0) {
            // not woken: the socket is ready
        }
        uint8_t chunk[256];
        ssize_t n = 0;
        if (p[1].revents != 0 && client_fd_ < 0) {
            client_fd_ = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        } else if (p[1].revents != 0 && (n = recv(client_fd_, chunk, sizeof chunk, 0)) <= 0) {
            close(client_fd_);
            client_fd_ = -1;
        }
        std::vector<uint8_t> out;
        bool disconnect = false;
        bool reset = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_) {
                return;
            }
            received_.insert(received_.end(), chunk, chunk + (n > 0 ? n : 0));
            if (client_fd_ >= 0) {
                out.swap(pending_);
                std::swap(disconnect, disconnect_);
                std::swap(reset, reset_);
            }
        }
        for (ssize_t done = 0, sent = 0; done < static_cast<ssize_t>(out.size()); done += sent) {
            if ((sent = send(client_fd_, out.data() + done, out.size() - done, MSG_NOSIGNAL)) <=
                0) {
                break;
            }
        }
        if (disconnect) {
            if (reset) {
                struct linger abort = {1, 0};  // close with a reset instead of a FIN
                setsockopt(client_fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            }
            close(client_fd_);
            client_fd_ = -1;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        connected_ = client_fd_ >= 0;
        changed_.notify_all();
    }
}

EchoServer::EchoServer() {
    listen_fd_ = ListenOnLoopback(64, &port_);
    wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread([this] { Run(); });
}

EchoServer::~EchoServer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    uint64_t one = 1;
    ssize_t ignored = write(wake_fd_, &one, sizeof one);
    (void)ignored;
    thread_.join();
    for (int fd : clients_) {
        close(fd);
    }
    close(listen_fd_);
    close(wake_fd_);
}

bool EchoServer::WaitAllClosed(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return open_ == 0; });
}

int EchoServer::Accepted() {
    std::lock_guard<std::mutex> lock(mutex_);
    return accepted_;
}

void EchoServer::Run() {
    std::vector<struct pollfd> p;
    for (;;) {
        p.assign({{wake_fd_, POLLIN, 0}, {listen_fd_, POLLIN, 0}});
        for (int fd : clients_) {
            p.push_back({fd, POLLIN, 0});
        }
        if (poll(p.data(), p.size(), -1) < 0) {
            continue;
        }
        if (p[0].revents != 0) {
            return;  // only woken to stop
        }
        std::vector<int> still;
        for (size_t i = 2; i < p.size(); ++i) {
            int fd = p[i].fd;
            if (p[i].revents == 0) {
                still.push_back(fd);
                continue;
            }
            uint8_t chunk[512];
            ssize_t n = recv(fd, chunk, sizeof chunk, 0);
            if (n > 0 && send(fd, chunk, static_cast<size_t>(n), MSG_NOSIGNAL) == n) {
                still.push_back(fd);
                continue;
            }
            close(fd);
        }
        if (p[1].revents != 0) {
            int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                still.push_back(fd);
                std::lock_guard<std::mutex> lock(mutex_);
                ++accepted_;
            }
        }
        clients_.swap(still);
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = static_cast<int>(clients_.size());
        changed_.notify_all();
    }
}

StalledListener::StalledListener() {
    listen_fd_ = ListenOnLoopback(0, &port_);
    // Connect until one connect stays unanswered: from then on the queue is full.
    for (int i = 0; listen_fd_ >= 0 && i < 16 && !full_; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            return;
        }
        fillers_.push_back(fd);
        sockaddr_in sa = Loopback(port_);
        if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
            struct pollfd p = {fd, POLLOUT, 0};
            full_ = errno == EINPROGRESS && poll(&p, 1, 300) == 0;
        }
    }
}

StalledListener::~StalledListener() {
    for (int fd : fillers_) {
        close(fd);
    }
    if (listen_fd_ >= 0) {
        close(listen_fd_);
    }
}

uint16_t ClosedLoopbackPort() {
    uint16_t port = 0;
    int fd = ListenOnLoopback(1, &port);
    if (fd >= 0) {
        close(fd);
    }
    return port;
}

int PendingConnectsTo(uint16_t port) {
    FILE* f = fopen("/proc/net/tcp", "r");
    if (f == nullptr) {
        return -1;
    }
    char line[512];
    int pending = 0;
    unsigned remotePort = 0;
    unsigned state = 0;
    while (fgets(line, sizeof line, f) != nullptr) {
        pending += sscanf(line, " %*d: %*x:%*x %*x:%x %x", &remotePort, &state) == 2 &&
                   remotePort == port && state == 0x02;  // SYN-SENT
    }
    fclose(f);
    return pending;
}

int OpenDescriptorCount() {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) {
        return -1;
    }
    int count = 0;
    while (struct dirent* entry = readdir(dir)) {
        count += entry->d_name[0] != '.';
    }
    closedir(dir);
    return count;
}

std::vector<uint8_t> LoopbackAddressBlock(uint16_t port) {
    std::vector<uint8_t> block = {
        0x00, 0x02, static_cast<uint8_t>(port & 0xFF), static_cast<uint8_t>(port >> 8), 127, 0,
        0,    1};
    block.resize(16, 0x00);
    return block;
}
