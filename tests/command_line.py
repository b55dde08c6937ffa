# The program's command line, run headless and with no display, one row per case: the options and
# their exit codes, SIGINT during the dial-up pause, and a port that is missing, then lost, then
# back. The transcripts' headless level is the rest (SIGTERM, status lines, log).
#
# Usage: command_line.py ZUNDREL

import os
import re
import signal
import subprocess
import sys
import tempfile
import termios
import time

from transcripts import (Peer, Program, Pty, Target, asleep, converse, no_display, parse,
                         run_cases, sandboxed, wait_for)

BAD = [["--speed", "1200"], ["--bogus"], ["stray"], ["--port", "ttyUSB0"], ["--port=COM5"],
       ["--log", "x" * 300], ["--headless=1"], ["--port"]]
POWER_ON = '01 00 01 02 -> 00 55 55 55 55 55 "power ON"'


def run(program, *args):
    return subprocess.run(sandboxed([program, *args]), env=no_display(), capture_output=True,
                          text=True, timeout=10)


def shown(program):
    assert re.fullmatch(r"zundrel \d+\.\d+\.\d+\n", run(program, "--version").stdout)
    done = run(program, "--help", "--bogus")
    assert done.returncode == 0 and "--port NAME" in done.stdout and done.stderr == ""


def bad(program, args):  # one line naming it, status 2, no port opened
    pty = Pty()
    pty.set_speed(termios.B1200)
    done = run(program, "--port", pty.path, "--speed", "38400", *args)
    name = args[-1].split("=")[0] if len(args[-1]) < 20 else args[0]
    assert done.returncode == 2 and done.stdout == "", done
    assert done.stderr.count("\n") == 1 and name in done.stderr, done.stderr
    assert pty.speed() == termios.B1200, "the port was opened"
    pty.close()


def sigint_in_dialup(program):  # no reply, status 0 within 200 ms
    pty = Pty()
    pty.set_speed(termios.B1200)
    h = Program(program, "--port", pty.path)
    wait_for("the port at 9600 bit/s", lambda: pty.speed() == termios.B9600)
    converse(Target(h, pty), None, parse("row", {}, [POWER_ON])[1])
    pty.write(bytes.fromhex("01 00 01 08"))
    assert h.wait("status") == "status dialup"
    h.end(signal.SIGINT)
    assert pty.read(1, timeout=0) == b"", "the interrupted dial-up replied"
    pty.close()


def port_waited_for(program):
    # A by-id style link to the port: missing at the start, made, gone when the device is
    # switched off, made again to a new terminal. The program waits for it and says so; while it
    # is gone the port is let go and the program sleeps; it opens again within a second at the
    # speed chosen, with the adapter and its connection as they were.
    with tempfile.TemporaryDirectory() as tmp:
        link, peer = os.path.join(tmp, "usb-Zundrel_Device-if00"), Peer()
        h = Program(program, "--port", link, "--speed", "38400")
        fds = "/proc/%d/fd/" % h.process.pid
        assert h.wait("box") == "box %s cannot be opened; waiting for it" % link
        # A missing port is tried once a second; a lost one is watched for.
        for limit, lines in ((1500, [POWER_ON, '11 00 01 01 -> 11 00 02 01 00 "open socket"',
                                     '11 00 12 03 00 00 02 {port} 7F 00 00 01 00*8 -> '
                                     '11 00 03 03 00 01 "connect socket"']),
                             (1000, ["peer send 'x'",
                                     '11 00 03 0F 00 04 -> 11 00 04 0F 00 01 78 "recv a buffer"'])):
            pty, start = Pty(), time.monotonic()
            os.symlink(pty.path, link)
            assert h.wait("box") == "box %s open" % link
            ms = (time.monotonic() - start) * 1000
            assert ms < limit and pty.speed() == termios.B38400, "open after %d ms" % ms
            converse(Target(h, pty), peer, parse("row", peer.env, lines)[1])
            os.close(pty.master)  # switched off
            os.remove(link)
            assert h.wait("box") == "box %s lost; waiting for it" % link
            held = [os.stat(fds + fd).st_rdev for fd in os.listdir(fds)]
            assert os.fstat(pty.slave).st_rdev not in held, "the lost port is still held"
            asleep(h.process.pid)
            pty.close()
        h.end()
        peer.close()


if __name__ == "__main__":
    program = sys.argv[1]
    sys.exit(run_cases([("--version, --help", lambda: shown(program))] +
                       [(" ".join(a)[:30], lambda a=a: bad(program, a)) for a in BAD] +
                       [("SIGINT in the dial-up pause", lambda: sigint_in_dialup(program)),
                        ("a port missing, lost, back", lambda: port_waited_for(program))]))
