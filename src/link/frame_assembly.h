// Assembles the byte chunks read from the port into frames and dispatches each complete frame to
// the handler of its class. The receive buffer in which a frame is assembled is private to it.
#pragma once

#include <cstddef>
#include <cstdint>

// Takes in `n` bytes just read from the port. Hunts for the sync frame while the adapter is off,
// dispatches a frame once it is complete (running its whole command, pauses and socket waits
// included), then forgets it together with any bytes that followed it. Never writes past the
// buffer: a frame that can never fit is dropped. Reader thread only.
void FeedReceivedBytes(const uint8_t* bytes, size_t n);

// Empties the receive buffer. Called when a port is opened, before its reader thread starts, and by
// the fuzz test; never while a reader thread runs.
void ResetReceiveBuffer();

// Returns how many frames have been dispatched since the program started. Reader thread only.
unsigned long FramesTakenIn();
