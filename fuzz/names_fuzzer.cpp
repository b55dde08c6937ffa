// Reads arbitrary text as a line's name, as --port takes it: a name that is taken names a host that
// is one (no blank, no user, no path), a port from 1 to 65535 and the words that show it; one that
// is refused says why; a name without "://" is no line's.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "check.h"
#include "line/line_url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string name(reinterpret_cast<const char*>(data), size < 600 ? size : 600);
    name = name.substr(0, strlen(name.c_str()));  // as a command line gives it: up to a NUL
    LineUrl url;
    const char* why = nullptr;
    int scheme = ParseLineUrl(name.c_str(), &url, &why);
    Check((scheme == kNoUrl) == !IsLineUrl(name.c_str()));
    if (scheme > 0) {
        Check(url.host[0] != '\0' && strpbrk(url.host, " @/\t") == nullptr && url.port >= 1 &&
              url.port <= 65535 && strlen(url.where) < kLineNameBytes);
        Check(name.size() < kLineNameBytes);
    } else if (scheme < 0) {
        Check(why != nullptr && why[0] != '\0');
    }
    return 0;
}
