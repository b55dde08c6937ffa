"""What the end-to-end tests of both programs share: the device played on a pseudo-terminal, the
frames of its conversation, a host on 127.0.0.1 for its sockets, bounded waits and X helpers.
Imported by tests/e2e/dialog_e2e.py and tests/wine/wine_e2e.py."""

import os
import select
import subprocess
import termios
import time

SYNC_REPLY = "00 55 55 55 55 55"
POWER_ON = ("01 00 01 02", "01 00 03 02 31 30")  # a power ON after the sync reply
STATUS = ("02 00 01 01", "02 00 02 02 02")  # check Status, before the dial-up
DIALUP = ("01 00 01 08",
          "01 00 15 0B 00 08 48 01 C0 A8 00 01 C0 A8 00 02 C0 A8 00 03 C0 A8 00 04")


def log(text):
    print(text, flush=True)


def h(frame):
    """Bytes of a frame written as hexadecimal pairs: h("01 00 01 02")."""
    return bytes.fromhex(frame) if isinstance(frame, str) else bytes(frame)


def hexs(data):
    return " ".join("%02X" % b for b in data)


def wait_for(what, check, timeout=5.0, step=0.02):
    """Polls `check` until it returns a true value, which is returned; fails naming `what` when
    `timeout` passes. Exceptions count as not yet (AT-SPI objects come and go)."""
    deadline = time.monotonic() + timeout
    last = None
    while True:
        try:
            last = check()
            if last:
                return last
        except Exception as error:
            last = error
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for %s (last: %r)" % (what, last))
        time.sleep(step)


class Pty:
    """One pseudo-terminal: the test is the device on its master, the program opens the slave."""

    def __init__(self, name):
        self.name = name
        self.master, self.slave = os.openpty()
        os.set_blocking(self.master, False)

    def write(self, frame):
        os.write(self.master, h(frame))

    def read(self, n, timeout=5.0, exact=True):
        """Reads n bytes; on timeout fails with what arrived, or returns it when not `exact`."""
        got = b""
        deadline = time.monotonic() + timeout
        while len(got) < n:
            left = deadline - time.monotonic()
            if left <= 0:
                assert not exact, "%s: expected %d bytes, got %s" % (self.name, n, hexs(got))
                break
            if select.select([self.master], [], [], left)[0]:
                try:
                    got += os.read(self.master, n - len(got))
                except BlockingIOError:
                    pass
        return got

    def pending(self, seconds):
        """Whatever arrives within `seconds`."""
        if not select.select([self.master], [], [], seconds)[0]:
            return b""
        try:
            return os.read(self.master, 4096)
        except BlockingIOError:
            return b""

    def silent(self, seconds):
        """The program sends nothing for `seconds` (a bounded negative check)."""
        extra = self.pending(seconds)
        assert not extra, "%s: unexpected bytes %s" % (self.name, hexs(extra))

    def speed(self):
        return termios.tcgetattr(self.slave)[5]

    def set_speed(self, speed):
        attrs = termios.tcgetattr(self.slave)
        attrs[4] = attrs[5] = speed
        termios.tcsetattr(self.slave, termios.TCSANOW, attrs)

    def close(self):
        os.close(self.master)
        os.close(self.slave)


def exchange(pty, request, reply):
    """The device sends `request` and gets exactly `reply`, nothing more. Returns the two lines
    the traffic log shows for it."""
    pty.write(request)
    got = pty.read(len(h(reply)))
    assert got == h(reply), "request %s: reply %s, expected %s" % (request, hexs(got), reply)
    assert not select.select([pty.master], [], [], 0)[0], "request %s: more than the reply" % request
    return ["R> %s " % hexs(h(request)), "S> %s " % hexs(h(reply))]


def socket_conversation(pty, server, data, reads, status):
    """Opens a socket, connects it to `server` (listening on 127.0.0.1), sends ABC, which the peer
    must get; the peer answers `data`, the device makes the (request, reply) `reads`, looks up
    localhost and closes the socket, which the peer must see. `status` is called with the status
    field's label after each step. Returns the traffic log lines."""
    port = server.getsockname()[1]
    name = hexs(b"localhost\0")
    steps = [("11 00 01 01", "11 00 02 01 00", "open socket"),
             ("11 00 12 03 00 00 02 %02X %02X 7F 00 00 01" % (port & 0xFF, port >> 8) + " 00" * 8,
              "11 00 03 03 00 01", "connect socket"),
             ("11 00 05 0E 00 41 42 43", "11 00 03 0E 00 03", "send socket")]
    lines = []
    for request, reply, label in steps:
        lines += exchange(pty, request, reply)
        status(label)
    server.settimeout(5)
    peer = server.accept()[0]
    with peer:
        peer.settimeout(5)
        assert peer.recv(16) == b"ABC"
        peer.sendall(data)
        steps = reads + [("11 00 0B 08 " + name, "11 00 10 08 01 %s 7F 00 00 01" % name,
                          "gethstbyname"), ("11 00 02 07 00", "11 00 03 07 00 01", "close socket")]
        for request, reply, label in steps:
            lines += exchange(pty, request, reply)
            status(label)
        try:  # unread data makes the close a reset
            assert peer.recv(16) == b"", "the socket was not closed"
        except ConnectionResetError:
            pass
    return lines


def xdotool(*args, timeout=20):
    return subprocess.run(["xdotool"] + list(args), timeout=timeout, capture_output=True, text=True)


def find_window(name, timeout=20):
    """The id of the visible X window titled `name` (a regular expression), waited for."""
    ids = xdotool("search", "--sync", "--onlyvisible", "--name", name, timeout=timeout).stdout
    assert ids.split(), "no X window named " + name
    return ids.split()[0]


def window_visible(name):
    return xdotool("search", "--onlyvisible", "--name", name).returncode == 0


def press_key(window, key):
    subprocess.run(["xdotool", "windowfocus", "--sync", window, "key", "--clearmodifiers", key],
                   check=True, timeout=20)


def screenshot(window, path):
    subprocess.run(["import", "-window", window, path], check=True, timeout=60,
                   capture_output=True)
    log("screenshot: " + path)
