# What the port and the program do beyond a conversation, one row per case: the real serial port
# and reader thread through harness_serial, and the program's command line (options, exit codes)
# and output, run headless with no display. The devices are pseudo-terminals, the TCP peer is on
# 127.0.0.1. The transcripts' headless level is the rest (a port waited for, SIGINT, status lines,
# log).
#
# Usage: behaviour.py HARNESS_SERIAL [ZUNDREL]

import contextlib
import fcntl
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import termios
import time

from kit import (Peer, Program, Pty, Target, TcpDevice, answered, asleep, bytes_of, converse, hexs,
                 network_line, option_rows, parse, preselected, refused, run_cases, sandboxed,
                 ser2net, stalled_port, turn_away, usage, wait_for)

POWER_ON = '01 00 01 02 -> 00 55 55 55 55 55 "power ON"'
STATUS = '02 00 01 01 -> 02 00 02 02 02 "check Status"'
OPEN = '11 00 01 01 -> 11 00 02 01 00 "open socket"'
CONNECT = '11 00 12 03 00 00 02 {port} 7F 00 00 01 00*8 -> 11 00 03 03 00 01 "connect socket"'


class Row:
    # One case: harness_serial with its port on a pty behind a by-id style link, a TCP peer, and a
    # listener that never answers a connect ({stalled}). Everything is ended with the row.
    def __init__(self, harness):
        self.peer, self.ptys, self.tmp = Peer(), [Pty()], tempfile.TemporaryDirectory()
        self.sockets, self.peer.env["stalled"] = stalled_port()
        self.program, self.link = Program(harness), os.path.join(self.tmp.name, "usb-Device-if00")
        self.pid, self.target = self.program.process.pid, Target(self.program, self.ptys[0])
        os.symlink(self.ptys[0].path, self.link)
        assert self.command("open " + self.link) == ["1"]

    def talk(self, *lines):  # returns the traffic log lines they write
        return converse(self.target, self.peer, parse("row", self.peer.env, list(lines))[1])

    def write(self, line):  # the device bytes of `line`, taken in; no wait for a reply
        exchange = parse("row", self.peer.env, [line + " -> -"])[1][0][1]
        self.target.put(b"".join(exchange.chunks))

    def command(self, text):
        return self.program.command(text).split(" ")[1:]

    def replug(self, wait=True, asleep_between=False):  # the device pulled, plugged back at once
        os.close(self.target.pty.master)
        os.remove(self.link)
        asleep_between and asleep(self.pid)  # lost: the reader sleeps until the device is back
        self.ptys.append(Pty())  # a new device on a new pty
        self.target.pty = self.ptys[-1]
        self.target.pty.set_speed(termios.B1200)
        os.symlink(self.target.pty.path, self.link)
        raw = lambda: self.target.pty.speed() == termios.B9600 and not termios.tcgetattr(  # noqa
            self.target.pty.slave)[3] & termios.ICANON
        wait and wait_for("the port reopened at 9600 bit/s within a second", raw, timeout=1)
        wait and self.talk(STATUS)  # the adapter still on, nothing of the frame before

    def end(self):
        for s in [self.peer, *self.sockets, *self.ptys]:
            s.close()
        self.tmp.cleanup()


# The port is closed, or the device replugged, while a command blocks or with half a frame taken
# in. Closed: at once (sooner than the dial-up pause), and the command sends no reply. Replugged:
# the port back within a second, the adapter still on, nothing of the frame before, the command's
# socket kept.
BLOCKED = [
    ("half a frame", [], "11 00 05 0E", None),
    ("dial-up pause", [], "01 00 01 08", "dialup"),
    ("silent receive", [OPEN, CONNECT], "11 00 03 0F 00 04", "recv a buffer"),
    ("unanswered connect", [OPEN], "11 00 12 03 00 00 02 {stalled} 7F 00 00 01 00*8",
     "connect socket"),
    ("stalled lookup", [], "11 00 0F 08 'stall.invalid' 00", "gethstbyname"),
]


def closed_while_blocked(row, before, request, label, replugged=False):
    row.talk(POWER_ON, *before)
    row.write(request)
    assert not label or row.program.wait("status") == "status " + label
    if replugged:  # the loss is seen while the command waits; the port back within a second
        row.replug()
        return row.talk(OPEN[:-16] + '%02X "open socket"' % bool(before))  # socket kept
    start = time.monotonic()
    row.command("close")
    assert time.monotonic() - start < 0.4, "closing the port waited for the command"
    assert row.target.pty.read(1, timeout=0) == b"", "the interrupted command replied"


