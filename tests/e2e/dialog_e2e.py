"""End-to-end test of the zundrel program, run by run_dialog_e2e.sh inside Xvfb, a private D-Bus
session and a private mount namespace.

The test plays both sides: the device, through pseudo-terminals bound over /dev/ttyS0 to /dev/ttyS3
(and /dev/ttyUSB0, /dev/ttyACM0), and the user, through the accessibility interface (AT-SPI) and
the X keyboard. A TCP server on 127.0.0.1 is the host the device talks to through the sockets.

Usage: dialog_e2e.py ZUNDREL ARTEFACT_DIR
"""

import ctypes
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import termios
import time
import traceback

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402
import pyatspi  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from e2e_device import (DIALUP, POWER_ON, STATUS, SYNC_REPLY, Pty, find_window, h,  # noqa: E402
                        log, press_key, screenshot, socket_conversation, wait_for)
import e2e_device  # noqa: E402

PORT_NAMES = ["ttyS0", "ttyS1", "ttyS2", "ttyS3", "ttyUSB0", "ttyACM0"]
LIST_ITEMS = ["COM1:", "COM2:", "COM3:", "COM4:", "/dev/ttyUSB0", "/dev/ttyACM0"]
PROGRAM = os.path.realpath(sys.argv[1])
ARTEFACTS = os.path.realpath(sys.argv[2])
STATUS_LATER = ("02 00 01 01", "02 00 02 02 03")  # check Status while dialled up

started = []  # processes to end whatever happens
ptys = {}  # port name -> the device's pseudo-terminal
cooked = {}  # port name -> the terminal's settings before the program changed them
dialog = None


def run(*args):
    subprocess.run(list(args), check=True)


def make_private_dev(root):
    """Refuses to go on outside a mount namespace of our own (nothing may be mounted over the
    machine's /dev); builds a /dev of the usual nodes plus one pty per port name, moves it over
    /dev and checks that /dev/ttyS0.. are the test's terminals."""
    if os.readlink("/proc/self/ns/mnt") == os.readlink("/proc/%d/ns/mnt" % os.getppid()):
        raise SystemExit("not in a private mount namespace (run run_dialog_e2e.sh): refusing")
    dev = os.path.join(root, "dev")
    os.mkdir(dev)
    run("mount", "-t", "tmpfs", "-o", "mode=755", "zundrel-e2e-dev", dev)
    for name in ["null", "zero", "full", "random", "urandom", "tty", "ptmx"]:
        open(os.path.join(dev, name), "w").close()
        run("mount", "--bind", "/dev/" + name, os.path.join(dev, name))
    for name in ["pts", "shm"]:
        os.mkdir(os.path.join(dev, name))
    run("mount", "--bind", "/dev/pts", os.path.join(dev, "pts"))
    run("mount", "-t", "tmpfs", "-o", "mode=1777", "zundrel-e2e-shm", os.path.join(dev, "shm"))
    for link, target in [("fd", "/proc/self/fd"), ("stdin", "/proc/self/fd/0"),
                         ("stdout", "/proc/self/fd/1"), ("stderr", "/proc/self/fd/2")]:
        os.symlink(target, os.path.join(dev, link))
    for name in PORT_NAMES:
        ptys[name] = Pty(name)
        cooked[name] = termios.tcgetattr(ptys[name].slave)
        open(os.path.join(dev, name), "w").close()
        run("mount", "--bind", os.ttyname(ptys[name].slave), os.path.join(dev, name))
    run("mount", "--move", dev, "/dev")
    for name in PORT_NAMES:
        if os.stat("/dev/" + name).st_rdev != os.fstat(ptys[name].slave).st_rdev:
            raise SystemExit("/dev/%s is not the test's terminal: refusing to start" % name)


def raw_8n1(name):
    """Whether the port is raw 8N1, and its input and output speeds."""
    iflag, oflag, cflag, lflag, ispeed, ospeed = termios.tcgetattr(ptys[name].slave)[:6]
    return ((cflag & termios.CSIZE) == termios.CS8 and not cflag & termios.PARENB
            and not cflag & termios.CSTOPB
            and not lflag & (termios.ICANON | termios.ECHO | termios.ISIG)
            and not oflag & termios.OPOST
            and not iflag & (termios.IXON | termios.IXOFF | termios.ICRNL)), ispeed, ospeed


