// The adapter emulation: power, line check, dial-up, hang-up, connection set-up and status, all
// answered with fixed replies chosen by two flags. The flags are private to it; everything here
// runs on the reader thread.
#pragma once

#include <cstddef>
#include <cstdint>

// Each handler takes the complete frame it answers and its length `n`: the length byte + 3, and at
// least 4 (class, reserved byte, length byte, command).

// Answers a frame of class 0x01 or 0x0F with its fixed reply, after the pause the command takes,
// and updates the flags. An unlisted command is reported as unknown and changes nothing.
void HandleAdapterCommand(const uint8_t* frame, size_t n);

// Answers a class-0x02 frame: the status request (command 0x01) with the state of the flags.
// Another command is reported as unknown.
void HandleStatusCommand(const uint8_t* frame, size_t n);

// Returns 1 between an answered power ON and an answered power OFF, 0 otherwise.
int AdapterPowered();

// Puts both flags back to start (off, not dialed). For tests.
void ResetAdapter();
