"""Conversation transcripts (tests/transcripts/*.txt) and the one runner that plays them.

A transcript line is one exchange with the device, or an action of the TCP peer:
    DEVICE BYTES -> REPLY ["status label"] [box "text"] [pause MS] [after MS]
    peer send|expect BYTES      the peer sends, or must receive exactly, these bytes
    peer close|reset|gone       the peer closes, resets, or must see the device close
Bytes: hexadecimal pairs; XX*N repeats; 'text' is ASCII; {port} is the peer's TCP port and
{closed} a port nobody listens on (two bytes, least significant first); | ends a chunk (the next
one is written once the port has taken this one in); bytes in ( ) are dropped unlogged. REPLY is
the bytes the device must get back, or - for none. A label means the frame was dispatched: its
'R' line holds every logged byte since the last one, and the reply an 'S' line; the runner checks
the traffic log byte for byte at the end. "pause" is a pause the core asks for, "after" the time
the reply took (a receive that waited for silence).

Usage: transcripts.py core|serial HARNESS TRANSCRIPT...
"""

import os
import re
import select
import socket
import struct
import subprocess
import sys
import tempfile
import termios
import time
import fcntl

TOKEN = re.compile(r'"[^"]*"|\'[^\']*\'(?:\*\d+)?|[()|]|[^\s()|]+')


def hexs(data):
    return " ".join("%02X" % b for b in data)


def wait_for(what, check, timeout=5.0, step=0.01):
    """Polls `check` until it returns a true value, which is returned; fails naming `what`."""
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


class Exchange:
    def __init__(self, chunks, reply, label, box, pause, after):
        self.chunks, self.reply, self.label, self.box = chunks, reply, label, box
        self.pause, self.after = pause, after

    def written(self):
        return [bytes(b for b, _ in chunk) for chunk in self.chunks]


def expand(token, env):
    if token[0] == "'":
        text, _, times = token[1:].rpartition("'")
        return text.encode() * int(times[1:] or 1)
    if token[0] == "{":
        return env[token[1:-1]]
    value, _, times = token.partition("*")
    return bytes([int(value, 16)]) * int(times or 1)


def parse(path, env, lines=None):
    """The steps of a transcript (the file at `path`, or `lines`): (where, step) pairs, a step
    being an Exchange or a ("peer", action, bytes) tuple."""
    steps = []
    for number, text in enumerate(lines or open(path, encoding="utf-8"), 1):
        tokens = TOKEN.findall(text)
        tokens = tokens[:next((i for i, t in enumerate(tokens) if t[0] == "#"), len(tokens))]
        if not tokens:
            continue
        if tokens[0] == "levels":
            steps.append((None, tokens[1:]))
            continue
        where = "%s:%d" % (os.path.basename(path), number)
        if tokens[0] == "peer":
            steps.append((where, ("peer", tokens[1], b"".join(expand(t, env) for t in tokens[2:]))))
            continue
        arrow = tokens.index("->")
        chunks, logged = [[]], True
        for token in tokens[:arrow]:
            if token == "|":
                chunks.append([])
            elif token in "()":
                logged = token == ")"
            else:
                chunks[-1] += [(b, logged) for b in expand(token, env)]
        reply, label, box, pause, after = b"", None, None, None, None
        rest = iter(tokens[arrow + 1:])
        for token in rest:
            if token == "-":
                reply = None
            elif token == "box":
                box = next(rest)[1:-1]
            elif token in ("pause", "after"):
                value = int(next(rest))
                pause, after = (value, after) if token == "pause" else (pause, value)
            elif token[0] == '"':
                label = token[1:-1]
            else:
                reply += expand(token, env)
        steps.append((where, Exchange(chunks, reply, label, box, pause, after)))
    return steps


