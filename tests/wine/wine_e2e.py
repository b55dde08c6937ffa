# The Windows program end to end under Wine (run inside xvfb-run): the shared scenario, with the
# dialog read and driven from outside by dlgprobe.exe and xdotool, and COM1 to COM4 of a fresh Wine
# prefix mapped to the test's pseudo-terminals.
#
# Usage: wine_e2e.py EXE DLGPROBE_EXE SHIM ARTEFACT_DIR

import os
import shutil
import subprocess
import sys
import tempfile
import termios
import tty

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import scenario  # noqa: E402
from scenario import Pty, run_cases, wait_for  # noqa: E402


class Wine:
    def __init__(self, tmp, shim):
        self.prefix = os.path.join(tmp, "prefix")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all", LANG="C.UTF-8",
                        WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL="C.UTF-8")
        self.shim = shim

    def run(self, *args):
        r = subprocess.run(["wine"] + list(args), env=self.env, timeout=120, capture_output=True,
                           text=True)
        return r.returncode, r.stdout.replace("\r\n", "\n").strip()

    def reg(self, key, name, value):
        assert self.run("reg", "add", key, "/v", name, "/d", value, "/f")[0] == 0


class Driver:
    def __init__(self, wine, exe, probe, *args):
        self.wine, self.probe = wine, probe
        self.program = subprocess.Popen(["wine", exe, *args],
                                        env=dict(wine.env, LD_PRELOAD=wine.shim),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.wid = self.window("^Zundrel$", 60)

    def window(self, name, timeout):
        return subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", name],
                              capture_output=True, text=True, timeout=timeout).stdout.split()[0]

    def ask(self, *args):
        code, out = self.wine.run(self.probe, *args)
        assert code in (0, 2), "dlgprobe %s: %d" % (args, code)
        return out if code == 0 else None

    def status(self):
        return self.ask("status")

    def box(self):
        return self.ask("box")

    def set_log(self, path):
        self.ask("setlog", "Z:" + path.replace("/", "\\") if path else "")

    def click_speed(self, bps):
        self.ask("speed", "1000" if bps == 9600 else "1001")

    def pick_port(self, index):
        self.ask("port", str(index))

    def dismiss_box(self):
        self.key("Return", self.window("^Error$", 20))

    def key(self, name, window=None):
        subprocess.run(["xdotool", "windowfocus", "--sync", window or self.wid, "key",
                        "--clearmodifiers", name], check=True, timeout=20)


def main(exe, probe, shim, artefacts):
    tmp = tempfile.mkdtemp(prefix="zundrel-wine-")
    os.makedirs(artefacts, exist_ok=True)
    wine = Wine(tmp, os.path.abspath(shim))
    ptys, drivers = [], []

    def test():
        subprocess.run(["wineboot", "-u"], env=wine.env, timeout=240, check=True,
                       capture_output=True)
        for n in range(1, 5):
            # A raw pty at a speed the program never sets, reached through a link.
            ptys.append(Pty("COM%d" % n))
            tty.setraw(ptys[-1].slave)
            attrs = termios.tcgetattr(ptys[-1].slave)
            attrs[4] = attrs[5] = termios.B1200
            termios.tcsetattr(ptys[-1].slave, termios.TCSANOW, attrs)
            os.symlink(ptys[-1].path, os.path.join(tmp, "com%d" % n))
            wine.reg("HKLM\\Software\\Wine\\Ports", "COM%d" % n, os.path.join(tmp, "com%d" % n))
        wine.reg("HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes",
                 "ＭＳ Ｐゴシック", "IPAPGothic")
        # No window manager under Xvfb: Wine draws the frames (caption, close box) itself.
        wine.reg("HKCU\\Software\\Wine\\X11 Driver", "Managed", "N")
        subprocess.run(["wineserver", "-w"], env=wine.env, timeout=120)
        wine.run("reg", "query", "HKLM\\Software\\Wine\\Ports")
        # The mapping is applied when Wine next starts; the program is started only once every
        # COM port is the test's, so it can never reach a real serial device.
        wait_for("COM1 to COM4 mapped to the test's ptys", lambda: all(
            os.readlink(os.path.join(wine.prefix, "dosdevices", "com%d" % n)) ==
            os.path.join(tmp, "com%d" % n) for n in range(1, 5)), 20)
        app = os.path.join(tmp, "app", "zundrel.exe")  # alone in its folder: no DLL beside it
        os.mkdir(os.path.dirname(app))
        shutil.copy(exe, app)
        helper = shutil.copy(probe, os.path.join(tmp, "dlgprobe.exe"))

        drivers.append(Driver(wine, app, helper))
        subprocess.run(["import", "-window", drivers[0].wid, os.path.join(artefacts, "wine.png")],
                       timeout=60, capture_output=True)
        scenario.run(drivers[0], ptys, tmp, every_label=False, exit_limit=10.0)

        print("a bad option: status 2 and its line on stderr", flush=True)
        bad = subprocess.run(["wine", app, "--speed", "1"], env=wine.env, capture_output=True,
                             timeout=60)
        assert bad.returncode == 2 and b"--speed: '1'" in bad.stderr, bad

        print("--port COM2 --speed 38400 --log FILE preselected; closed while the unknown-command "
              "box is up: the box goes, exit code 0", flush=True)
        log = os.path.join(tmp, "preselected.log")
        drivers.append(Driver(wine, app, helper, "--port", "COM2", "--speed", "38400", "--log",
                              "Z:" + log.replace("/", "\\")))
        wait_for("COM2 at 38400", lambda: ptys[1].speed() == termios.B38400, 30)
        ptys[1].write(bytes.fromhex("01 00 01 02"))
        assert ptys[1].read(6) == bytes.fromhex("00 55 55 55 55 55")
        want = b"R> 01 00 01 02 \r\nS> 00 55 55 55 55 55 \r\n"
        wait_for("the log", lambda: open(log, "rb").read() == want)
        ptys[1].write(bytes.fromhex("11 00 01 02"))
        assert wait_for("the box", drivers[1].box, 20) == "unkown command (11:02)"
        drivers[1].ask("cancel")
        assert drivers[1].program.wait(timeout=30) == 0 and drivers[1].box() is None

    try:
        return run_cases([("the Windows program", test)])
    finally:
        subprocess.run(["wineserver", "-k"], env=wine.env, timeout=60)
        for driver in drivers:
            if driver.program.poll() is None:
                driver.program.kill()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:5]))
