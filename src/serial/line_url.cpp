#include "serial/line_url.h"

#include <cstdlib>
#include <cstring>

int ParseLineUrl(const char* name, LineUrl* url, const char** why) {
    static const char* const kSchemes[] = {"socket://", "rfc2217://", "listen://"};
    const char* rest = strstr(name, "://");
    if (rest == nullptr) {
        return kNoUrl;
    }
    *url = LineUrl{};
    for (int i = 0; i < 3; ++i) {
        if (strncmp(name, kSchemes[i], strlen(kSchemes[i])) == 0) {
            url->scheme = kLineSocket + i;
        }
    }
    const char* colon = strrchr(rest += 3, ':');
    size_t hostLength = colon != nullptr ? static_cast<size_t>(colon - rest) : strlen(rest);
    char* end = nullptr;
    long port =
        colon != nullptr && colon[1] >= '0' && colon[1] <= '9' ? strtol(colon + 1, &end, 10) : -1;
    *why = url->scheme == 0                                ? "unknown scheme"
           : hostLength >= sizeof url->host                ? "the host is too long"
           : hostLength == 0 && url->scheme != kLineListen ? "no host"
           : colon == nullptr || colon[1] == '\0'          ? "no port"
           : port < 1 || port > 65535 || *end != '\0'      ? "the port is not 1 to 65535"
                                                           : nullptr;
    if (*why != nullptr) {
        return -1;
    }
    memcpy(url->host, rest, hostLength);
    url->host[hostLength] = '\0';
    if (hostLength == 0) {
        strcpy(url->host, "127.0.0.1");  // listen://:PORT listens on this machine only
    }
    url->port = static_cast<unsigned>(port);
    return url->scheme;
}
