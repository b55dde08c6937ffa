// A thin layer over BSD sockets and WinSock: the device's TCP sockets, the host lookup, and the
// program's own connections that carry a serial line over the network. Written once for both
// platforms in shape; net_posix.cpp and net_win32.cpp make the system calls. Every wait also
// watches the reader's stop signal (wait/wait.h) and gives up at once when it is raised.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wait/wait.h"

// A socket handle; kNoSocket marks "none" (INVALID_SOCKET on Windows, -1 elsewhere).
using NetSocket = intptr_t;
constexpr NetSocket kNoSocket = -1;

// Starts the socket library (WinSock 1.1 on Windows; nothing elsewhere). Returns 1 on success.
int NetStartup();

// Shuts the socket library down; on Windows this also releases every socket still open.
void NetCleanup();

// Closes the socket `s` and forgets its waitable, if it has one.
void NetCloseSocket(NetSocket s);

// --- The device's TCP sockets
// ----------------------------------------------------------------------

// Creates an unconnected TCP socket (family 2, type 1 stream, protocol 6). Returns kNoSocket on
// failure.
NetSocket NetOpenTcp();

// Connects `s` to the IPv4 `address` (4 bytes, network order) and `port` (host order), using the
// socket address family `family` as the device gave it. Blocks until the stack has an answer or the
// stop signal is raised. Returns 1 when connected, 0 on failure or stop.
int NetConnect(NetSocket s, uint16_t family, uint16_t port, const uint8_t address[4]);

// Sends `count` bytes (count >= 0) with no flags, waiting for room in the send buffer as often as
// needed, until every byte is taken, the socket fails or the stop signal is raised. Returns the
// number of bytes taken: `count` when all went, fewer when the socket failed or the stop signal
// came after some went, -1 when it failed before any went.
int NetSend(NetSocket s, const uint8_t* data, int count);

// Takes up to `max` of the bytes that have come on `s` (with `peek`, a look at them that leaves
// them there), waiting up to `ms` for the first when none has come yet. Returns their count, 0 when
// the time ran out or the peer has closed, -1 on failure or when the stop signal is raised.
int NetReceiveWithin(NetSocket s, uint8_t* bytes, size_t max, unsigned ms, bool peek);

// Bytes of the longest host name the lookup takes, its NUL included.
constexpr size_t kMostNameBytes = 256;

// Looks up `name` with the platform resolver and stores the first IPv4 address of its answer. An
// empty name looks up this PC's own name, so the answer is the PC's own address. Returns 1 when
// found, 0 when there is none or the stop signal was raised (the lookup, which the platform cannot
// interrupt, is then abandoned where it runs).
int NetResolveIPv4(const char* name, uint8_t address[4]);

// The platform's own blocking lookup that NetResolveIPv4 runs on a worker thread: the first IPv4
// address of `name` ("" is this PC). Returns 1 when found, 0 otherwise. Cannot be interrupted.
int NetLookUpNow(const char* name, uint8_t address[4]);

// --- The program's own connections: a serial line over the network
// --------------------------------

// A connection's other end that has gone silent for good is noticed after kKeepIdleMs without a
// byte and ten probes kKeepProbeMs apart that get no answer (Windows always sends ten).
constexpr unsigned kKeepIdleMs = 10000;
constexpr unsigned kKeepProbeMs = 3000;
constexpr int kKeepProbes = 10;

// A socket address: IPv4 or IPv6, with its port.
struct NetAddress {
    alignas(8) uint8_t bytes[28];
    int size;
};

// Why NetConnectWithin or NetListenOn failed.
enum NetFailure {
    kNetStopped = -1,  // the stop signal came first
    kNetRefused = 1,   // the other end refuses the connection
    kNetNoAnswer,      // the other end does not answer in time, or cannot be reached
    kNetInUse,         // another program listens on the address
    kNetNotHere,       // the address is not one of this machine's
    kNetDenied,        // this program may not listen on it (a port below 1024)
};

// Reads `host`, a literal IPv4 (dotted) or IPv6 (without brackets) address, with `port` into `to`.
// Returns 1, or 0 when `host` is no literal address. Any thread.
int NetLiteralAddress(const char* host, unsigned port, NetAddress* to);

// Fills `to` with the address of `host` (a literal, or a name looked up for its IPv4 address, the
// lookup ending with the stop signal) and `port`. Returns 1, or 0 when the host is not found.
int NetFindHost(const char* host, unsigned port, NetAddress* to);

// Connects to `to`, waiting up to `ms`. Returns the connected socket, non-blocking, sending each
// write at once and noticing a peer that went silent for good; or kNoSocket with the NetFailure in
// `failure`.
NetSocket NetConnectWithin(const NetAddress& to, unsigned ms, int* failure);

// Listens on `at` for one waiting connection at a time. Returns the listening socket,
// non-blocking, or kNoSocket with the NetFailure in `failure`.
NetSocket NetListenOn(const NetAddress& at, int* failure);

// Takes a connection waiting on `listener`, set up as NetConnectWithin sets up its own. Returns it,
// or kNoSocket when none waits.
NetSocket NetAcceptOne(NetSocket listener);

// Sends all `n` bytes on `s`, waiting for room until `deadline` (MonotonicMillis) at the latest.
// Returns 1, or 0 when the socket failed, the time ran out or the stop signal came first.
int NetSendAll(NetSocket s, const uint8_t* bytes, size_t n, uint64_t deadline);

// Reads up to `max` bytes that `s` holds now, without waiting. Returns their count, 0 when nothing
// is there, -1 when the other end has closed the connection or it failed.
int NetReceiveSome(NetSocket s, uint8_t* bytes, size_t max);

// Waits up to `ms` (kNoTimeLimit: without a limit) until `s` has bytes to read or its connection
// has ended (or, for a listening socket, a connection waits). Returns 1, 0 when the time ran out,
// -1 when the stop signal or the thread's watch came first, -2 when the connection failed.
int NetAwaitBytes(NetSocket s, unsigned ms);

// What is ready while `s` has bytes to read, its connection has ended or (listening) a connection
// waits; kept for `s` until NetCloseSocket. Waited for by one thread at a time.
Waitable NetWaitable(NetSocket s);

// Takes what made NetWaitable(s) ready, for the thread watch (SetThreadWatch). Returns 1 when it
// was the end of the connection (the other end closed it, or it failed), 0 when it was only bytes.
int NetWatchFired(Waitable w);

// Waits up to `ms` (not watching the stop signal) for the other end of `s` to close the connection
// or reset it. Returns 1 when it has, 0 when it is still up (bytes it sent may be waiting). Any
// thread.
int NetPeerClosed(NetSocket s, unsigned ms);
