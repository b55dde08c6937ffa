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
import sys
import tempfile
import termios

from kit import Program, Pty, Target, asleep, network_line, parse, play, run_cases

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
