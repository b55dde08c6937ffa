// The test harness: links the core with a panel that prints what the core shows, and takes its
// commands on stdin, one per line. Built twice:
//  - harness_core: the port is this file too; every reply written is printed ("send XX XX ..."),
//    every pause asked for is printed ("pause MS") and costs no time. Commands:
//      feed XX XX ...   take the bytes in as one read from the port (at most 256 per call)
//  - harness_serial (ZUNDREL_HARNESS_SERIAL): the real serial port and reader thread. Commands:
//      open PATH        open the terminal at PATH as the port; prints "open 1" or "open 0"
//      close            close the port
//      telnet XX , XX   what an rfc2217:// line makes of these bytes from its server, read in the
//                       chunks the commas cut: "telnet DEVICE'S BYTES | ITS ANSWERS"
// Both: "log PATH" names the traffic log (nothing after "log": no log). Every command answers with
// one line starting with its own name; events are printed as they happen:
// "status LABEL", "box TEXT" (the box is dismissed at once), "send ...", "pause MS".
// Host names ending in ".invalid" never reach a name server: they are not found, and
// "stall.invalid" is looked up for ever (until the process ends). Names ending in ".localhost" are
// found as localhost is.
#include <dlfcn.h>
#include <netdb.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string>

#include "frame/port_seam.h"
#include "front/front_end.h"
#include "link/frame_assembly.h"
#include "log/traffic_log.h"
#ifdef ZUNDREL_HARNESS_SERIAL
#include "line/telnet.h"
#include "serial/serial_port.h"
#endif

namespace {

std::mutex g_out;

// Prints one line made from `format` as printf does. It allocates nothing: the long run counts the
// memory a frame costs.
__attribute__((format(printf, 1, 2))) void Print(const char* format, ...) {
    std::lock_guard<std::mutex> lock(g_out);
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    putchar('\n');
    fflush(stdout);
}

}  // namespace

// --- The program's face
// ------------------------------------------------------------------------------

void FrontSetStatus(const char* label) {
    Print("status %s", label);
}

void FrontShowError(const char* text) {
    Print("box %s", text);
}

void FrontTell(const char*) {}

void FrontSocketCount(int) {}

void FrontTrace(const char* line) {
    Print("trace %s", line);
}

#ifdef ZUNDREL_HARNESS_SERIAL
void FrontPortStateChanged() {}
#else
// --- The port of harness_core -----------------------------------------------------------------

void WritePort(const uint8_t* bytes, size_t n) {
    std::string line = "send";
    char pair[4];
    for (size_t i = 0; i < n; ++i) {
        snprintf(pair, sizeof pair, " %02X", bytes[i]);
        line += pair;
    }
    Print("%s", line.c_str());
}

int PauseReader(unsigned ms) {
    Print("pause %u", ms);
    return 1;
}
#endif

// --- The resolver ---------------------------------------------------------------------------

extern "C" int getaddrinfo(const char* name, const char* service, const struct addrinfo* hints,
                           struct addrinfo** answer) {
    size_t n = name != nullptr ? strlen(name) : 0;
    if (n > 10 && strcmp(name + n - 10, ".localhost") == 0) {
        name = "localhost";  // a name of any length that is found
        n = strlen(name);
    }
    if (n >= 8 && strcmp(name + n - 8, ".invalid") == 0) {
        while (strcmp(name, "stall.invalid") == 0) {
            pause();  // a lookup that never ends; the reader must not wait for it
        }
        return EAI_NONAME;
    }
    using Lookup = int (*)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
    static Lookup platform = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "getaddrinfo"));
    return platform != nullptr ? platform(name, service, hints, answer) : EAI_FAIL;
}

// --- Commands -------------------------------------------------------------------------------

int main() {
    for (std::string line; std::getline(std::cin, line);) {
        std::string command = line.substr(0, line.find(' '));
        const char* arg = line.c_str() + std::min(line.size(), command.size() + 1);
        if (command == "log") {
            SetLogPath(arg);
            Print("log");
#ifndef ZUNDREL_HARNESS_SERIAL
        } else if (command == "feed") {
            uint8_t bytes[4096];
            size_t n = 0;
            for (const char* p = arg; *p != '\0' && n < sizeof bytes;) {
                char* end;
                bytes[n++] = static_cast<uint8_t>(strtoul(p, &end, 16));
                p = end + strspn(end, " ");
            }
            for (size_t at = 0; at < n; at += 256) {
                FeedReceivedBytes(bytes + at, std::min<size_t>(256, n - at));
            }
            Print("feed");
#else
        } else if (command == "open") {
            Print("open %d", OpenPortDevice(arg));
        } else if (command == "close") {
            ClosePort();
            Print("close");
        } else if (command == "telnet") {
            TelnetInput input = {};
            std::string kept, answered;
            for (const char* p = arg; *p != '\0';) {
                uint8_t chunk[256], answers[3 * sizeof chunk];
                size_t n = 0, m = 0;
                for (char* end; *(p += strspn(p, " ")) != '\0' && *p != ',' && n < sizeof chunk;
                     p = end) {
                    chunk[n++] = static_cast<uint8_t>(strtoul(p, &end, 16));
                }
                p += *p == ',' ? 1 : 0;
                size_t k = TelnetTakeData(&input, chunk, n, answers, &m);
                kept.append(reinterpret_cast<char*>(chunk), k);
                answered.append(reinterpret_cast<char*>(answers), m);
            }
            std::string line = "telnet";
            for (const std::string* part : {&kept, &answered}) {
                for (unsigned char b : *part) {
                    char pair[4];
                    snprintf(pair, sizeof pair, " %02X", b);
                    line += pair;
                }
                line += part == &kept ? " |" : "";
            }
            Print("%s", line.c_str());
#endif
        }
    }
#ifdef ZUNDREL_HARNESS_SERIAL
    ClosePort();
#endif
    return 0;
}
