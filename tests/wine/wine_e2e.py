#!/usr/bin/env python3
"""End-to-end test of zundrel.exe under Wine, headless (run inside xvfb-run).

The test plays the device on pseudo-terminals mapped to COM1..COM4 of a fresh Wine prefix, reads and
drives the dialog from outside with xdotool and the dlgprobe.exe helper, and checks the replies,
the status field, the traffic log, the line speed, the unknown-command box and the exit code.
Every wait is bounded; the prefix and temporary files are removed afterwards."""

import argparse
import os
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty

STEP_TIMEOUT = 20  # seconds for one expected event
failures = []


def log(text):
    print(text, flush=True)


def check(ok, what):
    log(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)
    return ok


def hexs(data):
    return " ".join("%02X" % b for b in data)


def wait_until(predicate, timeout=STEP_TIMEOUT, interval=0.1):
    """Polls predicate() until it returns a true value or the time runs out; returns the last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


class Device:
    """The device end of one pseudo-terminal: the test writes requests to its master and reads replies."""

    def __init__(self, links_dir, number):
        self.master, self.slave = os.openpty()
        tty.setraw(self.master)
        tty.setraw(self.slave)
        # A speed the program never sets, so that seeing 9600 or 38400 proves it set the line.
        attrs = termios.tcgetattr(self.slave)
        attrs[4] = attrs[5] = termios.B1200
        termios.tcsetattr(self.slave, termios.TCSANOW, attrs)
        self.link = os.path.join(links_dir, "com%d" % number)
        os.symlink(os.ttyname(self.slave), self.link)

    def write(self, data):
        os.write(self.master, bytes(data))

    def read(self, count, timeout=STEP_TIMEOUT):
        got = b""
        deadline = time.monotonic() + timeout
        while len(got) < count:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            ready, _, _ = select.select([self.master], [], [], left)
            if ready:
                got += os.read(self.master, count - len(got))
        return got

    def pending(self, timeout):
        """Whatever arrives within timeout seconds (used to check that no reply comes)."""
        ready, _, _ = select.select([self.master], [], [], timeout)
        return os.read(self.master, 4096) if ready else b""

    def speed(self):
        attrs = termios.tcgetattr(self.slave)
        return attrs[5]

    def close(self):
        os.close(self.master)
        os.close(self.slave)


class Peer:
    """A TCP server on 127.0.0.1 for the device's socket conversation: it takes one connection,
    reads three bytes and answers with a line and a block."""

    def __init__(self):
        self.server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.server.bind(("127.0.0.1", 0))
        self.server.listen(1)
        self.server.settimeout(60)
        self.port = self.server.getsockname()[1]
        self.received = b""
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        try:
            conn, _ = self.server.accept()
            conn.settimeout(30)
            while len(self.received) < 3:
                chunk = conn.recv(3 - len(self.received))
                if not chunk:
                    break
                self.received += chunk
            conn.sendall(b"OK\r\nXYZ1")
            conn.recv(1)  # until the device closes its socket
            conn.close()
        except OSError:
            pass

    def close(self):
        self.server.close()


class Wine:
    def __init__(self, tmp, shim):
        self.prefix = os.path.join(tmp, "prefix")
        self.env = dict(os.environ)
        self.env.update(WINEPREFIX=self.prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", LANG="C.UTF-8", LC_ALL="C.UTF-8")
        self.env.pop("LANGUAGE", None)
        self.app_env = dict(self.env, LD_PRELOAD=shim)

    def run(self, args, timeout=120, app=False):
        return subprocess.run(args, env=self.app_env if app else self.env, timeout=timeout,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def reg_add(self, key, name, value):
        r = self.run(["wine", "reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f"])
        if r.returncode != 0:
            raise RuntimeError("wine reg add %s %s failed: %s" % (key, name, r.stderr))


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def xdotool(*args, timeout=STEP_TIMEOUT):
    return subprocess.run(["xdotool"] + list(args), timeout=timeout, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True)


def find_window(name, timeout=60):
    r = xdotool("search", "--sync", "--onlyvisible", "--name", name, timeout=timeout)
    ids = r.stdout.split()
    return ids[0] if r.returncode == 0 and ids else None


def window_visible(name):
    return xdotool("search", "--onlyvisible", "--name", name).returncode == 0


class Probe:
    def __init__(self, wine, exe):
        self.wine = wine
        self.exe = exe

    def __call__(self, *args):
        r = self.wine.run(["wine", self.exe] + list(args), timeout=60)
        return r.returncode, r.stdout.replace("\r\n", "\n")

    def status(self):
        rc, out = self("status")
        return out.strip() if rc == 0 else None

    def wait_status(self, label):
        seen = wait_until(lambda: self.status() == label)
        return check(bool(seen), "status field shows %r (saw %r)" % (label, self.status()))


def screenshot(target, path):
    r = subprocess.run(["import", "-window", target, path], timeout=60,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    check(r.returncode == 0 and os.path.exists(path), "screenshot saved to " + path)


def exchange_after_open(device, request, reply, what, extra_reply=None, expected_log=None):
    """The first exchange on a port just opened. The reader thread purges the port when it starts,
    which may swallow a request written just before; so the request is repeated on silence until
    it is answered. Afterwards the replies to repeats that were answered too are collected: they
    must be `extra_reply` (or `reply`), and each such pair is expected in the log."""
    reply = bytes(reply)
    extra = bytes(extra_reply if extra_reply is not None else reply)
    got = b""
    for _ in range(10):
        device.write(request)
        got = device.read(len(reply), timeout=1.0)
        if got:
            break
    if got and len(got) < len(reply):
        got += device.read(len(reply) - len(got))
    check(got == reply, "%s: reply %s (got %s)" % (what, hexs(reply), hexs(got)))
    rest = device.pending(0.5)
    while rest and len(rest) % len(extra):
        more = device.pending(0.5)
        if not more:
            break
        rest += more
    check(rest == extra * (len(rest) // len(extra)), "%s: repeats answered with %s (%s)"
          % (what, hexs(extra), hexs(rest)))
    if expected_log is not None:
        for answer in [reply] + [extra] * (len(rest) // len(extra)):
            expected_log.append("R> " + hexs(request) + " ")
            expected_log.append("S> " + hexs(answer) + " ")


def exchange(device, request, reply, what, expected_log=None):
    device.write(request)
    got = device.read(len(reply))
    check(got == bytes(reply), "%s: reply %s (got %s)" % (what, hexs(reply), hexs(got)))
    if expected_log is not None:
        expected_log.append("R> " + hexs(request) + " ")
        expected_log.append("S> " + hexs(reply) + " ")


# The template's controls: id, class, text, rectangle in dialog units (None: not compared; the
# height of a drop-down list is that of its open list), state (check state, or selected entry).
TEMPLATE = [
    (-1, "Static", "通信ポート(&P)：", (7, 10, 44, 8), 0),
    (1002, "ComboBox", "COM1:,COM2:,COM3:,COM4:", (54, 7, 48, None), 0),
    (-1, "Button", "通信速度", (7, 25, 97, 27), 0),
    (1000, "Button", "&9600bps", (11, 37, 40, 10), 1),
    (1001, "Button", "&38400bps", (55, 37, 43, 10), 0),
    (-1, "Static", "ログ(&L)：", (7, 60, 24, 8), 0),
    (1004, "Edit", "", (32, 57, 72, 14), 0),
    (-1, "Button", "ステータス", (7, 75, 97, 29), 0),
    (1003, "Edit", "", (12, 86, 86, 14), 0),
]


def mul_div(a, b, c):
    return (a * b + c // 2) // c


def to_pixels(du, bx, by):
    px = [mul_div(du[0], bx, 4), mul_div(du[1], by, 8), mul_div(du[2], bx, 4)]
    if du[3] is not None:
        px.append(mul_div(du[3], by, 8))
    return px


def check_layout(probe):
    """Reads the dialog from outside and compares it with the template: caption, size, and each
    control's id, class, text, state and rectangle. The dialog units of the template's font are
    found as the one pair of base units that maps every rectangle onto what is on the screen."""
    rc, out = probe("layout")
    lines = out.strip().split("\n")
    if not check(rc == 0 and len(lines) >= 2, "layout read from the dialog"):
        return
    cw, ch = (int(v) for v in lines[0].split()[1:3])
    check(lines[1] == "caption Zundrel", "caption is Zundrel (%r)" % lines[1])
    controls = []
    for line in lines[2:]:
        ident, kind, text, rect, state = line.split("|")
        ident = int(ident)
        controls.append((-1 if ident in (-1, 65535) else ident, kind.lower(), text,
                         [int(v) for v in rect.split()], int(state)))
    check(len(controls) == len(TEMPLATE), "nine controls (%d)" % len(controls))
    for want, have in zip(TEMPLATE, controls):
        ok = have[0] == want[0] and have[1] == want[1].lower() and have[2] == want[2]
        check(ok and have[4] == want[4], "control %d %s %r, state %d (have %s)"
              % (want[0], want[1], want[2], want[4], have[:3] + (have[4],)))
    units = [(bx, by) for bx in range(2, 40) for by in range(4, 80)
             if (cw, ch) == (mul_div(111, bx, 4), mul_div(111, by, 8))
             and all(have[3][:len(to_pixels(want[3], bx, by))] == to_pixels(want[3], bx, by)
                     for want, have in zip(TEMPLATE, controls))]
    check(len(units) > 0, "111 x 111 dialog and every control rectangle as in the template "
          "(client %d x %d px, base units %s)" % (cw, ch, units[:1]))


def start_app(wine, app_exe):
    return subprocess.Popen(["wine", app_exe], env=wine.app_env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, cwd=os.path.dirname(app_exe))


def wait_exit(proc, timeout=30):
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        return None


def first_run(wine, probe, app_exe, devices, tmp, artefacts, with_sockets):
    app = start_app(wine, app_exe)
    try:
        wid = find_window("^Zundrel$")
        if not check(wid is not None, "the dialog appears"):
            return
        com1, com2 = devices[0], devices[1]
        link = os.readlink(os.path.join(wine.prefix, "dosdevices", "com1"))
        check(link == com1.link, "COM1 is mapped to the test's pty (%s)" % link)
        check(wait_until(lambda: com1.speed() == termios.B9600), "COM1 runs at 9600 bit/s")
        check_layout(probe)

        # Handshake: noise before the sync frame is dropped, the first power ON gets 00 55 ...
        exchange_after_open(com1, [0x00, 0x01, 0x00, 0x01, 0x02],
                            [0x00, 0x55, 0x55, 0x55, 0x55, 0x55], "first power ON",
                            extra_reply=[0x01, 0x00, 0x03, 0x02, 0x31, 0x30])
        probe.wait_status("power ON")
        exchange(com1, [0x01, 0x00, 0x01, 0x02], [0x01, 0x00, 0x03, 0x02, 0x31, 0x30],
                 "second power ON")

        # From here every frame is logged.
        log_path = os.path.join(tmp, "traffic.log")
        rc, _ = probe("setlog", windows_path(log_path))
        check(rc == 0, "log path typed into the log field")
        expected_log = []
        exchange(com1, [0x02, 0x00, 0x01, 0x01], [0x02, 0x00, 0x02, 0x02, 0x02],
                 "status request", expected_log)
        probe.wait_status("check Status")
        exchange(com1, [0x01, 0x00, 0x01, 0x08],
                 [0x01, 0x00, 0x15, 0x0B, 0x00, 0x08, 0x48, 0x01, 0xC0, 0xA8, 0x00, 0x01,
                  0xC0, 0xA8, 0x00, 0x02, 0xC0, 0xA8, 0x00, 0x03, 0xC0, 0xA8, 0x00, 0x04],
                 "dialup", expected_log)

        if with_sockets:
            peer = Peer()
            try:
                p = peer.port
                exchange(com1, [0x11, 0x00, 0x01, 0x01], [0x11, 0x00, 0x02, 0x01, 0x00],
                         "open socket", expected_log)
                exchange(com1, [0x11, 0x00, 0x12, 0x03, 0x00, 0x00, 0x02, p & 0xFF, p >> 8,
                                127, 0, 0, 1] + [0] * 8,
                         [0x11, 0x00, 0x03, 0x03, 0x00, 0x01], "connect socket", expected_log)
                exchange(com1, [0x11, 0x00, 0x05, 0x0E, 0x00, 0x41, 0x42, 0x43],
                         [0x11, 0x00, 0x03, 0x0E, 0x00, 0x03], "send socket", expected_log)
                check(wait_until(lambda: peer.received == b"ABC"), "the peer received ABC")
                exchange(com1, [0x11, 0x00, 0x03, 0x0D, 0x00, 0x14],
                         [0x11, 0x00, 0x07, 0x0D, 0x00, 0x04, 0x4F, 0x4B, 0x0D, 0x0A],
                         "recv a line", expected_log)
                exchange(com1, [0x11, 0x00, 0x03, 0x0F, 0x00, 0x04],
                         [0x11, 0x00, 0x07, 0x0F, 0x00, 0x04, 0x58, 0x59, 0x5A, 0x31],
                         "recv a buffer", expected_log)
                name = list(b"localhost") + [0]
                exchange(com1, [0x11, 0x00, 1 + len(name), 0x08] + name,
                         [0x11, 0x00, 9 + 7, 0x08, 0x01] + name + [127, 0, 0, 1],
                         "gethstbyname localhost", expected_log)
                exchange(com1, [0x11, 0x00, 0x02, 0x07, 0x00], [0x11, 0x00, 0x03, 0x07, 0x00, 0x01],
                         "close socket", expected_log)
                probe.wait_status("close socket")
            finally:
                peer.close()
        else:
            log("note: the socket proxy is not in this build; the socket conversation is skipped")

        # 38400 bit/s, chosen in the dialog, is seen on the line.
        rc, _ = probe("speed", "1001")
        check(rc == 0 and wait_until(lambda: com1.speed() == termios.B38400),
              "COM1 runs at 38400 bit/s after the 38400 button")

        # An unknown command: status text, the error box, no reply; OK ends the box.
        com1.write([0x05, 0x00, 0x01, 0x07])
        expected_log.append("R> 05 00 01 07 ")
        probe.wait_status("unkown command!")
        box = find_window("^Error$", timeout=STEP_TIMEOUT)
        if check(box is not None, "the unknown-command box appears"):
            rc, text = probe("box")
            check(text.strip() == "unkown command (05:07)", "box text (%r)" % text.strip())
            screenshot("root", os.path.join(artefacts, "wine-error-box.png"))
            xdotool("windowfocus", "--sync", box, "key", "Return")
            check(wait_until(lambda: not window_visible("^Error$")), "OK closes the box")
        check(com1.pending(0.5) == b"", "no reply to the unknown command")

        # Enter (OK) does not close the dialog; the reader goes on serving.
        xdotool("windowfocus", "--sync", wid, "key", "Return")
        exchange(com1, [0x02, 0x00, 0x01, 0x01], [0x02, 0x00, 0x02, 0x02, 0x03],
                 "status request after the box", expected_log)
        check(window_visible("^Zundrel$"), "Enter leaves the dialog open")

        # Picking COM2 closes COM1 (its reader waits for a port event) and opens COM2 at 38400.
        rc, out = probe("port", "1")
        check(rc == 0 and wait_until(lambda: com2.speed() == termios.B38400),
              "COM2 opened at the speed last chosen")
        switch_ms = int(out.strip() or "99999")
        check(switch_ms < 1000, "the port change (reader woken and ended) took %d ms" % switch_ms)
        exchange_after_open(com2, [0x02, 0x00, 0x01, 0x01], [0x02, 0x00, 0x02, 0x02, 0x03],
                            "status request on COM2", expected_log=expected_log)
        com1.write([0x02, 0x00, 0x01, 0x01])
        check(com1.pending(0.5) == b"", "closed COM1 no longer answers")
        probe.wait_status("check Status")

        with open(log_path, "rb") as f:
            lines = f.read().decode("ascii").split("\r\n")
        check(lines[-1] == "" and lines[:-1] == expected_log,
              "traffic log lines (%d expected, %d written)" % (len(expected_log), len(lines) - 1))
        if lines[:-1] != expected_log:
            log("  expected: %r\n  written:  %r" % (expected_log, lines[:-1]))

        screenshot(wid, os.path.join(artefacts, "wine-dialog.png"))

        xdotool("windowfocus", "--sync", wid, "key", "Escape")
        code = wait_exit(app)
        check(code == 0, "Escape ends the program with exit code 0 (%s)" % code)
    finally:
        if app.poll() is None:
            app.kill()
            app.wait(timeout=30)


def second_run(wine, probe, app_exe, devices):
    """Closing while the unknown-command box is open: the box goes and the program ends with 0."""
    app = start_app(wine, app_exe)
    try:
        if not check(find_window("^Zundrel$") is not None, "the dialog appears again"):
            return
        com1 = devices[0]
        exchange_after_open(com1, [0x01, 0x00, 0x01, 0x02], [0x00, 0x55, 0x55, 0x55, 0x55, 0x55],
                            "power ON after a restart",
                            extra_reply=[0x01, 0x00, 0x03, 0x02, 0x31, 0x30])
        com1.write([0x11, 0x00, 0x01, 0x02])
        check(find_window("^Error$", timeout=STEP_TIMEOUT) is not None, "the box is open")
        rc, text = probe("box")
        check(text.strip() == "unkown command (11:02)", "box text (%r)" % text.strip())
        probe("cancel")
        code = wait_exit(app)
        check(code == 0, "closing with the box open ends the program with exit code 0 (%s)" % code)
        check(not window_visible("^Error$"), "the box is gone")
    finally:
        if app.poll() is None:
            app.kill()
            app.wait(timeout=30)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--platform-test", required=True)
    parser.add_argument("--shim", required=True)
    parser.add_argument("--artefacts", required=True)
    parser.add_argument("--sockets", action="store_true")
    args = parser.parse_args()

    tmp = tempfile.mkdtemp(prefix="zundrel-wine-")
    wine = Wine(tmp, os.path.abspath(args.shim))
    devices = []
    clean = False
    try:
        started = time.monotonic()
        r = wine.run(["wineboot", "-u"], timeout=240)
        if r.returncode != 0:
            raise RuntimeError("wineboot failed: " + r.stderr)
        wine.run(["wineserver", "-w"], timeout=120)
        log("prefix made in %.1f s" % (time.monotonic() - started))

        links = os.path.join(tmp, "ports")
        os.mkdir(links)
        devices = [Device(links, n) for n in range(1, 5)]
        for n, device in enumerate(devices, 1):
            wine.reg_add("HKLM\\Software\\Wine\\Ports", "COM%d" % n, device.link)
        wine.reg_add("HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes",
                     "ＭＳ Ｐゴシック", "IPAPGothic")
        # Xvfb runs no window manager: Wine then draws the window frames itself (caption and close
        # box included), so the screenshots show the whole dialog.
        wine.reg_add("HKCU\\Software\\Wine\\X11 Driver", "Managed", "N")
        wine.run(["wineserver", "-w"], timeout=120)
        # Wine's device manager applies the mapping when Wine next starts; check it before the
        # program may open a port, so that it never reaches a real serial device.
        wine.run(["wine", "reg", "query", "HKLM\\Software\\Wine\\Ports"])
        dosdevices = os.path.join(wine.prefix, "dosdevices")

        def mapped():
            try:
                return all(os.readlink(os.path.join(dosdevices, "com%d" % n)) == d.link
                           for n, d in enumerate(devices, 1))
            except OSError:
                return False

        if not check(wait_until(mapped), "COM1 to COM4 are mapped to the test's ptys"):
            raise RuntimeError("the COM ports are not mapped; the program is not started")

        # The program alone in its folder: it must start with no DLL beside it.
        app_dir = os.path.join(tmp, "app")
        os.mkdir(app_dir)
        app_exe = os.path.join(app_dir, "zundrel.exe")
        shutil.copy(args.exe, app_exe)
        probe_exe = os.path.join(tmp, "dlgprobe.exe")
        shutil.copy(args.probe, probe_exe)
        probe = Probe(wine, probe_exe)
        os.makedirs(args.artefacts, exist_ok=True)

        first_run(wine, probe, app_exe, devices, tmp, args.artefacts, args.sockets)
        second_run(wine, probe, app_exe, devices)

        # The socket shim and log file append on their own, in the same prefix.
        r = wine.run(["wine", os.path.abspath(args.platform_test)], timeout=120)
        for line in r.stdout.replace("\r\n", "\n").strip().split("\n"):
            log("  platform_test: " + line)
        check(r.returncode == 0, "platform_test.exe passes (exit code %d)" % r.returncode)

        r = wine.run(["wineserver", "-w"], timeout=60)
        clean = r.returncode == 0
    except (RuntimeError, OSError, subprocess.TimeoutExpired) as error:
        check(False, "test equipment: %s" % error)
    finally:
        if not clean:
            subprocess.run(["wineserver", "-k"], env=wine.env, timeout=60)
        for device in devices:
            device.close()
        shutil.rmtree(tmp, ignore_errors=True)
    if failures:
        log("%d check(s) failed" % len(failures))
        return 1
    log("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
