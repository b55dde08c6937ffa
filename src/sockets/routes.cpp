#include "sockets/routes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "front/front_end.h"

namespace {

// An IPv4 address and a port (0: any).
struct Place {
    uint8_t address[4];
    uint16_t port;
};

// One name of a line of the hosts table: in lower case; a wildcard's without its "*.".
struct HostsName {
    uint8_t address[4];
    std::string name;
    bool below;  // "*.name": every name below `name`
};

// The hosts table, as last read from its file, with what its file was like then. Read at the start,
// then by the reader thread alone.
struct HostsTable {
    std::string path;  // "" when there is none
    std::vector<HostsName> names;
    std::filesystem::file_time_type written;
    uintmax_t size = 0;
    bool gone = false;  // its file has gone, and that has been told
};
HostsTable g_hosts;

struct Redirect {
    Place from, to;
};

struct Rule {
    int allow;
    uint8_t net[4];
    uint32_t mask;
    uint16_t port;
    std::string words;  // as given: "--deny 10.0.0.0/8"
};

// The redirects and the rules, in the order given; the destinations whose denial was told.
struct Routes {
    std::vector<Redirect> redirects;
    std::vector<Rule> rules;
    bool anyAllowed = false;
    std::vector<Place> told;
};
Routes g_routes;

// Most denied destinations remembered as told; beyond them, a denial is told again.
constexpr size_t kMostTold = 1024;

// Reads "A.B.C.D" at `text` into `address`. Returns what follows it, or null when it is none.
const char* ReadAddress(const char* text, uint8_t address[4]) {
    for (int i = 0; i < 4; ++i) {
        if ((i > 0 && *text++ != '.') || *text < '0' || *text > '9') {
            return nullptr;
        }
        unsigned value = 0;
        for (int digits = 0; *text >= '0' && *text <= '9'; ++digits) {
            value = value * 10 + static_cast<unsigned>(*text++ - '0');
            if (digits == 3 || value > 255) {
                return nullptr;
            }
        }
        address[i] = static_cast<uint8_t>(value);
    }
    return text;
}

// Reads ":PORT" at `text`, when there is one, into `port` (0 when there is not). Returns what
// follows, or null when the port is not 1 to 65535.
const char* ReadPort(const char* text, uint16_t* port) {
    *port = 0;
    if (*text != ':') {
        return text;
    }
    unsigned long value = 0;
    int digits = 0;
    for (++text; *text >= '0' && *text <= '9' && digits < 6; ++digits) {
        value = value * 10 + static_cast<unsigned long>(*text++ - '0');
    }
    *port = static_cast<uint16_t>(value);
    return digits > 0 && value >= 1 && value <= 65535 ? text : nullptr;
}

// Reads "A.B.C.D[:PORT]" that makes up the whole of `text` up to `end` into `place`.
bool ReadPlace(const char* text, const char* end, Place* place) {
    text = ReadAddress(text, place->address);
    text = text != nullptr ? ReadPort(text, &place->port) : nullptr;
    return text == end;
}

uint32_t AsNumber(const uint8_t a[4]) {
    return uint32_t{a[0]} << 24 | uint32_t{a[1]} << 16 | uint32_t{a[2]} << 8 | a[3];
}

std::string Lower(std::string text) {
    for (char& c : text) {
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return text;
}

// The file at the UTF-8 `path`, as the platform names it.
std::filesystem::path FileAt(const std::string& path) {
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

// Tells a line of the hosts table that is skipped: "hosts FILE:N: WHY: skipped".
void TellSkipped(int number, const std::string& why) {
    char told[512];
    snprintf(told, sizeof told, "hosts %s:%d: %s: skipped", g_hosts.path.c_str(), number,
             why.c_str());
    FrontTell(told);
}

// Reads the lines of the hosts table's file. Returns false, with the reason in `why`, when it
// cannot be opened; the table is then as it was.
bool ReadHostsTable(std::string* why) {
    std::error_code error;
    g_hosts.written = std::filesystem::last_write_time(FileAt(g_hosts.path), error);
    g_hosts.size = std::filesystem::file_size(FileAt(g_hosts.path), error);
    std::ifstream file(FileAt(g_hosts.path));
    if (error || !file) {
        *why = error ? error.message() : strerror(errno);
        return false;
    }
    std::vector<HostsName> names;
    std::string text;
    for (int number = 1; std::getline(file, text); ++number) {
        std::istringstream words(text.substr(0, text.find('#')));
        std::string address, name;
        HostsName entry = {};
        if (!(words >> address) || address.find(':') != std::string::npos) {
            continue;  // an empty line, or an IPv6 address, which the device never asks for
        }
        if (ReadAddress(address.c_str(), entry.address) != address.c_str() + address.size()) {
            TellSkipped(number, "'" + address + "' is not an IPv4 address");
            continue;
        }
        std::vector<HostsName> line;
        while (words >> name) {
            entry.below = name.compare(0, 2, "*.") == 0;
            entry.name = Lower(name.substr(entry.below ? 2 : 0));
            if (entry.name.empty() || entry.name.find('*') != std::string::npos) {
                line.clear();
                TellSkipped(number, "'" + name + "' is not a name");
                break;
            }
            line.push_back(entry);
        }
        if (line.empty() && name.empty()) {
            TellSkipped(number, "no name after " + address);
        }
        names.insert(names.end(), line.begin(), line.end());
    }
    g_hosts.names.swap(names);
    return true;
}

// Reads the hosts table again when its file changed; tells when it has gone (the last table stays
// in use) and when it is read again.
void FollowHostsFile() {
    std::error_code error;
    auto written = std::filesystem::last_write_time(FileAt(g_hosts.path), error);
    uintmax_t size = std::filesystem::file_size(FileAt(g_hosts.path), error);
    if (!error && !g_hosts.gone && written == g_hosts.written && size == g_hosts.size) {
        return;
    }
    std::string why;
    bool read = !error && ReadHostsTable(&why);
    if (read == g_hosts.gone) {
        g_hosts.gone = !read;
        char told[512];
        snprintf(told, sizeof told, "hosts %s: %s", g_hosts.path.c_str(),
                 read ? "read again" : "gone: the table last read stays in use");
        FrontTell(told);
    }
}

}  // namespace

const char* UseHostsFile(const char* path) {
    static std::string why;
    g_hosts.path = path;
    g_hosts.gone = false;
    if (!ReadHostsTable(&why)) {
        why = "cannot be read: " + why;
        return why.c_str();
    }
    return nullptr;
}

const char* AddRedirect(const char* text) {
    const char* equals = strchr(text, '=');
    Redirect r;
    if (equals == nullptr || !ReadPlace(text, equals, &r.from) ||
        !ReadPlace(equals + 1, equals + strlen(equals), &r.to)) {
        return "not A.B.C.D[:PORT]=E.F.G.H[:PORT]";
    }
    g_routes.redirects.push_back(r);
    return nullptr;
}

const char* AddRule(int allow, const char* text) {
    Rule rule = {allow, {}, 0, 0, std::string(allow ? "--allow " : "--deny ") + text};
    const char* at = ReadAddress(text, rule.net);
    unsigned bits = 32;
    if (at != nullptr && *at == '/') {
        bits = 0;
        int digits = 0;
        for (++at; *at >= '0' && *at <= '9' && digits < 3; ++digits) {
            bits = bits * 10 + static_cast<unsigned>(*at++ - '0');
        }
        at = digits > 0 && bits <= 32 ? at : nullptr;
    }
    at = at != nullptr ? ReadPort(at, &rule.port) : nullptr;
    if (at == nullptr || *at != '\0') {
        return "not A.B.C.D/N[:PORT]";
    }
    rule.mask = bits == 0 ? 0 : ~uint32_t{0} << (32 - bits);
    g_routes.anyAllowed = g_routes.anyAllowed || allow;
    g_routes.rules.push_back(rule);
    return nullptr;
}

int LookUpInHostsTable(const char* name, uint8_t address[4]) {
    if (g_hosts.path.empty()) {
        return 0;
    }
    FollowHostsFile();
    std::string wanted = Lower(name);
    if (!wanted.empty() && wanted.back() == '.') {
        wanted.pop_back();  // a name written to the root
    }
    for (const HostsName& line : g_hosts.names) {
        size_t n = line.name.size();
        if (line.below
                ? wanted.size() > n + 1 && wanted.compare(wanted.size() - n, n, line.name) == 0 &&
                      wanted[wanted.size() - n - 1] == '.'
                : wanted == line.name) {
            memcpy(address, line.address, 4);
            return AsNumber(address) == 0 ? -1 : 1;
        }
    }
    return 0;
}

int RouteConnect(const uint8_t address[4], uint16_t port, uint8_t to[4], uint16_t* toPort,
                 char* how) {
    memcpy(to, address, 4);
    *toPort = port;
    how[0] = '\0';
    for (const Redirect& r : g_routes.redirects) {
        if (memcmp(r.from.address, address, 4) == 0 && (r.from.port == 0 || r.from.port == port)) {
            memcpy(to, r.to.address, 4);
            *toPort = r.to.port != 0 ? r.to.port : port;
            snprintf(how, kRouteWordsBytes, "redirected from %u.%u.%u.%u:%u", address[0],
                     address[1], address[2], address[3], port);
            break;
        }
    }
    const Rule* decided = nullptr;
    for (const Rule& rule : g_routes.rules) {
        if ((AsNumber(to) & rule.mask) == (AsNumber(rule.net) & rule.mask) &&
            (rule.port == 0 || rule.port == *toPort)) {
            decided = &rule;
            break;
        }
    }
    int allowed = decided != nullptr ? decided->allow : !g_routes.anyAllowed;
    if (decided != nullptr || !allowed) {
        size_t n = strlen(how);
        snprintf(how + n, kRouteWordsBytes - n, "%s%s %s", n > 0 ? ", " : "",
                 allowed ? "allowed by" : "denied by",
                 decided != nullptr ? decided->words.c_str() : "no --allow");
    }
    Place place = {{to[0], to[1], to[2], to[3]}, *toPort};
    bool told = false;
    for (const Place& p : g_routes.told) {
        told = told || (memcmp(p.address, place.address, 4) == 0 && p.port == place.port);
    }
    if (!allowed && !told) {
        if (g_routes.told.size() < kMostTold) {
            g_routes.told.push_back(place);
        }
        char words[kRouteWordsBytes + 48];
        snprintf(words, sizeof words, "connect to %u.%u.%u.%u:%u %s", to[0], to[1], to[2], to[3],
                 *toPort, how);
        FrontTell(words);
    }
    return allowed;
}
