#include "line/line_url.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "net/net.h"

namespace {

// 1 when `host` (`n` bytes) is a host name: dot-separated labels of letters, digits, '-' and '_'
// (a last dot allowed), not all of them digits (a dotted number must be an IPv4 address).
bool IsHostName(const char* host, size_t n) {
    bool label = false, letter = false;
    for (size_t i = 0; i < n; ++i) {
        char c = host[i];
        if (c == '.') {
            if (!label) {
                return false;  // an empty label
            }
            label = false;
            continue;
        }
        bool digit = c >= '0' && c <= '9';
        if (!digit && !(c >= 'a' && c <= 'z') && !(c >= 'A' && c <= 'Z') && c != '-' && c != '_') {
            return false;
        }
        letter = letter || !digit;
        label = true;
    }
    return letter;
}

// Reads the host and port of `rest`, the name after its "://", into `url`. Returns the reason it
// is refused, or nullptr.
const char* ReadHostAndPort(const char* rest, LineUrl* url) {
    // An IPv6 address is in brackets; any other host ends at the last colon.
    bool bracketed = rest[0] == '[';
    const char* host = rest + (bracketed ? 1 : 0);
    const char* end = bracketed ? strchr(host, ']') : strrchr(host, ':');
    size_t n = end != nullptr ? static_cast<size_t>(end - host) : strlen(host);
    const char* colon = bracketed ? (end != nullptr && end[1] == ':' ? end + 1 : nullptr) : end;
    if (n == 0 && !bracketed && url->scheme != kLineListen) {
        return "no host";
    }
    if (n > kMostHostBytes) {
        return "the host is longer than 253 bytes";
    }
    memcpy(url->host, host, n);
    url->host[n] = '\0';
    NetAddress address;
    bool literal = NetLiteralAddress(url->host, 1, &address);
    bool v6 = literal && strchr(url->host, ':') != nullptr;
    if (bracketed ? !v6 || end == nullptr || (end[1] != ':' && end[1] != '\0')
                  : n > 0 && !(literal && !v6) && !IsHostName(host, n)) {
        return "the host is not a name or an address";
    }
    if (colon == nullptr || colon[1] == '\0') {
        return "no port";
    }
    size_t digits = strspn(colon + 1, "0123456789");
    unsigned long port = 0;
    for (size_t i = 0; i < digits && port <= 65535; ++i) {
        port = port * 10 + static_cast<unsigned long>(colon[1 + i] - '0');
    }
    if (digits == 0 || port < 1 || port > 65535) {
        return "the port is not 1 to 65535";
    }
    if (colon[1 + digits] != '\0') {
        return "nothing may follow the port";
    }
    if (n == 0) {
        strcpy(url->host, "127.0.0.1");  // listen://:PORT listens on this machine only
    }
    url->port = static_cast<unsigned>(port);
    snprintf(url->where, sizeof url->where, v6 ? "[%s]:%u" : "%s:%u", url->host, url->port);
    return nullptr;
}

}  // namespace

int IsLineUrl(const char* name) {
    return strstr(name, "://") != nullptr ? 1 : 0;
}

int ParseLineUrl(const char* name, LineUrl* url, const char** why) {
    static const char* const kSchemes[] = {"socket://", "rfc2217://", "listen://"};
    const char* rest = strstr(name, "://");
    if (rest == nullptr) {
        return kNoUrl;
    }
    *url = LineUrl{};
    for (int i = 0; i < static_cast<int>(std::size(kSchemes)); ++i) {
        if (strncmp(name, kSchemes[i], strlen(kSchemes[i])) == 0) {
            url->scheme = kLineSocket + i;
        }
    }
    *why = url->scheme == kNoUrl ? "unknown scheme" : ReadHostAndPort(rest + 3, url);
    return *why == nullptr ? url->scheme : -1;
}
