# The Linux program end to end (run by run_dialog_e2e.sh inside Xvfb, a private D-Bus session and a
# private mount namespace): the shared scenario, with the dialog read and driven through AT-SPI and
# the X keyboard, and the device on pseudo-terminals bound over /dev/ttyS0 to /dev/ttyS3.
#
# Usage: dialog_e2e.py ZUNDREL ARTEFACT_DIR

import fcntl
import os
import subprocess
import sys
import tempfile
import termios

import pyatspi

import scenario  # first: it puts tests/ on the path
import kit  # noqa: I100
from kit import Pty, wait_for

PORTS = ["ttyS0", "ttyS1", "ttyS2", "ttyS3"]


def run(*args):
    subprocess.run(list(args), check=True, timeout=30)


def find(top, role, name=None):  # the accessibles of that role (and name) under `top`
    return pyatspi.findAllDescendants(top, lambda a: a.getRole() == role and name in (None, a.name))


def text_of(accessible):
    return accessible.queryText().getText(0, -1)


class Driver(scenario.Driver):
    def __init__(self, program, stderr, *args):
        super().__init__([program, *args], 20, stderr, os.environ)
        # This program's own entry: one of a program just ended may still be on the desktop.
        self.app = wait_for("zundrel on the accessibility bus", lambda: [
            a for a in pyatspi.Registry.getDesktop(0)
            if a is not None and a.get_process_id() == self.program.pid], timeout=20)[0]
        self.window = wait_for("the dialog", lambda: find(self.app, pyatspi.ROLE_FRAME))[0]
        texts = find(self.window, pyatspi.ROLE_TEXT)
        editable = [t.getState().contains(pyatspi.STATE_EDITABLE) for t in texts]
        self.log_field, self.status_field = (texts[editable.index(e)] for e in (True, False))
        self.ports = find(self.window, pyatspi.ROLE_COMBO_BOX)[0]

    def status(self):
        return text_of(self.status_field)

    def set_log(self, path):  # the program sets the text before it answers
        assert self.log_field.queryEditableText().setTextContents(path), "the log field"
        assert text_of(self.log_field) == path, text_of(self.log_field)

    def tip(self):
        return self.ports.description

    def speed(self, bps):  # its radio button
        return find(self.window, pyatspi.ROLE_RADIO_BUTTON, "%dbps" % bps)[0]

    def checked(self, bps):
        return self.speed(bps).getState().contains(pyatspi.STATE_CHECKED)

    def click_speed(self, bps):
        self.speed(bps).queryAction().doAction(0)

    def pick_port(self, index):
        self.ports.querySelection().selectChild(index)

    def listed(self, items):  # opens the port list (it has the focus): these items after COM4
        menu = find(self.ports, pyatspi.ROLE_MENU)[0]
        showing = lambda: menu.getState().contains(pyatspi.STATE_SHOWING)  # noqa: E731
        self.key("alt+Down")
        wait_for("the list %r" % items, lambda: showing() and [i.name for i in menu][4:] == items)
        self.key("Escape")
        wait_for("the list closed", lambda: not showing())

    def box(self):  # the text of the open error box, or nothing
        alerts = [c for c in self.app if c is not None and c.getRole() == pyatspi.ROLE_ALERT]
        return alerts and find(alerts[0], pyatspi.ROLE_LABEL)[0].name

    def dismiss_box(self):  # the box's button (the dialog has none)
        find(self.app, pyatspi.ROLE_PUSH_BUTTON, "OK")[0].queryAction().doAction(0)


