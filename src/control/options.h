// The command line every program takes: --port, --speed, --log, --hosts, --redirect, --allow,
// --deny, --trace, --headless, --every-label, --help and --version, and the start-up path the
// programs share.
#pragma once

#include <cstddef>

#include "log/traffic_log.h"
#include "serial/port_names.h"

// What the command line asks for. An empty text and a speed of 0 mean "not given".
struct StartOptions {
    char portLabel[kPortNameBytes];   // the port as the port list shows it: "COM2:", "/dev/ttyUSB0"
    char portDevice[kPortNameBytes];  // the device of that port
    unsigned speed;                   // 9600 or 38400
    char logPath[kLogPathBytes];      // UTF-8, at most kLogPathCapacity - 1 characters long
    char tracePath[kLogPathBytes];    // as the log path; "-": standard output
    int headless;                     // 1 with --headless
    int everyLabel;                   // 1 with --every-label
};

// Reads the arguments argv[1] to argv[argc - 1] of the program `program` (its name, as the user
// runs it: in the help's usage line and before every complaint) into `options`. Each option is
// "--name VALUE" or "--name=VALUE"; the last of a repeated option counts. The port name is checked
// by NamedPort (serial/port_names.h); the hosts table is read, and the redirects and rules are
// taken (sockets/routes.h), as they come. Stops at --help, --version or the first bad option or
// value.
//  - Runs: hands the port and speed to the controller (ControlPreselect) and the paths to the log
//    (SetLogPath) and the trace (SetTracePath), and returns -1.
//  - --help or --version: prints the text on stdout (FrontPrint) and returns 0, or 1 when it could
//    not be written (said on stderr).
//  - A bad option or value (on Windows, --headless too): prints one line on stderr, whatever the
//    values (a long value is shown by its first 60 bytes and "..."), and returns 2.
int ReadCommandLine(const char* program, int argc, char** argv, StartOptions* options);
