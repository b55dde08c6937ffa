# The Windows program end to end under Wine (run inside xvfb-run): the shared scenario, with the
# dialog read and driven from outside by dlgprobe.exe and xdotool, and COM1 to COM4 of a fresh Wine
# prefix mapped to the test's pseudo-terminals.
#
# Usage: wine_e2e.py EXE DLGPROBE_EXE SHIM ARTEFACT_DIR

import os
import shutil
import socket
import subprocess
import sys
import tempfile
import termios
from functools import partial, partialmethod

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, ".."), os.path.join(HERE, "..", "e2e")]
import kit  # noqa: E402
import scenario  # noqa: E402

COMS = (1, 2, 3, 4, 7, 12)  # mapped to the test's ptys
SERIALCOMM = "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]"  # the ports the system lists


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def run(env, *args, timeout=120, **options):  # a command in the test's prefix, its output kept
    return subprocess.run(list(args), env=env, timeout=timeout, capture_output=True, **options)


class Driver(scenario.Driver):
    def __init__(self, env, exe, probe, *args):
        super().__init__(["wine", exe, *args], 60, subprocess.DEVNULL, env)
        self.env, self.probe = env, probe

    def ask(self, *args):  # dlgprobe's output; None when the window is not there
        done = run(self.env, "wine", self.probe, *map(str, args), text=True)
        assert done.returncode in (0, 2), "dlgprobe %s: %d" % (args, done.returncode)
        return done.stdout.strip() if done.returncode == 0 else None  # text: \r\n read as \n

    # The dlgprobe commands that are the driver's methods as they are: status() is ask("status").
    status, tip, box, pick_port, click_speed = map(partial(partialmethod, ask),
                                                   ("status", "tip", "box", "port", "speed"))

    def checked(self, bps):
        return self.ask("checked", bps) == "1"

    def set_log(self, path):
        self.ask("setlog", windows_path(path) if path else "")

    def dismiss_box(self):
        self.key("Return", scenario.window("^Error$", 20))


def every_port(d, ptys, tmp):
    # COM7 (answered when preselected) and COM12 after COM4, COM12 answered when picked, at first
    # not there and tried every second until it is; the tooltip says why a port does not open.
    items = d.ask("items").split("\n")
    numbers = [int("0" + item[3:-1]) for item in items[4:]]
    assert items[:4] == ["COM%d:" % n for n in range(1, 5)] and numbers == sorted(set(numbers)) \
        and {7, 12} <= set(numbers), items
    os.remove(os.path.join(tmp, "com12"))
    d.pick_port(items.index("COM12:"))
    kit.wait_for("COM12 not there", lambda: d.tip() in (  # Wine opens a missing port as no port
        "COM12: not present", "COM12: does not open as a serial port"), 20)
    os.symlink(ptys[5].path, os.path.join(tmp, "com12"))
    kit.wait_for("COM12 at 9600", lambda: ptys[5].speed() == termios.B9600, 30)
    kit.answered(ptys[5], *scenario.STATUS)
    assert d.tip() == "COM12: open at 9600 bit/s"
    # COM30 to COM60, listed by the system without a device once the list drops down: COM30 not
    # present; the list holds 32 ports at the most.
    reg(d.env, SERIALCOMM, *['"Zundrel%d"="COM%d"' % (n, n) for n in range(30, 61)])
    d.pick_port(len(items))
    assert d.tip() == "COM30: not present"
    d.pick_port(0)
    items = d.ask("items").split("\n")
    assert len(items) == 32 and "COM30:" in items and d.tip() == "COM1: open at 9600 bit/s", items


