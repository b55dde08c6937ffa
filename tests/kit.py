# The test kit every level shares: waiting, the device's pseudo-terminal, the TCP peer, the
# programs under test, the sandbox they run in, the runner of named cases, the transcripts' reader
# and player, and the option table.
#
# Usage: kit.py PROGRAM ARGS...   runs PROGRAM in a private /dev without ports (see sandboxed)

import contextlib
import fcntl
import os
import queue
import re
import select
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time

NODES = "null zero full random urandom tty ptmx pts shm".split()


def hexs(data):
    return " ".join("%02X" % b for b in data)


def free_port():  # a TCP port on 127.0.0.1 that nothing listens on now
    with socket.create_server(("127.0.0.1", 0)) as unused:
        return unused.getsockname()[1]


def wait_for(what, check, timeout=5.0, step=0.01):
    # Polls `check` until it returns a true value, which is returned; fails naming `what`.
    deadline = time.monotonic() + timeout
    while True:
        try:
            value = check()
            if value:
                return value
        except Exception as error:  # noqa: BLE001 (GUI objects come and go)
            value = error
        assert time.monotonic() < deadline, "timed out waiting for %s (last: %r)" % (what, value)
        time.sleep(step)


class Peer:
    # The TCP host the device talks to, on 127.0.0.1; accepts the device's connection when it
    # first acts on it. Given `rng`, it acts on a thread of its own, in order, while the device goes
    # on, and sends in random segments with pauses of up to 150 ms between them.
    def __init__(self, rng=None):
        self.rng, self.actions, self.failure = rng, queue.Queue(), None
        if rng:
            self.thread = threading.Thread(target=self.paced, daemon=True)
            self.thread.start()
        self.server = socket.create_server(("127.0.0.1", 0))
        self.server.settimeout(5)
        self.conn = None
        self.shut = socket.socket()  # bound and never listening: its port refuses, and stays taken
        self.shut.bind(("127.0.0.1", 0))
        self.env = {"port": struct.pack("<H", self.server.getsockname()[1]),
                    "closed": struct.pack("<H", self.shut.getsockname()[1]),
                    "self": socket.inet_aton(socket.gethostbyname(socket.gethostname()))}

    def paced(self):
        for action, data in iter(self.actions.get, None):
            try:
                self.failure or self.do(action, data)
            except Exception as error:  # noqa: BLE001 (reported by finish())
                self.failure = error

    def act(self, action, data):
        return self.actions.put((action, data)) if self.rng else self.do(action, data)

    def finish(self):  # waits for the peer's last action; raises what went wrong in one
        if self.rng:
            self.actions.put(None)
            self.thread.join(30)
            assert not self.failure, "peer: %s" % self.failure

    def do(self, action, data):
        if self.conn is None:
            self.conn = self.server.accept()[0]
            self.conn.settimeout(5)
            self.conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        while action == "send" and self.rng and len(data) > 1:
            cut = self.rng.randrange(1, len(data))
            self.conn.sendall(data[:cut])
            data = data[cut:]
            time.sleep(self.rng.random() * 0.15)  # a pause between segments, not a wait for them
        if action == "send":
            return self.conn.sendall(data)
        if action == "expect":
            got = self.conn.recv(len(data), socket.MSG_WAITALL) if data else b""
            assert got == data, "peer got %s, expected %s" % (hexs(got), hexs(data))
            return
        if action == "reset":
            self.conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        elif action == "gone":
            with contextlib.suppress(ConnectionResetError):
                assert self.conn.recv(1) == b"", "peer: the device did not close"
        self.conn.close()
        self.conn = None

    def close(self):
        for s in (self.conn, self.server, self.shut):
            if s is not None:
                s.close()


def turn_away(server, n, words=b"Port already in use\r\n"):
    # Takes `n` connections on `server`, each told `words` and closed at once, as ser2net turns a
    # client away. Returns when each was taken (time.monotonic()).
    took = []
    for _ in range(n):
        conn = server.accept()[0]
        took.append(time.monotonic())
        conn.sendall(words)
        conn.close()
    return took


def stalled_port():
    # A listener on 127.0.0.1 whose full backlog never answers a connect: its sockets (to close)
    # and its port, two bytes, least significant first.
    stalled = socket.create_server(("127.0.0.1", 0), backlog=0)
    fillers = [socket.socket() for _ in range(3)]
    for filler in fillers:
        filler.setblocking(False)
        filler.connect_ex(stalled.getsockname())
    return [stalled] + fillers, struct.pack("<H", stalled.getsockname()[1])


