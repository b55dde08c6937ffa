// A thin layer over BSD sockets and WinSock, so the socket proxy builds unchanged on both. Its
// waits watch the reader's stop signal (wait/stop_signal.h).
#pragma once

#include <cstddef>
#include <cstdint>

// A socket handle; kNoSocket marks "none" (INVALID_SOCKET on Windows, -1 elsewhere).
using NetSocket = intptr_t;
constexpr NetSocket kNoSocket = -1;

// Starts the socket library (WinSock 1.1 on Windows; nothing elsewhere). Returns 1 on success.
int NetStartup();

// Shuts the socket library down; on Windows this also releases every socket still open.
void NetCleanup();

// --- TCP sockets -----------------------------------------------------------------------------
// Every wait below also watches the reader stop signal and gives up at once when it is raised.

// Creates an unconnected TCP socket (family 2, type 1 stream, protocol 6). Returns kNoSocket on
// failure.
NetSocket NetOpenTcp();

// Closes the socket.
void NetCloseSocket(NetSocket s);

// Connects `s` to the IPv4 `address` (4 bytes, network order) and `port` (host order), using the
// socket address family `family` as the device gave it. Blocks until the stack has an answer or the
// stop signal is raised. Returns 1 when connected, 0 on failure or stop.
int NetConnect(NetSocket s, uint16_t family, uint16_t port, const uint8_t address[4]);

// Sends `count` bytes (count >= 0) with no flags, waiting for room in the send buffer as often as
// needed, until every byte is taken, the socket fails or the stop signal is raised. Returns the
// number of bytes taken: `count` when all went, fewer when the socket failed or the stop signal
// came after some went, -1 when it failed before any went.
int NetSend(NetSocket s, const uint8_t* data, int count);

// Reads one byte, waiting up to `ms` for it when none is there yet. Returns 1 when a byte was
// stored, 0 when the time ran out or the peer has closed, -1 on failure or when the stop signal is
// raised.
int NetReadByteWithin(NetSocket s, uint8_t* byte, unsigned ms);

// Looks up `name` with the platform resolver and stores the first IPv4 address of its answer. An
// empty name looks up this PC's own name, so the answer is the PC's own address.
// Returns 1 when found, 0 when there is none or the stop signal was raised (the lookup, which the
// platform cannot interrupt, is then abandoned where it runs).
int NetResolveIPv4(const char* name, uint8_t address[4]);
