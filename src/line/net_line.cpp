// The serial line over TCP: socket://HOST:PORT, a connection this program makes, and
// listen://ADDR:PORT, an address it listens on for the other end's connection, one at a time. The
// TCP stream is the line, byte for byte, with no speed to set. Both are opened by the reader
// thread, whose waits watch the stop signal; rfc2217:// stacks its Telnet on the first
// (telnet.cpp).
#include <cstdio>

#include "front/front_end.h"
#include "line/line.h"
#include "line/line_state.h"
#include "line/line_url.h"
#include "net/net.h"

namespace {

// How long a connection is waited for before the other end counts as not answering. Windows tries
// a refused connection twice more, half a second apart, before it fails it.
constexpr unsigned kConnectLimitMs = 3000;

// How long a connection that comes while the line is up waits for the line's end before it is
// turned away: an emulator that drops its connection and connects again at once is let in.
constexpr unsigned kReconnectGraceMs = 200;

// The listening of a listen:// line: its socket, the state while it cannot listen, and, while a
// connection is the line, the doorkeeper, a thread that keeps the door. The reader's alone, but
// for the doorkeeper's look at `line`, which the reader never closes before the doorkeeper ended.
struct Listening {
    NetSocket socket = kNoSocket;
    int failure = kPortListening;
    NetSocket line = kNoSocket;
    Waitable doorStop = kNothing;  // raised to end the doorkeeper; kNothing while none runs
    ThreadId door = 0;
    char name[kLineNameBytes] = "";
};
Listening g_listen;

// --- socket:// ----------------------------------------------------------------------------------

// Connects to the host of the line `name`. Returns the connection with kPortOpen in `state`, or
// kNoLine with kPortNoHost, kPortRefused or kPortNoAnswer.
LineHandle Connect(const char* name, int* state, char*) {
    LineUrl url;
    const char* why;
    NetAddress to;
    int failure = kNetNoAnswer;
    *state = kPortNoHost;
    if (ParseLineUrl(name, &url, &why) <= 0 || !NetFindHost(url.host, url.port, &to)) {
        return kNoLine;
    }
    NetSocket s = NetConnectWithin(to, kConnectLimitMs, &failure);
    *state = s != kNoSocket ? kPortOpen : failure == kNetRefused ? kPortRefused : kPortNoAnswer;
    return s;
}

void CloseConnection(LineHandle line, bool) {
    NetCloseSocket(line);
}

void WriteConnection(LineHandle line, const uint8_t* bytes, size_t n) {
    NetSendAll(line, bytes, n, MonotonicMillis() + kWriteLimitMs);
}

// Nothing tells a connection's return: it is tried again every second.
int NoReturnWatch(const char*, Waitable* wake) {
    *wake = kNothing;
    return 0;
}

// --- listen:// ----------------------------------------------------------------------------------

// The doorkeeper: takes any further connection and closes it at once, telling it on stderr. One
// that comes when the line has just been closed by its other end is the line's next connection,
// and is left for the reader.
void KeepDoor(void*) {
    Waitable door[2] = {NetWaitable(g_listen.socket), g_listen.doorStop};
    while (WaitForAny(door, 2, kNoTimeLimit) == 1) {
        NetAwaitBytes(g_listen.socket, 0);  // takes the sign off
        if (NetPeerClosed(g_listen.line, kReconnectGraceMs)) {
            // Until the reader, which sees the end too, closes the door.
            WaitForAny(&g_listen.doorStop, 1, kNoTimeLimit);
            return;
        }
        NetSocket second = NetAcceptOne(g_listen.socket);
        if (second != kNoSocket) {
            NetCloseSocket(second);
            char told[kLineNameBytes + 48];
            snprintf(told, sizeof told, "%s: a second connection closed: one at a time",
                     g_listen.name);
            FrontTell(told);
        }
    }
}

void StopDoorkeeper() {
    if (g_listen.doorStop != kNothing) {
        RaiseSignal(g_listen.doorStop);
        JoinThread(g_listen.door);
        FreeSignal(g_listen.doorStop);
        g_listen.doorStop = kNothing;
    }
    g_listen.line = kNoSocket;
}

void StopListening() {
    StopDoorkeeper();
    if (g_listen.socket != kNoSocket) {
        NetCloseSocket(g_listen.socket);
        g_listen.socket = kNoSocket;
    }
}

// Listens on the address of the line `name` unless it does already; `wake` is ready while a
// connection waits. Returns 1, or 0 when the address cannot be listened on (Accept tries again).
int Listen(const char* name, Waitable* wake) {
    snprintf(g_listen.name, sizeof g_listen.name, "%s", name);
    LineUrl url;
    const char* why;
    NetAddress at;
    int failure = kNetInUse;
    if (g_listen.socket == kNoSocket) {
        g_listen.failure = kPortNoHost;
        if (ParseLineUrl(name, &url, &why) > 0 && NetFindHost(url.host, url.port, &at)) {
            g_listen.socket = NetListenOn(at, &failure);
            g_listen.failure = failure == kNetNotHere  ? kPortNoSuchAddress
                               : failure == kNetDenied ? kPortListenDenied
                                                       : kPortAddressInUse;
        }
    }
    *wake = g_listen.socket != kNoSocket ? NetWaitable(g_listen.socket) : kNothing;
    return g_listen.socket != kNoSocket ? 1 : 0;
}

// Takes the connection waiting on the address of the line `name`, listening first if it does not
// yet; while it is the line, the doorkeeper keeps the door. Returns it with kPortOpen in `state`,
// or kNoLine with kPortListening (no one yet) or why the address cannot be listened on.
LineHandle Accept(const char* name, int* state, char*) {
    Waitable wake;
    if (!Listen(name, &wake)) {
        *state = g_listen.failure;
        return kNoLine;
    }
    NetSocket s = NetAcceptOne(g_listen.socket);
    *state = s != kNoSocket ? kPortOpen : kPortListening;
    if (s != kNoSocket) {
        g_listen.line = s;
        g_listen.doorStop = MakeSignal();
        if (g_listen.doorStop != kNothing &&
            !StartThread("zundrel-door", KeepDoor, nullptr, &g_listen.door)) {
            FreeSignal(g_listen.doorStop);
            g_listen.doorStop = kNothing;
        }
    }
    return s;
}

// Closes the connection of a listen:// line; with `discard` (the port closed for good) the
// listening goes too.
void CloseListened(LineHandle line, bool discard) {
    StopDoorkeeper();
    NetCloseSocket(line);
    if (discard) {
        StopListening();
    }
}

// Takes the sign of a waiting connection off the watch. Returns 1 while listening.
int TakeConnectionSign() {
    return g_listen.socket != kNoSocket && NetAwaitBytes(g_listen.socket, 0) >= 0 ? 1 : 0;
}

// The reader's wait for a connection has ended; stopped, the line is let go.
void EndListenWatch() {
    if (ReaderStopRaised()) {
        StopListening();
    }
}

}  // namespace