def replugged(d, ptys, spare, tmp):
    # COM7 pulled while the device has a connection open (the shim fails the lost pty as Windows
    # fails a removed USB device) and plugged back as a new pty behind the same name: lost on the
    # tooltip, the program asleep, back within about a second at the speed chosen, the adapter's
    # state and the connection kept. Pulled again: a pick of another port ends the wait at once.
    peer, link = kit.Peer(), os.path.join(tmp, "com7")
    d.pick_port(d.ask("items").split("\n").index("COM7:"))
    kit.wait_for("COM7 open", lambda: d.tip() == "COM7: open at 9600 bit/s", 20)
    kit.answered(ptys[4], "11 00 01 01", "11 00 02 01 00")
    kit.answered(ptys[4], "11 00 12 03 00 00 02 %s 7F 00 00 01 %s" % (
        peer.env["port"].hex(), "00" * 8), "11 00 03 03 00 01")
    tasks = "/proc/%d/task" % d.program.pid
    for com7 in spare:
        threads = set(os.listdir(tasks))
        os.close(ptys[4].master)
        os.remove(link)
        kit.wait_for("COM7 lost", lambda: d.tip() == "COM7: lost: waiting for it to come back", 20)
        if com7 is None:
            break
        for _ in range(4):  # asleep for 1.2 s, through a try of the missing port
            kit.asleep(d.program.pid)
        com7.set_speed(termios.B1200)
        os.symlink(com7.path, link)
        ptys[4] = com7  # reopened at the speed chosen, then purged
        kit.wait_for("COM7 reopened", lambda: com7.speed() == termios.B9600, 5)
        kit.answered(com7, "01 00 01 02", "01 00 03 02 31 30")  # the adapter still on
        kit.wait_for("COM7 open", lambda: d.tip() == "COM7: open at 9600 bit/s")
        kit.answered(com7, "11 00 05 0E 00 %s" % b"abc".hex(), "11 00 03 0E 00 03")
        peer.act("expect", b"abc")
    d.pick_port(0)  # the reader waiting for COM7 ends
    kit.wait_for("COM1 open", lambda: d.tip() == "COM1: open at 9600 bit/s", 5)
    kit.wait_for("the lost port's reader ended", lambda: not threads <= set(os.listdir(tasks)), 5)
    peer.close()


def network_line(env, app, probe):
    # socket:// to a listener of the test's, the device at its end: refused until it listens; then
    # turned away with words (told, tried at most once a second); then served, and connected. The
    # line drops while a connect waits for ever (lost at once, asleep) and comes back, the adapter
    # still on; Cancel ends the program while its line is lost.
    port = kit.free_port()
    url = "socket://127.0.0.1:%d" % port
    d = Driver(env, app, probe, "--port", url)
    kit.wait_for("refused", lambda: d.tip() == url + ": refused: waiting for it", 20)
    stalled, stall = kit.stalled_port()
    server = socket.create_server(("127.0.0.1", port))
    server.settimeout(30)
    took = kit.turn_away(server, 3)
    assert all(b - a > 0.9 for a, b in zip(took, took[1:])), "tries %s s apart" % took
    told = d.tip()
    assert told == url + ': closed by the other end at once: "Port already in use": waiting for ' \
        "it", told
    for reply in (kit.POWER_ON[1], "01 00 03 02 31 30"):
        server = server or socket.create_server(("127.0.0.1", port))
        server.settimeout(30)
        device = kit.TcpDevice(server.accept()[0])
        server = server.close()  # no longer listening: lost until it listens again
        kit.wait_for("connected", lambda: d.tip() == url + ": connected to " + url[9:], 20)
        kit.answered(device, kit.POWER_ON[0], reply)
        if reply == kit.POWER_ON[1]:  # a connect that is never answered waits
            kit.answered(device, "11 00 01 01", "11 00 02 01 00")
            device.write(bytes.fromhex("11 00 12 03 00 00 02") + stall + bytes([127, 0, 0, 1]) +
                         bytes(8))
            kit.wait_for("the connect", lambda: d.status() == "connect socket", 10)
        device.close()
        kit.wait_for("lost", lambda: d.tip() == url + ": lost: waiting for it to come back", 5)
        kit.asleep(d.program.pid)
    d.ask("cancel")
    assert d.program.wait(timeout=30) == 0
    [s.close() for s in stalled]
    # listen://:PORT listens on 127.0.0.1 alone, and a second connection is closed at once.
    url = "listen://:%d" % port
    d = Driver(env, app, probe, "--port", url)
    kit.wait_for("listening", lambda: d.tip() == url + ": listening: waiting for the connection", 20)
    with socket.socket() as other:
        assert other.connect_ex(("127.0.0.2", port)) != 0, "listening on 127.0.0.2"
    with socket.create_connection(("127.0.0.1", port), 10) as conn:
        device = kit.TcpDevice(conn)
        kit.wait_for("connected", lambda: d.tip() == url + ": connected on 127.0.0.1:%d" % port, 20)
        kit.answered(device, *kit.POWER_ON)
        with socket.create_connection(("127.0.0.1", port), 10) as second:
            second.settimeout(10)
            assert second.recv(1) == b"", "a second connection kept"
        kit.answered(device, *scenario.STATUS)
    d.ask("cancel")
    assert d.program.wait(timeout=30) == 0