def instant_replugs(row):  # each return comes before the loss is seen: none is missed, none leaks
    row.talk(POWER_ON)
    fds = usage(row.pid)
    for n in range(20):
        row.replug(wait=n % 5 == 4)
    # Lookups found and not, and sockets opened and closed, leave no descriptor behind either.
    row.talk(*[line for n in range(8) for line in (
        "11 00 0B 08 'localhost' 00 -> 11 00 10 08 01 'localhost' 00 7F 00 00 01 \"gethstbyname\"",
        "11 00 11 08 'nowhere.invalid' 00 -> 11 00 02 08 00 \"gethstbyname\"",
        '11 00 01 01 -> 11 00 02 01 %02X "open socket"' % n,
        '11 00 02 07 %02X -> 11 00 03 07 %02X 01 "close socket"' % (n, n))])
    assert usage(row.pid) == fds, "descriptors left open"
    row.replug(asleep_between=True)


def never_read(row):
    # A device that never reads its replies: once its side is full, each reply gives up after a
    # second, and the reader goes on taking requests.
    row.talk(POWER_ON)
    name = "x" * 236 + ".localhost"  # a reply of 256 bytes
    for n in range(1000):
        start = time.monotonic()
        row.write("11 00 %02X 08 '%s' 00" % (len(name) + 2, name))
        assert row.program.wait("status", timeout=5) == "status gethstbyname"
        if time.monotonic() - start > 0.5 and n > 2:
            break  # a reply before this request had to give up
    else:
        raise AssertionError("the replies never filled the device's side")
    row.write(STATUS[:11])
    assert row.program.wait("status", timeout=5) == "status check Status"


def short_send(row):
    # A send that does not fit the socket's buffers waits for room: the reply counts every byte
    # and the peer gets them all, in order.
    row.peer.server.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    row.talk(POWER_ON, OPEN, CONNECT, "peer expect ''")
    data, sends, pty = bytes(range(127)), 0, row.target.pty
    while True:  # at most the 4 MiB a socket's send buffer grows to
        assert sends < 40000, "the sends never had to wait"
        pty.write(bytes.fromhex("11 00 81 0E 00") + data)
        sends += 1
        reply = pty.read(6, timeout=0.3)
        if not reply:
            break  # the buffers are full: this send waits for the peer
        assert reply == bytes.fromhex("11 00 03 0E 00 7F"), reply.hex()
        row.program.wait("status")
    received = b""
    while len(received) < sends * len(data):
        received += row.peer.conn.recv(65536)
    assert received == data * sends, "the peer got %d bytes" % len(received)
    assert pty.read(6) == bytes.fromhex("11 00 03 0E 00 7F"), "the waiting send's reply"


ROWS = [("%s with %s" % (how, name), lambda row, r=r, how=how: closed_while_blocked(
    row, *r, how == "replugged")) for name, *r in BLOCKED for how in ("closed", "replugged")] + [
    ("instant replugs", instant_replugs),
    ("send larger than the socket's buffers", short_send),
    ("a device that never reads", never_read),
]


def telnet_rows(harness):
    # The rows of telnet.txt, each read whole and cut in two at every point.
    h = Program(harness)
    for line in open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "telnet.txt")):
        given, _, want = line.partition("#")[0].partition(" -> ")
        server, (device, _, answer) = bytes_of(given), want.partition("|")
        want = "telnet %s | %s" % (hexs(bytes_of(device)), hexs(bytes_of(answer)))
        for cut in range(len(server) if want != "telnet  | " or server else 0):
            got = h.command("telnet %s , %s" % (hexs(server[:cut]), hexs(server[cut:])))
            assert got.split() == want.split(), "%s cut at %d: %s" % (given, cut, got)
    h.end()


# The command line: the rows of options.txt (see scenario.py).


def run(program, *args):
    return subprocess.run(sandboxed([program, *args]), capture_output=True, text=True, timeout=10)


