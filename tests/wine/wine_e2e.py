#!/usr/bin/env python3
"""End-to-end test of zundrel.exe under Wine, headless (run inside xvfb-run).

The test plays the device on pseudo-terminals mapped to COM1..COM4 of a fresh Wine prefix, reads and
drives the dialog from outside with xdotool and the dlgprobe.exe helper, and checks the replies,
the status field, the traffic log, the line speed, the unknown-command box and the exit code.
Every wait is bounded; the prefix and temporary files are removed afterwards."""

import argparse
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import termios
import time
import traceback
import tty

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from e2e_device import (DIALUP, POWER_ON, SYNC_REPLY, Pty, exchange, find_window,  # noqa: E402
                        h, hexs, log, press_key, screenshot, socket_conversation, wait_for,
                        window_visible)

STEP = 20  # seconds for one expected event
STATUS_LATER = ("02 00 01 01", "02 00 02 02 03")  # check Status while dialled up


class Wine:
    def __init__(self, tmp, shim):
        self.prefix = os.path.join(tmp, "prefix")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", LANG="C.UTF-8", LC_ALL="C.UTF-8")
        self.env.pop("LANGUAGE", None)
        self.app_env = dict(self.env, LD_PRELOAD=shim)

    def run(self, args, timeout=120, check=False):
        r = subprocess.run(args, env=self.env, timeout=timeout, capture_output=True, text=True)
        if check and r.returncode != 0:
            raise RuntimeError("%s failed: %s" % (" ".join(args), r.stderr))
        return r

    def reg_add(self, key, name, value):
        self.run(["wine", "reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f"],
                 check=True)

    def start(self, exe):
        return subprocess.Popen(["wine", exe], env=self.app_env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, cwd=os.path.dirname(exe))


class Probe:
    """dlgprobe.exe, which reads and drives the dialog from outside."""

    def __init__(self, wine, exe):
        self.wine, self.exe = wine, exe

    def __call__(self, *args):
        r = self.wine.run(["wine", self.exe] + list(args), timeout=60)
        assert r.returncode == 0, "dlgprobe %s failed" % " ".join(args)
        return r.stdout.replace("\r\n", "\n").strip()

    def wait_status(self, label):
        wait_for("status %r" % label, lambda: self("status") == label, STEP, 0.1)