def reg(env, *lines):  # adds the keys and values of these .reg file lines to the registry
    with open(env["WINEPREFIX"] + ".reg", "w", encoding="utf-16") as file:  # beside the prefix
        file.write("Windows Registry Editor Version 5.00\n\n" + "\n".join(lines) + "\n")
    run(env, "wine", "regedit", "/S", windows_path(file.name), check=True)


def test(exe, probe, artefacts, tmp, env):
    ptys = [kit.Pty() for _ in COMS]  # made first: no pty can be made in the private /dev
    spare = [kit.Pty(), None]  # COM7 plugged back, then pulled for good
    kit.private_dev()  # in a mount namespace of its own (see CMakeLists.txt): no /dev/ttyS*
    run(env, "wineboot", "-u", timeout=240, check=True)
    for n, pty in zip(COMS, ptys):  # a raw pty at a speed the program never sets, through a link
        pty.set_speed(termios.B1200)
        os.symlink(pty.path, "%s/com%d" % (tmp, n))
    # The ports; the Japanese font; no window manager under Xvfb: Wine draws the frames.
    reg(env, "[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]",
        *['"COM%d"="%s/com%d"' % (n, tmp, n) for n in COMS],
        "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\"
        'FontSubstitutes]', '"ＭＳ Ｐゴシック"="IPAPGothic"',
        "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]", '"Managed"="N"')
    # The mapping is applied when Wine next starts; the program is started only once every COM
    # port is the test's, so it can never reach a real serial device.
    run(env, "wineserver", "-w")
    run(env, "wine", "reg", "query", "HKLM\\Software\\Wine\\Ports")  # Wine starts: maps them
    kit.wait_for("the COM ports mapped to the test's ptys", lambda: all(os.readlink(
        "%s/dosdevices/com%d" % (env["WINEPREFIX"], n)) == "%s/com%d" % (tmp, n) for n in COMS), 20)
    os.mkdir(os.path.join(tmp, "app"))  # the program alone in its folder: no DLL beside it
    app, probe = shutil.copy(exe, os.path.join(tmp, "app")), shutil.copy(probe, tmp)

    d = Driver(env, app, probe)
    run(env, "import", "-window", d.wid, os.path.join(artefacts, "wine.png"), timeout=60)
    scenario.run(d, ptys, tmp, every_label=False, exit_limit=10.0)

    # The rows of options.txt (bad: the exe ends at once; the ok row is one start, COM7 at
    # 38400 bit/s, the log written), and --version that cannot be written.
    rows = kit.option_rows("w", "COM7", tmp, windows_path)
    for args, want, _ in (row for row in rows if row[1] != "ok"):
        kit.refused(run(env, "wine", app, *args, timeout=60, text=True), want)
    for out, status in (("/dev/null", 0), ("/dev/full", 1)):
        assert run(env, "sh", "-c", 'wine "$0" --version >' + out, app).returncode == status, out
    [(args, _, made)] = [row for row in rows if row[1] == "ok"]
    d = Driver(env, app, probe, *args)
    kit.preselected(ptys[4], made, d)
    replugged(d, ptys, spare, tmp)
    every_port(d, ptys, tmp)
    ptys[0].write(bytes.fromhex("11 00 01 02"))
    assert kit.wait_for("the box", d.box, 20) == "unkown command (11:02)"
    d.ask("cancel")
    assert d.program.wait(timeout=30) == 0 and d.box() is None
    network_line(env, app, probe)


def main(exe, probe, shim, artefacts):
    os.makedirs(artefacts, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="zundrel-wine-", ignore_cleanup_errors=True) as tmp:
        env = dict(os.environ, WINEPREFIX=os.path.join(tmp, "prefix"), WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree,mshtml=", LANG="C.UTF-8", LC_ALL="C.UTF-8",
                   LD_PRELOAD=os.path.abspath(shim))
        try:
            return kit.run_cases([("the Windows program", partial(test, exe, probe, artefacts,
                                                                       tmp, env))])
        finally:
            run(env, "wineserver", "-k", timeout=60)


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:5]))