def shown(program):  # --version and --help: status 1 when they cannot be written; each program
    for option in ("--version", "--help"):  # says its own name
        done = run("sh", "-c", '"$0" %s >/dev/full' % option, program)
        assert done.returncode == 1 and done.stderr and run(program, option).returncode == 0, done
    for name in ("zundrel", "zundrel-headless"):
        path = os.path.join(os.path.dirname(program), name)
        assert run(path, "--help").stdout.startswith("Usage: %s [" % name)
        assert run(path, "-x").stderr == "%s: unknown option '-x' (see %s --help)\n" % (name, name)


def option(program, args, want, made, pty):
    # A bad row: refused, the port never opened; an ok row: the headless program runs with it.
    pty.set_speed(termios.B1200)
    if want == "ok":
        h = Program(program, *args)
        return preselected(pty, made), h.end()
    refused(run(program, "--port", pty.path, "--speed", "38400", *args), want)
    assert pty.speed() == termios.B1200, "the port was opened"


def line_back(program, line):
    # A network line drops while the device has a connection open and a command waits (a connect
    # that is never answered), and comes back: the server listening again on its port (socket://),
    # the device connecting again (listen://). Lost at once, the command abandoned, then reopened as
    # after a replug, with the adapter and the connections as they were.
    with tempfile.TemporaryDirectory() as tmp:
        h, device = network_line(program, line, os.path.join(tmp, "log"))
        url, peer = h.process.args[h.process.args.index("--port") + 1], Peer()
        stalled, peer.env["stalled"] = stalled_port()
        converse(Target(h, device), peer, parse("row", peer.env, [POWER_ON, OPEN, CONNECT])[1])
        port = int(url.rpartition(":")[2])
        if line == "listen":  # one line at a time: a second connection is closed at once, and told
            with socket.create_connection(("127.0.0.1", port), 5) as second:
                assert second.recv(1) == b"", "a second connection kept"
            assert h.wait("box") == "box %s: a second connection closed: one at a time" % url
        converse(Target(h, device), peer, parse("row", peer.env, [OPEN[:-16] + '01 "open socket"'])[1])
        device.write(bytes.fromhex("11 00 12 03 01 00 02") + peer.env["stalled"] +
                     bytes([127, 0, 0, 1]) + bytes(8))
        assert h.wait("status") == "status connect socket"
        device.close()
        assert h.wait("box", timeout=5) == "box %s: lost: waiting for it to come back" % url
        asleep(h.process.pid)
        if line == "socket":
            server = socket.create_server(("127.0.0.1", port))
            sock = server.accept()[0]
            server.close()
        else:  # once the program listens again
            sock = wait_for("the connection", lambda: socket.create_connection(("127.0.0.1", port)))
        where = ("to", "on")[line == "listen"]
        assert h.wait("box") == "box %s: connected %s 127.0.0.1:%d" % (url, where, port)
        converse(Target(h, TcpDevice(sock)), peer, parse("row", peer.env, [
            '01 00 01 02 -> 01 00 03 02 31 30 "power ON"', "11 00 04 0E 00 'ok' -> 11 00 03 0E 00 02 "
            '"send socket"', "peer expect 'ok'", OPEN[:-16] + '02 "open socket"'])[1])
        h.end()
        peer.close(), [s.close() for s in stalled]


def turned_away(program):
    # The other end takes each connection, says why it cannot serve, and closes it at once (as
    # ser2net does when its device is missing or another client has it): told once, with its
    # words; tried at most once a second meanwhile, with no line a try, asleep between. Then it
    # serves: told connected, and answered.
    with socket.create_server(("127.0.0.1", 0)) as server:
        url = "socket://127.0.0.1:%d" % server.getsockname()[1]
        h = Program(program, "--port", url)
        server.settimeout(5)
        took = turn_away(server, 4)
        asleep(h.process.pid)
        device = TcpDevice(server.accept()[0])
    assert all(b - a > 0.9 for a, b in zip(took, took[1:])), "tries %s s apart" % took
    told = [h.wait("box") for _ in range(4)]
    where = url.partition("//")[2]
    assert told[-3:] == ["box %s: %s" % (url, words) for words in (
        "connected to " + where, 'closed by the other end at once: "Port already in use": '
        "waiting for it", "connected to " + where)], told
    converse(Target(h, device), Peer(), parse("row", {}, [POWER_ON])[1])
    h.end()