class Pty:
    # A pseudo-terminal: the test is the device on its master, the program opens the slave.
    def __init__(self):
        self.master, self.slave = os.openpty()
        self.path = os.ttyname(self.slave)
        os.set_blocking(self.master, False)

    def write(self, data):
        os.write(self.master, data)

    def taken(self):  # the port has read everything written to it
        return struct.unpack("i", fcntl.ioctl(self.slave, termios.FIONREAD, b"\0" * 4))[0] == 0

    def read(self, n, timeout=5.0):  # n bytes, or what arrived within `timeout`
        got, deadline = b"", time.monotonic() + timeout
        while len(got) < n and select.select([self.master], [], [],
                                             max(0, deadline - time.monotonic()))[0]:
            try:
                got += os.read(self.master, n - len(got))
            except BlockingIOError:
                pass
        return got

    def speed(self):
        return termios.tcgetattr(self.slave)[5]

    def set_speed(self, code):
        attrs = termios.tcgetattr(self.slave)
        attrs[4] = attrs[5] = code
        termios.tcsetattr(self.slave, termios.TCSANOW, attrs)

    def close(self):
        for fd in (self.master, self.slave):
            with contextlib.suppress(OSError):  # the test may have closed the master: switched off
                os.close(fd)


class TcpDevice(Pty):
    # The device at the end of a network line: a TCP connection (`sock`), read and written as a
    # pty's master is. Whether the program has taken the bytes in is told by its reads alone.
    def __init__(self, sock):
        self.sock, self.master, self.slave = sock, sock.fileno(), None
        sock.setblocking(False)

    def taken(self):
        return True

    def close(self):
        self.sock.close()


class TelnetDevice(TcpDevice):
    # The device behind an RFC 2217 server of the test's own: the device's bytes 255 are doubled
    # on the wire, and what the program says in Telnet is kept in `told` (a verb and its option,
    # or a subnegotiation's bytes), never answered.
    COMMAND = re.compile(rb"\xff([\xfb-\xfe].|\xfa.*?\xff\xf0|\xff)", re.S)

    def __init__(self, sock):
        super().__init__(sock)
        self.held, self.told = b"", []

    def write(self, data):
        self.sock.sendall(data.replace(b"\xff", b"\xff\xff"))

    def read(self, n, timeout=5.0):  # the program's commands come whole, in one segment
        deadline = time.monotonic() + timeout
        while len(self.held) < n and select.select([self.sock], [], [],
                                                   max(0, deadline - time.monotonic()))[0]:
            raw = self.sock.recv(4096)
            if not raw:
                break
            self.told += [c[:2] if c[0] != 0xFA else c[1:-2] for c in self.COMMAND.findall(raw)
                          if c != b"\xff"]
            self.held += self.COMMAND.sub(lambda m: m[1] if m[1] == b"\xff" else b"", raw)
        got, self.held = self.held[:n], self.held[n:]
        return got