def wait_port_at(name, speed):
    wait_for("%s raw 8N1 at speed %d" % (name, speed), lambda: raw_8n1(name) == (True, speed, speed))


def exchange(name, frames, status=None):
    """One exchange on port `name`; then the status field shows `status`. Returns the log lines."""
    lines = e2e_device.exchange(ptys[name], *frames)
    if status is not None:
        wait_status(status)
    return lines


# --- User side (AT-SPI and the X keyboard) ---------------------------------------------------


def find_all(root, role, name=None):
    found = []
    for child in root:
        if child is not None:
            if child.getRole() == role and (name is None or child.name == name):
                found.append(child)
            found += find_all(child, role, name)
    return found


def find_one(root, role, name=None):
    found = find_all(root, role, name)
    assert len(found) == 1, "expected one %s %r, found %d" % (role, name, len(found))
    return found[0]


class Dialog:
    """The controls of the dialog, as AT-SPI shows them."""

    def __init__(self, app):
        self.app = app
        self.window = find_one(app, pyatspi.ROLE_FRAME, "Zundrel")
        self.ports = find_one(self.window, pyatspi.ROLE_COMBO_BOX)
        self.speed9600 = find_one(self.window, pyatspi.ROLE_RADIO_BUTTON, "9600bps")
        self.speed38400 = find_one(self.window, pyatspi.ROLE_RADIO_BUTTON, "38400bps")
        texts = find_all(self.window, pyatspi.ROLE_TEXT)
        editable = [t for t in texts if t.getState().contains(pyatspi.STATE_EDITABLE)]
        read_only = [t for t in texts if not t.getState().contains(pyatspi.STATE_EDITABLE)]
        assert len(editable) == 1 and len(read_only) == 1, "log field editable, status read-only"
        self.log_path, self.status = editable[0], read_only[0]


def text_of(accessible):
    return accessible.queryText().getText(0, -1)


def set_log_path(path):
    dialog.log_path.queryEditableText().setTextContents(path)
    wait_for("log path typed", lambda: text_of(dialog.log_path) == path)


def wait_status(label):
    wait_for("status %r" % label, lambda: text_of(dialog.status) == label)


def click(accessible):
    action = accessible.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    assert "click" in names, "%s has no click action" % accessible.name
    action.doAction(names.index("click"))


def has_state(accessible, state):
    Atspi.Accessible.clear_cache(accessible)
    return accessible.getState().contains(state)


def checked(accessible):
    return has_state(accessible, pyatspi.STATE_CHECKED)


def pick_port(index):
    dialog.ports.querySelection().selectChild(index)
    wait_for("list item %d chosen" % index, lambda: dialog.ports.name == LIST_ITEMS[index])


def error_boxes():
    return [c for c in dialog.app if c is not None and c.getRole() == pyatspi.ROLE_ALERT]


def key(name):
    press_key(find_window("^Zundrel$", timeout=5), name)


class XClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]


def close_like_window_manager(wid):
    """Sends the window the WM_DELETE_WINDOW message that a window manager's close button sends."""
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.c_void_p]
    x11.XFlush.argtypes = x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(None)
    assert display, "cannot open the X display"
    event = XClientMessage(type=33, window=int(wid), format=32)  # ClientMessage
    event.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)  # data[1]: CurrentTime
    x11.XSendEvent(display, int(wid), 0, 0, ctypes.byref(event))
    x11.XFlush(display)
    x11.XCloseDisplay(display)


def shot(name, window="root"):
    screenshot(window, os.path.join(ARTEFACTS, name))


# --- The test --------------------------------------------------------------------------------

# The template's rectangles in dialog units, in template order, and the dialog's scale in pixels.
TEMPLATE = [(pyatspi.ROLE_LABEL, "通信ポート(P)：", (7, 10, 44, 8)),
            (pyatspi.ROLE_COMBO_BOX, None, (54, 7, 48, 14)),
            (pyatspi.ROLE_PANEL, "通信速度", (7, 25, 97, 27)),
            (pyatspi.ROLE_RADIO_BUTTON, "9600bps", (11, 37, 40, 10)),
            (pyatspi.ROLE_RADIO_BUTTON, "38400bps", (55, 37, 43, 10)),
            (pyatspi.ROLE_LABEL, "ログ(L)：", (7, 60, 24, 8)),
            (pyatspi.ROLE_TEXT, None, (32, 57, 72, 14)),
            (pyatspi.ROLE_PANEL, "ステータス", (7, 75, 97, 29)),
            (pyatspi.ROLE_TEXT, None, (12, 86, 86, 14))]
