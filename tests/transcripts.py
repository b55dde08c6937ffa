# The one runner of the conversation transcripts (tests/transcripts/*.txt, whose format
# tests/transcripts/README.md describes): it reads them and plays them at every level.
#
# Replays (--replays N) play each transcript N more times with the device's chunks cut at random
# points and the peer's sends cut into segments paced by pauses shorter than the receive wait, sent
# while the device goes on; nothing the device or the log gets may change. Each replay is named by
# its seed, which --seed S plays again.
#
# Usage: transcripts.py core|serial HARNESS [--replays N] [--seed S] TRANSCRIPT...
#        transcripts.py headless ZUNDREL TRANSCRIPT...   (the program itself, headless, no display)

import os
import random
import re
import socket
import sys
import tempfile
import termios
import time

from kit import (Peer, Program, Pty, TcpDevice, TelnetDevice, asleep, hexs, read_count, run_cases,
                 wait_for)

TOKEN = re.compile(r'"[^"]*"|\'[^\']*\'(?:\*\d+)?|[()|#]|[^\s()|#]+')


def expand(token, env):
    if token[0] == "'":
        text, _, times = token[1:].rpartition("'")
        return text.encode() * int(times[1:] or 1)
    if token[0] == "{":
        return env[token[1:-1]]
    value, _, times = token.partition("*")
    return bytes([int(value, 16)]) * int(times or 1)


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
        h.events += [h.wait(word) for word, wanted in (("status", ex.label), ("box", ex.box))
                     if wanted is not None and self.pty]
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


def network_line(program, line, log):
    # The program started on a network line (socket://, listen://) whose other end is the device:
    # a TCP connection the test accepts, or makes once the program listens. Returns both.
    server = socket.create_server(("127.0.0.1", 0))
    url = "%s://127.0.0.1:%d" % (line, server.getsockname()[1])
    if line == "listen":
        server.close()
    program = Program(program, "--port", url, "--speed", "38400", "--log", log)

    def state(words):  # the state line told next is `words`, after "opening" maybe
        while (told := program.wait("box")) != "box %s: %s" % (url, words):
            assert told == "box %s: opening" % url, told
    if line == "listen":
        state("listening: waiting for the connection")
        server = socket.create_connection(("127.0.0.1", int(url.rpartition(":")[2])), 5)
    else:
        server.settimeout(5)
        listening, server = server, server.accept()[0]
        listening.close()
    state("connected %s %s" % ("on" if line == "listen" else "to", url.partition("//")[2]))
    return program, (TelnetDevice if line == "rfc2217" else TcpDevice)(server)


def play_at(level, program, path, seed=None):
    with tempfile.TemporaryDirectory() as tmp:
        log, pty = os.path.join(tmp, "traffic log.txt"), Pty() if level != "core" else None
        if level == "headless":  # its port missing at the start: tried every second, asleep between
            pty.set_speed(termios.B9600)
            link = os.path.join(tmp, "usb-Device-if00")
            program = Program(program, "--port", link, "--speed", "38400", "--log", log)
            line = program.wait("box")
            assert line == "box %s: not present" % link, line
            asleep(program.process.pid)
            os.symlink(pty.path, link)
            line = program.wait("box")
            assert line == "box %s: open at 38400 bit/s" % link, line
            assert pty.speed() == termios.B38400, "the port's speed"
        elif level in ("socket", "listen", "rfc2217"):
            pty.close()
            program, pty = network_line(program, level, log)
        else:
            program = Program(program)
            assert not pty or program.command("open " + pty.path) == "open 1", "did not open"
        play(path, Target(program, pty, seed and random.Random(seed)), log)
        # Over rfc2217://: the COM port option and binary both ways asked for, and the remote port
        # set to 38400 bit/s, 8 data bits, no parity, one stop bit, no flow control.
        assert level != "rfc2217" or b"".join(pty.told) == bytes.fromhex(
            "FB2C FB00 FD00 2C0100009600 2C0208 2C0301 2C0401 2C0501"), pty.told
        pty and pty.close()


if __name__ == "__main__":
    level, program, args = sys.argv[1], sys.argv[2], sys.argv[3:]
    option = lambda name: int(args.pop(args.index(name) + 1)) if name in args else 0  # noqa
    replays, seed = option("--replays"), option("--seed")
    args = [a for a in args if not a.startswith("--")]
    seeds = [seed] if seed else [random.randrange(1, 10**6) for _ in range(replays)]
    levels = {path: parse(path, {"port": b"", "closed": b"", "self": b""})[0] for path in args}
    # The headless program plays them over a pty and over each kind of network line.
    lines = ["headless", "socket", "listen", "rfc2217"] if level == "headless" else [level]
    # Over a port bytes arrive in any chunks, so every transcript for the serial level is replayed.
    sys.exit(run_cases([("%s (%s)" % (os.path.basename(path), line),
                         lambda path=path, line=line: play_at(line, program, path))
                        for line in lines for path in args if level in (levels[path] or [level])] + [
        ("%s (%s, --seed %d)" % (os.path.basename(path), level, s),
         lambda path=path, s=s: play_at(level, program, path, s))
        for s in seeds for path in args if "serial" in (levels[path] or ["serial"])]))
