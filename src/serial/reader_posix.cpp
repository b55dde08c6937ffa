// The reader thread of the POSIX serial port: it sleeps on the port's line and the reader stop
// signal and feeds what arrives to the frame assembly. When the line fails, the reader closes the
// port at once and sleeps until the line opens again, woken by the return watch of its kind.
#include <pthread.h>

#include <cstdint>

#include "front/front_end.h"
#include "link/frame_assembly.h"
#include "serial/port_posix.h"
#include "serial/serial_port.h"
#include "wait/stop_signal.h"

namespace {

// Most bytes taken from the port and fed to the frame assembly at once.
constexpr size_t kReadChunk = 256;

// The port's line has failed (or, with `first`, a line the reader opens has not opened yet):
// closes the port at once, so that the line's name is free for its return, and sleeps until the
// line opens again. The watch is set before each look, so that no return is missed however soon it
// comes. A line that failed before giving a byte (`waitFirst`) is looked for again only after a
// sign or a while, never in a loop; a line the reader opens tells why it does not open, until it
// first opens (after that, it is lost until it is back). Returns the reopened port at the speed
// chosen, or -1 when the stop signal came first.
int AwaitReturn(bool waitFirst, bool first = false) {
    WatchPortLoss(-1);
    const LineKind* kind = PortKind();
    if (!first) {
        ForgetPort(kPortLost, false);
        FrontPortStateChanged();
    }
    int wake = -1;
    int watched = kind->watchReturn(PortName(), &wake);
    int back = -1;
    for (bool look = !waitFirst;; look = true) {
        int state = PortState();
        back = look ? kind->open(PortName(), &state) : -1;
        if (back >= 0 || ReaderStopRaised()) {
            break;
        }
        if (first && kind->opensInReader && state != PortState()) {  // why it does not open yet
            ForgetPort(state, false);
            FrontPortStateChanged();
        }
        int r = WaitForDescriptor(wake, POLLIN, watched && look ? kNoTimeLimit : kind->retryMs);
        if (r < 0 || ReaderStopRaised()) {
            break;
        }
        watched = kind->drainWatch();
    }
    kind->endWatch();
    if (back < 0 || ReaderStopRaised()) {
        if (back >= 0) {
            kind->close(back, false);
        }
        return -1;
    }
    TakePort(back);  // as after a port switch
    WatchPortLoss(back);
    FrontPortStateChanged();
    return back;
}

}  // namespace

// Waits for bytes on the port and feeds them to the frame assembly, up to 256 at a time, until the
// reader stop signal is raised. A port whose line fails, also while a command waits, is reopened
// when the line comes back.
void* ReaderMain(void*) {
    pthread_setname_np(pthread_self(), "zundrel-reader");
    int fd = PortDescriptor() >= 0 ? PortDescriptor() : AwaitReturn(false, true);
    if (fd < 0) {
        return nullptr;
    }
    WatchPortLoss(fd);
    bool heard = true;  // the port has given bytes since it was last (re)opened
    uint8_t chunk[kReadChunk];
    for (;;) {
        int r = WaitForDescriptor(fd, POLLIN, kNoTimeLimit);
        if (ReaderStopRaised()) {
            return nullptr;
        }
        // A terminal's line errors need no clearing here: with parity checking off, a byte
        // received with an error is delivered as it came, and reception goes on.
        ssize_t n = r > 0 && (r & POLLIN) != 0 ? ReadSome(fd, chunk, sizeof chunk) : 0;
        if (n > 0) {
            heard = true;
            FeedReceivedBytes(chunk, static_cast<size_t>(n));
            // A command that waited when the port was lost has been abandoned: the port failed.
            if (!TakePortLoss()) {
                continue;
            }
            if (ReaderStopRaised()) {
                return nullptr;
            }
            n = -1;
        }
        // The line has failed when it could not be read or, with nothing to read, when it reports
        // a hang-up or an error (its other end closed it, its device is gone).
        if (r < 0 || n < 0 || ((r & POLLIN) == 0 && (r & (POLLHUP | POLLERR)) != 0)) {
            fd = AwaitReturn(!heard);
            if (fd < 0) {
                return nullptr;
            }
            heard = false;
        }
    }
}