class Peer:
    """The TCP host the device talks to, on 127.0.0.1. Accepts the device's connection when it
    first acts on it."""

    NO_ENV = {"port": b"\0\0", "closed": b"\0\0", "self": b"\0\0\0\0"}

    def __init__(self):
        self.server = socket.create_server(("127.0.0.1", 0))
        self.server.settimeout(5)
        self.conn = None
        with socket.create_server(("127.0.0.1", 0)) as unused:
            closed = unused.getsockname()[1]
        self.env = {"port": struct.pack("<H", self.server.getsockname()[1]),
                    "closed": struct.pack("<H", closed),
                    "self": socket.inet_aton(socket.gethostbyname(socket.gethostname()))}

    def act(self, action, data):
        if self.conn is None:
            self.conn = self.server.accept()[0]
            self.conn.settimeout(5)
        if action == "send":
            self.conn.sendall(data)
        elif action == "expect":
            got = b""
            while len(got) < len(data):
                more = self.conn.recv(len(data) - len(got))
                assert more, "peer: connection closed after %s" % hexs(got)
                got += more
            assert got == data, "peer got %s, expected %s" % (hexs(got), hexs(data))
        else:
            if action == "reset":
                self.conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            elif action == "gone":
                try:
                    assert self.conn.recv(1) == b"", "peer: the device did not close"
                except ConnectionResetError:
                    pass
            self.conn.close()
            self.conn = None

    def close(self):
        if self.conn is not None:
            self.conn.close()
        self.server.close()


class Pty:
    """A pseudo-terminal: the test is the device on its master, the program opens the slave."""

    def __init__(self, name="pty"):
        self.name = name
        self.master, self.slave = os.openpty()
        self.path = os.ttyname(self.slave)
        os.set_blocking(self.master, False)

    def write(self, data):
        os.write(self.master, data)

    def taken(self):
        """Whether the port has read everything written to it."""
        return struct.unpack("i", fcntl.ioctl(self.slave, termios.FIONREAD, b"\0" * 4))[0] == 0

    def read(self, n, timeout=5.0):
        """Reads n bytes, or what arrived within `timeout`."""
        got, deadline = b"", time.monotonic() + timeout
        while len(got) < n and select.select([self.master], [], [],
                                             max(0, deadline - time.monotonic()))[0]:
            try:
                got += os.read(self.master, n - len(got))
            except BlockingIOError:
                pass
            except OSError:
                break
        return got

    def speed(self):
        return termios.tcgetattr(self.slave)[5]

    def close(self):
        os.close(self.master)
        os.close(self.slave)


