// The floor of the line benchmark: a bare responder to the device's requests, with no state beyond
// one socket, no log, no output and no waits but its reads. It answers power ON, the status
// request, and open, connect, send, receive a block and close on one socket (one recv a receive),
// over a pseudo-terminal or a TCP connection of its own (socket://127.0.0.1:PORT).
//   bare_responder PTY_PATH | socket://127.0.0.1:PORT
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int Line(const char* name) {
    int port = 0;
    if (sscanf(name, "socket://127.0.0.1:%d", &port) == 1) {
        int fd = socket(AF_INET, SOCK_STREAM, 0), on = 1;
        sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        return connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 ? fd : -1;
    }
    int fd = open(name, O_RDWR | O_NOCTTY);
    termios t;
    if (fd >= 0 && tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

bool ReadAll(int fd, uint8_t* bytes, size_t n) {
    for (size_t done = 0; done < n;) {
        ssize_t r = read(fd, bytes + done, n - done);
        if (r <= 0) {
            return false;
        }
        done += static_cast<size_t>(r);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int line = argc > 1 ? Line(argv[1]) : -1;
    if (line < 0) {
        fprintf(stderr, "usage: bare_responder PTY_PATH | socket://127.0.0.1:PORT\n");
        return 2;
    }
    int peer = -1;
    bool powered = false;
    uint8_t frame[260], reply[260];
    while (ReadAll(line, frame, 4) && ReadAll(line, frame + 4, frame[2] > 1 ? frame[2] - 1 : 0)) {
        size_t n = 0;
        uint8_t command = frame[3];
        if (frame[0] == 0x01 && command == 0x02) {
            const uint8_t on[] = {0x01, 0x00, 0x03, 0x02, 0x31, 0x30},
                          first[] = {0, 0x55, 0x55, 0x55, 0x55, 0x55};
            memcpy(reply, powered ? on : first, n = 6);
            powered = true;
        } else if (frame[0] == 0x02) {
            const uint8_t status[] = {0x02, 0x00, 0x02, 0x02, 0x02};
            memcpy(reply, status, n = 5);
        } else if (frame[0] == 0x11) {
            memcpy(reply, "\x11\x00\x03", 3);
            reply[3] = command;
            reply[4] = frame[4];
            n = 6;
            if (command == 0x01) {
                peer = socket(AF_INET, SOCK_STREAM, 0);
                reply[2] = 0x02, reply[4] = 0x00, n = 5;
            } else if (command == 0x03) {
                sockaddr_in to = {};
                to.sin_family = AF_INET;
                to.sin_port = htons(static_cast<uint16_t>(frame[7] | frame[8] << 8));
                memcpy(&to.sin_addr, frame + 9, 4);
                reply[5] = connect(peer, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
            } else if (command == 0x0E) {
                reply[5] = static_cast<uint8_t>(send(peer, frame + 5, frame[2] - 2u, MSG_NOSIGNAL));
            } else if (command == 0x0F) {
                pollfd p = {peer, POLLIN, 0};
                ssize_t got = poll(&p, 1, 1000) > 0 ? recv(peer, reply + 6, frame[5], 0) : 0;
                reply[5] = got > 0 ? static_cast<uint8_t>(got) : 0xFF;
                reply[2] = static_cast<uint8_t>(3 + (got > 0 ? got : 0));
                n = 6 + static_cast<size_t>(got > 0 ? got : 0);
            } else if (command == 0x07) {
                reply[5] = close(peer) == 0;
            }
        }
        if (n > 0 && write(line, reply, n) != static_cast<ssize_t>(n)) {
            return 1;
        }
    }
    return 0;
}
