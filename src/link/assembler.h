// Assembles the byte chunks read from the port into frames, dispatches each frame by its class, and
// offers handlers the operations through which they answer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/link_frame.h"

// The buffer in which one frame is assembled. The frame always begins at bytes[0].
struct ReceiveBuffer {
    uint8_t bytes[kFrameCapacity];
    size_t count;
};

// The one receive buffer of the run; touched by the reader thread only.
extern ReceiveBuffer g_receive;

// Takes in `n` bytes just read from the port. Hunts for the sync frame while the adapter is off,
// dispatches a frame once it is complete (running its whole command, pauses and socket waits
// included), then forgets it together with any bytes that followed it. Never writes past the
// buffer: a frame that can never fit is dropped. Returns nothing.
void FeedReceivedBytes(const uint8_t* bytes, size_t n);

// Sends one reply: logs it as an 'S' line, then writes it to the port. Sends and logs nothing when
// the port is being closed, so an interrupted command never answers.
void SendFrame(const uint8_t* bytes, size_t n);

// Shows the label of the command being handled in the status field.
void ShowStatus(const char* label);

// Reports the frame in the receive buffer as an unknown command: status "unkown command!" and a
// modal error box naming its class and command bytes. Sends no reply; returns when the box is gone.
void ReportUnknownCommand();

// Empties the receive buffer. Called when a port is opened, before its reader thread starts, and by
// tests; never while a reader thread runs.
void ResetReceiveBuffer();