def listening(program):
    # listen:// on an address another program listens on: told once, no line a try, asleep; on an
    # address this machine does not have, told so. Once it is free, the program listens there, on
    # 127.0.0.1 alone; an emulator that drops its connection and connects again at once is the line
    # every time.
    taken = socket.create_server(("127.0.0.1", 0))
    url = "listen://:%d" % taken.getsockname()[1]
    h = Program(program, "--port", url)
    while (told := h.wait("box")) != "box %s: address in use by another program: waiting for it" % url:
        assert told == "box %s: opening" % url, told
    for _ in range(4):  # more than a second: tried again, with no line
        asleep(h.process.pid)
    elsewhere = Program(program, "--port", "listen://192.0.2.1:%d" % taken.getsockname()[1])
    while (told := elsewhere.wait("box")).endswith(": opening"):
        pass
    assert told.endswith(": not an address of this machine: waiting for it"), told
    taken.close()
    where = ("127.0.0.1", int(url.rpartition(":")[2]))
    assert h.wait("box") == "box %s: listening: waiting for the connection" % url
    with socket.socket() as other:  # 127.0.0.2 is this machine too, but not the address named
        assert other.connect_ex(("127.0.0.2", where[1])) != 0, "listening on 127.0.0.2"
    for n in range(30):
        with socket.create_connection(where, 5) as conn:
            answered(TcpDevice(conn), *(POWER_ON.split(" ->")[0], ("00 55 55 55 55 55" if n == 0
                                                                   else "01 00 03 02 31 30")))
    h.events.clear()
    h.end()


def on_ipv6(program):  # a line to an IPv6 address, in brackets; a log that cannot be written, told
    h, device = network_line(program, "socket", "/dev/full", "[::1]")
    answered(device, *POWER_ON.split(" -> ")[0:1], "00 55 55 55 55 55")
    assert h.wait("box") == "box traffic log /dev/full cannot be written"
    h.events.clear()
    h.end()


def through_ser2net(program):
    # ser2net on 127.0.0.1 with a pty as its device, offered raw and as RFC 2217: a conversation
    # through each, 255s both ways, and over RFC 2217 the speed chosen set on the pty behind it.
    # Its device is missing at first: what ser2net says is told, and the line works once it is there.
    pty, tmp = Pty(), tempfile.TemporaryDirectory()
    link = os.path.join(tmp.name, "ttyUSB0")
    ports = ser2net(link, tmp.name, sandboxed)
    for url, speed in (("socket", termios.B9600), ("rfc2217", termios.B38400)):
        pty.set_speed(termios.B1200)
        url = "%s://127.0.0.1:%d" % (url, ports[url == "rfc2217"])
        h, peer = Program(program, "--port", url, "--speed", "38400"), Peer()
        while not os.path.lexists(link):
            told = h.wait("box")[len(url) + 6:]  # refused until ser2net listens, then turned away
            if told.startswith('closed by the other end at once: "Device open failure'):
                os.symlink(pty.path, link)
        while h.wait("box") != "box %s: connected to %s" % (url, url.partition("//")[2]):
            pass
        wait_for("ser2net's pty raw", lambda: not termios.tcgetattr(pty.slave)[3] & termios.ECHO)
        converse(Target(h, pty), peer, parse("row", peer.env, [
            POWER_ON, '0F 00 01 FF -> 0F 00 01 FF 00 "power OFF"'])[1])
        assert pty.speed() == speed, "the pty at %s" % pty.speed()
        h.end()
    pty.close(), tmp.cleanup()


