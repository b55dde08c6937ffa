// What every handler answers with: a reply frame, or the report of an unknown command.
#pragma once

#include <cstddef>
#include <cstdint>

// The text of an unknown command, as it appears in the status field and the error box. The
// spelling "unkown" is the text users see and know: it must not be corrected.
constexpr char kUnknownCommand[] = "unkown command";

// Sends one reply: logs it as an 'S' line, then writes it to the port. Sends and logs nothing when
// the port is being closed, so an interrupted command never answers.
void SendFrame(const uint8_t* bytes, size_t n);

// Sends the reply frame of class `frameClass` and command `command` carrying the `n` bytes of
// `params` (at most kMaxFrameLength - 1): its reserved byte 0 and its length byte, 1 + n, are
// filled in here.
void SendReply(uint8_t frameClass, uint8_t command, const uint8_t* params, size_t n);

// Reports `frame` as an unknown command: status "unkown command!" and a modal error box naming its
// class and command bytes. Sends no reply; returns when the box is gone.
void ReportUnknownCommand(const uint8_t* frame);
