// The eight TCP socket slots through which the device addresses its connections, and the blocking
// operations on them. The table is private to them. Everything here runs on the reader thread;
// nothing is locked.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/net.h"

// How long a receive waits for each byte before it takes the silence as the end of the data. The
// fuzz build shortens it with -DZUNDREL_RECEIVE_WAIT_MS=...
#ifndef ZUNDREL_RECEIVE_WAIT_MS
#define ZUNDREL_RECEIVE_WAIT_MS 1000
#endif
constexpr unsigned kReceiveWaitMs = ZUNDREL_RECEIVE_WAIT_MS;

constexpr int kSocketSlots = 8;

// The slot result that means "no slot" or "nothing received".
constexpr uint8_t kSlotFailure = 0xFF;

// Slot indexes and data counts come from the frame as single bytes read as signed 8-bit values, so
// a count is at most 127. Only 0 to 7 name a slot; every operation below treats any other index
// (negative ones included) like a free slot and touches nothing outside the table.

// Creates an unconnected TCP socket in the first free slot found from the cursor on (round-robin)
// and moves the cursor past it. Returns the slot (0 to 7), or 0xFF when every slot is taken or no
// socket could be created (the slot then stays free).
uint8_t AllocSocketSlot();

// Closes the socket of `slot` and frees it. Returns 1 if the slot held a socket, 0 if it was free.
int CloseSocketSlot(int8_t slot);

// Connects the socket of `slot` to the 16-byte socket address block `address` (family most
// significant byte first, port least significant byte first, IPv4 address in network order).
// Blocks until the stack answers or the reader is stopped. Returns 1 when connected, 0 on failure;
// the address 0.0.0.0 fails at once, without a connect. A failed connect leaves the socket in its
// slot.
int ConnectSocketSlot(int8_t slot, const uint8_t address[16]);

// Sends the `count` bytes of `data`, waiting for room until every byte is taken (NetSend). Returns
// the number of bytes taken (fewer than `count` only when the socket failed or the reader was
// stopped part way), or -1 when none was; a free slot and a negative count fail without sending
// anything.
int SendOnSlot(int8_t slot, const uint8_t* data, int8_t count);

// Receives up to `count` bytes into `buffer`, each fetched by its own one-byte read that waits at
// most kReceiveWaitMs for it. Ends at the count, at the first wait that times out, or
// when the peer has closed, a read fails or the reader is stopped. Returns the number stored (1 to
// count), or 0xFF when none was. A count of 0 or less returns 0xFF without touching the socket.
uint8_t ReceiveBlock(int8_t slot, uint8_t* buffer, int8_t count);

// As ReceiveBlock with `max` as the count, but also ends right after a CR LF that is not the first
// two bytes received. The CR LF stays in the buffer and in the count.
uint8_t ReceiveLine(int8_t slot, uint8_t* buffer, int8_t max);

// Closes every socket still held and puts the table back to start. For the fuzz test, whose every
// input starts from a fresh link.
void ResetSocketSlots();

// The socket `slot` holds, or kNoSocket when it is free or no slot. For the benchmark, which looks
// at what is waiting in it.
NetSocket SlotSocket(int8_t slot);
