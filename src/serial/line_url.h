// A serial line over the network, named as serial tools name one: socket://HOST:PORT (this program
// connects, and the TCP stream is the line byte for byte), rfc2217://HOST:PORT (a Telnet connection
// with the COM port control option) and listen://ADDR:PORT (this program listens and the other end
// connects; listen://:PORT listens on 127.0.0.1 only).
#pragma once

#include <cstddef>

// The kinds of network line, by their scheme.
enum LineScheme { kNoUrl = 0, kLineSocket, kLineRfc2217, kLineListen };

// A network line's name, read.
struct LineUrl {
    int scheme;      // a LineScheme
    char host[128];  // the host to connect to, or the address to listen on
    unsigned port;   // 1 to 65535
};

// Reads `name`. Returns the scheme (> 0) with `url` filled for a network line, kNoUrl when `name`
// is no URL (it has no "://"), or -1 for a bad one, with its reason in `why` (a text of its own:
// "unknown scheme", "no host", "no port", "the port is not 1 to 65535", "the host is too long").
int ParseLineUrl(const char* name, LineUrl* url, const char** why);
