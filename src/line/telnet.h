// Telnet with the COM port control option (RFC 854, RFC 2217) as an rfc2217:// line speaks it: the
// bytes that open the connection and set the remote port, the device's bytes with each 255 doubled
// on the way out, and the device's bytes taken out of the server's on the way in. The rfc2217://
// line (kRfc2217Line, line.h) is this Telnet as a filter over the TCP line of socket://.
#pragma once

#include <cstddef>
#include <cstdint>

// Where the reading of the server's bytes stands within a Telnet command that a read cut. Zeroed
// at each connection.
struct TelnetInput {
    uint8_t state;  // in the data, after IAC, after a verb, in a subnegotiation, after IAC in one
    uint8_t verb;   // the verb whose option comes next
};

// What this end says at connect: it will use the COM port control option, and binary transmission
// both ways, so that every byte passes as it is.
extern const uint8_t kTelnetHello[9];

// Most bytes that TelnetPortSettings writes.
constexpr size_t kTelnetSettingsMax = 48;

// Writes into `out` (kTelnetSettingsMax bytes) the commands that set the remote port to `speed`
// bit/s, 8 data bits, no parity, one stop bit and no flow control (the COM port option's commands
// 1 to 5), each value byte 255 doubled. Returns their length.
size_t TelnetPortSettings(unsigned speed, uint8_t* out);

// Writes into `out` (room for 2 * `n` bytes) the device's `n` bytes with each 255 doubled. Returns
// the length written.
size_t TelnetEscape(const uint8_t* bytes, size_t n, uint8_t* out);

// Takes the device's bytes out of `n` bytes the server sent, which follow those `input` has read:
// keeps them at the front of `bytes` (a doubled 255 is one) and returns their count. The server's
// commands are left out; the options it asks for or offers that this line does not use are
// refused (WONT to a DO, DONT to a WILL): the refusals, to be sent, go to `answers` (room for 3 *
// `n` bytes), their length to `answered`.
size_t TelnetTakeData(TelnetInput* input, uint8_t* bytes, size_t n, uint8_t* answers,
                      size_t* answered);
