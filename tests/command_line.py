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

from transcripts import Headless, Pty, run_cases, sandboxed, wait_for

BAD = [["--speed", "1200"], ["--bogus"], ["stray"], ["--port", "ttyUSB0"], ["--port=COM5"],
       ["--log", "x" * 300], ["--headless=1"], ["--port"]]


def run(program, *args):
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    return subprocess.run(sandboxed([program, *args]), env=env, capture_output=True, text=True,
                          timeout=10)


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


def sigint_in_dialup(program):  # no reply, status 0 within 200 ms
    pty = Pty()
    pty.set_speed(termios.B1200)
    h = Headless(program, "--port", pty.path)
    wait_for("the port at 9600 bit/s", lambda: pty.speed() == termios.B9600)
    pty.write(bytes.fromhex("01 00 01 02"))
    assert pty.read(6) == bytes.fromhex("00 55 55 55 55 55") and h.wait("status")
    pty.write(bytes.fromhex("01 00 01 08"))
    assert h.wait("status") == "status dialup"
    h.end(signal.SIGINT)
    assert pty.read(1, timeout=0) == b"", "the interrupted dial-up replied"


def port_waited_for(program):
    with tempfile.TemporaryDirectory() as tmp:
        link = os.path.join(tmp, "port")
        h = Headless(program, "--port", link)
        assert h.wait("box") == "box %s cannot be opened; waiting for it" % link
        for request, reply, label in (("01 00 01 02", "00 55 55 55 55 55", "power ON"),
                                      ("02 00 01 01", "02 00 02 02 02", "check Status")):
            pty = Pty()
            os.symlink(pty.path, link)
            assert h.wait("box") == "box %s open" % link
            pty.write(bytes.fromhex(request))
            assert pty.read(6) == bytes.fromhex(reply) and h.wait("status") == "status " + label
            os.close(pty.master)  # switched off
            os.remove(link)
            assert h.wait("box") == "box %s lost; waiting for it" % link
        h.end()


if __name__ == "__main__":
    program = sys.argv[1]
    sys.exit(run_cases([("--version, --help", lambda: shown(program))] +
                       [(" ".join(a)[:30], lambda a=a: bad(program, a)) for a in BAD] +
                       [("SIGINT in the dial-up pause", lambda: sigint_in_dialup(program)),
                        ("a port missing, lost, back", lambda: port_waited_for(program))]))
