// A serial line over the network, named as serial tools name one: socket://HOST:PORT (this program
// connects, and the TCP stream is the line byte for byte), rfc2217://HOST:PORT (a Telnet connection
// with the COM port control option) and listen://ADDR:PORT (this program listens and the other end
// connects; listen://:PORT listens on 127.0.0.1 only). HOST is a name, an IPv4 address or an IPv6
// address in brackets.
#pragma once

#include <cstddef>

// The kinds of network line, by their scheme.
enum LineScheme { kNoUrl = 0, kLineSocket, kLineRfc2217, kLineListen };

// The longest host name (as DNS allows it), and the bytes the longest line name takes with its NUL.
constexpr size_t kMostHostBytes = 253;
constexpr size_t kLineNameBytes = sizeof "rfc2217://[]:65535" + kMostHostBytes;

// A network line's name, read.
struct LineUrl {
    int scheme;                     // a LineScheme
    char host[kMostHostBytes + 1];  // to connect to, or to listen on; an IPv6 address unbracketed
    unsigned port;                  // 1 to 65535
    char where[kLineNameBytes];     // HOST:PORT as the state's words show it
};

// Reads `name`. Returns the scheme (> 0) with `url` filled for a network line, kNoUrl when `name`
// is no URL (it has no "://"), or -1 for a bad one, with its reason in `why` (a text of its own:
// "unknown scheme", "no host", "no port", "the port is not 1 to 65535", "the host is longer than
// 253 bytes", "the host is not a name or an address", "nothing may follow the port"). Any thread.
int ParseLineUrl(const char* name, LineUrl* url, const char** why);

// Returns 1 when `name` is a network line's name (good or bad: it has a "://"), 0 otherwise.
int IsLineUrl(const char* name);