def ser2net(device, folder, wrap=lambda args: args):
    # Starts ser2net (run as `wrap` says) on 127.0.0.1 with the pty `device` as its serial port,
    # offered raw and as RFC 2217. Returns the two TCP ports; run_cases ends it with the case.
    ports = [free_port(), free_port()]
    config = "".join("connection: &c%d#  accepter: %stcp,127.0.0.1,%d#  connector: serialdev,%s,"
                     "9600n81,local#" % (n, ("", "telnet(rfc2217),")[n], p, device)
                     for n, p in enumerate(ports))
    Program.running.append(subprocess.Popen(wrap(["ser2net", "-n", "-u", "-P", os.path.join(
        folder, "ser2net.pid"), "-Y", config]), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    return ports


def private_dev(ports=()):
    # Gives this process, which must have a mount namespace of its own, a /dev of its own: the usual
    # nodes, and as serial ports only `ports` (name, the pty or file it is); and an empty resolver
    # file, so that a lookup asks 127.0.0.1 and never a name server elsewhere. Every level runs the
    # programs in one. No pty can be made in it: make them first.
    if os.readlink("/proc/self/ns/mnt") == os.readlink("/proc/%d/ns/mnt" % os.getppid()):
        raise SystemExit("not in a private mount namespace: refusing")
    dev = tempfile.mkdtemp(prefix="zundrel-dev-")
    mount = lambda *args: subprocess.run(["mount", *args], check=True)  # noqa: E731
    mount("-t", "tmpfs", "-o", "mode=755", "zundrel-dev", dev)
    for name, source in [(n, "/dev/" + n) for n in NODES] + list(ports):
        node = os.path.join(dev, name)
        os.mkdir(node) if os.path.isdir(source) else open(node, "w").close()
        mount("--bind", source, node)
    for name, fd in (("fd", ""), ("stdin", "/0"), ("stdout", "/1"), ("stderr", "/2")):
        os.symlink("/proc/self/fd" + fd, os.path.join(dev, name))
    mount("--move", dev, "/dev")
    mount("--bind", "/dev/null", "/etc/resolv.conf")
    os.rmdir(dev)
    for name, source in ports:
        assert os.stat("/dev/" + name).st_rdev == os.stat(source).st_rdev, "/dev/" + name


def sandboxed(args):  # `args` run with no display, in a private /dev (private_dev) without ports
    return ["env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "unshare", "-m", "--propagation",
            "private"] + ["-r"] * (os.getuid() != 0) + [sys.executable, __file__] + args


class Program:
    # A harness (tests/harness.cpp) speaking its command lines; or, given ARGS, the program itself
    # run as `zundrel --headless ARGS`, sandboxed and with no display, its time-stamped lines on
    # stdout and stderr read as the events "status LINE" and "box LINE". Every one started is ended
    # by end_all() whatever happened.
    STAMP = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} ")
    running = []

    def __init__(self, program, *args, out=subprocess.PIPE, wrap=(), env=None):
        # out: where its lines go instead; wrap: the command that runs the program (setpriv ...);
        # env: its environment, when not the test's
        self.headless = bool(args)
        self.process = subprocess.Popen(
            sandboxed([*wrap, program, "--headless", *args]) if args else [program],
            stdin=subprocess.PIPE, stdout=out, stderr=out if args else None, env=env)
        Program.running.append(self.process)
        self.buffers = {s: b"" for s in (self.process.stdout, self.process.stderr) if s}
        self.lines, self.events = [], []
        self.last, self.run = None, 0  # the label the program showed last, and how many times

    def label(self, label):
        # The status line of `label`. The program itself writes a label that repeats the one before
        # no more, but counts it, and tells the count when another comes: "LABEL (N times)".
        if not self.headless or "--every-label" in self.process.args:
            return self.wait("status")
        if label == self.last:
            self.run += 1
            return "status " + label
        counted = "status %s (%d times)" % (self.last, self.run)
        assert self.run < 2 or self.wait("status") == counted, "no %r" % counted
        self.last, self.run = label, 1
        return self.wait("status")

    def wait(self, word, timeout=10.0):
        # Reads lines until one starts with `word`, which is returned; keeps the events before. A
        # program's stdout and stderr are two streams: a line of one may overtake the other's.
        deadline = time.monotonic() + timeout
        for line in self.events if self.headless else []:
            if line.split(" ")[0] == word:
                return self.events.pop(self.events.index(line))
        while True:
            while not self.lines:
                left = deadline - time.monotonic()
                ready = left > 0 and select.select(list(self.buffers), [], [], left)[0]
                assert ready, "the program did not answer (events: %r)" % self.events
                for stream in ready:
                    data = os.read(stream.fileno(), 65536)
                    assert data, "the program ended (exit code %r)" % self.process.wait(5)
                    *lines, self.buffers[stream] = (self.buffers[stream] + data).split(b"\n")
                    for line in map(bytes.decode, lines):
                        if self.headless:
                            assert self.STAMP.match(line), "no time stamp: %r" % line
                            kind = "status " if stream is self.process.stdout else "box "
                            line = kind + line[24:]
                        self.lines.append(line)
            line = self.lines.pop(0)
            if line.split(" ")[0] == word:
                return line
            self.events.append(line)

    def command(self, text, timeout=10.0):
        self.process.stdin.write(text.encode() + b"\n")
        self.process.stdin.flush()
        return self.wait(text.split(" ")[0], timeout)

    def end(self, number=signal.SIGINT):
        # A harness ends with 0 when its input ends; the program with 0 after `number` (how soon is
        # a figure of the line benchmark).
        assert self.events == [], "events after the last exchange: %r" % self.events
        self.process.send_signal(number) if self.headless else self.process.stdin.close()
        assert self.process.wait(10) == 0, "exit status %d" % self.process.returncode

    @staticmethod
    def end_all():
        for process in Program.running:
            if process.poll() is None:
                process.kill()
            process.wait(10)
        Program.running.clear()


def read_count(pid):  # the bytes process `pid` has read so far, from any descriptor
    return int(re.search(rb"rchar: (\d+)", open("/proc/%d/io" % pid, "rb").read())[1])


def asleep(pid):  # a program that waits as it should uses next to nothing in 300 ms
    stat = "/proc/%d/stat" % pid  # its fields 14 and 15: user and system time, in clock ticks
    ticks = lambda: sum(map(int, open(stat).read().rpartition(")")[2].split()[11:13]))  # noqa
    before = ticks()
    time.sleep(0.3)  # the measuring window
    ms = (ticks() - before) * 1000 / os.sysconf("SC_CLK_TCK")
    assert ms < 20, "used %d ms of CPU in 300 ms" % ms


def usage(pid):  # the descriptors process `pid` has open
    return len(os.listdir("/proc/%d/fd" % pid))


def run_cases(cases):
    # Runs (name, function) cases one after the other, reports each, ends every program after
    # each, and closes with the plain count line. Returns the exit status.
    failed = 0
    for name, case in cases:
        try:
            case()
            print("ok     " + name, flush=True)
        except Exception as error:  # noqa: BLE001 (a failed case is reported, the others go on)
            failed += 1
            print("FAILED %s: %s: %s" % (name, type(error).__name__, error), flush=True)
        finally:
            Program.end_all()
    print("%d passed, %d failed" % (len(cases) - failed, failed))
    return 1 if failed or not cases else 0


# --- Transcripts (tests/transcripts/README.md): read, and played against a target ---------------

TOKEN = re.compile(r'"[^"]*"|\'[^\']*\'(?:\*\d+)?|[()|#]|[^\s()|#]+')


def expand(token, env):
    if token[0] == "'":
        text, _, times = token[1:].rpartition("'")
        return text.encode() * int(times[1:] or 1)
    if token[0] == "{":
        return env[token[1:-1]]
    value, _, times = token.partition("*")
    return bytes([int(value, 16)]) * int(times or 1)


def bytes_of(text):  # the bytes that transcript tokens write
    return b"".join(expand(t, {}) for t in TOKEN.findall(text))


class Exchange:
    # The device's bytes as chunks, the bytes of them that are logged, and what must follow.
    def __init__(self, tokens, env):
        arrow, dropped = tokens.index("->"), False
        self.chunks, self.logged, self.reply = [b""], b"", b""
        self.label, self.box, self.pause, self.after = None, None, 0, 0
        for token in tokens[:arrow]:
            if token in "()":
                dropped = token == "("
            elif token == "|":
                self.chunks.append(b"")
            else:
                data = expand(token, env)
                self.chunks[-1] += data
                self.logged += b"" if dropped else data
        rest = iter(tokens[arrow + 1:])
        for token in rest:
            if token in ("box", "pause", "after"):
                value = next(rest)
                setattr(self, token, value[1:-1] if token == "box" else int(value))
            elif token[0] == '"':
                self.label = token[1:-1]
            elif token != "-":
                self.reply += expand(token, env)


def parse(path, env, lines=None):
    # The levels a transcript is for (None: all) and its steps: (where, Exchange or peer action).
    levels, steps = None, []
    for number, text in enumerate(lines or open(path, encoding="utf-8"), 1):
        tokens = TOKEN.findall(text)
        tokens = tokens[:tokens.index("#")] if "#" in tokens else tokens
        where = "%s:%d" % (os.path.basename(path), number)
        if tokens and tokens[0] == "levels":
            levels = tokens[1:]
        elif tokens and tokens[0] == "peer":
            steps.append((where, (tokens[1], b"".join(expand(t, env) for t in tokens[2:]))))
        elif tokens:
            steps.append((where, Exchange(tokens, env)))
    return levels, steps


class Target:
    # Plays exchanges through `program`: a harness_core takes each chunk as one read from the port;
    # with a pty, the real port and reader of harness_serial or of the headless program take it
    # from the pseudo-terminal. exchange() returns what came of one.
    def __init__(self, program, pty=None, rng=None):
        self.program, self.pty, self.rng = program, pty, rng

    def cut(self, chunks):  # each chunk, or with `rng` each cut in pieces at random points
        for chunk in chunks:
            points = sorted(self.rng.sample(range(1, len(chunk)), min(len(chunk) - 1,
                            self.rng.randrange(4)))) if self.rng and chunk else []
            yield from (chunk[a:b] for a, b in zip([0] + points, points + [len(chunk)]))

    def set_log(self, path):
        if not self.program.headless:
            self.program.command("log " + path)

    def put(self, data):  # the device writes `data`; returns once the program has read it all
        pid = self.program and self.program.process.pid
        before = pid and read_count(pid)
        self.pty.write(data)
        wait_for("the port to take the bytes in", lambda: self.pty.taken() and (
            not pid or read_count(pid) - before >= len(data)), step=0.001)

    def exchange(self, ex):
        for chunk in self.cut(ex.chunks):
            if self.pty:
                self.put(chunk)
            else:
                self.program.command("feed " + hexs(chunk), timeout=30)
        got = self.shown(ex)  # pauses over a port are real: checked by the reply's time
        return dict(got, reply=self.pty.read(len(ex.reply), timeout=10)) if self.pty else got

    def shown(self, ex):  # the labels and boxes the program showed for `ex` (and its replies)
        h = self.program
        h.events += [h.label(ex.label) if word == "status" else h.wait(word) for word, wanted in (
            ("status", ex.label), ("box", ex.box)) if wanted is not None and self.pty]
        events, h.events = h.events, []
        of = lambda kind: [e[len(kind) + 1:] for e in events if e.split(" ")[0] == kind]  # noqa
        got = {"label": of("status"), "box": of("box")}
        return got if self.pty else dict(got, reply=b"".join(map(bytes.fromhex, of("send"))),
                                         pause=[int(p) for p in of("pause")])

    def end(self):
        if self.pty and not self.program.headless:
            self.program.command("close")
            assert self.pty.read(1, timeout=0) == b"", "bytes after the last reply"
        self.program.end()


def converse(target, peer, steps):
    # Plays `steps` against `target`; returns the traffic log lines they should have written.
    held, lines = b"", []
    for where, step in steps:
        if isinstance(step, tuple):
            peer.act(*step)
            continue
        start = time.monotonic()
        try:
            got = target.exchange(step)
            ms = (time.monotonic() - start) * 1000
            for key, value in got.items():
                want = getattr(step, key)
                want, show = (want, hexs) if key == "reply" else ([want] if want else [], repr)
                assert value == want, "%s %s, expected %s" % (key, show(value), show(want))
            assert "pause" in got or step.pause < 100 or ms >= step.pause, "after %d ms" % ms
            assert not step.after or step.after * 0.95 <= ms <= step.after + 1500, "%d ms" % ms
        except AssertionError as error:
            raise AssertionError("%s: %s" % (where, error)) from None
        held += step.logged
        if step.label:
            lines.append("R> %s \r\n" % hexs(held))
            held = b""
        if step.reply:
            lines.append("S> %s \r\n" % hexs(step.reply))
    return lines


def play(path, target, log_path):
    # Plays one transcript against `target`, then checks the traffic log it appended to.
    peer = Peer(target.rng)
    try:
        with open(log_path, "wb") as earlier:
            earlier.write(b"an earlier run\r\n")
        target.set_log(log_path)
        lines = ["an earlier run\r\n"] + converse(target, peer, parse(path, peer.env)[1])
        peer.finish()
        target.end()
        have = open(log_path, "rb").read().decode().splitlines(True)
        for n, (line, want) in enumerate(zip(have + [None] * len(lines), lines + [None]), 1):
            assert line == want, "traffic log line %d: %r, expected %r" % (n, line, want)
    finally:
        peer.close()


def network_line(program, line, log, host="127.0.0.1"):
    # The program started on a network line (socket://, listen://) whose other end is the device:
    # a TCP connection the test accepts, or makes once the program listens, on `host` (an IPv6
    # address in brackets). Returns both.
    family = socket.AF_INET6 if host[0] == "[" else socket.AF_INET
    server = socket.create_server((host.strip("[]"), 0), family=family)
    url = "%s://%s:%d" % (line, host, server.getsockname()[1])
    if line == "listen":
        server.close()
    program = Program(program, "--port", url, "--speed", "38400", "--log", log)

    def state(words):  # the state line told next is `words`, after "opening" maybe
        while (told := program.wait("box")) != "box %s: %s" % (url, words):
            assert told == "box %s: opening" % url, told
    if line == "listen":
        state("listening: waiting for the connection")
        server = socket.create_connection((host.strip("[]"), int(url.rpartition(":")[2])), 5)
    else:
        server.settimeout(5)
        listening, server = server, server.accept()[0]
        listening.close()
    state("connected %s %s" % ("on" if line == "listen" else "to", url.partition("//")[2]))
    return program, (TelnetDevice if line == "rfc2217" else TcpDevice)(server)


# --- The option table (options.txt), which every program's runner reads --------------------------

POWER_ON = ("01 00 01 02", "00 55 55 55 55 55")  # a request and its reply


def answered(pty, request, reply):  # the device's request gets this reply
    pty.write(bytes.fromhex(request))
    assert pty.read(len(bytes.fromhex(reply))) == bytes.fromhex(reply), "%s answered" % request


def option_rows(where, port, folder, spell=str):
    # The rows of options.txt for `where` ("l" or "w"): (arguments, "ok" or what the stderr line
    # holds, the files made: the last of each kind). Paths are made in `folder`, given as `spell`
    # writes them; {hosts} is a hosts table naming server.example, {trace} and {none} files not
    # there yet.
    rows = []
    for line in open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "options.txt"),
                     encoding="utf-8"):
        places, _, case = line.partition(" ")
        args, _, want = case.strip().partition(" -> ")
        made = {}

        def value(m):  # a path: folders of 79 characters, each name within 255 bytes
            kind, n = m[1], int(m[2] or 0)
            if kind in ("port", "9", "a"):
                return port if kind == "port" else kind * n
            if kind in ("hosts", "trace", "none"):
                made[kind] = os.path.join(folder, kind)
                if kind == "hosts":
                    open(made[kind], "w").write("10.1.2.3 server.example\n")
                return spell(made[kind])
            n -= len(spell(folder))
            made[kind] = folder + "".join("/" if i % 80 == 0 and i < n - 1 else kind[-1]
                                          for i in range(n))
            os.makedirs(os.path.dirname(made[kind]), exist_ok=True)
            if kind == "link" and not os.path.lexists(made[kind]):
                os.symlink(port, made[kind])
            return spell(made[kind])
        if where in places and line[0] != "#":
            rows.append(([re.sub(r"{(\w+):?(\d*)}", value, a) for a in args.split()], want, made))
    return rows