class Harness:
    """A harness program (tests/harness.cpp) speaking its command lines."""

    ANSWERS = {"feed": "fed", "close": "closed", "write": "wrote"}
    running = []  # every harness started, ended by end_all() whatever happened

    def __init__(self, program):
        self.process = subprocess.Popen([program], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        Harness.running.append(self.process)
        self.buffer, self.lines, self.events = b"", [], []

    def next_line(self, deadline):
        while not self.lines:
            left = deadline - time.monotonic()
            assert left > 0 and select.select([self.process.stdout], [], [], left)[0], \
                "the harness did not answer (events: %r)" % self.events
            data = os.read(self.process.stdout.fileno(), 65536)
            assert data, "the harness ended (exit code %r)" % self.process.wait(5)
            *lines, self.buffer = (self.buffer + data).split(b"\n")
            self.lines += [line.decode() for line in lines]
        return self.lines.pop(0)

    def wait(self, word, timeout=10.0):
        """Reads lines until one starts with `word`, which is returned; keeps the events before."""
        deadline = time.monotonic() + timeout
        while True:
            line = self.next_line(deadline)
            if line.split(" ")[0] == word:
                return line
            self.events.append(line)

    def command(self, text, timeout=10.0):
        self.process.stdin.write(text.encode() + b"\n")
        self.process.stdin.flush()
        word = text.split(" ")[0]
        return self.wait(self.ANSWERS.get(word, word), timeout)

    def take_events(self):
        events, self.events = self.events, []
        return events

    def end(self):
        self.process.stdin.close()
        code = self.process.wait(10)
        assert code == 0, "the harness ended with %d" % code

    @staticmethod
    def end_all():
        for process in Harness.running:
            if process.poll() is None:
                process.kill()
            process.wait(10)
        Harness.running.clear()


def outcome(events, reply=None):
    """What an exchange did, from the harness's events (and the reply read from the port)."""
    of = lambda kind: [e[len(kind) + 1:] for e in events if e.split(" ")[0] == kind]  # noqa: E731
    if reply is None:
        reply = b"".join(bytes.fromhex(s) for s in of("send"))
    return {"reply": reply, "labels": of("status"), "boxes": of("box"),
            "pauses": [int(p) for p in of("pause")]}


class CoreTarget:
    """The core alone: harness_core takes each chunk as one read from the port."""

    def __init__(self, program):
        self.harness = Harness(program)

    def set_log(self, path):
        self.harness.command("log " + path)

    def exchange(self, ex):
        for chunk in ex.written():
            self.harness.command("feed " + hexs(chunk), timeout=30)
        return outcome(self.harness.take_events())

    def end(self):
        assert self.harness.take_events() == []
        self.harness.end()


class SerialTarget:
    """The real serial port and reader thread (harness_serial) on a pseudo-terminal."""

    def __init__(self, program, pty=None):
        self.harness = Harness(program)
        self.pty = pty or Pty()
        assert self.harness.command("open " + self.pty.path) == "open 1", "the port did not open"

    def set_log(self, path):
        self.harness.command("log " + path)

    def exchange(self, ex):
        chunks = ex.written()
        for n, chunk in enumerate(chunks, 1):
            self.pty.write(chunk)
            if n < len(chunks) or not (ex.label or ex.reply):
                wait_for("the port to take the bytes in", self.pty.taken, step=0.001)
        reply = self.pty.read(len(ex.reply or b""), timeout=10)
        for word, wanted in (("status", ex.label), ("box", ex.box)):
            if wanted is not None:
                self.harness.events.append(self.harness.wait(word, timeout=10))
        result = outcome(self.harness.take_events(), reply)
        del result["pauses"]  # real here: checked by the time the reply took
        return result

    def end(self):
        self.harness.command("close")
        assert self.pty.read(1, timeout=0) == b"", "bytes after the last reply"
        assert self.harness.take_events() == [], "events after the last exchange"
        self.harness.end()
        self.pty.close()


def converse(target, peer, steps):
    """Plays `steps` against `target`; returns the traffic log lines they should have written."""
    held, lines = b"", []
    for where, step in steps:
        if where is None:
            continue
        if isinstance(step, tuple):
            peer.act(step[1], step[2])
            continue
        start = time.monotonic()
        try:
            got = target.exchange(step)
        except AssertionError as error:
            raise AssertionError("%s: %s" % (where, error)) from None
        ms = (time.monotonic() - start) * 1000
        want = {"reply": step.reply or b"", "labels": [step.label] if step.label else [],
                "boxes": [step.box] if step.box else [],
                "pauses": [step.pause] if step.pause else []}
        for key, value in want.items():
            if key in got and got[key] != value:
                raise AssertionError("%s: %s %s, expected %s" % (
                    where, key, hexs(got[key]) if key == "reply" else got[key],
                    hexs(value) if key == "reply" else value))
        if "pauses" not in got and step.pause and step.pause >= 100:
            assert ms >= step.pause, "%s: replied after %d ms" % (where, ms)
        if step.after:
            assert step.after * 0.95 <= ms <= step.after + 1500, "%s: %d ms" % (where, ms)
        held += bytes(b for chunk in step.chunks for b, logged in chunk if logged)
        if step.label:
            lines.append("R> %s \r\n" % hexs(held))
            held = b""
        if step.reply:
            lines.append("S> %s \r\n" % hexs(step.reply))
    return lines


def play(path, target, log_path):
    """Plays one transcript against `target`, then checks the traffic log it wrote."""
    peer = Peer()
    try:
        with open(log_path, "wb") as earlier:
            earlier.write(b"an earlier run\r\n")  # appended to, never changed
        target.set_log(log_path)
        lines = ["an earlier run\r\n"] + converse(target, peer, parse(path, peer.env))
        target.end()
        written = open(log_path, "rb").read().decode()
        if written != "".join(lines):
            have = written.splitlines(True)
            at = next(i for i in range(len(lines) + 1) if have[i:i + 1] != lines[i:i + 1])
            raise AssertionError("traffic log line %d: %r, expected %r" % (
                at + 1, have[at:at + 1], lines[at:at + 1]))
    finally:
        peer.close()


def main(level, program, paths):
    passed, failed = 0, 0
    for path in paths:
        with tempfile.TemporaryDirectory() as tmp:
            name = os.path.basename(path)
            try:
                levels = [s for w, s in parse(path, Peer.NO_ENV) if w is None]
                if levels and level not in levels[0]:
                    print("skip   %s (%s)" % (name, level), flush=True)
                    continue
                target = CoreTarget(program) if level == "core" else SerialTarget(program)
                play(path, target, os.path.join(tmp, "traffic log.txt"))
                passed += 1
                print("ok     %s (%s)" % (name, level), flush=True)
            except AssertionError as error:
                failed += 1
                print("FAILED %s (%s): %s" % (name, level, error), flush=True)
            finally:
                Harness.end_all()
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2], sys.argv[3:]))