const LineKind kSocketLine = {
    .open = Connect,
    .configure = [](LineHandle, unsigned) {},
    .close = CloseConnection,
    .awaitBytes = NetAwaitBytes,
    .read = NetReceiveSome,
    .write = WriteConnection,
    .lossWatch = NetWaitable,
    .lossFired = NetWatchFired,
    .watchReturn = NoReturnWatch,
    .drainWatch = [] { return 0; },
    .endWatch = [] {},
    .opensInReader = 1,
    .retryMs = kRetryMs,
};

// listen:// is the TCP line of socket:// but for how a connection comes and goes.
const LineKind kListenLine = Stacked(kSocketLine, {.open = Accept,
                                                   .close = CloseListened,
                                                   .watchReturn = Listen,
                                                   .drainWatch = TakeConnectionSign,
                                                   .endWatch = EndListenWatch});

LineKind Stacked(const LineKind& base, const LineKind& over) {
    LineKind kind = base;
    kind.open = over.open ? over.open : base.open;
    kind.configure = over.configure ? over.configure : base.configure;
    kind.close = over.close ? over.close : base.close;
    kind.awaitBytes = over.awaitBytes ? over.awaitBytes : base.awaitBytes;
    kind.read = over.read ? over.read : base.read;
    kind.write = over.write ? over.write : base.write;
    kind.lossWatch = over.lossWatch ? over.lossWatch : base.lossWatch;
    kind.lossFired = over.lossFired ? over.lossFired : base.lossFired;
    kind.watchReturn = over.watchReturn ? over.watchReturn : base.watchReturn;
    kind.drainWatch = over.drainWatch ? over.drainWatch : base.drainWatch;
    kind.endWatch = over.endWatch ? over.endWatch : base.endWatch;
    return kind;
}

const LineKind* LineKindOf(const char* name) {
    LineUrl url;
    const char* why;
    switch (ParseLineUrl(name, &url, &why)) {
        case kLineSocket:
            return &kSocketLine;
        case kLineListen:
            return &kListenLine;
        case kLineRfc2217:
            return &kRfc2217Line;
        default:
            return &kTtyLine;
    }
}