def refused(done, want):  # a bad row: exit status 2 and one short line on stderr that holds `want`
    assert done.returncode == 2 and not done.stdout and done.stderr.count("\n") == 1 and \
        want in done.stderr and len(done.stderr) < 200, (done.returncode, done.stdout, done.stderr)


LOOKUP = ("11 00 10 08 %s 00" % "server.example".encode().hex(),  # answered by its hosts table
          "11 00 15 08 01 %s 00 0A 01 02 03" % "server.example".encode().hex())


def preselected(pty, made, driver=None):
    # Started with an "ok" row of options.txt: its port opens at 38400 bit/s, shown so (the speed
    # checked, the tooltip) with the status empty; its log is written, a lookup answered from its
    # hosts table and traced. A driver then goes back to 9600 bit/s and COM1.
    wait_for("the port preselected at 38400 bit/s", lambda: pty.speed() == termios.B38400, 30)
    if driver:
        wait_for("38400 and the port's state shown", lambda: driver.status() == "" and
                 driver.checked(38400) and driver.tip().endswith(" open at 38400 bit/s"))
    answered(pty, *POWER_ON)
    answered(pty, *LOOKUP)
    log = "".join("%s> %s \r\n" % (d, hexs(bytes.fromhex(f))) for pair in (POWER_ON, LOOKUP)
                  for d, f in zip("RS", pair))
    wait_for("the log", lambda: open(made["log"], newline="").read() == log)
    wait_for("the trace", lambda: re.fullmatch(r"\S+ lookup server.example: 10.1.2.3 from the hosts"
                                               r" table\n", open(made["trace"]).read()))
    if driver:
        driver.click_speed(9600)
        driver.pick_port(0)


if __name__ == "__main__":
    private_dev()
    os.execvp(sys.argv[1], sys.argv[1:])
