#include "control/options.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "serial/port_names.h"

#ifndef ZUNDREL_VERSION
#define ZUNDREL_VERSION "0.0.0"
#endif

namespace {

const char kUsage[] =
    "Usage: zundrel [--port NAME] [--speed 9600|38400] [--log FILE] [--headless]\n"
    "Stands in for the network adapter of the device on a serial port.\n"
    "  --port NAME   the port: COM1 to COM4 (on Linux /dev/ttyS0 to /dev/ttyS3), a higher COM\n"
    "                number on Windows, or on Linux a device path such as /dev/ttyUSB0 or a\n"
    "                /dev/serial/by-id/ link; COM1 unless given\n"
    "  --speed BPS   9600 (unless given) or 38400 bit/s\n"
    "  --log FILE    append every frame to the traffic log FILE\n"
    "  --headless    (Linux) no window: status lines on stdout, unknown commands and port\n"
    "                trouble on stderr; SIGINT or SIGTERM ends it\n"
    "  --help        print this help and end\n"
    "  --version     print the version and end\n"
    "With the dialog, the options preselect its port, speed and log field.\n";

// Writes the printf-style text into `text` (`size` bytes) and returns `result`.
int Say(int result, char* text, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(text, size, format, args);
    va_end(args);
    return result;
}

// Says that `value` is bad: the printf-style `format` with one %s, given the value, or its first
// 60 bytes (no character cut) and "..." when longer. Returns kOptionsBad.
int Complain(char* text, size_t size, const char* format, const char* value) {
    size_t n = strlen(value);
    size_t shown = n > 60 ? 60 : n;
    while (shown < n && (static_cast<unsigned char>(value[shown]) & 0xC0) == 0x80) {
        --shown;
    }
    char cut[72];
    snprintf(cut, sizeof cut, "%.*s%s", static_cast<int>(shown), value, shown < n ? "..." : "");
    return Say(kOptionsBad, text, size, format, cut);
}

// The length of a log path as the log field counts it: UTF-16 code units on Windows (a character
// beyond 16 bits takes two), bytes elsewhere.
size_t LogPathLength(const char* path) {
    size_t n = 0;
    for (const char* p = path; *p != '\0'; ++p) {
#ifdef _WIN32
        unsigned char byte = static_cast<unsigned char>(*p);
        n += (byte & 0xC0) == 0x80 ? 0 : byte >= 0xF0 ? 2 : 1;
#else
        ++n;
#endif
    }
    return n;
}

}  // namespace

int ParseOptions(int argc, char** argv, StartOptions* options, char* text, size_t size) {
    *options = StartOptions{};
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* equals = strncmp(arg, "--", 2) == 0 ? strchr(arg, '=') : nullptr;
        char name[32];
        snprintf(name, sizeof name, "%.*s", equals ? static_cast<int>(equals - arg) : 31, arg);
        bool takesValue = strcmp(name, "--port") == 0 || strcmp(name, "--speed") == 0 ||
                          strcmp(name, "--log") == 0;
        bool flag = strcmp(name, "--headless") == 0 || strcmp(name, "--help") == 0 ||
                    strcmp(name, "--version") == 0;
        if (!takesValue && !flag) {
            return Complain(text, size,
                            arg[0] == '-'
                                ? "zundrel: unknown option '%s' (see zundrel --help)\n"
                                : "zundrel: unexpected argument '%s' (see zundrel --help)\n",
                            arg);
        }
        if (flag && equals != nullptr) {
            return Say(kOptionsBad, text, size, "zundrel: %s takes no value\n", name);
        }
        if (strcmp(name, "--help") == 0) {
            return Say(kOptionsShown, text, size, "%s", kUsage);
        }
        if (strcmp(name, "--version") == 0) {
            return Say(kOptionsShown, text, size, "zundrel %s\n", ZUNDREL_VERSION);
        }
        if (flag) {
            options->headless = 1;
            continue;
        }
        const char* value = equals ? equals + 1 : (i + 1 < argc ? argv[++i] : nullptr);
        if (value == nullptr || value[0] == '\0') {
            return Say(kOptionsBad, text, size, "zundrel: %s needs a value\n", name);
        }
        if (strcmp(name, "--port") == 0) {
            int named = NamedPort(value, options->portLabel, options->portDevice,
                                  sizeof options->portLabel);
            if (named < 0) {
                return Say(kOptionsBad, text, size,
                           "zundrel: --port: the path is longer than %zu bytes\n",
                           sizeof options->portDevice - 1);
            }
            if (named == 0) {
                return Complain(
                    text, size,
                    "zundrel: --port: '%s' names no serial port here (see zundrel --help)\n",
                    value);
            }
        } else if (strcmp(name, "--speed") == 0) {
            if (strcmp(value, "9600") != 0 && strcmp(value, "38400") != 0) {
                return Complain(text, size, "zundrel: --speed: '%s' is not 9600 or 38400\n", value);
            }
            options->speed = value[0] == '9' ? 9600 : 38400;
        } else if (LogPathLength(value) >= kLogPathCapacity) {
#ifdef _WIN32
            const char* unit = "characters";
#else
            const char* unit = "bytes";
#endif
            return Say(kOptionsBad, text, size, "zundrel: --log: the path is longer than %zu %s\n",
                       kLogPathCapacity - 1, unit);
        } else {
            snprintf(options->logPath, sizeof options->logPath, "%s", value);
        }
    }
    return Say(kOptionsRun, text, size, "");
}

int PrintOptionsText(int parsed, const char* text) {
    if (parsed != kOptionsShown) {
        fputs(text, stderr);
        return 2;
    }
    fputs(text, stdout);
    if (ferror(stdout) || fflush(stdout) != 0) {
        perror("zundrel: stdout");  // --help or --version shown nowhere
        return 1;
    }
    return 0;
}