def ports(d, ptys, usb):  # usb: a pty made before the private /dev (none can be made inside it)
    # The port list: why a port does not open; a port plugged in after the start, lost.
    fcntl.flock(ptys[2].slave, fcntl.LOCK_EX)
    me = "%s (pid %d)" % (open("/proc/self/comm").read().strip(), os.getpid())
    for n, state in ((4, "permission denied: add yourself to the dialout group"),
                     (3, "in use by another program: " + me)):  # this test holds its lock
        d.pick_port(n - 1)
        wait_for("COM%d %s" % (n, state), lambda: d.tip() == "COM%d: %s" % (n, state))
    link, label = "/dev/serial/by-id/usb-Zundrel_Device-if00", "usb-Zundrel_Device-if00 (%s)"
    label %= usb.path[len("/dev/"):]
    os.symlink(usb.path, link)
    d.listed([label])
    d.pick_port(4)
    wait_for("open", lambda: d.tip() == label + ": open at 9600 bit/s")
    kit.answered(usb, *scenario.STATUS)  # the adapter is on since the preselected port
    os.close(usb.master)
    os.remove(link)
    wait_for("lost", lambda: d.tip() == label + ": lost: waiting for it to come back")
    d.listed([label])  # the port in use stays listed while it is lost


def test(program, artefacts, root):
    ptys, usb, remote = [Pty() for _ in PORTS], Pty(), Pty()  # remote: ser2net's device
    os.makedirs(artefacts, exist_ok=True)
    stderr = open(os.path.join(artefacts, "zundrel-stderr.txt"), "w")  # every run's stdout, stderr
    # ttyS0, ttyS2 and ttyS3 are the test's ptys (ttyS3 refusing opens: nodev); ttyS1 is missing.
    kit.private_dev([(n, p.path) for n, p in zip(PORTS, ptys) if n != "ttyS1"])
    run("mount", "-o", "remount,bind,nodev", "/dev/ttyS3")
    os.makedirs("/dev/serial/by-id")
    os.environ.update(HOME=root, XDG_RUNTIME_DIR=root, GDK_BACKEND="x11", LANG="C.UTF-8")
    os.environ.pop("NO_AT_BRIDGE", None)
    subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
    pyatspi.Atspi.set_timeout(5000, 15000)
    wait_for("the accessibility bus", lambda: subprocess.run(
        ["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
         "org.a11y.Bus.GetAddress"], capture_output=True, timeout=5).returncode == 0
        and pyatspi.Registry.getDesktop(0).childCount >= 0, 15)
    d = Driver(program, stderr)
    run("import", "-window", d.wid, os.path.join(artefacts, "dialog.png"))
    scenario.run(d, ptys, root)
    # A second run: the options preselected; the window's close ends it.
    [(args, _, made)] = [r for r in kit.option_rows("l", "/dev/ttyS2", root) if r[1] == "ok"]
    d = Driver(program, stderr, *args)
    kit.preselected(ptys[2], made, d)
    log = made["log"]
    assert text_of(d.log_field) == log
    for path, state in ((root, "cannot be written"), (log, "written again")):  # told on stderr
        d.set_log(path)
        kit.answered(ptys[0], *scenario.STATUS)
        wait_for(state, lambda: "traffic log %s %s\n" % (path, state) in open(stderr.name).read())
    ports(d, ptys, usb)
    d.key("Escape")
    assert d.program.wait(timeout=5) == 0
    # A third run on ser2net's RFC 2217 port: each speed click sets the pty behind it.
    url = "rfc2217://127.0.0.1:%d" % kit.ser2net(remote.path, root)[1]
    d = Driver(program, stderr, "--port", url, "--speed", "38400")
    wait_for("connected", lambda: d.tip() == url + ": connected to " + url[10:], 20)
    for bps, code in ((9600, termios.B9600), (38400, termios.B38400)):
        d.click_speed(bps)
        wait_for("the pty at %d bit/s" % bps, lambda: remote.speed() == code)
    d.key("Escape")
    assert d.program.wait(timeout=5) == 0
    complaints = [line for line in open(stderr.name) if "CRITICAL" in line or "WARNING" in line]
    assert not complaints, "the program complained:\n" + "".join(complaints)


def main(program, artefacts):
    with tempfile.TemporaryDirectory(prefix="zundrel-e2e-", ignore_cleanup_errors=True) as root:
        return kit.run_cases([("the Linux program", lambda: test(program, artefacts, root))])


if __name__ == "__main__":  # run_dialog_e2e.sh bounds its time
    sys.exit(main(os.path.realpath(sys.argv[1]), os.path.realpath(sys.argv[2])))
