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

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import scenario  # noqa: E402
from scenario import Pty, run_cases, wait_for  # noqa: E402

COMS = (1, 2, 3, 4, 7, 12)  # mapped to the test's ptys


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


class Driver:
    def __init__(self, env, exe, probe, *args):
        self.env, self.probe = env, probe
        self.program = subprocess.Popen(["wine", exe, *args], env=env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        self.wid = scenario.window("^Zundrel$", 60)

    def ask(self, *args):
        done = subprocess.run(["wine", self.probe, *args], env=self.env,
                              timeout=120, capture_output=True, text=True)
        assert done.returncode in (0, 2), "dlgprobe %s: %d" % (args, done.returncode)
        return done.stdout.replace("\r\n", "\n").strip() if done.returncode == 0 else None

    def status(self):
        return self.ask("status")

    def tip(self):
        return self.ask("tip")

    def checked(self, bps):
        return self.ask("checked", "1000" if bps == 9600 else "1001") == "1"

    def box(self):
        return self.ask("box")

    def set_log(self, path):
        self.ask("setlog", windows_path(path) if path else "")

    def click_speed(self, bps):
        self.ask("speed", "1000" if bps == 9600 else "1001")

    def pick_port(self, index):
        self.ask("port", str(index))

    def dismiss_box(self):
        scenario.key(scenario.window("^Error$", 20), "Return")

    def key(self, name):
        scenario.key(self.wid, name)


def every_port(d, ptys, tmp):
    # COM7 and COM12 after COM4, each answered; the tooltip says why a port does not open.
    items = d.ask("items").split("\n")
    numbers = [int("0" + item[3:-1]) for item in items[4:]]
    assert items[:4] == ["COM%d:" % n for n in range(1, 5)] and numbers == sorted(set(numbers)) \
        and {7, 12} <= set(numbers), items
    for name, pty in (("COM7", ptys[4]), ("COM12", ptys[5])):
        d.pick_port(items.index(name + ":"))
        wait_for(name + " at 9600", lambda: pty.speed() == termios.B9600, 30)
        scenario.answered(pty, *scenario.STATUS)
        assert d.ask("tip") == name + ": open at 9600 bit/s"
    # Windows refuses a port another program holds as access denied, which Wine does not do for
    # a second open: a file that refuses writing even to root gives that refusal instead.
    os.remove(os.path.join(tmp, "com3"))
    os.symlink("/sys/kernel/uevent_seqnum", os.path.join(tmp, "com3"))
    d.pick_port(2)
    assert d.ask("tip") == "COM3: in use by another program"
    # A COM30 the system lists without a device: listed once the list drops down, not present.
    reg(d.env, "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]", '"Zundrel30"="COM30"')
    d.pick_port(len(items))
    assert d.ask("tip") == "COM30: not present"
    d.pick_port(0)


def reg(env, *lines):  # adds the keys and values of these .reg file lines to the registry
    with tempfile.NamedTemporaryFile("w", suffix=".reg", encoding="utf-16") as file:
        file.write("Windows Registry Editor Version 5.00\n\n" + "\n".join(lines) + "\n")
        file.flush()
        subprocess.run(["wine", "regedit", "/S", windows_path(file.name)], env=env, check=True,
                       timeout=120, capture_output=True)


def main(exe, probe, shim, artefacts):
    tmp = tempfile.mkdtemp(prefix="zundrel-wine-")
    os.makedirs(artefacts, exist_ok=True)
    env = dict(os.environ, WINEPREFIX=os.path.join(tmp, "prefix"), WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=", LANG="C.UTF-8", LC_ALL="C.UTF-8",
               LD_PRELOAD=os.path.abspath(shim))
    ptys, drivers = [], []

    def test():
        # In a mount namespace of its own (see CMakeLists.txt), the resolver's file is emptied: a
        # lookup asks 127.0.0.1 and never a name server elsewhere.
        assert os.readlink("/proc/self/ns/mnt") != os.readlink("/proc/%d/ns/mnt" % os.getppid())
        subprocess.run(["mount", "--bind", "/dev/null", "/etc/resolv.conf"], check=True)
        subprocess.run(["wineboot", "-u"], env=env, timeout=240, check=True, capture_output=True)
        for n in COMS:  # a raw pty at a speed the program never sets, reached through a link
            ptys.append(Pty())
            ptys[-1].set_speed(termios.B1200)
            os.symlink(ptys[-1].path, os.path.join(tmp, "com%d" % n))
        # The ports; the Japanese font; no window manager under Xvfb: Wine draws the frames.
        reg(env, "[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]", *[
            '"COM%d"="%s"' % (n, os.path.join(tmp, "com%d" % n)) for n in COMS],
            "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\"
            'FontSubstitutes]', '"ＭＳ Ｐゴシック"="IPAPGothic"',
            "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]", '"Managed"="N"')
        subprocess.run(["wineserver", "-w"], env=env, timeout=120)
        subprocess.run(["wine", "reg", "query", "HKLM\\Software\\Wine\\Ports"], env=env,
                       timeout=120, capture_output=True)
        # The mapping is applied when Wine next starts; the program is started only once every
        # COM port is the test's, so it can never reach a real serial device.
        wait_for("COM1 to COM4, COM7 and COM12 mapped to the test's ptys", lambda: all(
            os.readlink(os.path.join(env["WINEPREFIX"], "dosdevices", "com%d" % n)) ==
            os.path.join(tmp, "com%d" % n) for n in COMS), 20)
        app = os.path.join(tmp, "app", "zundrel.exe")  # alone in its folder: no DLL beside it
        os.mkdir(os.path.dirname(app))
        shutil.copy(exe, app)
        helper = shutil.copy(probe, os.path.join(tmp, "dlgprobe.exe"))

        drivers.append(Driver(env, app, helper))
        subprocess.run(["import", "-window", drivers[0].wid, os.path.join(artefacts, "wine.png")],
                       timeout=60, capture_output=True)
        scenario.run(drivers[0], ptys, tmp, every_label=False, exit_limit=10.0)

        # The rows of options.txt (bad: the exe ends at once; the ok row is one start, COM7 at
        # 38400 bit/s, the log written), and --version that cannot be written.
        rows = scenario.option_rows("w", "COM7", tmp, windows_path)
        for args, want, log in rows:
            if want != "ok":
                scenario.refused(subprocess.run(["wine", app, *args], env=env, timeout=60,
                                                capture_output=True, text=True), want)
        for out, status in (("/dev/null", 0), ("/dev/full", 1)):
            assert subprocess.run(["sh", "-c", '"$0" "$1" --version >' + out, "wine", app], env=env,
                                  timeout=60).returncode == status, "--version > " + out
        [(args, _, log)] = [r for r in rows if r[1] == "ok"]
        drivers.append(d := Driver(env, app, helper, *args))
        scenario.preselected(ptys[4], log, d)
        d.click_speed(9600)
        d.pick_port(0)
        wait_for("COM1 at 9600", lambda: ptys[0].speed() == termios.B9600, 30)
        every_port(d, ptys, tmp)
        ptys[0].write(bytes.fromhex("11 00 01 02"))
        assert wait_for("the box", d.box, 20) == "unkown command (11:02)"
        d.ask("cancel")
        assert d.program.wait(timeout=30) == 0 and d.box() is None

    try:
        return run_cases([("the Windows program", test)])
    finally:
        subprocess.run(["wineserver", "-k"], env=env, timeout=60)
        for driver in drivers:
            if driver.program.poll() is None:
                driver.program.kill()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:5]))
