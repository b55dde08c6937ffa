// The command line both programs take: --port, --speed, --log, --headless, --help and --version.
#pragma once

#include <cstddef>

#include "log/traffic_log.h"

#ifdef _WIN32
// The log path is counted in UTF-16 code units on Windows, as the log field counts it: its UTF-8
// form takes up to three bytes for each.
constexpr size_t kLogOptionBytes = 3 * kLogPathCapacity;
#else
constexpr size_t kLogOptionBytes = kLogPathCapacity;
#endif

// What the command line asks for. An empty text and a speed of 0 mean "not given".
struct StartOptions {
    char portLabel[128];            // the port as the port list shows it: "COM2:", "/dev/ttyUSB0"
    char portDevice[128];           // the device of that port
    unsigned speed;                 // 9600 or 38400
    char logPath[kLogOptionBytes];  // UTF-8, at most kLogPathCapacity - 1 characters long
    int headless;                   // 1 with --headless
};

// What ParseOptions found.
constexpr int kOptionsRun = 0;    // run with the options
constexpr int kOptionsShown = 1;  // --help or --version: print `text` on stdout, end with status 0
constexpr int kOptionsBad = 2;  // print `text`, a one-line complaint, on stderr; end with status 2

// Reads the arguments argv[1] to argv[argc - 1] into `options`. Each option is "--name VALUE" or
// "--name=VALUE"; the last of a repeated option counts. The port name is checked by NamedPort
// (serial/port_names.h). Stops at --help, --version or the first bad option or value. Writes the
// text to print into `text` (`size` bytes, NUL-terminated, ending with a newline). Returns
// kOptionsRun, kOptionsShown or kOptionsBad. A complaint is one line whatever the values: a long
// value is shown by its first 60 bytes and "...".
int ParseOptions(int argc, char** argv, StartOptions* options, char* text, size_t size);

// Prints `text` of a ParseOptions result `parsed` other than kOptionsRun: on stdout after --help or
// --version, on stderr after a bad option. Returns the exit status: 0; 1 when stdout could not take
// the text (said on stderr); 2 after a bad option.
int PrintOptionsText(int parsed, const char* text);