def routes(program):
    # Where the device's traffic goes: its hosts table (a name, a wildcard, a blocked name, a bad
    # line told and skipped, an edit picked up by the next lookup, the file gone told once and the
    # last table kept), a redirect to another port of this machine, a connect denied that the
    # listener never sees; and the trace of the whole conversation.
    pty, tmp, peer = Pty(), tempfile.TemporaryDirectory(), Peer()
    hosts, trace = os.path.join(tmp.name, "hosts"), os.path.join(tmp.name, "trace")
    open(hosts, "w").write("10.1.2.3 server.example # ours\n10.1.2.4 *.games.example\n"
                           "0.0.0.0 ads.example\n10.1.2.300 bad.example\n")
    closed = socket.create_server(("127.0.0.1", 0))
    shut = closed.getsockname()[1]
    h = Program(program, "--port", pty.path, "--hosts", hosts, "--trace", trace, "--redirect",
                "10.9.9.9:80=127.0.0.1:%d" % peer.server.getsockname()[1], "--deny",
                "127.0.0.1/32:%d" % shut)
    assert h.wait("box") == "box hosts %s:4: '10.1.2.300' is not an IPv4 address: skipped" % hosts
    assert h.wait("box") == "box %s: open at 9600 bit/s" % pty.path
    lookup = lambda name, *answer: "11 00 %02X 08 '%s' 00 -> 11 00 %s \"gethstbyname\"" % (  # noqa
        len(name) + 2, name, "%02X 08 01 '%s' 00 %s" % (len(name) + 7, name, answer[0])
        if answer else "02 08 00")
    talk = lambda *lines: converse(Target(h, pty), peer, parse("row", peer.env, list(lines))[1])  # noqa
    talk(POWER_ON, lookup("server.example", "0A 01 02 03"), lookup("x.y.Games.example",
         "0A 01 02 04"), lookup("games.example"), lookup("ADS.example"))
    open(hosts, "w").write("10.1.2.5 server.example\n")
    talk(lookup("server.example", "0A 01 02 05"), OPEN, CONNECT.replace("{port} 7F 00 00 01",
         "50 00 0A 09 09 09"), "11 00 04 0E 00 'hi' -> 11 00 03 0E 00 02 \"send socket\"",
         "peer expect 'hi'", OPEN[:-16] + '01 "open socket"', "11 00 12 03 01 00 02 %02X %02X 7F 00"
         " 00 01 00*8 -> 11 00 03 03 01 00 \"connect socket\"" % (shut & 255, shut >> 8))
    assert h.wait("box") == "box connect to 127.0.0.1:%d denied by --deny 127.0.0.1/32:%d" % (
        shut, shut)
    closed.setblocking(False)
    with contextlib.suppress(BlockingIOError):
        assert not closed.accept(), "the denied connect reached the listener"
    os.remove(hosts)
    answered(pty, "11 00 10 08 %s 00" % b"server.example".hex(), "11 00 15 08 01 %s 00 0A 01 02 "
             "05" % b"server.example".hex())
    assert h.wait("box") == "box hosts %s: gone: the table last read stays in use" % hosts
    h.events.clear()
    talk('11 00 02 07 00 -> 11 00 03 07 00 01 "close socket"')
    h.end()
    want = ["lookup server.example: 10.1.2.3 from the hosts table",
            "lookup x.y.Games.example: 10.1.2.4 from the hosts table",
            "lookup games.example: not found by the resolver",
            "lookup ADS.example: blocked by the hosts table",
            "lookup server.example: 10.1.2.5 from the hosts table", "open: socket 0",
            "connect socket 0 to 127.0.0.1:%d (redirected from 10.9.9.9:80): connected in MS" %
            peer.server.getsockname()[1], "send on socket 0: 2 bytes", "open: socket 1",
            "connect socket 1 to 127.0.0.1:%d (denied by --deny 127.0.0.1/32:%d): not tried" % (
                shut, shut), "lookup server.example: 10.1.2.5 from the hosts table",
            "close socket 0"]
    got = [re.sub(r"\d+ ms$", "MS", line.partition(" ")[2]) for line in open(trace).read().split(
        "\n") if re.match(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} ", line)]
    assert got == want, got
    [s.close() for s in (closed, pty, peer)], tmp.cleanup()


def notified(program):
    # Run by systemd as a service of Type=notify (NOTIFY_SOCKET): ready once it runs, and its status
    # kept current: the port's state and the sockets open; stopping when it ends.
    with tempfile.TemporaryDirectory() as tmp:
        systemd = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        systemd.bind(os.path.join(tmp, "notify"))
        systemd.settimeout(10)
        pty = Pty()
        h = Program(program, "--port", pty.path,
                    env=dict(os.environ, NOTIFY_SOCKET=systemd.getsockname()))
        said = lambda: systemd.recv(4096).decode()  # noqa: E731
        status = "STATUS=%s: open at 9600 bit/s, %%d socket%%s open" % pty.path
        assert [said(), said()] == [status % (0, "s"), "READY=1\n" + status % (0, "s")]
        h.wait("box")  # open
        converse(Target(h, pty), Peer(), parse("row", {}, [POWER_ON, OPEN])[1])
        assert said() == status % (1, "")
        h.events.clear()
        h.end(signal.SIGTERM)
        assert said() == "STOPPING=1"
        pty.close(), systemd.close()


def killed_on_a_pty(program):
    # The program killed on an emulator's pty, run as an unprivileged service runs it (a copy that
    # anyone may run): the next one opens the port. A port another program holds is told with what
    # holds it or, when that cannot be seen, what to do.
    pty, nobody, tmp = Pty(), ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"], \
        tempfile.TemporaryDirectory()
    os.chmod(pty.path, 0o666)
    os.chmod(tmp.name, 0o755)
    program = shutil.copy(os.path.join(os.path.dirname(program), "zundrel-headless"), tmp.name)
    me = "%s (pid %d)" % (open("/proc/self/comm").read().strip(), os.getpid())
    for n, wrap, words in [(0, nobody, "open at 9600 bit/s"), (1, nobody, "open at 9600 bit/s"),
                           (2, [], "in use by another program: " + me),  # the test has its lock
                           (3, nobody, "in use by another program: held exclusive: restart the "
                            "program that offers this pseudo-terminal")]:  # the test holds it
        n == 2 and fcntl.flock(pty.slave, fcntl.LOCK_EX | fcntl.LOCK_NB)
        n == 3 and fcntl.ioctl(pty.slave, termios.TIOCEXCL)
        h = Program(program, "--port", pty.path, wrap=wrap)
        assert h.wait("box") == "box %s: %s" % (pty.path, words)
        h.process.kill()
        h.process.wait(10)
    pty.close(), tmp.cleanup()


# The headless program's output and ends. Its stdout and stderr on a cooked terminal (ONLCR) that
# is not read: every frame is answered, the lines that do not fit are dropped and counted once it is
# read, and a signal still ends it, the port let go.
def stalled_output(program, number):
    term, port, tmp = Pty(), Pty(), tempfile.TemporaryDirectory()
    h = Program(program, "--port", port.path, out=term.slave)
    target = Target(h, port)
    wait_for("the port open", lambda: not termios.tcgetattr(port.slave)[3] & termios.ICANON)

    def send(line):  # the frame of transcript line `line`, taken in, and its reply
        exchange = parse("", {}, [line])[1][0][1]
        target.put(exchange.chunks[0])
        assert port.read(len(exchange.reply)) == exchange.reply, "a reply missing"
    send(POWER_ON)
    for read in (True, False):  # stalled, then read to the end; stalled again, then ended
        for line in [STATUS, "0F 00 01 00 ->"] * 2500:  # status lines, box lines
            send(line)
        out = read and b"".join(iter(lambda: term.read(65536, timeout=0.5), b"")).decode()
        assert not read or "lines dropped: the output did not take them" in out, out[:300]
    h.end(number)
    with open(port.path) as again:  # the port let go
        fcntl.flock(again, fcntl.LOCK_EX | fcntl.LOCK_NB)
    term.close(), port.close(), tmp.cleanup()


def case(harness, function):
    row = Row(harness)
    try:
        function(row)
    finally:
        row.end()


if __name__ == "__main__":
    harness, program = sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else None
    cases = [(name, lambda f=f: case(harness, f)) for name, f in ROWS] + [
        ("Telnet rows", lambda: telnet_rows(harness))]
    if program:
        folder, pty = tempfile.TemporaryDirectory(), Pty()
        cases += [("--version, --help", lambda: shown(program))] + [
            (" ".join(r[0])[:30], lambda r=r: option(program, *r, pty))
            for r in option_rows("l", pty.path, folder.name)] + [
            ("socket:// lost and back", lambda: line_back(program, "socket")),
            ("listen:// lost and back", lambda: line_back(program, "listen")),
            ("socket:// turned away", lambda: turned_away(program)),
            ("listen:// in use, then quick reconnects", lambda: listening(program)),
            ("socket:// over IPv6", lambda: on_ipv6(program)),
            ("through ser2net", lambda: through_ser2net(program)),
            ("killed on a pty", lambda: killed_on_a_pty(program)),
            ("the device's routes and trace", lambda: routes(program)),
            ("a service of systemd", lambda: notified(program)),
            ("stalled output, SIGTERM", lambda: stalled_output(program, signal.SIGTERM)),
            ("stalled output, SIGHUP", lambda: stalled_output(program, signal.SIGHUP))]
    sys.exit(run_cases(cases))
