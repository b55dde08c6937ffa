#include "control/options.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "control/controller.h"
#include "front/front_end.h"
#include "line/line_url.h"
#include "log/trace.h"
#include "serial/port_names.h"
#include "sockets/routes.h"

#ifndef ZUNDREL_VERSION
#define ZUNDREL_VERSION "0.0.0"
#endif

namespace {

// What reading one option found.
constexpr int kOptionsRun = 0;    // go on
constexpr int kOptionsShown = 1;  // --help or --version: the text goes to stdout
constexpr int kOptionsBad = 2;    // the text, a one-line complaint, goes to stderr

// The name of the program that reads its command line, as its user runs it.
const char* g_program = "zundrel";

// Writes the printf-style text into `text` (`size` bytes), after "PROGRAM: " when it is a
// complaint, and returns `result`.
int Say(int result, char* text, size_t size, const char* format, ...) {
    int n = result == kOptionsBad ? snprintf(text, size, "%s: ", g_program) : 0;
    va_list args;
    va_start(args, format);
    vsnprintf(text + n, size - static_cast<size_t>(n), format, args);
    va_end(args);
    return result;
}

// Says that `value` is bad: the printf-style `format` with a %s for the value, or its first 60
// bytes (no character cut) and "..." when longer, and maybe a second for the program's name.
// Returns kOptionsBad.
int Complain(char* text, size_t size, const char* format, const char* value) {
    size_t n = strlen(value);
    size_t shown = n > 60 ? 60 : n;
    while (shown < n && (static_cast<unsigned char>(value[shown]) & 0xC0) == 0x80) {
        --shown;
    }
    char cut[72];
    snprintf(cut, sizeof cut, "%.*s%s", static_cast<int>(shown), value, shown < n ? "..." : "");
    return Say(kOptionsBad, text, size, format, cut, g_program);
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

int TakePortOption(const char* value, StartOptions* o, char* text, size_t size) {
    LineUrl url;
    const char* why;
    if (ParseLineUrl(value, &url, &why) < 0) {
        char format[96];
        snprintf(format, sizeof format, "--port: '%%s': %s\n", why);
        return Complain(text, size, format, value);
    }
    int named = NamedPort(value, o->portLabel, o->portDevice);
    if (named < 0) {
        return Say(kOptionsBad, text, size, "--port: the path is longer than %zu bytes\n",
                   kMostPathBytes);
    }
    return named > 0 ? kOptionsRun
                     : Complain(text, size,
                                "--port: '%s' names no serial port here (see %s --help)\n", value);
}

int TakeSpeedOption(const char* value, StartOptions* o, char* text, size_t size) {
    if (strcmp(value, "9600") != 0 && strcmp(value, "38400") != 0) {
        return Complain(text, size, "--speed: '%s' is not 9600 or 38400\n", value);
    }
    o->speed = value[0] == '9' ? 9600 : 38400;
    return kOptionsRun;
}

// Takes the path `value` of the option `name` into `path` (kLogPathBytes), as the log field takes
// one, or says it is too long.
int TakePath(const char* name, const char* value, char* path, char* text, size_t size) {
    if (LogPathLength(value) >= kLogPathCapacity) {
        return Say(kOptionsBad, text, size, "%s: the path is longer than %zu %s\n", name,
                   kLogPathCapacity - 1, kLogPathBytes > kLogPathCapacity ? "characters" : "bytes");
    }
    snprintf(path, kLogPathBytes, "%s", value);
    return kOptionsRun;
}

int TakeLogOption(const char* value, StartOptions* o, char* text, size_t size) {
    return TakePath("--log", value, o->logPath, text, size);
}

// Says why `value` of the option `name` is refused, when `why` says it is.
int Refuse(const char* name, const char* value, const char* why, char* text, size_t size) {
    char format[160];
    snprintf(format, sizeof format, "%s: '%%s': %s\n", name, why);
    return Complain(text, size, format, value);
}

int TakeHostsOption(const char* value, StartOptions*, char* text, size_t size) {
    const char* why = UseHostsFile(value);
    return why != nullptr ? Refuse("--hosts", value, why, text, size) : kOptionsRun;
}

int TakeRedirectOption(const char* value, StartOptions*, char* text, size_t size) {
    const char* why = AddRedirect(value);
    return why != nullptr ? Refuse("--redirect", value, why, text, size) : kOptionsRun;
}

int TakeAllowOption(const char* value, StartOptions*, char* text, size_t size) {
    const char* why = AddRule(1, value);
    return why != nullptr ? Refuse("--allow", value, why, text, size) : kOptionsRun;
}

int TakeDenyOption(const char* value, StartOptions*, char* text, size_t size) {
    const char* why = AddRule(0, value);
    return why != nullptr ? Refuse("--deny", value, why, text, size) : kOptionsRun;
}

int TakeTraceOption(const char* value, StartOptions* o, char* text, size_t size) {
    return TakePath("--trace", value, o->tracePath, text, size);
}

int TakeHeadlessOption(const char*, StartOptions* o, char*, size_t) {
    o->headless = 1;
    return kOptionsRun;
}

int TakeEveryLabelOption(const char*, StartOptions* o, char*, size_t) {
    o->everyLabel = 1;
    return kOptionsRun;
}

int ShowHelp(const char*, StartOptions*, char* text, size_t size);  // below the table

int ShowVersion(const char*, StartOptions*, char* text, size_t size) {
    return Say(kOptionsShown, text, size, "%s %s\n", g_program, ZUNDREL_VERSION);
}

// One option: its name, the name of its value (none for a flag), its help text (its lines after
// the first indented to the help column) and what takes it.
struct OptionRow {
    const char* name;
    const char* value;
    const char* help;
    int (*take)(const char* value, StartOptions* options, char* text, size_t size);
};

const OptionRow kOptions[] = {
    {"--port", "NAME",
     "the port: COM1 to COM4 (on Linux /dev/ttyS0 to /dev/ttyS3), a higher COM\n"
     "number on Windows, or on Linux a device path such as /dev/ttyUSB0 or a\n"
     "/dev/serial/by-id/ symlink, or a line over the network: socket://HOST:PORT,\n"
     "rfc2217://HOST:PORT or listen://ADDR:PORT; COM1 unless given",
     TakePortOption},
    {"--speed", "BPS", "9600 (unless given) or 38400 bit/s", TakeSpeedOption},
    {"--log", "FILE", "append every frame to the traffic log FILE", TakeLogOption},
    {"--hosts", "FILE",
     "answer the device's lookups from the hosts table FILE first (ADDRESS NAME...\n"
     "lines; *.example.org for every name below it; 0.0.0.0 blocks a name)",
     TakeHostsOption},
    {"--redirect", "FROM=TO",
     "send the device's connects to A.B.C.D[:PORT] to E.F.G.H[:PORT] instead\n"
     "(repeatable)",
     TakeRedirectOption},
    {"--allow", "NET",
     "let the device connect to A.B.C.D/N[:PORT] (repeatable; with --deny, the\n"
     "first that matches decides; with any --allow, what none allows is denied)",
     TakeAllowOption},
    {"--deny", "NET", "keep the device from connecting to A.B.C.D/N[:PORT] (repeatable)",
     TakeDenyOption},
    {"--trace", "FILE", "write a line for each socket command to FILE (- for stdout)",
     TakeTraceOption},
    {"--headless", nullptr,
     "(Linux) no window: status lines on stdout, unknown commands and port\n"
     "trouble on stderr; SIGINT, SIGTERM or SIGHUP ends it",
     TakeHeadlessOption},
    {"--every-label", nullptr,
     "(without a window) a status line for every command, also one that repeats\n"
     "the label before it (else a run is told once, and then as a count)",
     TakeEveryLabelOption},
    {"--help", nullptr, "print this help and end", ShowHelp},
    {"--version", nullptr, "print the version and end", ShowVersion},
};

// Column at which the help texts start.
constexpr int kHelpColumn = 21;

// Appends the printf-style text to the `size` bytes at `text`, of which `*n` are taken.
void Add(char* text, size_t size, size_t* n, const char* format, ...) {
    va_list args;
    va_start(args, format);
    *n += static_cast<size_t>(vsnprintf(text + *n, *n < size ? size - *n : 0, format, args));
    va_end(args);
}

int ShowHelp(const char*, StartOptions*, char* text, size_t size) {
    size_t n = 0;
    Add(text, size, &n, "Usage: %s", g_program);
    for (const OptionRow& row : kOptions) {
        Add(text, size, &n, " [%s%s%s]", row.name, row.value ? " " : "",
            row.value ? row.value : "");
    }
    Add(text, size, &n, "\nStands in for the network adapter of the device on a serial port.\n");
    for (const OptionRow& row : kOptions) {
        char both[32];
        snprintf(both, sizeof both, "%s %s", row.name, row.value ? row.value : "");
        Add(text, size, &n, "  %-*s", kHelpColumn - 2, both);
        for (const char* line = row.help; *line != '\0';) {
            int length = static_cast<int>(strcspn(line, "\n"));
            Add(text, size, &n, "%*s%.*s\n", line == row.help ? 0 : kHelpColumn, "", length, line);
            line += length + (line[length] == '\n' ? 1 : 0);
        }
    }
    Add(text, size, &n, "With the dialog, the options preselect its port, speed and log field.\n");
    return kOptionsShown;
}

// Reads the arguments into `options`; see ReadCommandLine. Returns kOptionsRun, or kOptionsShown or
// kOptionsBad with `text` to print.
int ParseOptions(int argc, char** argv, StartOptions* options, char* text, size_t size) {
    *options = StartOptions{};
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* equals = strncmp(arg, "--", 2) == 0 ? strchr(arg, '=') : nullptr;
        size_t named = equals ? static_cast<size_t>(equals - arg) : strlen(arg);
        const OptionRow* row = nullptr;
        for (const OptionRow& candidate : kOptions) {
            if (strlen(candidate.name) == named && strncmp(arg, candidate.name, named) == 0) {
                row = &candidate;
            }
        }
        if (row == nullptr) {
            return Complain(text, size,
                            arg[0] == '-' ? "unknown option '%s' (see %s --help)\n"
                                          : "unexpected argument '%s' (see %s --help)\n",
                            arg);
        }
        if (row->value == nullptr && equals != nullptr) {
            return Say(kOptionsBad, text, size, "%s takes no value\n", row->name);
        }
        const char* value = nullptr;
        if (row->value != nullptr) {
            value = equals ? equals + 1 : (i + 1 < argc ? argv[++i] : nullptr);
            if (value == nullptr || value[0] == '\0') {
                return Say(kOptionsBad, text, size, "%s needs a value\n", row->name);
            }
        }
        int taken = row->take(value, options, text, size);
        if (taken != kOptionsRun) {
            return taken;
        }
    }
    return kOptionsRun;
}

}  // namespace

int ReadCommandLine(const char* program, int argc, char** argv, StartOptions* options) {
    char text[2048];
    g_program = program;
    int parsed = ParseOptions(argc, argv, options, text, sizeof text);
#ifdef _WIN32
    if (parsed == kOptionsRun && options->headless) {
        parsed = Say(kOptionsBad, text, sizeof text, "--headless is for the Linux program only\n");
    }
#endif
    if (parsed == kOptionsBad) {
        FrontPrint(1, text);
        return 2;
    }
    if (parsed == kOptionsShown) {
        if (FrontPrint(0, text)) {
            return 0;
        }
        Say(kOptionsBad, text, sizeof text, "the text could not be written on stdout\n");
        FrontPrint(1, text);
        return 1;
    }
    ControlPreselect(options->portLabel, options->portDevice, options->speed);
    SetLogPath(options->logPath);
    SetTracePath(options->tracePath);
    return -1;
}