def exchange_after_open(device, request, reply, extra_reply=None, expected_log=None):
    """The first exchange on a port just opened. The reader thread purges the port when it starts,
    which may swallow a request written just before; so the request is repeated on silence until
    it is answered. Afterwards the replies to repeats that were answered too are collected: they
    must be `extra_reply` (or `reply`), and each such pair is expected in the log."""
    reply, extra = h(reply), h(extra_reply or reply)
    for _ in range(10):
        device.write(request)
        got = device.read(len(reply), timeout=1.0, exact=False)
        if got:
            break
    got += device.read(len(reply) - len(got), STEP)
    assert got == reply, "first reply %s, expected %s" % (hexs(got), hexs(reply))
    rest = device.pending(0.5)
    while rest and len(rest) % len(extra):
        more = device.pending(0.5)
        if not more:
            break
        rest += more
    assert rest == extra * (len(rest) // len(extra)), "repeats answered with %s" % hexs(rest)
    if expected_log is not None:
        for answer in [reply] + [extra] * (len(rest) // len(extra)):
            expected_log += ["R> %s " % hexs(h(request)), "S> %s " % hexs(answer)]


# The template's controls: id, class, text, rectangle in dialog units (None: not compared; the
# height of a drop-down list is that of its open list), state (check state, or selected entry).
TEMPLATE = [
    (-1, "static", "通信ポート(&P)：", (7, 10, 44, 8), 0),
    (1002, "combobox", "COM1:,COM2:,COM3:,COM4:", (54, 7, 48, None), 0),
    (-1, "button", "通信速度", (7, 25, 97, 27), 0),
    (1000, "button", "&9600bps", (11, 37, 40, 10), 1),
    (1001, "button", "&38400bps", (55, 37, 43, 10), 0),
    (-1, "static", "ログ(&L)：", (7, 60, 24, 8), 0),
    (1004, "edit", "", (32, 57, 72, 14), 0),
    (-1, "button", "ステータス", (7, 75, 97, 29), 0),
    (1003, "edit", "", (12, 86, 86, 14), 0),
]


def mul_div(a, b, c):
    return (a * b + c // 2) // c


def to_pixels(du, bx, by):
    px = [mul_div(du[0], bx, 4), mul_div(du[1], by, 8), mul_div(du[2], bx, 4)]
    return px + ([mul_div(du[3], by, 8)] if du[3] is not None else [])


def check_layout(probe):
    """Reads the dialog from outside and compares it with the template: caption, size, and each
    control's id, class, text, state and rectangle. The dialog units of the template's font are
    found as the one pair of base units that maps every rectangle onto what is on the screen."""
    lines = probe("layout").split("\n")
    cw, ch = (int(v) for v in lines[0].split()[1:3])
    assert lines[1] == "caption Zundrel", lines[1]
    controls = []
    for line in lines[2:]:
        ident, kind, text, rect, state = line.split("|")
        controls.append((-1 if int(ident) in (-1, 65535) else int(ident), kind.lower(), text,
                         [int(v) for v in rect.split()], int(state)))
    assert len(controls) == len(TEMPLATE), "%d controls" % len(controls)
    for want, have in zip(TEMPLATE, controls):
        assert have[:3] + have[4:] == want[:3] + want[4:], "control %s, template %s" % (have, want)
    units = [(bx, by) for bx in range(2, 40) for by in range(4, 80)
             if (cw, ch) == (mul_div(111, bx, 4), mul_div(111, by, 8))
             and all(have[3][:len(to_pixels(want[3], bx, by))] == to_pixels(want[3], bx, by)
                     for want, have in zip(TEMPLATE, controls))]
    assert units, "the 111 x 111 dialog and every control as in the template (client %d x %d px)" \
        % (cw, ch)


def wait_speed(device, speed):
    wait_for("%s at speed %d" % (device.name, speed), lambda: device.speed() == speed, STEP, 0.1)


def first_run(wine, probe, app_exe, devices, tmp, artefacts, with_sockets):
    com1, com2 = devices[0], devices[1]
    app = wine.start(app_exe)
    try:
        wid = find_window("^Zundrel$", timeout=60)
        assert os.readlink(os.path.join(wine.prefix, "dosdevices", "com1")) == com1.link
        wait_speed(com1, termios.B9600)
        check_layout(probe)

        log("handshake: noise before the sync frame is dropped, the first power ON gets 00 55 ...")
        exchange_after_open(com1, "00 " + POWER_ON[0], SYNC_REPLY, extra_reply=POWER_ON[1])
        probe.wait_status("power ON")
        exchange(com1, *POWER_ON)

        log("from here every frame is logged")
        log_path = os.path.join(tmp, "traffic.log")
        probe("setlog", "Z:" + log_path.replace("/", "\\"))
        expected_log = exchange(com1, "02 00 01 01", "02 00 02 02 02")
        probe.wait_status("check Status")
        expected_log += exchange(com1, *DIALUP)
        if with_sockets:
            log("sockets: a line, then a buffer")
            with socket.create_server(("127.0.0.1", 0)) as server:
                expected_log += socket_conversation(
                    com1, server, b"OK\r\nXYZ1",
                    [("11 00 03 0D 00 14", "11 00 07 0D 00 04 4F 4B 0D 0A", "recv a line"),
                     ("11 00 03 0F 00 04", "11 00 07 0F 00 04 58 59 5A 31", "recv a buffer")],
                    probe.wait_status)
        else:
            log("note: the socket proxy is not in this build; the socket conversation is skipped")

        log("38400 bit/s, chosen in the dialog, is seen on the line")
        probe("speed", "1001")
        wait_speed(com1, termios.B38400)

        log("an unknown command: status text, the error box, no reply; OK ends the box")
        com1.write("05 00 01 07")
        expected_log.append("R> 05 00 01 07 ")
        probe.wait_status("unkown command!")
        box = find_window("^Error$", timeout=STEP)
        assert probe("box") == "unkown command (05:07)"
        screenshot("root", os.path.join(artefacts, "wine-error-box.png"))
        press_key(box, "Return")
        wait_for("OK closes the box", lambda: not window_visible("^Error$"), STEP, 0.1)
        com1.silent(0.5)

        log("Enter (OK) does not close the dialog; the reader goes on serving")
        press_key(wid, "Return")
        expected_log += exchange(com1, *STATUS_LATER)
        assert window_visible("^Zundrel$"), "Enter closed the dialog"

        log("picking COM2 closes COM1 (its reader waits for a port event), opens COM2 at 38400")
        switch_ms = int(probe("port", "1") or "99999")
        wait_speed(com2, termios.B38400)
        assert switch_ms < 1000, "the port change (reader woken and ended) took %d ms" % switch_ms
        exchange_after_open(com2, *STATUS_LATER, expected_log=expected_log)
        com1.write(STATUS_LATER[0])
        com1.silent(0.5)
        probe.wait_status("check Status")

        with open(log_path, "rb") as f:
            lines = f.read().decode("ascii").split("\r\n")
        assert lines[-1] == "" and lines[:-1] == expected_log, \
            "traffic log:\n  expected: %r\n  written:  %r" % (expected_log, lines[:-1])
        screenshot(wid, os.path.join(artefacts, "wine-dialog.png"))

        log("Escape ends the program with exit code 0")
        press_key(wid, "Escape")
        assert app.wait(timeout=30) == 0
    finally:
        if app.poll() is None:
            app.kill()
            app.wait(timeout=30)


def second_run(wine, probe, app_exe, com1):
    log("closing while the unknown-command box is open: the box goes and the program ends with 0")
    app = wine.start(app_exe)
    try:
        find_window("^Zundrel$", timeout=60)
        exchange_after_open(com1, POWER_ON[0], SYNC_REPLY, extra_reply=POWER_ON[1])
        com1.write("11 00 01 02")
        find_window("^Error$", timeout=STEP)
        assert probe("box") == "unkown command (11:02)"
        probe("cancel")
        assert app.wait(timeout=30) == 0
        assert not window_visible("^Error$"), "the box is still there"
    finally:
        if app.poll() is None:
            app.kill()
            app.wait(timeout=30)


def make_device(links, number):
    """COM<number>: a raw pty at a speed the program never sets (so that seeing 9600 or 38400
    proves it set the line), reached through a link in `links`."""
    device = Pty("COM%d" % number)
    tty.setraw(device.master)
    tty.setraw(device.slave)
    device.set_speed(termios.B1200)
    device.link = os.path.join(links, "com%d" % number)
    os.symlink(os.ttyname(device.slave), device.link)
    return device


def main():
    parser = argparse.ArgumentParser()
    for option in ["--exe", "--probe", "--platform-test", "--shim", "--artefacts"]:
        parser.add_argument(option, required=True)
    parser.add_argument("--sockets", action="store_true")
    args = parser.parse_args()

    tmp = tempfile.mkdtemp(prefix="zundrel-wine-")
    wine = Wine(tmp, os.path.abspath(args.shim))
    devices = []
    clean = False
    try:
        started = time.monotonic()
        wine.run(["wineboot", "-u"], timeout=240, check=True)
        wine.run(["wineserver", "-w"])
        log("prefix made in %.1f s" % (time.monotonic() - started))
        links = os.path.join(tmp, "ports")
        os.mkdir(links)
        devices = [make_device(links, n) for n in range(1, 5)]
        for device in devices:
            wine.reg_add("HKLM\\Software\\Wine\\Ports", device.name, device.link)
        wine.reg_add("HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes",
                     "ＭＳ Ｐゴシック", "IPAPGothic")
        # Xvfb runs no window manager: Wine then draws the window frames itself (caption and close
        # box included), so the screenshots show the whole dialog.
        wine.reg_add("HKCU\\Software\\Wine\\X11 Driver", "Managed", "N")
        wine.run(["wineserver", "-w"])
        # Wine's device manager applies the mapping when Wine next starts; check it before the
        # program may open a port, so that it never reaches a real serial device.
        wine.run(["wine", "reg", "query", "HKLM\\Software\\Wine\\Ports"])
        dosdevices = os.path.join(wine.prefix, "dosdevices")
        wait_for("COM1 to COM4 mapped to the test's ptys (else the program is not started)",
                 lambda: all(os.readlink(os.path.join(dosdevices, "com%d" % n)) == d.link
                             for n, d in enumerate(devices, 1)), STEP, 0.1)

        # The program alone in its folder: it must start with no DLL beside it.
        app_exe = os.path.join(tmp, "app", "zundrel.exe")
        os.mkdir(os.path.dirname(app_exe))
        shutil.copy(args.exe, app_exe)
        probe = Probe(wine, shutil.copy(args.probe, os.path.join(tmp, "dlgprobe.exe")))
        os.makedirs(args.artefacts, exist_ok=True)

        first_run(wine, probe, app_exe, devices, tmp, args.artefacts, args.sockets)
        second_run(wine, probe, app_exe, devices[0])

        log("the socket shim and log file append on their own, in the same prefix")
        r = wine.run(["wine", os.path.abspath(args.platform_test)])
        for line in r.stdout.replace("\r\n", "\n").strip().split("\n"):
            log("  platform_test: " + line)
        assert r.returncode == 0, "platform_test.exe exit code %d" % r.returncode
        clean = wine.run(["wineserver", "-w"], timeout=60).returncode == 0
        log("all checks passed")
        return 0
    except BaseException:
        traceback.print_exc()
        return 1
    finally:
        if not clean:
            subprocess.run(["wineserver", "-k"], env=wine.env, timeout=60)
        for device in devices:
            device.close()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
