"""Start-up to window shown, and resident memory, of the Linux program (see startup_bench.sh)."""
import os
import select
import statistics
import subprocess
import sys
import tempfile
import termios
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import kit  # noqa: E402  (the tests' sandbox: a private /dev, an empty resolver file)

PORTS = ["ttyS0", "ttyS1", "ttyS2", "ttyS3"]


def private_dev():
    """The tests' private /dev with this benchmark's pseudo-terminals as the serial ports."""
    masters = {name: os.openpty() for name in PORTS}
    kit.private_dev([(name, os.ttyname(slave)) for name, (_, slave) in masters.items()])
    return masters


def window_shown():
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Zundrel$"],
                           capture_output=True, text=True)
    return found.stdout.split()[0] if found.returncode == 0 and found.stdout.strip() else None


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        fields = dict(line.split(":", 1) for line in f)
    return int(fields["VmRSS"].split()[0]), int(fields["VmHWM"].split()[0])


def answered(master, request, reply, deadline):
    os.write(master, request)
    got = b""
    while len(got) < len(reply) and time.monotonic() < deadline:
        ready, _, _ = select.select([master], [], [], max(0.0, deadline - time.monotonic()))
        if ready:
            got += os.read(master, 64)
    return got == reply


def one_run(program, masters, home):
    master = masters["ttyS0"][0]
    termios.tcflush(master, termios.TCIOFLUSH)
    start = time.monotonic()
    proc = subprocess.Popen([program], cwd=home, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, env=dict(os.environ, HOME=home))
    deadline = start + 20
    wid = None
    while wid is None and time.monotonic() < deadline:
        wid = window_shown()
        if wid is None:
            time.sleep(0.002)  # the resolution of this figure: about 2 ms plus one xdotool run
    shown = time.monotonic() - start
    # The first power-on request answered: the port is open and the reader serves it.
    ok = answered(master, bytes([1, 0, 1, 2]), bytes([0, 0x55, 0x55, 0x55, 0x55, 0x55]),
                  time.monotonic() + 10)
    serving = time.monotonic() - start
    rss, hwm = rss_kib(proc.pid)
    subprocess.run(["xdotool", "windowfocus", "--sync", wid, "key", "Escape"], check=True)
    code = proc.wait(timeout=10)
    if wid is None or not ok or code != 0:
        raise SystemExit("run failed: window %s, answer %s, exit code %s" % (wid, ok, code))
    return shown * 1000, serving * 1000, rss, hwm


def main():
    program, runs = sys.argv[1], int(sys.argv[2])
    with tempfile.TemporaryDirectory() as root:
        masters = private_dev()
        home = os.path.join(root, "home")
        os.mkdir(home)
        results = [one_run(program, masters, home) for _ in range(runs)]
    shown, serving, rss, hwm = zip(*results)
    print("zundrel start-up over %d runs (Xvfb, no window manager):" % runs)
    print("  start to window shown:      median %.0f ms, max %.0f ms" %
          (statistics.median(shown), max(shown)))
    print("  start to first answer:      median %.0f ms, max %.0f ms" %
          (statistics.median(serving), max(serving)))
    print("  resident memory (VmRSS):    median %d KiB, peak (VmHWM) max %d KiB" %
          (statistics.median(rss), max(hwm)))


if __name__ == "__main__":
    main()