SCALE_X, SCALE_Y = 1.875, 2.03125


def check_layout():
    """Every control at its template rectangle (a control may need up to 3 px more than its
    rectangle), the dialog 111 x 111 units, centred on the 640 x 480 screen."""
    extents = dialog.window.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    assert (extents.width, extents.height) == (round(111 * SCALE_X), round(111 * SCALE_Y)), extents
    assert abs(extents.x - (640 - extents.width) // 2) <= 1, extents
    assert abs(extents.y - (480 - extents.height) // 2) <= 1, extents
    controls = [c for c in find_one(dialog.window, pyatspi.ROLE_PANEL, "") if c is not None]
    assert len(controls) == len(TEMPLATE), [c.name for c in controls]
    for control, (role, name, (x, y, w, h)) in zip(controls, TEMPLATE):
        assert control.getRole() == role and (name is None or control.name == name), control.name
        e = control.queryComponent().getExtents(pyatspi.WINDOW_COORDS)
        want = (round(x * SCALE_X), round(y * SCALE_Y), round(w * SCALE_X), round(h * SCALE_Y))
        ok = (e.x, e.y) == want[:2] and 0 <= e.width - want[2] <= 3 and 0 <= e.height - want[3] <= 3
        assert ok, "%s at %r, template %r" % (control.name, (e.x, e.y, e.width, e.height), want)


def check_startup(program):
    log("start-up: COM1 opened at 9600 bit/s, the dialog as built")
    wait_port_at("ttyS0", termios.B9600)
    for name in PORT_NAMES[1:]:
        assert not raw_8n1(name)[0], "%s was opened at start" % name
    assert checked(dialog.speed9600) and not checked(dialog.speed38400)
    items = [c.name for c in find_one(dialog.ports, pyatspi.ROLE_MENU)]
    assert items == LIST_ITEMS, "port list %r" % items
    assert dialog.ports.name == "COM1:"
    labels = [c.name for c in find_all(dialog.window, pyatspi.ROLE_LABEL)]
    assert labels == ["通信ポート(P)：", "通信速度", "ログ(L)：", "ステータス"], labels
    assert text_of(dialog.status) == "" and text_of(dialog.log_path) == ""
    check_layout()
    assert program.poll() is None


def check_conversation(server, log_file):
    log("handshake and a full conversation with sockets, logged")
    set_log_path(log_file)
    # Unpowered, bytes before the sync frame are dropped without a trace.
    ptys["ttyS0"].write("FF 00 02")
    lines = exchange("ttyS0", (POWER_ON[0], SYNC_REPLY), "power ON")
    lines += exchange("ttyS0", POWER_ON, "power ON")
    lines += exchange("ttyS0", ("01 00 01 00", "01 00 03 00 00 0F"), "check PDC")
    lines += exchange("ttyS0", DIALUP, "dialup")
    lines += exchange("ttyS0", ("01 00 01 10", "01 00 02 10 01"), "set PPP")
    lines += exchange("ttyS0", ("01 00 09 11 C0 A8 00 01 C0 A8 00 02", "01 00 02 11 01"), "set DNS")
    lines += exchange("ttyS0", STATUS_LATER, "check Status")
    # A partial buffer, then a line from what is left; the unread "X" makes the close a reset.
    lines += socket_conversation(ptys["ttyS0"], server, b"abcdefOK\r\nX",
                                 [("11 00 03 0F 00 04", "11 00 07 0F 00 04 61 62 63 64",
                                   "recv a buffer"),
                                  ("11 00 03 0D 00 14", "11 00 09 0D 00 06 65 66 4F 4B 0D 0A",
                                   "recv a line")], wait_status)
    lines += exchange("ttyS0", ("01 00 01 0A", "01 00 02 0B F3"), "hangup")
    lines += exchange("ttyS0", ("0F 00 01 FF", "0F 00 01 FF 00"), "power OFF")
    lines += exchange("ttyS0", (POWER_ON[0], SYNC_REPLY), "power ON")
    shot("screen.png")
    shot("dialog.png", find_window("^Zundrel$", timeout=5))
    with open(log_file, "rb") as f:
        written = f.read().decode("ascii")
    expected = "".join(line + "\r\n" for line in lines)
    assert written == expected, "log file:\n%s\nexpected:\n%s" % (written, expected)
    # An emptied log field stops the log at once.
    set_log_path("")
    exchange("ttyS0", STATUS, "check Status")
    assert os.path.getsize(log_file) == len(expected)


def check_unknown_command():
    log("unknown command: error box, no reply while it is up, nothing lost after OK")
    ptys["ttyS0"].write("05 00 01 07")
    wait_status("unkown command!")
    box = wait_for("the error box", error_boxes)[0]
    assert box.name == "Error", box.name
    assert [c.name for c in find_all(box, pyatspi.ROLE_LABEL)][0] == "unkown command (05:07)"
    shot("error-box.png")
    ptys["ttyS0"].write(STATUS[0])
    ptys["ttyS0"].silent(0.7)
    click(find_one(box, pyatspi.ROLE_PUSH_BUTTON, "OK"))
    assert ptys["ttyS0"].read(5) == h(STATUS[1])
    wait_for("the box gone", lambda: not error_boxes())
    wait_status("check Status")


def check_speed():
    log("speed buttons: 38400, the checked one again, 9600, Alt+3")
    click(dialog.speed38400)
    wait_port_at("ttyS0", termios.B38400)
    assert checked(dialog.speed38400) and not checked(dialog.speed9600)
    # Clicking the checked button sets its speed again: put the line back to 9600 behind the
    # program's back, and the click restores 38400.
    ptys["ttyS0"].set_speed(termios.B9600)
    click(dialog.speed38400)
    wait_port_at("ttyS0", termios.B38400)
    click(dialog.speed9600)
    wait_port_at("ttyS0", termios.B9600)
    key("alt+3")
    wait_port_at("ttyS0", termios.B38400)
    assert checked(dialog.speed38400)
    exchange("ttyS0", STATUS, "check Status")


def check_port_change():
    log("port list: COM3 at the speed last chosen, then a USB port while an error box is up")
    pick_port(2)
    wait_port_at("ttyS2", termios.B38400)
    exchange("ttyS2", ("01 00 01 00", "01 00 03 00 00 0F"), "check PDC")
    ptys["ttyS0"].write("01 00 01 00")
    ptys["ttyS0"].silent(0.3)  # COM1 is closed: nobody answers there
    # An unknown command on COM3; while its box is up the user picks /dev/ttyUSB0. Closing the
    # port takes the box down, and the new port is served at once.
    ptys["ttyS2"].write("11 00 01 02")
    wait_for("the error box", error_boxes)
    pick_port(4)
    wait_for("the box taken down", lambda: not error_boxes())
    wait_port_at("ttyUSB0", termios.B38400)
    exchange("ttyUSB0", STATUS, "check Status")
    ptys["ttyS2"].silent(0.2)
    shot("usb-port.png", find_window("^Zundrel$", timeout=5))


def check_mnemonics():
    log("mnemonics: Alt+L to the log field, Alt+P to the port list, Alt+9 to 9600 bit/s")
    key("alt+l")
    wait_for("the log field focused", lambda: has_state(dialog.log_path, pyatspi.STATE_FOCUSED))
    key("alt+p")
    # The focus goes to the list's inner button, which AT-SPI does not show: the log field and
    # the other controls lose it.
    others = [dialog.log_path, dialog.status, dialog.speed9600, dialog.speed38400]
    wait_for("the focus off the log field",
             lambda: not any(has_state(c, pyatspi.STATE_FOCUSED) for c in others))
    key("alt+9")
    wait_for("9600 checked", lambda: checked(dialog.speed9600))
    wait_port_at("ttyUSB0", termios.B9600)


def check_end(program):
    log("Enter does not close the dialog; Esc ends the program with exit code 0 within a second")
    key("Return")
    time.sleep(0.3)  # a bounded negative check: the program is still there afterwards
    assert program.poll() is None, "Enter closed the dialog"
    exchange("ttyUSB0", STATUS)
    wait_exit(program, lambda: key("Escape"))


def wait_exit(program, action):
    start = time.monotonic()
    action()
    code = program.wait(timeout=1.0)
    log("exit code %d after %.3f s" % (code, time.monotonic() - start))
    assert code == 0


def spawn(args, **kwargs):
    """Starts a process that is ended whatever happens, and with SIGKILL if the test dies."""
    die_with_parent = lambda: ctypes.CDLL("libc.so.6").prctl(1, signal.SIGKILL)  # noqa: E731
    started.append(subprocess.Popen(args, start_new_session=True, preexec_fn=die_with_parent,
                                    **kwargs))
    return started[-1]


def start_program(home):
    global dialog
    with open(os.path.join(ARTEFACTS, "zundrel-stderr.txt"), "a") as errors:
        program = spawn([PROGRAM], stdout=errors, stderr=errors, cwd=home)

    def application():
        return [a for a in pyatspi.Registry.getDesktop(0) if a is not None and a.name == "zundrel"]

    app = wait_for("zundrel on the accessibility bus", application, timeout=15)[0]
    dialog = wait_for("the dialog's controls", lambda: Dialog(app), timeout=10)
    return program


def check_window_close(home):
    log("a second run: starts afresh at COM1, 9600 bit/s; the window's close ends it with 0")
    for name in PORT_NAMES:
        termios.tcsetattr(ptys[name].slave, termios.TCSANOW, cooked[name])
    program = start_program(home)
    wait_port_at("ttyS0", termios.B9600)
    assert checked(dialog.speed9600) and dialog.ports.name == "COM1:"
    assert text_of(dialog.status) == "" and text_of(dialog.log_path) == ""
    exchange("ttyS0", (POWER_ON[0], SYNC_REPLY), "power ON")
    wait_exit(program, lambda: close_like_window_manager(find_window("^Zundrel$", timeout=5)))


def start_accessibility():
    spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
    Atspi.set_timeout(5000, 15000)
    wait_for("the accessibility registry",
             lambda: pyatspi.Registry.getDesktop(0) is not None and subprocess.run(
                 ["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                  "org.a11y.Bus.GetAddress"], capture_output=True, timeout=5).returncode == 0,
             timeout=15)


def main():
    root = tempfile.mkdtemp(prefix="zundrel-e2e-")
    server = None
    try:
        make_private_dev(root)
        home, runtime = os.path.join(root, "home"), os.path.join(root, "runtime")
        os.mkdir(home)
        os.mkdir(runtime, 0o700)
        os.environ.update(HOME=home, XDG_RUNTIME_DIR=runtime, GDK_BACKEND="x11", LANG="C.UTF-8")
        os.environ.pop("NO_AT_BRIDGE", None)
        start_accessibility()
        server = socket.create_server(("127.0.0.1", 0))
        open(os.path.join(ARTEFACTS, "zundrel-stderr.txt"), "w").close()
        program = start_program(home)
        check_startup(program)
        check_conversation(server, os.path.join(root, "traffic log.txt"))
        check_unknown_command()
        check_speed()
        check_port_change()
        check_mnemonics()
        check_end(program)
        check_window_close(home)
        with open(os.path.join(ARTEFACTS, "zundrel-stderr.txt")) as f:
            complaints = [ln for ln in f if "CRITICAL" in ln or "WARNING" in ln]
        assert not complaints, "the program complained:\n" + "".join(complaints)
        log("PASS")
        return 0
    except BaseException:
        traceback.print_exc()
        try:
            shot("failure.png")
        except Exception:
            pass
        return 1
    finally:
        for process in reversed(started):
            if process.poll() is None:
                try:
                    os.killpg(process.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                process.wait(timeout=5)
        if server is not None:
            server.close()
        shutil.rmtree(root, ignore_errors=True)


def out_of_time(signum, frame):
    raise TimeoutError("the test ran out of time")


if __name__ == "__main__":
    signal.signal(signal.SIGALRM, out_of_time)
    signal.alarm(120)  # the whole run is bounded, whatever hangs
    sys.exit(main())
