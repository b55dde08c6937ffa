# The end-to-end scenario of both programs. A driver (a Driver) starts the program and reads and
# drives its dialog (status(), set_log(path), click_speed(bps), pick_port(index), box(),
# dismiss_box(), key(name), checked(bps), tip()); the program's COM1 to COM4 are the
# pseudo-terminals `ptys`. The device's conversation is the transcripts, played on COM1 as at every
# other level.

import os
import subprocess
import sys
import termios
import time

TESTS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, TESTS)
from kit import POWER_ON, Program, Target, answered, play, stalled_port, wait_for  # noqa: E402

TRANSCRIPTS = os.path.join(TESTS, "transcripts")
POWER_OFF, STATUS = bytes.fromhex("0F 00 01 FF"), ("02 00 01 01", "02 00 02 02 02")


def window(name, timeout):  # the X window of that title
    return subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", name],
                          capture_output=True, text=True, timeout=timeout).stdout.split()[0]


class Driver:
    # What both drivers share: the program, which run_cases() ends whatever happened, and its
    # dialog's window, which takes the keys.
    def __init__(self, command, timeout, output, env):  # output: where stdout and stderr go
        self.program = subprocess.Popen(command, stdout=output, stderr=output, env=env,
                                        start_new_session=True)
        Program.running.append(self.program)
        self.wid = window("^Zundrel$", timeout)

    def key(self, name, into=None):  # presses the key `name` in the dialog, or the window `into`
        subprocess.run(["xdotool", "windowfocus", "--sync", into or self.wid, "key",
                        "--clearmodifiers", name], check=True, timeout=20)


class ProgramTarget(Target):
    # A transcript target: the running program, its COM1 a pty, its dialog read by `driver`.
    def __init__(self, driver, pty, every_label):
        super().__init__(None, pty)
        self.driver, self.every_label, self.last = driver, every_label, None
        self.set_log = driver.set_log

    def shown(self, ex):
        self.last = ex.label or self.last
        if ex.label and self.every_label:
            wait_for("status %r" % ex.label, lambda: self.driver.status() == ex.label)
        if not ex.box:
            return {}
        box = wait_for("the error box", self.driver.box, timeout=20)
        self.driver.dismiss_box()
        wait_for("the box gone", lambda: not self.driver.box())
        return {"box": [box]}

    def end(self):
        wait_for("status %r" % self.last, lambda: self.driver.status() == self.last, timeout=20)
        self.driver.set_log("")
        self.pty.write(POWER_OFF)  # the next transcript starts with the adapter off
        assert self.pty.read(6, timeout=10) == POWER_OFF + b"\x00", "power OFF"


def run(driver, ptys, tmp, every_label=True, exit_limit=1.0):
    com1, com3 = ptys[0], ptys[2]
    wait_for("COM1 opened at 9600 bit/s", lambda: com1.speed() == termios.B9600, timeout=30)
    assert driver.status() == "", "the status field is empty at start"

    for name in sorted(n for n in os.listdir(TRANSCRIPTS) if n.endswith(".txt")):
        if "\nlevels " not in "\n" + open(os.path.join(TRANSCRIPTS, name)).read():
            play(os.path.join(TRANSCRIPTS, name), ProgramTarget(driver, com1, every_label),
                 os.path.join(tmp, name + ".log"))

    # A port picked while a connect waits for ever: closed at once, no reply.
    answered(com1, *POWER_ON)
    driver.click_speed(38400)
    stalled, port = stalled_port()
    answered(com1, "11 00 02 07 00", "11 00 03 07 00 01")  # the sockets transcript left it open
    answered(com1, "11 00 01 01", "11 00 02 01 00")
    com1.write(bytes.fromhex("11 00 12 03 00 00 02") + port + bytes([127, 0, 0, 1]) + bytes(8))
    wait_for("status connect socket", lambda: driver.status() == "connect socket")
    driver.pick_port(2)
    wait_for("COM3 at 38400 bit/s", lambda: com3.speed() == termios.B38400)
    assert com1.read(1, timeout=0.5) == b"", "the interrupted connect replied"
    answered(com3, *STATUS)
    for s in stalled:
        s.close()

    # Enter does nothing; one Esc ends the program with 0.
    driver.key("Return")
    answered(com3, *STATUS)
    start = time.monotonic()
    driver.key("Escape")
    assert driver.program.wait(timeout=30) == 0
    assert time.monotonic() - start < exit_limit, "ended after %.2f s" % (time.monotonic() - start)


